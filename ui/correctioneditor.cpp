// SPDX-License-Identifier: MIT
#include "correctioneditor.h"

#include "ui_CorrectionEditor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// What the number keys can type: digits, at most one point, a minus in front.
bool typable(QStringView text) {
    if (text.startsWith(u'-')) {
        text = text.mid(1);
    }
    bool digit = false;
    bool point = false;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9') {
            digit = true;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

} // namespace

CorrectionEditor::CorrectionEditor(const std::string& line,
                                   const std::vector<quillo::LineNumber>& numbers, Preview preview,
                                   QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CorrectionEditor>()), preview_(std::move(preview)) {
    ui->setupUi(this);
    const QStringList ordinals = property("ordinals").toStringList();
    auto addText = [this](std::string_view text) {
        if (!text.empty()) {
            ui->lineLayout->addWidget(new QLabel(fromUtf8(text), ui->line));
        }
    };
    std::size_t at = 0;
    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const quillo::LineNumber& n = numbers[i];
        // A computed number stays part of the text; so would one that does
        // not fit the line, rather than cut it up wrongly.
        if (!n.correctable || n.offset < at || n.length > line.size() - n.offset) {
            continue;
        }
        addText(std::string_view(line).substr(at, n.offset - at));
        const QString number = fromUtf8(std::string_view(line).substr(n.offset, n.length));
        auto* field = new QLineEdit(number, ui->line);
        const qsizetype ordinal = static_cast<qsizetype>(fields_.size());
        field->setAccessibleName(ordinal < ordinals.size()
                                     ? property("fieldName").toString().arg(ordinals[ordinal])
                                     : property("fieldNumbered").toString().arg(ordinal + 1));
        field->setAccessibleDescription(property("fieldDescription").toString().arg(number));
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(
            QString(std::max<qsizetype>(number.size(), 4) + 2, u'0')));
        ui->lineLayout->addWidget(field);
        connect(field, &QLineEdit::textChanged, this, [this, f = fields_.size()] { edited(f); });
        if (previous) {
            setTabOrder(previous, field);
        }
        previous = field;
        fields_.push_back(field);
        indexes_.push_back(i);
        typed_.push_back(number);
        at = n.offset + n.length;
    }
    addText(std::string_view(line).substr(std::min(at, line.size())));
    ui->lineLayout->addStretch();
    if (previous) {
        setTabOrder(previous, ui->apply);
        setTabOrder(ui->apply, ui->cancel);
    }
    connect(ui->apply, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancel, &QPushButton::clicked, this, &QDialog::reject);
    if (!fields_.empty()) {
        fields_.front()->setFocus();
        fields_.front()->selectAll();
    }
}

CorrectionEditor::~CorrectionEditor() = default;

void CorrectionEditor::edited(std::size_t field) {
    QLineEdit& edit = *fields_[field];
    const QString text = edit.text();
    const bool differs = text != typed_[field];
    const bool valid = typable(text);
    changed_ = differs ? field : SIZE_MAX;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setReadOnly(differs && i != field);
    }
    QLabel& problem = *ui->fieldProblem;
    const bool refused = differs && !valid;
    problem.setText(refused ? problem.property(text.isEmpty() ? "empty" : "notANumber").toString()
                            : QString());
    problem.setVisible(refused);
    // A screen reader hears the reason with the field, not only beside it.
    edit.setAccessibleDescription(
        refused ? problem.text() : property("fieldDescription").toString().arg(typed_[field]));
    ui->apply->setEnabled(differs && valid);

    QLabel& shown = *ui->preview;
    if (!differs) {
        shown.setText(shown.property("unchanged").toString());
    } else if (refused) {
        shown.clear(); // nothing runs on a text the keys cannot type
    } else {
        try {
            const quillo::Session::Preview p = preview_(indexes_[field], text.toStdString());
            shown.setText(
                p.refused ? refusalWords(*p.refused)
                          : shown.property("shows").toString().arg(fromUtf8(p.display).trimmed()));
        } catch (const std::exception&) {
            // Out of memory, say: only the preview is lost.
            shown.setText(shown.property("noPreview").toString());
        }
    }
}

QString CorrectionEditor::refusalWords(const quillo::Refusal& refusal) const {
    using Why = quillo::Refusal::Why;
    const QLabel& preview = *ui->preview;
    auto words = [&preview](const char* name) { return preview.property(name).toString(); };
    switch (refusal.why) {
    case Why::DivideByZero:
    case Why::KeyFails: {
        const QString where = refusal.lineText.empty()
                                  ? words("onLaterLine")
                                  : words("onLine").arg(fromUtf8(refusal.lineText));
        const QString key =
            refusal.key.empty() ? words("aKey") : words("theKey").arg(fromUtf8(refusal.key));
        return words(refusal.why == Why::DivideByZero ? "divideByZero" : "keyFails")
            .arg(where, key);
    }
    case Why::NotANumber:
        return words("notANumber");
    case Why::MinusHere:
        return words("minusHere");
    case Why::AcrossClear:
        return words("acrossClear");
    case Why::TooLong:
        return words("tooLong");
    case Why::Computed:
    case Why::NotCorrectable:
        break;
    }
    return words("notCorrectable");
}

void CorrectionEditor::accept() {
    // Enter on an unchanged field, or one the keys cannot type, does nothing.
    if (changed_ == SIZE_MAX || !ui->apply->isEnabled()) {
        return;
    }
    const int index = static_cast<int>(indexes_[changed_]);
    const QString text = fields_[changed_]->text();
    // Closed first: a refusal's box then stands over the calculator alone.
    QDialog::accept();
    emit applied(index, text);
}
