// SPDX-License-Identifier: MIT
#pragma once

#include "tapemodel.h"

#include <QMargins>
#include <QPointer>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace Ui {
class TapeWindow;
class TapeMenu;
} // namespace Ui
class QMenu;
class QThread;
struct ExportProgress;
struct TapeDocument;
template <class Owner, class Items, class Buttons> struct ActionRow;

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

    // The colour of a note not selected: the look's, where it is readable.
    static QColor noteColor(const QStyleOptionViewItem& option);

private:
    // Draws a line's note beside its text, which is `lineWidth` wide, in
    // `area`; gives back the part of it left for the line.
    QRect drawNote(QPainter& painter, const QStyleOptionViewItem& option, const QRect& area,
                   qreal lineWidth, const QString& note) const;
};

// The tape beside the calculator: its lines, newest at the bottom, with a
// menu of Copy, Copy all, Save as, Correct, Note, Delete, Clear tape and Keep
// tape between runs. Keys it does not use itself (Escape, Enter, Delete,
// Ctrl+C, Ctrl+S, F2, Shift+F2, the arrows and the list's own keys) go to
// `forward`, so that the calculator can be typed on while the tape has the
// focus.
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
    // The tape as a text file (CRLF, UTF-8), a CSV file or a PDF: the whole
    // tape as text, the selected lines for the others when more than one is
    // selected. Written through a temporary file that replaces `path` only
    // once whole; on failure `error` names the cause and `path` is as it was.
    // It waits for the file: the menu's exports run it on a thread of their own.
    enum class Export { Text, Csv, Pdf };
    bool exportTo(Export kind, const QString& path, QString* error);
    bool saveTo(const QString& path, QString* error) { return exportTo(Export::Text, path, error); }
    // What printed and exported pages are headed by ("" for the window's
    // title), and when this run started.
    void setDocumentTitle(QString title) { documentTitle_ = std::move(title); }
    void setRunStarted(QString started) { runStarted_ = std::move(started); }
    // Says above the lines what became of the kept tape ("" hides it).
    void showProblem(const QString& text);
    // Whether the lines are kept between runs, as the menu shows it.
    void setKeeping(bool on) noexcept { keeping_ = on; }
    // The saved tapes the "Open recent" menu offers, the newest first.
    void setRecentTapes(QStringList paths) { recent_ = std::move(paths); }

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
    // A line's note written anew ("" removes it): a line of this run by its
    // number, or of an earlier run by the kept tape's id.
    void noteApplied(bool earlier, quint64 line, QString note);
    void keepingChanged(bool on);
    // Open tape…, a recent tape chosen, Save tape….
    void openRequested();
    void openRecentRequested(QString path);
    void saveTapeRequested();
    // Closed or hidden, not minimised.
    void hidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Every action of the window: its menu's items, its keys and its buttons.
    using Action = ActionRow<TapeWindow, Ui::TapeMenu, Ui::TapeWindow>;
    static std::span<const Action> actions();
    bool handleKey(QKeyEvent* event);
    // Asks where, then writes on a thread of its own with a progress the
    // user can cancel; a failure is said in a box.
    void exportAs(Export kind);
    void print();
    std::function<QByteArray(ExportProgress&)> maker(Export kind);
    TapeDocument document(const QList<int>& rows);
    QList<int> exportRows() const;
    void runJob(const QString& label, std::function<QString(ExportProgress&)> work);
    void deleteSelected();
    void choose(const QModelIndex& index);
    // Opens the editor on the current line's typed numbers beside it; says
    // why when it has none that can be corrected.
    void correctCurrent();
    // Opens the note editor on the current line.
    void noteCurrent();
    // Whether a row is a line, which can have a note (a heading cannot).
    bool notable(int row) const;
    // A line scrolled into view, where it is on the screen: an editor opens beside it.
    QRect shownLine(const QModelIndex& line);
    // Why a row cannot be corrected; "" when it can.
    QString whyNotCorrectable(int row);
    // The menu's actions, made when first needed.
    Ui::TapeMenu& menu();
    void showMenu(const QPoint& at);
    // Fills "Open recent" as it opens.
    void listRecent();
    QList<int> selectedRows() const;
    // What one row is on the vertical scroll bar.
    int rowStep() const;
    // Places the window again where it covers the calculator.
    void keepClear();

    std::unique_ptr<Ui::TapeWindow> ui;
    TapeModel* model_;
    KeyHandler forward_;
    bool keeping_ = true;
    QStringList recent_;
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
    QString documentTitle_;
    QString runStarted_;
    // The print or export under way, if any.
    QPointer<QThread> job_;
    std::shared_ptr<ExportProgress> jobProgress_;
    // A resize is looked at once it has settled, not while it is dragged.
    QTimer settled_;
    QTimer handOver_;
};
