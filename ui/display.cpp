// SPDX-License-Identifier: MIT
#include "display.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

namespace {

constexpr qreal kStep = 0.5; // points

bool fits(const QString& text, const QFont& font, int width) {
    return QFontMetricsF(font).horizontalAdvance(text) <= width;
}

} // namespace

int DisplayLabel::textWidth() const {
    // As the label lays out its text: inside the margins, short of the indent
    // on the aligned side.
    return contentsRect().width() - 2 * margin() - qMax(indent(), 0);
}

DisplayLabel::Fit DisplayLabel::fit() const {
    const QString& whole = text();
    const int width = textWidth();
    // The usual case, one measurement: no character is narrower than a pixel.
    if (whole.size() <= width && fits(whole, font(), width)) {
        return {whole, font()};
    }
    QFont f = font();
    QFont smallest = f;
    smallest.setPointSizeF(minimum_);
    const QFontMetricsF small(smallest);
    // A text too long for even the smallest font's narrowest characters fits
    // at no size; seen early, it costs no measuring of all of a long entry.
    qreal narrowest = small.horizontalAdvance(QLatin1Char('.'));
    for (const QChar c : QStringView(u" -+E0123456789")) {
        narrowest = qMin(narrowest, small.horizontalAdvance(c));
    }
    narrowest = qMax(narrowest, qreal(1));
    if (whole.size() * narrowest <= width) {
        for (qreal size = f.pointSizeF() - kStep; size >= minimum_; size -= kStep) {
            f.setPointSizeF(size);
            if (fits(whole, f, width)) {
                return {whole, f};
            }
        }
    }
    // Only the end can show: measure no more of it than could fill the width,
    // which is still too wide, so the mark is always drawn.
    const auto tail = static_cast<qsizetype>(width / narrowest) + 2;
    return {small.elidedText(whole.right(tail), Qt::ElideLeft, width), smallest};
}

void DisplayLabel::paintEvent(QPaintEvent* event) {
    Fit drawn = fit();
    if (drawn.font == font()) {
        QLabel::paintEvent(event); // the usual case: the text fits as it is
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    area.setRight(area.right() - qMax(indent(), 0));
    painter.setFont(drawn.font);
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                          drawn.shown, foregroundRole());
}
