// SPDX-License-Identifier: MIT
#pragma once

#include "tape.h"

#include <QAbstractListModel>
#include <QMargins>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
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
    // Shows the window beside `calculator`, clear of it, with the newest line
    // current; a minimised window comes back where it was.
    void open(QWidget& calculator, const QWidget& display);
    // Shown, not minimised and not closing.
    bool isOpen() const;
    // Closes the window. When it has the keyboard, it hides only once the
    // calculator has it: hidden before, it would leave the keys typed
    // meanwhile to no window at all. Until then it passes them on.
    void closeKeepingKeys();
    // Puts the window next to `calculator` without covering it or its
    // `display` (see placement.h).
    void placeBeside(QWidget& calculator, const QWidget& display);

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
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool handleKey(QKeyEvent* event);
    void saveAs();
    // Places the window again where it covers the calculator.
    void keepClear();

    std::unique_ptr<Ui::TapeWindow> ui;
    const quillo::Tape& tape_;
    TapeModel* model_;
    TapeDelegate* delegate_;
    KeyHandler forward_;
    // What placement needs between openings: the windows it keeps apart, the
    // frame margins last seen (a window made anew by a keep-on-top toggle
    // has none until the window manager frames it), the size the user gave
    // the tape, and the size and frame margins placement last used.
    QPointer<QWidget> calculator_;
    QPointer<const QWidget> display_;
    QMargins calculatorMargins_;
    QMargins margins_;
    QSize preferred_;
    QSize placed_;
    QMargins placedWith_;
    // A resize is looked at once it has settled, not while it is dragged.
    QTimer settled_;
    QTimer handOver_;
};
