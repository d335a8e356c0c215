// SPDX-License-Identifier: MIT
#include "dispatch.h"

#include "version.h"

#include <QMessageBox>

#include <new>

namespace quillo {
namespace {

void report(QWidget* window, const QString& what) noexcept {
    try {
        QMessageBox box(QMessageBox::Critical,
                        QString::fromUtf8(kAppTitle.data(), kAppTitle.size()), what,
                        QMessageBox::Ok, window);
        box.setInformativeText(QStringLiteral("The key was not carried out; the calculator "
                                              "goes on as it was before it."));
        box.exec();
    } catch (...) {
        // Nothing is left to report with; the key is undone all the same.
    }
}

} // namespace

QString errorText(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::TypeMismatch:
        return QStringLiteral("Type mismatch");
    case ErrorKind::InvalidArgument:
        return QStringLiteral("Invalid procedure call or argument");
    case ErrorKind::Overflow:
        return QStringLiteral("Overflow");
    case ErrorKind::DivisionByZero:
        return QStringLiteral("Division by zero");
    }
    return QStringLiteral("Unexpected error");
}

bool dispatch(QWidget* window, const std::function<void()>& operation) noexcept {
    try {
        operation();
        return true;
    } catch (const EngineError& e) {
        report(window, errorText(e.kind()));
    } catch (const std::bad_alloc&) {
        report(window, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        report(window, QString::fromUtf8(e.what()));
    }
    return false;
}

} // namespace quillo
