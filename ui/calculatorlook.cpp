// SPDX-License-Identifier: MIT
// The calculator's zoom and look, as the keyboard and the display's menu
// change them, and this window drawn for them. The other windows follow the
// application's font and style sheet, which appearance sets.
#include "appearance.h"
#include "calculator.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

#include <QAccessible>
#include <QActionGroup>
#include <QMenu>

void Calculator::setZoom(int percent) {
    if (!appearance::isZoomStep(percent) || percent == zoom_) {
        return;
    }
    zoom_ = percent;
    applyLook();
    settings_.setZoom(percent);
    if (QAccessible::isActive()) {
        if (!menu_) {
            makeMenu(); // the words are the menu's
        }
        announce(menuUi_->menuZoom->property("announcement").toString().arg(percent));
    }
}

void Calculator::zoomBy(int by) {
    setZoom(appearance::zoomStep(zoom_, by));
}

void Calculator::setHighContrast(bool on) {
    if (on == highContrast_) {
        return;
    }
    highContrast_ = on;
    applyLook();
    settings_.setHighContrast(on);
    if (QAccessible::isActive()) {
        if (!menu_) {
            makeMenu();
        }
        announce(
            menuUi_->actionHighContrast->property(on ? "announceOn" : "announceOff").toString());
    }
}

void Calculator::applyLook() {
    // Scaled first: the fonts at 100 % are taken before a style sheet is on.
    appearance::setZoom(zoom_);
    appearance::scaleWindow(*this);
    appearance::setHighContrast(highContrast_);
    const qreal factor = zoom_ / 100.0;
    ui->Readout->setZoom(factor);
    // The @2x renderings serve a zoom as they serve a high-DPI screen.
    background_ = appearance::picture(*this);
    ui->pic1->setPicture(appearance::picture(*ui->pic1), factor);
    update();
}

void Calculator::makeLookItems() {
    QMenu* steps = menuUi_->menuZoom;
    auto* group = new QActionGroup(steps);
    const QString text = steps->property("stepText").toString();
    for (const int percent : appearance::zoomSteps()) {
        QAction* step = steps->addAction(text.arg(percent));
        step->setCheckable(true);
        step->setData(percent);
        group->addAction(step);
        connect(step, &QAction::triggered, this, [this, percent] { setZoom(percent); });
    }
}

void Calculator::tickLookItems() {
    for (QAction* step : menuUi_->menuZoom->actions()) {
        if (step->data().isValid()) {
            step->setChecked(step->data().toInt() == zoom_);
        }
    }
}
