// SPDX-License-Identifier: MIT
#pragma once

#include "keys.h"
#include "session.h"
#include "settings.h"

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class Calculator;
class DisplayMenu;
} // namespace Ui
class QAbstractButton;
class QMenu;
class QTimer;
class Announcer;
class TapeController;
class TapeWindow;
class frm2;

// The main window. Data flow: a key (a click, a typed key, a paste, a screen
// reader's press action) becomes one quillo::Key, which runs its engine
// operation through the frame's dispatch point; the engine reads the display
// text and the pressed key's caption through the Surface below, updates its
// fields and writes the display text back into Readout. An engine error is
// reported by the dispatch point and the key is undone. One key at a time:
// while one is under way, its boxes included, any other is dropped.
// Around the keys, through the display's context menu and the keyboard: the
// tape window, undo and redo of a step, and keeping the windows on top.
class Calculator : public QWidget, private quillo::Surface, private quillo::SessionListener {
    Q_OBJECT
public:
    // The frame's dispatch point: runs one key's operation and reports an
    // engine error over `window`; false when the key raised one.
    using Dispatch = bool (*)(QWidget* window, const std::function<void()>& operation) noexcept;

    // `title` is the application title, shown on the exit question.
    Calculator(Dispatch dispatch, QString title, QWidget* parent = nullptr);
    ~Calculator() override;

    const quillo::State& engineState() const noexcept { return session_.engine().state(); }
    const quillo::Session& session() const noexcept { return session_; }
    // The farewell window, or nullptr until the exit question is answered Yes.
    frm2* farewell() const noexcept { return frm2_.get(); }
    // The calculator key a button of this window stands for.
    std::optional<quillo::Key> keyOf(const QAbstractButton* button) const;

    // The clipboard: the number shown, a pasted number typed as its keys, and
    // the keys pressed so far in the replay tool's format.
    void copy();
    void paste();
    void copyKeys();
    // Types a number as a paste does: one step, under the paste's rules.
    void pasteText(const QString& text);
    // A tape line's result into the display, as the engine wrote it: one
    // step; a beep, and nothing changed, for text that is no result.
    void reuse(const QString& result);
    // The result of this run's tape line `line`, following the line.
    void reuseLine(quint64 line);

    // Types the `index`th number of tape line `line` anew, every later key
    // worked out again: one step, refused with a box when a key would fail.
    void correct(quint64 line, int index, const QString& text);

    // Takes back the last step (a key, or a paste) and brings it back.
    void undo();
    void redo();
    // Opens the tape window (shows it again when minimised), or closes it.
    void toggleTape();
    // nullptr until the tape is first opened.
    TapeWindow* tapeWindow() const noexcept;
    void setKeepOnTop(bool on);
    // Whether the tape is kept between runs; turned off, what was kept is deleted.
    void setKeepTape(bool on);

    // The zoom of every window, in per cent (one of appearance::zoomSteps()),
    // and the dark high-contrast look; both remembered and announced.
    int zoom() const noexcept { return zoom_; }
    void setZoom(int percent);
    // `by` steps larger or smaller; 0 goes back to 100 %.
    void zoomBy(int by);
    bool highContrast() const noexcept { return highContrast_; }
    void setHighContrast(bool on);

    // A typed key or shortcut, from this window or the tape's; false for a
    // key that is none of the calculator's.
    bool handleKey(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void press(quillo::Key key);
    void type(quillo::Key key);
    template <class Procedure> void exclusive(Procedure&& procedure);
    // Runs a session's step as a key runs: one at a time, through the dispatch point.
    template <class Step> void step(Step&& step);
    void pasteOffer(const std::optional<std::string>& text);
    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;
    void showDisplayMenu(const QPoint& at);
    void makeMenu();
    // The zoom's and the look's items in the display's menu, and their ticks.
    void makeLookItems();
    void tickLookItems();
    // This window drawn for the zoom and the look now set.
    void applyLook();
    void announce(const QString& text);
    QAbstractButton* button(quillo::Key key) const;
    void pic1_Click();
    void cmdexit_Click();

    std::string displayText() const override;
    void setDisplayText(const std::string& text) override;
    std::string numberCaption(int index) const override;
    std::string operatorCaption(int index) const override;
    void showWarning(std::string_view text, std::string_view title) override;

    std::unique_ptr<Ui::Calculator> ui;
    Dispatch dispatch_;
    QString title_;
    quillo::Session session_;
    quillo::Session::Subscription listening_;
    QString announced_; // the display as a screen reader was last told it
    QPixmap background_;
    // Each typed key's button shows down until its timer ends; made when
    // the key is first typed.
    std::array<QTimer*, quillo::kKeyCount> released_{};
    bool busy_ = false;
    bool keepOnTop_ = false;
    bool shownOnce_ = false;
    int zoom_ = 100;
    bool highContrast_ = false;
    Settings settings_;
    std::unique_ptr<TapeController> tape_;
    // Made when first needed: most runs use neither.
    QMenu* menu_ = nullptr;
    std::unique_ptr<Ui::DisplayMenu> menuUi_;
    Announcer* announcer_ = nullptr;
    std::unique_ptr<frm2> frm2_;
};
