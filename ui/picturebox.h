// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

// A picture that reports a click: a press and a release over it, as a
// button does, so that dragging off it does not count. The picture is drawn
// from the top-left corner at the window's zoom, under whatever the label shows.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // A click from elsewhere: a screen reader's press action.
    void click() { emit clicked(); }

    void setPicture(const QPixmap& picture, qreal scale = 1) {
        picture_ = picture;
        scale_ = scale;
        update();
    }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            // Smooth where a high-DPI rendering is drawn at a scale between 1 and 2.
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (scale_ != 1) {
                painter.scale(scale_, scale_);
            }
            painter.drawPixmap(0, 0, picture_);
        }
        QLabel::paintEvent(event);
    }
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
    QPixmap picture_;
    qreal scale_ = 1;
    bool pressed_ = false;
};
