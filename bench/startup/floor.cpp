// SPDX-License-Identifier: MIT
// The floor for the start-up benchmark: the least a Qt Widgets window of the
// calculator's make-up costs. Same fixed size, one background picture from
// the resources, a label and 24 push buttons with tooltips; nothing else, so
// whatever the calculator spends beyond this is its own.

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace {

class Floor : public QWidget {
public:
    Floor() : background_(QStringLiteral(":/floor/background.png")) {
        setWindowTitle(QStringLiteral("quillo-floor"));
        setFixedSize(349, 262);

        auto* display = new QLabel(QStringLiteral("0."), this);
        display->setGeometry(14, 14, 321, 32);
        display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        display->setAutoFillBackground(true);

        static const char* const keys[24] = {"7", "8", "9", "/",   "C", "CE", "4",  "5",
                                             "6", "*", "%", "1/x", "1", "2",  "3",  "-",
                                             "±", "√", "0", ".",   "=", "+",  "MC", "Off"};
        for (int i = 0; i < 24; ++i) {
            auto* key = new QPushButton(QString::fromUtf8(keys[i]), this);
            key->setGeometry(14 + (i % 6) * 54, 58 + (i / 6) * 48, 48, 40);
            key->setToolTip(QStringLiteral("Key %1").arg(QString::fromUtf8(keys[i])));
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(0, 0, background_);
    }

private:
    QPixmap background_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Floor w;
    w.show();
    return app.exec();
}
