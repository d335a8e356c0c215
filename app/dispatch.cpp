// SPDX-License-Identifier: MIT
#include "dispatch.h"

#include "engine.h"
#include "refusalwords.h"
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

// A correction that would make a later key fail, or that the keys cannot
// type: nothing was changed, and the box says which line and why.
void refuse(QWidget* window, const Refusal& refusal) noexcept {
    try {
        if (refusal.why == Refusal::Why::DivideByZero) {
            // The zero divisor's own warning, as the key itself would give it.
            QMessageBox box(QMessageBox::Warning, fromUtf8(kDivideByZeroTitle),
                            fromUtf8(kDivideByZeroText), QMessageBox::Ok, window);
            box.setInformativeText(refusalText(refusal) +
                                   QStringLiteral(" The correction was not made."));
            box.exec();
            return;
        }
        QMessageBox box(QMessageBox::Warning, fromUtf8(kAppTitle),
                        QStringLiteral("The correction was not made."), QMessageBox::Ok, window);
        box.setInformativeText(refusalText(refusal));
        box.exec();
    } catch (...) {
        // Nothing is left to report with; nothing was changed all the same.
    }
}

} // namespace

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
