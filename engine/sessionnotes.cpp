// SPDX-License-Identifier: MIT
// The session's notes on tape lines: setting one is a step of its own.
#include "session.h"

namespace quillo {

std::string_view Session::note(std::uint64_t line) const noexcept {
    if (!engine_.tape().shown(line)) {
        return {};
    }
    const auto it = notes_.find(line);
    return it == notes_.end() ? std::string_view() : std::string_view(it->second);
}

void Session::checkNote(std::uint64_t line, std::string_view text) const {
    if (const std::optional<NoteProblem> why = noteProblem(text, kNoteLimit)) {
        throw NoteRefused(*why);
    }
    if (!engine_.tape().shown(line)) {
        throw NoteRefused(NoteProblem::NoLine);
    }
}

std::string Session::roomForNote(std::uint64_t line, std::string_view text) {
    std::string copy(text);
    if (!copy.empty() && engine_.tape().shown(line)) {
        notes_.try_emplace(line); // an empty note is none
    }
    return copy;
}

void Session::setNote(std::uint64_t line, std::string_view text) {
    checkNote(line, text);
    if (note(line) == text) {
        return;
    }
    auto edit = std::make_shared<NoteEdit>();
    edit->line = line;
    edit->before = note(line);
    edit->after = text;
    // Lines gone out of reach keep no note.
    notes_.erase(notes_.begin(), notes_.lower_bound(engine_.tape().oldest()));
    std::string now = roomForNote(line, text);
    fileNote(std::move(edit));
    putNote(line, std::move(now));
}

void Session::setEarlierNote(std::uint64_t id, std::string_view before, std::string_view text) {
    if (const std::optional<NoteProblem> why = noteProblem(text, kNoteLimit)) {
        throw NoteRefused(*why);
    }
    if (before == text) {
        return;
    }
    auto edit = std::make_shared<NoteEdit>();
    edit->line = id;
    edit->before = before;
    edit->after = text;
    edit->earlier = true;
    fileNote(edit);
    tellEarlierNote(id, edit->after);
}

void Session::fileNote(std::shared_ptr<const NoteEdit> edit) {
    Step& slot = nextSlot();
    dropRedo(log_.end());
    slot.keys.clear();
    slot.use.clear();
    slot.source.reset();
    slot.correction.reset();
    slot.note = std::move(edit);
    file(slot);
}

void Session::tellEarlierNote(std::uint64_t id, std::string_view text) noexcept {
    Change change;
    change.from = engine_.tape().end();
    change.earlierNote = Change::EarlierNote{id, text};
    notify(change);
}

void Session::restoreNote(std::uint64_t line, std::string_view text) {
    checkNote(line, text);
    putNote(line, roomForNote(line, text));
}

void Session::putNote(std::uint64_t line, std::string text) noexcept {
    if (const auto it = notes_.find(line); it != notes_.end()) {
        if (text.empty() || !engine_.tape().shown(line)) {
            notes_.erase(it);
        } else {
            it->second = std::move(text);
        }
    }
    Change change;
    change.from = engine_.tape().end();
    change.noted = line;
    notify(change);
}

void Session::undoNote(Step& step) {
    undone_.reserve(undone_.size() + 1);
    if (step.note->earlier) {
        const std::shared_ptr<const NoteEdit> edit = std::move(step.note);
        doneBytes_ -= step.weight;
        step.weight = 0;
        undone_.push_back(Redo{{}, {}, {}, nullptr, edit});
        --doneCount_;
        tellEarlierNote(edit->line, edit->before);
        return;
    }
    std::string before = roomForNote(step.note->line, step.note->before);
    std::shared_ptr<const NoteEdit> edit = std::move(step.note);
    const std::uint64_t line = edit->line;
    doneBytes_ -= step.weight;
    step.weight = 0;
    undone_.push_back(Redo{{}, {}, {}, nullptr, std::move(edit)});
    --doneCount_;
    putNote(line, std::move(before));
}

void Session::redoNote() {
    const std::shared_ptr<const NoteEdit> edit = undone_.back().note;
    std::string after = edit->earlier ? std::string() : roomForNote(edit->line, edit->after);
    Step& slot = nextSlot();
    undone_.pop_back();
    slot.keys.clear();
    slot.use.clear();
    slot.source.reset();
    slot.correction.reset();
    slot.note = edit;
    file(slot);
    if (edit->earlier) {
        tellEarlierNote(edit->line, edit->after);
    } else {
        putNote(edit->line, std::move(after));
    }
}

} // namespace quillo
