// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>
#include <QMouseEvent>

// A picture that reports a click: a press and a release over it, as a
// button does, so that dragging off it does not count.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // A click from elsewhere: a screen reader's press action.
    void click() { emit clicked(); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool click = pressed_ && event->button() == Qt::LeftButton &&
                           rect().contains(event->position().toPoint());
        pressed_ = false;
        event->accept();
        if (click) {
            emit clicked();
        }
    }

private:
    bool pressed_ = false;
};
