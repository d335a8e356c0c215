// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"

#include <QDialog>
#include <QRect>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Ui {
class CorrectionEditor;
} // namespace Ui
class Announcer;
class QLineEdit;

// One tape line with each number the user typed as a field, the rest as
// text. One number is corrected at a time (a correction is one step): once a
// field differs from its number, the others are read-only. What the keys
// could not type is refused in the field before anything runs; otherwise the
// editor shows what the display would become, worked out on a copy, and a
// screen reader is told. Enter applies, Escape cancels. A line too long for
// the screen scrolls; the preview and the buttons stay in view.
class CorrectionEditor : public QDialog {
    Q_OBJECT
public:
    // What the display would become with the `index`th number typed as `text`.
    using Preview =
        std::function<quillo::Session::Preview(std::size_t index, std::string_view text)>;
    CorrectionEditor(const std::string& line, const std::vector<quillo::LineNumber>& numbers,
                     Preview preview, QWidget* parent);
    ~CorrectionEditor() override;

    // The field of each correctable number, in the line's order.
    const std::vector<QLineEdit*>& fields() const noexcept { return fields_; }

    // Shows the editor beside `line`, the row it corrects in global
    // coordinates, within the screen.
    void showBeside(const QRect& line);
    // Emits applied(); the editor stays open, what was typed with it, until
    // the receiver closes it, so that a refused correction can be changed.
    void accept() override;

signals:
    // `index` counts among the line's numbers, as Session::correct does.
    void applied(int index, QString text);

private:
    void edited(std::size_t field);
    // The preview's new text, spoken, with the editor grown to show it whole.
    void showPreview(const QString& text);

    std::unique_ptr<Ui::CorrectionEditor> ui;
    Preview preview_;
    std::vector<QLineEdit*> fields_;
    std::vector<std::size_t> indexes_; // each field's index among the line's numbers
    std::vector<QString> typed_;       // each field's number as the line has it
    std::size_t changed_ = SIZE_MAX;   // the field that differs, if any
    Announcer* announcer_ = nullptr;   // made when first needed
};
