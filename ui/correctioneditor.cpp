// SPDX-License-Identifier: MIT
#include "correctioneditor.h"

#include "accessibility.h"
#include "clipboard.h"
#include "placement.h"
#include "refusalwords.h"
#include "ui_CorrectionEditor.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// What the number keys can type: digits, at most one point, a minus in
// front, no longer than the engine takes.
bool typable(QStringView text) {
    if (static_cast<std::size_t>(text.size()) > quillo::kPasteLimit) {
        return false;
    }
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
    // A long number scrolls in its field rather than widen the editor.
    const int widest = ui->lineArea->property("fieldCharacters").toInt();
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
        // Named by the number's place on the line, as the user reads it.
        const qsizetype ordinal = static_cast<qsizetype>(i);
        field->setAccessibleName(ordinal < ordinals.size()
                                     ? property("fieldName").toString().arg(ordinals[ordinal])
                                     : property("fieldNumbered").toString().arg(ordinal + 1));
        field->setAccessibleDescription(property("fieldDescription").toString().arg(number));
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(
            QString(std::clamp<qsizetype>(number.size() + 2, 6, widest), u'0')));
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

void CorrectionEditor::showBeside(const QRect& line) {
    // The scroll bar of a line wider than the area comes under it, not over it.
    QScrollArea& area = *ui->lineArea;
    const QSize wanted = ui->line->sizeHint();
    const bool scrolls = wanted.width() > area.sizeHint().width();
    area.setMinimumHeight(wanted.height() +
                          (scrolls ? area.horizontalScrollBar()->sizeHint().height() : 0));
    placement::showBesideLine(*this, line);
}

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
    // Digits past the limit are refused for their length, not their form.
    quillo::Refusal why;
    why.why = static_cast<std::size_t>(text.size()) > quillo::kPasteLimit
                  ? quillo::Refusal::Why::TooLong
                  : quillo::Refusal::Why::NotANumber;
    problem.setText(!refused         ? QString()
                    : text.isEmpty() ? problem.property("empty").toString()
                                     : quillo::refusalText(why));
    problem.setVisible(refused);
    // A screen reader hears the reason with the field, not only beside it.
    edit.setAccessibleDescription(
        refused ? problem.text() : property("fieldDescription").toString().arg(typed_[field]));
    ui->apply->setEnabled(differs && valid);

    const QLabel& shown = *ui->preview;
    if (!differs) {
        showPreview(shown.property("unchanged").toString());
    } else if (refused) {
        showPreview(QString()); // nothing runs on a text the keys cannot type
    } else {
        try {
            const quillo::Session::Preview p = preview_(indexes_[field], text.toStdString());
            if (p.refused) {
                showPreview(
                    shown.property("refused").toString().arg(quillo::refusalText(*p.refused)));
            } else {
                // Lines reached through a reused result change too: say how many.
                const QString display =
                    shown.property("shows").toString().arg(fromUtf8(p.display).trimmed());
                showPreview(
                    p.changes == 0 ? display
                    : p.changes == 1
                        ? shown.property("oneChanges").toString().arg(display)
                        : shown.property("manyChange")
                              .toString()
                              .arg(display, QLocale(QLocale::English)
                                                .toString(static_cast<qulonglong>(p.changes))));
            }
        } catch (const std::exception&) {
            // Out of memory, say: only the preview is lost.
            showPreview(shown.property("noPreview").toString());
        }
    }
}

void CorrectionEditor::showPreview(const QString& text) {
    QLabel& shown = *ui->preview;
    const QString before = shown.text();
    shown.setText(text);
    // The layout grows the editor to the wrapped text now, so that the
    // editor can be kept on its screen.
    layout()->activate();
    const QRect screen = this->screen()->availableGeometry();
    if (isVisible() && frameGeometry().bottom() > screen.bottom()) {
        move(x(), std::max(screen.top(), y() - (frameGeometry().bottom() - screen.bottom())));
    }
    if (text == before || text.isEmpty() || !QAccessible::isActive()) {
        return;
    }
    QAccessibleTextUpdateEvent changed(&shown, 0, before, text);
    QAccessible::updateAccessibility(&changed);
    // Spoken wherever the focus is: it stays in the field being typed in.
    if (!announcer_) {
        announcer_ = new Announcer(this);
    }
    announcer_->announce(text);
}

void CorrectionEditor::accept() {
    // Enter on an unchanged field, or one the keys cannot type, does nothing.
    if (changed_ == SIZE_MAX || !ui->apply->isEnabled()) {
        return;
    }
    emit applied(static_cast<int>(indexes_[changed_]), fields_[changed_]->text());
}
