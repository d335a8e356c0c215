// SPDX-License-Identifier: MIT
#pragma once

#include "session.h"

#include <QAbstractListModel>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

// The tape as a list: the lines kept from earlier runs, each run under its
// heading, then this run's lines, which it reads from the session's tape and
// keeps in step with the session's notices alone, row by row, so that the
// views keep their selection and scroll position.
class TapeModel : public QAbstractListModel, public quillo::SessionListener {
    Q_OBJECT
public:
    explicit TapeModel(quillo::Session& session, QObject* parent = nullptr);
    ~TapeModel() override;

    // A line longer than this is listed by its end, where its result is,
    // after an ellipsis: a view then lays out no more of it than a screen
    // can show, however long the line.
    static constexpr qsizetype kShownCharacters = 2'000;
    // A line's corrected numbers, as spans of its text: QPoint(start, length).
    static constexpr int CorrectedSpansRole = Qt::UserRole + 1;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // A line kept from an earlier run, by the kept tape's id for it, or a
    // run's heading.
    struct Earlier {
        std::uint64_t id = 0;
        QString text;
        bool heading = false;
    };
    // Puts the earlier runs' lines above this run's, with a heading for this
    // run below them when there are any. With this run's, at most
    // quillo::Tape::kCapacity lines are listed: the oldest go first.
    void setEarlier(std::vector<Earlier> earlier, const QString& thisRunHeading);

    // What a row stands for: a line of this run (by its number on the
    // session's tape), a line of an earlier run (by its id), or a heading.
    struct Line {
        enum class Kind { Heading, ThisRun, Earlier };
        Kind kind = Kind::Heading;
        std::uint64_t number = 0;
    };
    Line line(int row) const;
    // The rows' texts, whole, each followed by a newline. The list's own
    // text of a line too long to show is its end.
    QString text(const QList<int>& rows) const;
    QString text() const;
    // The numbers a row's line holds; none for a heading or an earlier run's line.
    std::vector<quillo::LineNumber> numbers(int row) const;
    const quillo::Session& session() const noexcept { return session_; }
    // How a corrected number is told ("Corrected: %1 was %2"), and a reused
    // one that follows its line (%1 the number, %2 the line) or cannot.
    void setNotes(QString corrected, QString follows, QString fixed) {
        correctedNote_ = std::move(corrected);
        followsNote_ = std::move(follows);
        fixedNote_ = std::move(fixed);
    }
    // Takes rows of earlier runs out of the list, with a heading left with
    // no line under it.
    void removeEarlier(std::vector<int> rows);

    void sessionChanged(const quillo::Session& session,
                        const quillo::Change& change) noexcept override;
    // How many of the session's steps the list has followed.
    std::uint64_t steps() const noexcept { return steps_; }

signals:
    // The list has followed a change: a step of the session, with every
    // row it moves, or the earlier runs' lines set or taken out.
    void followed();

private:
    void follow(const quillo::Change& change);
    // The roles that tell a line's corrections.
    QVariant corrections(int row, int role) const;
    int thisRun() const { return static_cast<int>(earlier_.size()); }
    QString whole(int row) const;
    void removeRows(int from, int to); // [from, to)
    // Takes out headings left with no line under them.
    void removeBareHeadings();
    // Drops the oldest earlier lines past the bound shared with this run's.
    void trimEarlier();
    // Inserts this run's lines shown among the numbers [from, to) at `at`.
    void insertLines(std::vector<std::uint64_t>::iterator at, std::uint64_t from, std::uint64_t to);

    quillo::Session& session_;
    quillo::Session::Subscription listening_;
    std::vector<Earlier> earlier_;
    // This run's lines shown, by number, and the numbers they cover.
    std::vector<std::uint64_t> lines_;
    std::uint64_t first_;
    std::uint64_t end_;
    QString correctedNote_;
    QString followsNote_;
    QString fixedNote_;
    std::uint64_t steps_ = 0;
};
