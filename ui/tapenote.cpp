// SPDX-License-Identifier: MIT
// The tape's side of notes on lines: the editor a line's note opens, and
// how a note shows beside its line.
#include "appearance.h"
#include "noteeditor.h"
#include "tapemodel.h"
#include "tapewindow.h"
#include "ui_TapeWindow.h"

#include <QApplication>
#include <QListView>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

// WCAG's contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double x = luminance(a) + 0.05;
    const double y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

} // namespace

QColor TapeDelegate::noteColor(const QStyleOptionViewItem& option) {
    const bool dark = appearance::highContrast();
    const QColor ground = option.palette.color(QPalette::Base);
    const QColor wanted =
        option.widget
            ? option.widget->property(dark ? "noteColorHighContrast" : "noteColor").value<QColor>()
            : QColor();
    // A desktop theme may give the list a ground the look's colour is not
    // made for: the text's own colour is readable there.
    if (!wanted.isValid() || contrast(wanted, ground) < (dark ? 7.0 : 4.5)) {
        return option.palette.color(QPalette::Text);
    }
    return wanted;
}

QRect TapeDelegate::drawNote(QPainter& painter, const QStyleOptionViewItem& option,
                             const QRect& area, qreal lineWidth, const QString& note) const {
    QFont font = option.font;
    font.setItalic(true);
    // In fractions of a pixel: a note rounded down would be cut for nothing.
    const QFontMetricsF metrics(font);
    const int gap = static_cast<int>(std::ceil(metrics.horizontalAdvance(QStringLiteral("MM"))));
    const int line = static_cast<int>(std::ceil(lineWidth));
    // Beside a short line the note has the rest of the row; a long line
    // keeps half of it, its result in view.
    const qreal room = std::max(area.width() / 2, area.width() - line) - gap;
    const qreal natural = metrics.horizontalAdvance(note);
    const qreal shown = std::min(natural, room);
    if (shown < metrics.horizontalAdvance(QStringLiteral("M…"))) {
        return area; // too narrow for any of it: the tooltip and Copy have it
    }
    const int width = static_cast<int>(std::ceil(shown));
    QRect left = area;
    left.setWidth(area.width() - width - gap);
    const QRect at(left.left() + std::min(line, left.width()) + gap, area.top(), width,
                   area.height());
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter.save();
    painter.setClipRect(area);
    painter.setFont(font);
    painter.setPen(selected ? option.palette.color(QPalette::HighlightedText) : noteColor(option));
    painter.drawText(at, Qt::AlignLeft | Qt::AlignVCenter,
                     shown < natural ? metrics.elidedText(note, Qt::ElideRight, shown) : note);
    painter.restore();
    return left;
}

QRect TapeWindow::shownLine(const QModelIndex& line) {
    ui->lines->scrollTo(line);
    const QRect shown = ui->lines->visualRect(line);
    return {ui->lines->viewport()->mapToGlobal(shown.topLeft()), shown.size()};
}

bool TapeWindow::notable(int row) const {
    return row >= 0 && row < model_->rowCount() &&
           model_->line(row).kind != TapeModel::Line::Kind::Heading;
}

void TapeWindow::noteCurrent() {
    const QModelIndex current = ui->lines->currentIndex();
    if (!notable(current.row())) {
        QApplication::beep();
        return;
    }
    const TapeModel::Line line = model_->line(current.row());
    try {
        // Modal: the line stays where it is while its note is written.
        auto* editor = new NoteEditor(model_->data(current, Qt::DisplayRole).toString(),
                                      current.data(TapeModel::NoteRole).toString(), this);
        editor->setAttribute(Qt::WA_DeleteOnClose);
        connect(editor, &QDialog::accepted, this, [this, editor, line] {
            emit noteApplied(line.kind == TapeModel::Line::Kind::Earlier, line.number,
                             editor->note());
        });
        editor->showBeside(shownLine(current));
    } catch (const std::exception&) {
        QApplication::beep(); // out of memory: no editor
    }
}
