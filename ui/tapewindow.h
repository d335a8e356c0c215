// SPDX-License-Identifier: MIT
#pragma once

#include "tapemodel.h"

#include <QMargins>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Ui {
class TapeWindow;
class TapeMenu;
} // namespace Ui
class QMenu;

// Rows of one size, as wide as the view: a long line is cut at its start,
// so that its result stays in view, and the list lays out ten thousand
// lines at no cost.
class TapeDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A corrected number is drawn marked.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// The tape beside the calculator: its lines, newest at the bottom, with a
// menu of Copy, Copy all, Save as, Correct, Delete, Clear tape and Keep tape
// between runs. Keys it does not use itself (Escape, Enter, Delete, Ctrl+C, Ctrl+S,
// the arrows and the list's own keys) go to `forward`, so that the calculator
// can be typed on while the tape has the focus.
class TapeWindow : public QWidget {
    Q_OBJECT
public:
    using KeyHandler = std::function<bool(QKeyEvent*)>;
    TapeWindow(TapeModel* model, KeyHandler forward, QWidget* parent);
    ~TapeWindow() override;

    TapeModel* model() const noexcept { return model_; }
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
    // Where the user last had the window's frame, from the calculator's
    // frame's top left.
    std::optional<QPoint> offset() const { return offset_; }
    // What the user left: the frame's offset and the client area's size,
    // the size placement starts from (a resize of the hidden window would
    // reach it only once shown, after placement).
    void restore(QPoint offset, QSize size) {
        offset_ = offset;
        preferred_ = size;
    }

    // The selected lines, or the current one when none is selected.
    void copySelected() const;
    void copyAll() const;
    // Writes through a temporary file that replaces `path` only once whole;
    // on failure `error` names the cause and `path` is as it was.
    bool saveTo(const QString& path, QString* error) const;
    // Says above the lines what became of the kept tape ("" hides it).
    void showProblem(const QString& text);
    // Whether the lines are kept between runs, as the menu shows it.
    void setKeeping(bool on) noexcept { keeping_ = on; }

signals:
    void clearRequested();
    // The rows to delete, and the number a line ends on, for the calculator.
    void deleteRequested(QList<int> rows);
    // A line's result to put back: an earlier run's by its text, this
    // run's by its number, so that the number follows the line.
    void resultChosen(QString result);
    void lineChosen(quint64 line);
    // A number of this run's line `line` typed anew: the `index`th of the
    // session's numbers(line).
    void correctionApplied(quint64 line, int index, QString text);
    void keepingChanged(bool on);
    // Closed or hidden, not minimised.
    void hidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool handleKey(QKeyEvent* event);
    void saveAs();
    void deleteSelected();
    void choose(const QModelIndex& index);
    // Opens the editor on the current line's typed numbers beside it; says
    // why when it has none that can be corrected.
    void correctCurrent();
    // Why a row cannot be corrected; "" when it can.
    QString whyNotCorrectable(int row);
    // The menu's actions, made when first needed.
    Ui::TapeMenu& menu();
    void showMenu(const QPoint& at);
    QList<int> selectedRows() const;
    // What one row is on the vertical scroll bar.
    int rowStep() const;
    // Places the window again where it covers the calculator.
    void keepClear();

    std::unique_ptr<Ui::TapeWindow> ui;
    TapeModel* model_;
    KeyHandler forward_;
    bool keeping_ = true;
    bool atBottom_ = true;
    int removedAbove_ = 0; // rows being taken out above a view scrolled up
    // The current row while a step takes it out (an undo, a correction), to
    // be current again once the step's lines are back; and whether it was
    // selected.
    std::optional<int> lostCurrent_;
    bool lostSelected_ = false;
    // Opened with no row: the first rows to come make the newest current.
    bool newestWanted_ = false;
    // Made when first needed.
    QMenu* menu_ = nullptr;
    std::unique_ptr<Ui::TapeMenu> menuUi_;
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
    std::optional<QPoint> offset_;
    // A resize is looked at once it has settled, not while it is dragged.
    QTimer settled_;
    QTimer handOver_;
};
