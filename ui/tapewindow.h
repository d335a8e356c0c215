// SPDX-License-Identifier: MIT
#pragma once

#include "tape.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace Ui {
class TapeWindow;
} // namespace Ui

// The engine's tape as a list model. The tape changes under it with every
// key; sync() tells the views what changed.
class TapeModel : public QAbstractListModel {
    Q_OBJECT
public:
    TapeModel(const quillo::Tape& tape, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Lines added or dropped at either end are told row by row, so that the
    // selection and the view stay; a tape with no line left in common with
    // the model resets it. Returns the ranges [from, to) of the new rows.
    std::vector<std::pair<int, int>> sync();

private:
    const quillo::Tape& tape_;
    std::uint64_t first_;
    std::uint64_t end_;
};

// Every row as wide as the widest line: with rows of one size the list lays
// out ten thousand lines at no cost, and none is cut.
class TapeDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    int widest = 0;
};

// The tape beside the calculator: its lines, newest at the bottom, with Copy,
// Copy all, Save as and Clear tape. Keys it does not use itself (Escape,
// Ctrl+C, the arrows and the list's own keys) go to `forward`, so that the
// calculator can be typed on while the tape has the focus.
class TapeWindow : public QWidget {
    Q_OBJECT
public:
    using KeyHandler = std::function<bool(QKeyEvent*)>;
    TapeWindow(const quillo::Tape& tape, KeyHandler forward, QWidget* parent);
    ~TapeWindow() override;

    // Shows the tape's lines as they are now and the newest in view.
    void sync();
    // Puts the window next to `calculator` without covering it.
    void placeBeside(const QWidget& calculator);

    void copySelected() const;
    void copyAll() const;
    // Writes through a temporary file that replaces `path` only once whole;
    // on failure `error` names the cause and `path` is as it was.
    bool saveTo(const QString& path, QString* error) const;

signals:
    void clearRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool handleKey(QKeyEvent* event);
    void saveAs();

    std::unique_ptr<Ui::TapeWindow> ui;
    const quillo::Tape& tape_;
    TapeModel* model_;
    TapeDelegate* delegate_;
    KeyHandler forward_;
};
