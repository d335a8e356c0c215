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
    QFont f = font();
    if (fits(whole, f, width)) {
        return {whole, f};
    }
    for (qreal size = f.pointSizeF() - kStep; size >= kMinimumPointSize; size -= kStep) {
        f.setPointSizeF(size);
        if (fits(whole, f, width)) {
            return {whole, f};
        }
    }
    f.setPointSizeF(kMinimumPointSize);
    return {QFontMetricsF(f).elidedText(whole, Qt::ElideLeft, width), f};
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
