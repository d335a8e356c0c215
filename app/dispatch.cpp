// SPDX-License-Identifier: MIT
#include "dispatch.h"

#include "engine.h"
#include "session.h"
#include "version.h"

#include <QMessageBox>

#include <new>
#include <string_view>

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

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Where the failing key is, by its line as the tape shows it now.
QString lineOf(const Refusal& refusal) {
    return refusal.lineText.empty()
               ? QStringLiteral("On a later line")
               : QStringLiteral("On the line «%1»").arg(fromUtf8(refusal.lineText));
}

QString keyOf(const Refusal& refusal) {
    return refusal.key.empty() ? QStringLiteral("a key")
                               : QStringLiteral("the key \"%1\"").arg(fromUtf8(refusal.key));
}

// A correction that would make a later key fail, or that the keys cannot
// type: nothing was changed, and the box says which line and why.
void refuse(QWidget* window, const Refusal& refusal) noexcept {
    try {
        using Why = Refusal::Why;
        if (refusal.why == Why::DivideByZero) {
            // The zero divisor's own warning, as the key itself would give it.
            QMessageBox box(QMessageBox::Warning, fromUtf8(kDivideByZeroTitle),
                            fromUtf8(kDivideByZeroText), QMessageBox::Ok, window);
            box.setInformativeText(
                QStringLiteral("%1, %2 would now divide by zero. The correction was not made.")
                    .arg(lineOf(refusal), keyOf(refusal)));
            box.exec();
            return;
        }
        QString why;
        switch (refusal.why) {
        case Why::KeyFails:
            why = QStringLiteral("%1, %2 would now fail: %3.")
                      .arg(lineOf(refusal), keyOf(refusal), errorText(refusal.error));
            break;
        case Why::NotANumber:
            why = QStringLiteral("The keys cannot type the new number: use digits, one point "
                                 "and a leading minus only.");
            break;
        case Why::MinusHere:
            why = QStringLiteral("A minus cannot be typed where this number stands.");
            break;
        case Why::AcrossClear:
            why = QStringLiteral("The tape was cleared, or lines deleted, after this number.");
            break;
        case Why::TooLong:
            why = QStringLiteral("A number has at most 1,000 characters.");
            break;
        case Why::Computed:
            why = QStringLiteral("This number was worked out by the calculator.");
            break;
        case Why::DivideByZero:
        case Why::NotCorrectable:
            why = QStringLiteral("This number was typed too long ago for its keys to be kept.");
            break;
        }
        QMessageBox box(QMessageBox::Warning, fromUtf8(kAppTitle),
                        QStringLiteral("The correction was not made."), QMessageBox::Ok, window);
        box.setInformativeText(why);
        box.exec();
    } catch (...) {
        // Nothing is left to report with; nothing was changed all the same.
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
    } catch (const CorrectionRefused& e) {
        refuse(window, e.refusal());
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
