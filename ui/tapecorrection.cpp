// SPDX-License-Identifier: MIT
// The tape's side of correcting a typed number: which lines can be corrected,
// the editor they open, and how a corrected number shows on its line.
#include "correctioneditor.h"
#include "refusalwords.h"
#include "tapemodel.h"
#include "tapewindow.h"
#include "ui_TapeMenu.h"
#include "ui_TapeWindow.h"

#include <QApplication>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPoint>
#include <QTextLayout>

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

std::vector<quillo::LineNumber> TapeModel::numbers(int row) const {
    if (row < thisRun() || row >= rowCount()) {
        return {};
    }
    return session_.numbers(lines_[static_cast<std::size_t>(row - thisRun())]);
}

QVariant TapeModel::corrections(int row, int role) const {
    try {
        const std::vector<quillo::LineNumber> all = numbers(row);
        if (all.empty()) {
            return {};
        }
        const std::string_view line =
            session_.engine().tape().at(lines_[static_cast<std::size_t>(row - thisRun())]);
        QVariantList spans;
        QStringList notes;
        // A line listed by its end (see data()) is marked from there.
        const qsizetype cut = std::max<qsizetype>(0, fromUtf8(line).size() - kShownCharacters);
        const quillo::Tape& tape = session_.engine().tape();
        for (const quillo::LineNumber& n : all) {
            if (n.offset > line.size() || n.length > line.size() - n.offset) {
                continue;
            }
            // The view counts UTF-16 units, the session bytes.
            const QString now = fromUtf8(line.substr(n.offset, n.length));
            if (n.reused && role == Qt::AccessibleDescriptionRole) {
                notes.append(n.follows ? followsNote_.arg(now, fromUtf8(tape.at(*n.follows)))
                                       : fixedNote_.arg(now));
            }
            if (n.was.empty()) {
                continue;
            }
            const qsizetype start = fromUtf8(line.substr(0, n.offset)).size() - cut;
            const qsizetype skipped = cut > 0 ? std::max<qsizetype>(0, 1 - start) : 0;
            if (skipped < now.size()) {
                spans.append(QPoint(static_cast<int>(start + skipped),
                                    static_cast<int>(now.size() - skipped)));
            }
            if (!correctedNote_.isEmpty()) {
                notes.append(correctedNote_.arg(now, fromUtf8(n.was)));
            }
        }
        if (role == CorrectedSpansRole) {
            return spans.isEmpty() ? QVariant() : QVariant(spans);
        }
        return notes.isEmpty() ? QVariant() : QVariant(notes.join(u'\n'));
    } catch (const std::exception&) {
        return {}; // out of memory the line shows unmarked
    }
}

void TapeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const QVariantList spans = index.data(TapeModel::CorrectedSpansRole).toList();
    const QString note = index.data(TapeModel::NoteRole).toString();
    if (spans.isEmpty() && note.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear(); // the row's background and focus, then the text with its marks
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    QTextCharFormat mark;
    mark.setFontUnderline(true);
    mark.setForeground(opt.palette.brush(selected ? QPalette::HighlightedText : QPalette::Link));
    QList<QTextLayout::FormatRange> formats;
    for (const QVariant& span : spans) {
        const QPoint p = span.toPoint();
        formats.append({p.x(), p.y(), mark});
    }
    QTextLayout layout(text, opt.font);
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(std::numeric_limits<int>::max() / 4);
    layout.endLayout();

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget)
                     .adjusted(margin, 0, -margin, 0);
    // As the other rows: a line too long is cut at its start, its result in view.
    const qreal width = line.naturalTextWidth();
    if (!note.isEmpty()) {
        area = drawNote(*painter, opt, area, width, note);
    }
    const qreal x = width > area.width() ? area.right() + 1 - width : area.left();
    painter->save();
    painter->setClipRect(area);
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(x, area.top() + (area.height() - line.height()) / 2));
    painter->restore();
}

QString TapeWindow::whyNotCorrectable(int row) {
    const QAction& item = *menu().actionCorrect;
    auto words = [&item](const char* name) { return item.property(name).toString(); };
    if (row < 0 || row >= model_->rowCount()) {
        return words("whyNoLine");
    }
    const TapeModel::Line line = model_->line(row);
    if (line.kind == TapeModel::Line::Kind::Heading) {
        return words("whyHeading");
    }
    if (line.kind == TapeModel::Line::Kind::Earlier) {
        return words("whyEarlierRun");
    }
    const std::vector<quillo::LineNumber> numbers = model_->numbers(row);
    if (numbers.empty()) {
        return words("whyNoNumber");
    }
    if (std::any_of(numbers.begin(), numbers.end(),
                    [](const quillo::LineNumber& n) { return n.correctable; })) {
        return {};
    }
    // The engine knows why each number is out of reach; a clear or a delete
    // since is the reason the user can act on, so it is told first.
    std::optional<quillo::Refusal> why;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::optional<quillo::Refusal> refused =
            model_->session().preview(line.number, i, "0").refused;
        if (refused && (!why || refused->why == quillo::Refusal::Why::AcrossClear)) {
            why = std::move(refused);
        }
    }
    return why ? quillo::refusalText(*why) : words("whyNoNumber");
}

void TapeWindow::correctCurrent() {
    try {
        const QModelIndex current = ui->lines->currentIndex();
        const int row = current.row();
        if (const QString why = whyNotCorrectable(row); !why.isEmpty()) {
            // Said in a box, which a screen reader reads and a key closes.
            auto* box = new QMessageBox(QMessageBox::Information, windowTitle(),
                                        menu().actionCorrect->property("cannot").toString(),
                                        QMessageBox::Ok, this);
            box->setInformativeText(why);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
        const std::uint64_t line = model_->line(row).number;
        const quillo::Session& session = model_->session();
        // Modal: no key changes the session while the editor shows its line.
        auto* editor = new CorrectionEditor(
            session.engine().tape().at(line), model_->numbers(row),
            [&session, line](std::size_t index, std::string_view text) {
                return session.preview(line, index, text);
            },
            this);
        editor->setAttribute(Qt::WA_DeleteOnClose);
        connect(editor, &CorrectionEditor::applied, this,
                [this, editor, line](int index, const QString& text) {
                    const std::uint64_t steps = model_->steps();
                    emit correctionApplied(line, index, text);
                    if (model_->steps() != steps) {
                        editor->done(QDialog::Accepted);
                        activateWindow();
                    } else {
                        // Refused: what was typed stays, to be changed.
                        editor->activateWindow();
                    }
                });
        editor->showBeside(shownLine(current));
    } catch (const std::exception&) {
        QApplication::beep(); // out of memory: no editor
    }
}
