// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

// The display. Its text is the engine's register and always stays whole; only
// the drawing adapts: a text too wide for the panel is drawn in a smaller
// font, step by step down to a legible minimum, and past that its end is
// drawn behind an ellipsis mark, so a cut never goes unseen.
class DisplayLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    static constexpr qreal kMinimumPointSize = 7.0;
    // The window's zoom, which the legible minimum follows.
    void setZoom(qreal factor) {
        minimum_ = kMinimumPointSize * factor;
        update();
    }

    // What is drawn: the text or its marked end, and the font it is drawn in.
    struct Fit {
        QString shown;
        QFont font;
    };
    Fit fit() const;
    // The width the text is drawn into.
    int textWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal minimum_ = kMinimumPointSize;
};
