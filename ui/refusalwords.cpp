// SPDX-License-Identifier: MIT
#include "refusalwords.h"

#include "clipboard.h"

#include <QLocale>

#include <string_view>

namespace quillo {
namespace {

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

QString refusalText(const Refusal& refusal) {
    using Why = Refusal::Why;
    switch (refusal.why) {
    case Why::DivideByZero:
        return QStringLiteral("%1, %2 would now divide by zero.")
            .arg(lineOf(refusal), keyOf(refusal));
    case Why::KeyFails:
        return QStringLiteral("%1, %2 would now fail: %3.")
            .arg(lineOf(refusal), keyOf(refusal), errorText(refusal.error));
    case Why::NotANumber:
        return QStringLiteral("The keys cannot type the new number: use digits, one point and "
                              "a leading minus only.");
    case Why::MinusHere:
        return QStringLiteral("A minus cannot be typed where this number stands.");
    case Why::AcrossClear:
        return QStringLiteral("The tape was cleared, or lines deleted, after this number.");
    case Why::TooLong:
        return QStringLiteral("A number has at most %1 characters.")
            .arg(QLocale(QLocale::English).toString(kPasteLimit));
    case Why::Computed:
        return QStringLiteral("This number was worked out by the calculator.");
    case Why::NotCorrectable:
        break;
    }
    return QStringLiteral("This number was typed too long ago for its keys to be kept.");
}

} // namespace quillo
