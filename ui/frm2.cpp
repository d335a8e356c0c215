// SPDX-License-Identifier: MIT
#include "frm2.h"

#include "ui_frm2.h"

#include <QCoreApplication>

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
}

frm2::~frm2() = default;

void frm2::tmr1_Timer() {
    tmr1.stop();
    QCoreApplication::exit(0);
}
