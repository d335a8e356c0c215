// SPDX-License-Identifier: MIT
// The display's menu and the calculator's shortcuts, one row an action (the
// items' words are in DisplayMenu.ui); the zoom's steps are added to its
// Zoom menu in calculatorlook.cpp.
#include "actiontable.h"
#include "appearance.h"
#include "calculator.h"
#include "tapecontroller.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

std::span<const Calculator::Action> Calculator::actions() {
    using Menu = Ui::DisplayMenu;
    using C = Calculator;
    constexpr auto ctrl = Qt::ControlModifier;
    // clang-format off
    static constexpr Action rows[] = {
        {.item = &Menu::actionCopy,
         .keys = {QKeySequence::Copy, {ctrl | Qt::Key_C}},
         .run = [](C& c, bool) { c.copy(); }},
        {.item = &Menu::actionPaste,
         .keys = {QKeySequence::Paste, {ctrl | Qt::Key_V}},
         .run = [](C& c, bool) { c.paste(); }},
        {.item = &Menu::actionUndo,
         .keys = {QKeySequence::Undo, {ctrl | Qt::Key_Z, QKeyCombination(Qt::Key_Backspace)}},
         .run = [](C& c, bool) { c.undo(); },
         .enabled = [](C& c) { return c.session_.canUndo(); }},
        {.item = &Menu::actionRedo,
         .keys = {QKeySequence::Redo, {ctrl | Qt::ShiftModifier | Qt::Key_Z, ctrl | Qt::Key_Y}},
         .run = [](C& c, bool) { c.redo(); },
         .enabled = [](C& c) { return c.session_.canRedo(); }},
        {.item = &Menu::actionTape,
         .keys = {.typed = {ctrl | Qt::Key_T}},
         .run = [](C& c, bool) { c.toggleTape(); },
         .checked = [](C& c) { return c.tape_->isOpen(); }},
        {.item = &Menu::actionKeepTape,
         .run = [](C& c, bool on) { c.setKeepTape(on); },
         .checked = [](C& c) { return c.tape_->keeping(); }},
        {.item = &Menu::actionKeepOnTop,
         .run = [](C& c, bool on) { c.setKeepOnTop(on); },
         .checked = [](C& c) { return c.keepOnTop_; }},
        // Ctrl and the key that has "+" on it, shifted or not.
        {.item = &Menu::actionZoomIn,
         .keys = {QKeySequence::ZoomIn, {ctrl | Qt::Key_Plus, ctrl | Qt::Key_Equal, ctrl | Qt::ShiftModifier | Qt::Key_Plus}},
         .run = [](C& c, bool) { c.zoomBy(1); },
         .enabled = [](C& c) { return c.zoom_ < appearance::zoomSteps().back(); }},
        {.item = &Menu::actionZoomOut,
         .keys = {QKeySequence::ZoomOut, {ctrl | Qt::Key_Minus}},
         .run = [](C& c, bool) { c.zoomBy(-1); },
         .enabled = [](C& c) { return c.zoom_ > appearance::zoomSteps().front(); }},
        {.item = &Menu::actionZoomReset,
         .keys = {.typed = {ctrl | Qt::Key_0, ctrl | Qt::KeypadModifier | Qt::Key_0}},
         .run = [](C& c, bool) { c.zoomBy(0); }},
        {.item = &Menu::actionHighContrast,
         .run = [](C& c, bool on) { c.setHighContrast(on); },
         .checked = [](C& c) { return c.highContrast_; }},
        {.item = &Menu::actionCopyKeys,
         .run = [](C& c, bool) { c.copyKeys(); }},
    };
    // clang-format on
    return rows;
}
