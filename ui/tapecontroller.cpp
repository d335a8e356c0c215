// SPDX-License-Identifier: MIT
#include "tapecontroller.h"

#include "settings.h"
#include "tapemodel.h"
#include "tapewindow.h"
#include "xdg.h"

#include <QApplication>

#include <algorithm>
#include <new>
#include <vector>

namespace {

// The line above a run's lines on the tape; the kept tape gives the earlier
// runs' times in the same form.
QString heading(const QString& started) {
    return QStringLiteral("======== ") +
           (started.isEmpty() ? QStringLiteral("a run whose start was not kept") : started);
}

QString startedText(std::time_t started) {
    return QString::fromStdString(KeptTape::startedText(started));
}

// $XDG_STATE_HOME/quillo (an absolute XDG_STATE_HOME only), else
// ~/.local/state/quillo; "" without a home.
std::string keptFolder() {
    const std::string state = quillo::xdgFolder("XDG_STATE_HOME", ".local/state");
    return state.empty() ? state : state + "/quillo";
}

} // namespace

TapeController::TapeController(quillo::Session& session, Settings& settings, QWidget& calculator,
                               const QWidget& display, QString title, Step step, KeyHandler forward)
    : session_(session), settings_(settings), calculator_(calculator), display_(display),
      title_(std::move(title)), step_(std::move(step)), forward_(std::move(forward)),
      started_(std::time(nullptr)),
      // The store touches no file before the first line.
      kept_(session, keptFolder(), started_, settings.keepTape(),
            [&settings] { return settings.keepTapeNow(); }),
      listening_(kept_.listen(*this)) {}

TapeController::~TapeController() {
    // Going with the program is not the user closing it: nothing to remember.
    if (window_) {
        window_->disconnect(this);
        delete window_; // its list listens to the session
    }
}

bool TapeController::isOpen() const {
    return window_ && window_->isOpen();
}

void TapeController::toggle() {
    if (isOpen()) {
        window_->closeKeepingKeys();
        return;
    }
    if (!window_) {
        make();
    }
    window_->open(calculator_, display_);
    settings_.setTapeOpen(true);
}

void TapeController::make() {
    window_ = new TapeWindow(new TapeModel(session_), forward_, &calculator_);
    window_->setWindowFlag(Qt::WindowStaysOnTopHint, keepOnTop_);
    window_->setProperty("titleText", window_->windowTitle());
    showTitle();
    connect(window_, &TapeWindow::clearRequested, this, [this] {
        step_([this] {
            left_.clear();
            session_.clearTape();
        });
    });
    connect(window_, &TapeWindow::deleteRequested, this, &TapeController::deleteLines);
    connect(window_, &TapeWindow::noteApplied, this, &TapeController::setNote);
    connect(window_, &TapeWindow::resultChosen, this, &TapeController::resultChosen);
    connect(window_, &TapeWindow::lineChosen, this, &TapeController::lineChosen);
    connect(window_, &TapeWindow::correctionApplied, this, &TapeController::correctionApplied);
    connect(window_, &TapeWindow::keepingChanged, this, &TapeController::setKeeping);
    connect(window_, &TapeWindow::hidden, this, &TapeController::hidden);
    connect(window_, &TapeWindow::openRequested, this, &TapeController::openRequested);
    connect(window_, &TapeWindow::openRecentRequested, this, &TapeController::openRecentRequested);
    connect(window_, &TapeWindow::saveTapeRequested, this, &TapeController::saveTapeRequested);
    if (const QRect g = settings_.tapeGeometry(); !g.isEmpty()) {
        window_->restore(g.topLeft(), g.size());
    }
    window_->setKeeping(kept_.on());
    window_->setRunStarted(startedText(started_));
    window_->showProblem(QString::fromStdString(kept_.problem()));
    showEarlier();
    kept_.readEarlier();
}

// The earlier runs' lines, asked for when the tape is first opened, shown
// whenever the kept tape says they changed as a whole.
void TapeController::showEarlier() {
    std::vector<TapeModel::Earlier> rows;
    for (const std::vector<KeptTape::Run>* runs : {&kept_.earlier(), &std::as_const(left_)}) {
        for (const KeptTape::Run& run : *runs) {
            rows.push_back({0, heading(QString::fromStdString(run.started)), true});
            for (const KeptTape::Line& line : run.lines) {
                rows.push_back({line.id, QString::fromStdString(line.text), false,
                                QString::fromStdString(line.note)});
            }
        }
    }
    window_->model()->setEarlier(std::move(rows), heading(startedText(kept_.started())));
}

bool TapeController::open(quillo::Session::Opened& opened) {
    bool done = false;
    step_([this, &opened, &done] {
        KeptTape::Run run{startedText(kept_.started()).toStdString(), {}};
        const quillo::Tape& tape = session_.engine().tape();
        for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
            if (tape.shown(n)) {
                run.lines.push_back({0, tape.at(n), std::string(session_.note(n))});
            }
        }
        session_.open(opened);
        done = true;
        if (!run.lines.empty()) {
            left_.push_back(std::move(run));
        }
        if (window_) {
            showEarlier();
            kept_.readEarlier();
        }
    });
    return done;
}

void TapeController::showDocument(const QString& name, bool modified, const QString& title) {
    document_ = name;
    documentTitle_ = title;
    modified_ = modified;
    if (window_) {
        showTitle();
    }
}

// "name.quillo* — Quillo-v2 tape": Qt draws the [*] as "*" while modified.
void TapeController::showTitle() {
    window_->setRecentTapes(settings_.recentTapes());
    const QString tape = window_->property("titleText").toString().arg(title_);
    window_->setWindowTitle(
        document_.isEmpty() ? tape : QStringLiteral("%1[*] \u2014 %2").arg(document_, tape));
    window_->setWindowModified(modified_);
    // Printed and exported under the tape's own title, not the window's.
    window_->setDocumentTitle(documentTitle_);
}

void TapeController::keptChanged(const KeptTape& kept, const KeptChange& change) noexcept {
    if (!window_) {
        return; // read when the window is made
    }
    try {
        if (change.keeping) {
            window_->setKeeping(kept.on());
        }
        if (change.earlier) {
            if (kept.on()) {
                left_.clear(); // the kept tape has them now
            }
            showEarlier();
        } else if (!change.removed.empty()) {
            TapeModel* model = window_->model();
            std::vector<int> rows;
            for (int row = 0; row < model->rowCount(); ++row) {
                const TapeModel::Line line = model->line(row);
                if (line.kind == TapeModel::Line::Kind::Earlier &&
                    std::find(change.removed.begin(), change.removed.end(), line.number) !=
                        change.removed.end()) {
                    rows.push_back(row);
                }
            }
            model->removeEarlier(std::move(rows));
        }
        if (change.problem) {
            window_->showProblem(QString::fromStdString(kept.problem()));
        }
    } catch (const std::bad_alloc&) {
        // Out of memory the list is behind the kept tape; the keeping goes on.
    }
}

void TapeController::setKeeping(bool on) {
    step_([this, on] {
        // Saved first: another window's store reads it before making the tape again.
        settings_.setKeepTape(on);
        kept_.setOn(on);
        if (on && window_) {
            kept_.readEarlier();
        }
    });
}

void TapeController::setKeepOnTop(bool on) {
    keepOnTop_ = on;
}

// Deleted lines of this run leave the session's tape; those of earlier runs
// the kept tape. A heading is no line.
void TapeController::deleteLines(const QList<int>& rows) {
    step_([this, &rows] {
        TapeModel* model = window_->model();
        std::vector<std::uint64_t> numbers;
        std::vector<KeptTape::LineId> earlier;
        for (const int row : rows) {
            const TapeModel::Line line = model->line(row);
            if (line.kind == TapeModel::Line::Kind::ThisRun) {
                numbers.push_back(line.number);
            } else if (line.kind == TapeModel::Line::Kind::Earlier) {
                earlier.push_back(line.number);
            }
        }
        kept_.removeEarlier(earlier);
        session_.eraseLines(numbers);
    });
}

// A note is a step of the session's: of this run's line by its number, of
// an earlier run's by the kept tape's id, which the kept tape and the list
// follow from the session's notice.
void TapeController::setNote(bool earlier, quint64 line, const QString& note) {
    const std::string text = note.toStdString();
    const std::string before =
        earlier ? window_->model()->earlierNote(line).toStdString() : std::string();
    step_([this, earlier, line, &text, &before] {
        try {
            if (earlier) {
                session_.setEarlierNote(line, before, text);
            } else {
                session_.setNote(line, text);
            }
        } catch (const quillo::NoteRefused&) {
            QApplication::beep(); // the line went meanwhile
        }
    });
}

void TapeController::closeWithCalculator() {
    leaving_ = true;
    if (window_) {
        window_->close();
    }
}

void TapeController::hideWithCalculator() {
    leaving_ = true;
    if (window_) {
        window_->hide();
    }
}

// Remembered as the user left it: open or closed, and where.
void TapeController::hidden() {
    settings_.setTapeOpen(leaving_);
    settings_.setTapeGeometry(QRect(window_->offset().value_or(QPoint()), window_->size()));
}
