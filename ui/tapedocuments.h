// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QThread;
class QWidget;
class Settings;
class TapeController;

// A calculation saved as a file and opened again ("Save tape…", "Open
// tape…", `quillo FILE`, the recent tapes). The files are read and written
// on a thread of their own: the window hands the work over and is told the
// result. An opened tape begins a new run (TapeController::open); a tape
// refused leaves the calculator and its tape as they were, and a failed
// save leaves the file as it was, each saying why in a box over `parent`.
class TapeDocuments : public QObject, private quillo::SessionListener {
    Q_OBJECT
public:
    static constexpr const char* kSuffix = "quillo";

    TapeDocuments(quillo::Session& session, TapeController& tape, Settings& settings,
                  QString appTitle, QWidget& parent);
    ~TapeDocuments() override;

    // Reads `path` off this thread and opens it as a new run, or says why not.
    void open(const QString& path);
    // Writes this run to `path` through a temporary file renamed in place.
    void save(const QString& path);
    // Asks for a file and opens or saves it.
    void openAsked();
    void saveAsked();

    // The tape open or last saved, "" for none; its title in the file.
    QString path() const { return path_; }
    QString title() const { return title_; }
    // Changed since it was opened or saved.
    bool modified() const noexcept { return modified_; }
    bool busy() const noexcept { return busy_; }

    // Words for what went wrong, "" when nothing did; for tests and boxes.
    QString lastProblem() const { return problem_; }

signals:
    // The open tape, its name or its unsaved state changed.
    void changed();
    // An open or a save has ended, done or refused.
    void finished(bool done);

private:
    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;
    // Runs `work` on a thread of its own; `done` back on this one.
    void offThread(std::function<std::function<void()>()> work);
    void ended(bool done, bool opening, const QString& path, const QString& what);

    quillo::Session& session_;
    TapeController& tape_;
    Settings& settings_;
    QString appTitle_;
    QWidget& parent_;
    QString path_;
    QString title_;
    QString problem_;
    bool modified_ = false;
    bool busy_ = false;
    bool opening_ = false; // the session's notice of the opening is not a change
    std::vector<QThread*> threads_;
    quillo::Session::Subscription listening_;
};
