// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"

#include <QDialog>
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
class QLineEdit;

// One tape line with each number the user typed as a field, the rest as
// text. One number is corrected at a time (a correction is one step): once a
// field differs from its number, the others are read-only. What the keys
// could not type is refused in the field before anything runs; otherwise the
// editor shows what the display would become, worked out on a copy. Enter
// applies, Escape cancels.
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

    void accept() override;

signals:
    // `index` counts among the line's numbers, as Session::correct does.
    void applied(int index, QString text);

private:
    void edited(std::size_t field);
    QString refusalWords(const quillo::Refusal& refusal) const;

    std::unique_ptr<Ui::CorrectionEditor> ui;
    Preview preview_;
    std::vector<QLineEdit*> fields_;
    std::vector<std::size_t> indexes_; // each field's index among the line's numbers
    std::vector<QString> typed_;       // each field's number as the line has it
    std::size_t changed_ = SIZE_MAX;   // the field that differs, if any
};
