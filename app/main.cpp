#include "calculator.h"
#include "dispatch.h"
#include "version.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(quillo::kProductName.data()));
    QApplication::setApplicationVersion(QString::fromUtf8(quillo::kVersionText.data()));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillo"));

    Calculator window(&quillo::dispatch,
                      QString::fromUtf8(quillo::kAppTitle.data(), quillo::kAppTitle.size()));
    window.show();
    return app.exec();
}
