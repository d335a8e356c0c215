// SPDX-License-Identifier: MIT
// The tape window's actions, one row each: its menu's items (their words
// are in TapeMenu.ui), its keys and the buttons below its list.
#include "actiontable.h"
#include "tapewindow.h"
#include "ui_TapeMenu.h"
#include "ui_TapeWindow.h"

#include <QListView>

std::span<const TapeWindow::Action> TapeWindow::actions() {
    using Window = TapeWindow;
    using Menu = Ui::TapeMenu;
    constexpr auto ctrl = Qt::ControlModifier;
    // clang-format off
    static constexpr Action rows[] = {
        {.item = &Menu::actionCopy,
         .keys = {QKeySequence::Copy, {ctrl | Qt::Key_C}},
         .run = [](Window& w, bool) { w.copySelected(); },
         .enabled = [](Window& w) { return w.ui->lines->currentIndex().isValid(); }},
        {.item = &Menu::actionCopyAll,
         .run = [](Window& w, bool) { w.copyAll(); },
         .enabled = [](Window& w) { return w.model_->rowCount() > 0; },
         .button = &Ui::TapeWindow::copyAll},
        {.item = &Menu::actionPrint,
         .keys = {QKeySequence::Print, {ctrl | Qt::Key_P}},
         .run = [](Window& w, bool) { w.print(); },
         .enabled = [](Window& w) { return w.model_->rowCount() > 0; }},
        {.item = &Menu::actionExportPdf,
         .run = [](Window& w, bool) { w.exportAs(Export::Pdf); },
         .enabled = [](Window& w) { return w.model_->rowCount() > 0; }},
        {.item = &Menu::actionExportCsv,
         .run = [](Window& w, bool) { w.exportAs(Export::Csv); },
         .enabled = [](Window& w) { return w.model_->rowCount() > 0; }},
        {.item = &Menu::actionExportText,
         .keys = {QKeySequence::Save, {ctrl | Qt::Key_S}},
         .run = [](Window& w, bool) { w.exportAs(Export::Text); },
         .button = &Ui::TapeWindow::exportText},
        {.item = &Menu::actionOpenTape,
         .keys = {QKeySequence::Open, {ctrl | Qt::Key_O}},
         .run = [](Window& w, bool) { emit w.openRequested(); }},
        {.item = &Menu::actionSaveTape,
         .keys = {QKeySequence::SaveAs, {ctrl | Qt::ShiftModifier | Qt::Key_S}},
         .run = [](Window& w, bool) { emit w.saveTapeRequested(); }},
        {.item = &Menu::actionCorrect,
         .keys = {.typed = {QKeyCombination(Qt::Key_F2)}},
         .run = [](Window& w, bool) { w.correctCurrent(); },
         .whyNot = [](Window& w) { return w.whyNotCorrectable(w.ui->lines->currentIndex().row()); }},
        {.item = &Menu::actionNote,
         .keys = {.typed = {Qt::ShiftModifier | Qt::Key_F2}},
         .run = [](Window& w, bool) { w.noteCurrent(); },
         .enabled = [](Window& w) { return w.notable(w.ui->lines->currentIndex().row()); }},
        {.item = &Menu::actionDelete,
         .keys = {.typed = {QKeyCombination(Qt::Key_Delete)}},
         .run = [](Window& w, bool) { w.deleteSelected(); },
         .enabled = [](Window& w) { return !w.selectedRows().isEmpty(); }},
        {.item = &Menu::actionClearTape,
         .run = [](Window& w, bool) { emit w.clearRequested(); },
         .enabled = [](Window& w) { return w.model_->rowCount() > 0; },
         .button = &Ui::TapeWindow::clearTape},
        {.item = &Menu::actionKeepTape,
         .run = [](Window& w, bool on) { emit w.keepingChanged(on); },
         .checked = [](Window& w) { return w.keeping_; }},
        // Keys alone.
        {.keys = {.typed = {QKeyCombination(Qt::Key_Return), Qt::KeypadModifier | Qt::Key_Enter}},
         .run = [](Window& w, bool) { w.choose(w.ui->lines->currentIndex()); }},
        {.keys = {.typed = {QKeyCombination(Qt::Key_Escape)}},
         .run = [](Window& w, bool) { w.closeKeepingKeys(); }},
    };
    // clang-format on
    return rows;
}
