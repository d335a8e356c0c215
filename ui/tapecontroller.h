// SPDX-License-Identifier: MIT
#pragma once

#include "keptape.h"

#include <QObject>
#include <QString>

#include <ctime>
#include <functional>
#include <memory>

class QKeyEvent;
class QWidget;
class Settings;
class TapeWindow;
namespace quillo {
class Session;
}

// The tape beside the calculator: its window, made when first opened, the
// tape kept between runs, and the settings that concern them (the tape
// open, its place and size, the keeping). The window's earlier lines, its
// Keep tick and its problem text follow the kept tape's notices.
class TapeController : public QObject, private KeptTapeListener {
    Q_OBJECT
public:
    // Runs a step of the session the way a key runs.
    using Step = std::function<void(const std::function<void()>&)>;
    using KeyHandler = std::function<bool(QKeyEvent*)>;

    // `calculator` is the window the tape stands beside, `display` the part
    // of it never covered; `title` the application's title.
    TapeController(quillo::Session& session, Settings& settings, QWidget& calculator,
                   const QWidget& display, QString title, Step step, KeyHandler forward);
    ~TapeController() override;

    // nullptr until the tape is first opened.
    TapeWindow* window() const noexcept { return window_; }
    bool isOpen() const;
    // Opens the tape window (shows it again when minimised), or closes it.
    void toggle();
    // Whether the tape is kept between runs; turned off, what was kept is deleted.
    bool keeping() const noexcept { return kept_.on(); }
    void setKeeping(bool on);
    void setKeepOnTop(bool on);
    // The calculator is closing, or hiding for good: the tape goes with it
    // and is remembered open when it was.
    void closeWithCalculator();
    void hideWithCalculator();

signals:
    void resultChosen(QString result);
    void lineChosen(quint64 line);
    void correctionApplied(quint64 line, int index, QString text);

private:
    void keptChanged(const KeptTape& kept, const KeptChange& change) noexcept override;
    void make();
    void showEarlier();
    void deleteLines(const QList<int>& rows);
    void hidden();

    quillo::Session& session_;
    Settings& settings_;
    QWidget& calculator_;
    const QWidget& display_;
    QString title_;
    Step step_;
    KeyHandler forward_;
    std::time_t started_;
    bool leaving_ = false; // the tape closes with the calculator, not by the user
    bool keepOnTop_ = false;
    KeptTape kept_;
    KeptTape::Listening listening_;
    TapeWindow* window_ = nullptr;
};
