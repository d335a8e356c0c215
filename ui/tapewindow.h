// SPDX-License-Identifier: MIT
#pragma once

#include "tapemodel.h"

#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <memory>
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
};

// The tape beside the calculator: its lines, newest at the bottom, with a
// menu of Copy, Copy all, Save as, Delete, Clear tape and Keep tape between
// runs. Keys it does not use itself (Escape, Enter, Delete, Ctrl+C, Ctrl+S,
// the arrows and the list's own keys) go to `forward`, so that the calculator
// can be typed on while the tape has the focus.
class TapeWindow : public QWidget {
    Q_OBJECT
public:
    using KeyHandler = std::function<bool(QKeyEvent*)>;
    TapeWindow(TapeModel* model, KeyHandler forward, QWidget* parent);
    ~TapeWindow() override;

    TapeModel* model() const noexcept { return model_; }
    // Puts the window next to `calculator` without covering it.
    void placeBeside(const QWidget& calculator);

    // The selected lines, or the current one when none is selected.
    void copySelected() const;
    void copyAll() const;
    // Writes through a temporary file that replaces `path` only once whole.
    bool saveTo(const QString& path, QString* error) const;
    // Says above the lines what became of the kept tape ("" hides it).
    void showProblem(const QString& text);
    // Whether the lines are kept between runs, as the menu shows it.
    void setKeeping(bool on) noexcept { keeping_ = on; }

signals:
    void clearRequested();
    // The rows to delete, and the number a line ends on, for the calculator.
    void deleteRequested(QList<int> rows);
    void resultChosen(QString number);
    void keepingChanged(bool on);
    // Closed or hidden, not minimised.
    void hidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool handleKey(QKeyEvent* event);
    void saveAs();
    void deleteSelected();
    void choose(const QModelIndex& index);
    void showMenu(const QPoint& at);
    QList<int> selectedRows() const;

    std::unique_ptr<Ui::TapeWindow> ui;
    TapeModel* model_;
    KeyHandler forward_;
    bool keeping_ = true;
    bool atBottom_ = true;
    // Made when first needed.
    QMenu* menu_ = nullptr;
    std::unique_ptr<Ui::TapeMenu> menuUi_;
};
