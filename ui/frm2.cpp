// SPDX-License-Identifier: MIT
#include "frm2.h"

#include "appearance.h"
#include "ui_frm2.h"

#include <QCoreApplication>
#include <QPainter>

namespace {
constexpr int kFarewellMilliseconds = 2500;
}

frm2::frm2() : ui(std::make_unique<Ui::frm2>()), tmr1(this) {
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // draw the description's background picture
    // Closed before its tick, the farewell still ends the program: the main
    // window is hidden by then, so this is the last window.
    setAttribute(Qt::WA_QuitOnClose, true);
    tmr1.setObjectName(QStringLiteral("tmr1"));
    tmr1.setInterval(kFarewellMilliseconds);
    tmr1.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5% early
    connect(&tmr1, &QTimer::timeout, this, &frm2::tmr1_Timer);
    if (appearance::zoom() != 1) {
        // The description's background is drawn at its own size: drawn here
        // instead, with the window, at the zoom.
        setStyleSheet(QString());
        picture_ = appearance::picture(*this);
        appearance::scaleWindow(*this);
    }
}

void frm2::paintEvent(QPaintEvent*) {
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(appearance::zoom(), appearance::zoom());
        painter.drawPixmap(0, 0, picture_);
    }
}

frm2::~frm2() = default;

void frm2::tmr1_Timer() {
    tmr1.stop();
    QCoreApplication::exit(0);
}
