// SPDX-License-Identifier: MIT
// The desktop's print dialog, in a library of its own: Qt's print support is
// loaded only when the tape is first printed.
#include <QPrintDialog>
#include <QPrinter>

#include <exception>
#include <memory>

// The printer the user chose, or nullptr when the dialog was cancelled;
// `canSelect` offers to print the selected lines alone.
extern "C" Q_DECL_EXPORT QPagedPaintDevice* quillo_choosePrinter(QWidget* parent, bool canSelect,
                                                                 bool* selectionOnly) noexcept {
    try {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        QPrintDialog dialog(printer.get(), parent);
        if (canSelect) {
            dialog.setOption(QAbstractPrintDialog::PrintSelection);
            printer->setPrintRange(QPrinter::Selection);
        }
        if (dialog.exec() != QDialog::Accepted) {
            return nullptr;
        }
        *selectionOnly = printer->printRange() == QPrinter::Selection;
        return printer.release();
    } catch (const std::exception&) {
        return nullptr;
    }
}
