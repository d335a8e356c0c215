// SPDX-License-Identifier: MIT
#include "tapemodel.h"

#include <algorithm>
#include <functional>
#include <new>
#include <numeric>

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString shown(const QString& line) {
    constexpr qsizetype kShown = TapeModel::kShownCharacters;
    return line.size() <= kShown ? line : QChar(0x2026) + line.right(kShown - 1);
}

} // namespace

TapeModel::TapeModel(quillo::Session& session, QObject* parent)
    : QAbstractListModel(parent), session_(session), first_(session.engine().tape().first()),
      end_(first_) {
    end_ = session.engine().tape().end();
    insertLines(lines_.end(), first_, end_);
    listening_ = session_.listen(*this);
}

TapeModel::~TapeModel() = default;

int TapeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : thisRun() + static_cast<int>(lines_.size());
}

QVariant TapeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    if (role == CorrectedSpansRole || role == Qt::AccessibleDescriptionRole) {
        return corrections(index.row(), role);
    }
    if (role == NoteRole) {
        return note(index.row());
    }
    if (role == Qt::AccessibleTextRole) {
        const QString text = whole(index.row());
        const QString note = this->note(index.row());
        return note.isEmpty() ? text : noteSpoken_.arg(text, note);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    QString text = shown(whole(index.row()));
    if (role == Qt::ToolTipRole) {
        if (const QString note = this->note(index.row()); !note.isEmpty()) {
            text += kNoteMark;
            text += note;
        }
        if (const QString note = corrections(index.row(), Qt::AccessibleDescriptionRole).toString();
            !note.isEmpty()) {
            text += u'\n' + note;
        }
    }
    return text;
}

QString TapeModel::note(int row) const {
    if (row < thisRun()) {
        return earlier_[static_cast<std::size_t>(row)].note;
    }
    const std::string_view note = session_.note(lines_[static_cast<std::size_t>(row - thisRun())]);
    return QString::fromUtf8(note.data(), static_cast<qsizetype>(note.size()));
}

std::optional<int> TapeModel::rowOf(std::uint64_t number) const {
    const auto at = std::lower_bound(lines_.begin(), lines_.end(), number);
    if (at == lines_.end() || *at != number) {
        return std::nullopt;
    }
    return thisRun() + static_cast<int>(at - lines_.begin());
}

QString TapeModel::earlierNote(std::uint64_t id) const {
    for (const Earlier& e : earlier_) {
        if (!e.heading && e.id == id) {
            return e.note;
        }
    }
    return {};
}

void TapeModel::setEarlierNote(std::uint64_t id, const QString& note) {
    for (int row = 0; row < thisRun(); ++row) {
        Earlier& e = earlier_[static_cast<std::size_t>(row)];
        if (!e.heading && e.id == id) {
            e.note = note;
            emit dataChanged(index(row), index(row));
        }
    }
}

QString TapeModel::whole(int row) const {
    if (row < thisRun()) {
        return earlier_[static_cast<std::size_t>(row)].text;
    }
    return fromUtf8(session_.engine().tape().at(lines_[static_cast<std::size_t>(row - thisRun())]));
}

TapeModel::Line TapeModel::line(int row) const {
    if (row < thisRun()) {
        const Earlier& e = earlier_[static_cast<std::size_t>(row)];
        return {e.heading ? Line::Kind::Heading : Line::Kind::Earlier, e.id};
    }
    return {Line::Kind::ThisRun, lines_[static_cast<std::size_t>(row - thisRun())]};
}

QString TapeModel::text(const QList<int>& rows) const {
    QString out;
    for (const int row : rows) {
        if (row >= 0 && row < rowCount()) {
            out += whole(row);
            if (const QString note = this->note(row); !note.isEmpty()) {
                out += kNoteMark;
                out += note;
            }
            out += u'\n';
        }
    }
    return out;
}

QString TapeModel::text() const {
    QList<int> rows(rowCount());
    std::iota(rows.begin(), rows.end(), 0);
    return text(rows);
}

void TapeModel::setEarlier(std::vector<Earlier> earlier, const QString& thisRunHeading) {
    if (!earlier_.empty()) {
        beginRemoveRows({}, 0, thisRun() - 1);
        earlier_.clear();
        endRemoveRows();
    }
    // The oldest lines past the bound go before they are listed at all.
    const std::size_t room =
        quillo::Tape::kCapacity - std::min(quillo::Tape::kCapacity, lines_.size());
    std::size_t lines = static_cast<std::size_t>(
        std::count_if(earlier.begin(), earlier.end(), [](const Earlier& e) { return !e.heading; }));
    for (auto& e : earlier) {
        if (lines <= room) {
            break;
        }
        if (!e.heading) {
            e.heading = true; // marked to go: a heading with no line under it goes
            e.text.clear();
            --lines;
        }
    }
    std::erase_if(earlier, [](const Earlier& e) { return e.heading && e.text.isEmpty(); });
    if (!earlier.empty()) {
        earlier.push_back({0, thisRunHeading, true});
        beginInsertRows({}, 0, static_cast<int>(earlier.size()) - 1);
        earlier_ = std::move(earlier);
        endInsertRows();
        removeBareHeadings();
    }
    emit followed();
}

void TapeModel::removeEarlier(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (const int row : rows) {
        if (row < thisRun() && !earlier_[static_cast<std::size_t>(row)].heading) {
            removeRows(row, row + 1);
        }
    }
    removeBareHeadings();
    emit followed();
}

void TapeModel::removeBareHeadings() {
    auto heading = [this](int row) { return earlier_[static_cast<std::size_t>(row)].heading; };
    for (int row = thisRun() - 2; row >= 0; --row) {
        if (heading(row) && heading(row + 1)) {
            removeRows(row, row + 1);
        }
    }
    // This run's heading, once no earlier run is left above it.
    if (thisRun() == 1) {
        removeRows(0, 1);
    }
}

void TapeModel::trimEarlier() {
    if (earlier_.empty() || static_cast<std::size_t>(rowCount()) <= quillo::Tape::kCapacity) {
        return;
    }
    std::size_t lines = lines_.size();
    for (const Earlier& e : earlier_) {
        lines += e.heading ? 0 : 1;
    }
    std::vector<int> oldest;
    for (int row = 0; row < thisRun() && lines > quillo::Tape::kCapacity; ++row) {
        if (!earlier_[static_cast<std::size_t>(row)].heading) {
            oldest.push_back(row);
            --lines;
        }
    }
    if (!oldest.empty()) {
        removeEarlier(std::move(oldest));
    }
}

void TapeModel::removeRows(int from, int to) {
    if (from >= to) {
        return;
    }
    const int split = thisRun();
    beginRemoveRows({}, from, to - 1);
    if (to > split) {
        lines_.erase(lines_.begin() + (std::max(from, split) - split),
                     lines_.begin() + (to - split));
    }
    if (from < split) {
        earlier_.erase(earlier_.begin() + from, earlier_.begin() + std::min(to, split));
    }
    endRemoveRows();
}

void TapeModel::sessionChanged(const quillo::Session&, const quillo::Change& change) noexcept {
    ++steps_;
    try {
        follow(change);
        if (change.earlierNote) {
            const std::string_view text = change.earlierNote->text;
            setEarlierNote(change.earlierNote->id,
                           QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        }
        if (change.noted) {
            if (const std::optional<int> row = rowOf(*change.noted)) {
                emit dataChanged(index(*row), index(*row));
            }
        }
        // A correction may mark or unmark numbers on lines it did not rewrite.
        if (change.corrected && rowCount() > thisRun()) {
            emit dataChanged(index(thisRun()), index(rowCount() - 1),
                             {CorrectedSpansRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
        }
    } catch (const std::bad_alloc&) {
        // Out of memory the list cannot follow; it starts again from the tape.
        beginResetModel();
        lines_.clear();
        first_ = end_ = session_.engine().tape().end();
        endResetModel();
    }
    emit followed();
}

void TapeModel::follow(const quillo::Change& change) {
    const quillo::Tape& tape = session_.engine().tape();
    auto rowOf = [this](std::vector<std::uint64_t>::const_iterator at) {
        return thisRun() + static_cast<int>(at - lines_.begin());
    };
    if (change.cleared) {
        removeRows(0, rowCount());
        first_ = end_ = tape.end();
        return;
    }
    if (change.opened) {
        // A new run's tape: the lines before are the controller's to show.
        removeRows(thisRun(), rowCount());
        first_ = end_ = tape.first();
    }
    for (const std::uint64_t n : change.erased) {
        const auto at = std::lower_bound(lines_.begin(), lines_.end(), n);
        if (at != lines_.end() && *at == n) {
            removeRows(rowOf(at), rowOf(at) + 1);
        }
    }
    // Taken back by undo.
    if (change.from < end_) {
        removeRows(rowOf(std::lower_bound(lines_.begin(), lines_.end(), change.from)), rowCount());
        end_ = change.from;
        first_ = std::min(first_, end_);
    }
    // Out of view at the top, or back in view there.
    if (tape.first() > first_) {
        removeRows(thisRun(), rowOf(std::lower_bound(lines_.begin(), lines_.end(), tape.first())));
        first_ = tape.first();
        end_ = std::max(end_, first_);
    } else if (tape.first() < first_) {
        insertLines(lines_.begin(), tape.first(), std::min(first_, tape.end()));
        first_ = tape.first();
    }
    // New at the bottom.
    insertLines(lines_.end(), std::max(end_, first_), tape.end());
    end_ = tape.end();
    trimEarlier();
}

void TapeModel::insertLines(std::vector<std::uint64_t>::iterator at, std::uint64_t from,
                            std::uint64_t to) {
    const quillo::Tape& tape = session_.engine().tape();
    std::vector<std::uint64_t> shown;
    for (std::uint64_t n = from; n < to; ++n) {
        if (tape.shown(n)) {
            shown.push_back(n);
        }
    }
    if (!shown.empty()) {
        const int row = thisRun() + static_cast<int>(at - lines_.begin());
        beginInsertRows({}, row, row + static_cast<int>(shown.size()) - 1);
        lines_.insert(at, shown.begin(), shown.end());
        endInsertRows();
    }
}
