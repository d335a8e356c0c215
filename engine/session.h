// SPDX-License-Identifier: MIT
#pragma once

#include "document.h"
#include "engine.h"
#include "errors.h"
#include "keylog.h"
#include "keys.h"
#include "listeners.h"
#include "note.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillo {

class Session;

// What one step changed. A step either takes tape lines back (undo) or adds
// them: the lines numbered from `from` up to the tape's old end are gone,
// those from `from` up to tape.end() are new (some of them written as gone
// by a redo). Lines went out of view at the top, or came back there with an
// undo, when tape.first() moved. `cleared`: every line was cleared, the kept
// ones of earlier runs included; `erased`: the lines deleted. `corrected`:
// a correction, or its undo or redo, wrote the lines from `from` anew, and
// the numbers' marks (Session::numbers) may have changed on any line.
// `opened`: a saved calculation began a new run; every line of the run
// before it left the session's tape, and those from `from` are the new run's.
// `noted`: the line whose note was set, changed or removed (its text did not
// change); `earlierNote`: the note an earlier run's line now has, by the kept
// tape's id for the line (the session keeps no earlier lines: its listeners
// do).
struct Change {
    bool display = false; // the display was written
    std::uint64_t from = 0;
    bool cleared = false;
    std::span<const std::uint64_t> erased;
    bool corrected = false;
    bool opened = false;
    std::optional<std::uint64_t> noted;
    struct EarlierNote {
        std::uint64_t id = 0;
        std::string_view text;
    };
    std::optional<EarlierNote> earlierNote;
};

// Why a correction was not made. The engine names the cause; the window
// owns the words.
struct Refusal {
    enum class Why {
        KeyFails,       // a later key raises `error` now
        DivideByZero,   // a later key now meets a zero divisor it did not meet
        NotANumber,     // the new text is not digits, one point, a leading minus
        MinusHere,      // a minus cannot be typed where the number stands
        NotCorrectable, // the number's keys are out of reach (older than the log)
        AcrossClear,    // the tape was cleared or lines deleted after the number
        Computed,       // the number was worked out, not typed
        TooLong,        // the new text is longer than kPasteLimit characters
    };
    Why why = Why::NotCorrectable;
    ErrorKind error = ErrorKind::InvalidArgument; // with KeyFails
    // KeyFails, DivideByZero: the tape line the failing key writes, or for a
    // key that raises an error the number its line would have had.
    std::uint64_t line = 0;
    std::string key; // the failing key's caption, or ""
    // That line as the tape shows it now, or "" when it shows none there.
    std::string lineText;
};

// A number on a tape line, where the line's text has it.
struct LineNumber {
    std::size_t offset = 0;
    std::size_t length = 0;
    // Typed or pasted by the user (not computed), with its keys still in the
    // key log: it can be corrected.
    bool correctable = false;
    // Its text before the user corrected it; "" when never corrected.
    std::string was;
    // When it was last corrected, in seconds since the Unix epoch; 0 when never.
    std::int64_t correctedAt = 0;
    // Why it cannot be corrected, if it cannot: Computed, NotCorrectable or
    // AcrossClear.
    Refusal::Why why = Refusal::Why::Computed;
    // A line's result put back: `follows` names the tape line it follows,
    // none when it stays the number it was (see Session::reuseLine).
    bool reused = false;
    std::optional<std::uint64_t> follows;
};

class CorrectionRefused : public std::exception {
public:
    explicit CorrectionRefused(Refusal refusal) : refusal_(std::move(refusal)) {}
    const Refusal& refusal() const noexcept { return refusal_; }
    const char* what() const noexcept override { return "correction refused"; }

private:
    Refusal refusal_;
};

// Told of every step once it has landed, in the order of registration.
class SessionListener {
public:
    virtual void sessionChanged(const Session& session, const Change& change) noexcept = 0;

protected:
    ~SessionListener() = default;
};

// The one way to change the calculator: its keys, a paste, undo and redo of
// a step (one key, or the keys of one paste), clearing and deleting tape
// lines, and the copy of the keys that led to the display. An undo puts back
// the display, the fields and the tape exactly as they were before the step;
// a redo runs its keys again, with no warning shown a second time.
//
// A step is atomic: whatever it allocates is allocated before the engine
// commits, and the commit cannot fail, so a step that raises an error (an
// EngineError, std::bad_alloc, a failed display write) leaves the display,
// the fields, the tape, the undo history and the key log as they were.
class Session {
public:
    // How many steps can be taken back, at most; fewer only when the
    // snapshots would pass kBudget bytes (displays thousands of digits long),
    // so that no sequence of keys makes the history grow without end. More
    // steps would cost every key: the ring stops fitting in the cache.
    static constexpr std::size_t kDepth = 1'000;
    static constexpr std::size_t kBudget = 32u << 20;
    // A step adds at most one tape line a key; a paste's keys add none.
    static_assert(Tape::kSpare >= kDepth);

    explicit Session(Surface& surface) : engine_(surface) {}

    const Engine& engine() const noexcept { return engine_; }
    const KeyLog& log() const noexcept { return log_; }

    using Subscription = Listeners<SessionListener>::Subscription;
    // Told of every step until the subscription goes.
    [[nodiscard]] Subscription listen(SessionListener& listener) {
        return listeners_.add(listener);
    }

    // The window's load: the start values, not a step of its own.
    void load();
    // One key as a step.
    void press(Key key);
    // The keys of a paste as one step: all of them, or none when one fails.
    void paste(std::span<const Key> keys);

    bool canUndo() const noexcept { return doneCount_ > 0; }
    bool canRedo() const noexcept { return !undone_.empty(); }
    void undo();
    void redo();

    // A result as the engine wrote it on the tape ("-5", "1.234",
    // "3.44559373325887E+18"), put into the display as a number the user
    // entered: one step, kept in the key log so that its text replays. False,
    // with nothing changed, for any other text.
    bool reuse(std::string_view result);
    // The result of tape line `line`, put back as reuse() puts it, following
    // the line: a correction that changes the line's result changes the
    // number too, and every later key runs again with it. A line whose key
    // is older than the key log's stays the number it was, as does one once
    // it is cleared or deleted. False, with nothing changed, for a line not
    // shown or whose last word is no result.
    bool reuseLine(std::uint64_t line);

    // The numbers on tape line `line`, in the order the line shows them; none
    // for a line out of view or gone. A number is correctable when typed,
    // pasted or reused, with its keys still in the key log, no tape cleared
    // or line deleted since its first key, and every line written since in
    // view.
    std::vector<LineNumber> numbers(std::uint64_t line) const;
    // What the display would become with the `index`th number of `line`
    // (counted among numbers(line)) typed as `text`: worked out on a copy.
    // Refused, the display is the one shown now.
    struct Preview {
        std::string display;
        std::optional<Refusal> refused;
        // How many lines below `line` it would change, those reached through
        // a followed reuse included.
        std::size_t changes = 0;
    };
    Preview preview(std::uint64_t line, std::size_t index, std::string_view text) const;
    // The same, carried out as one step: the number's keys are replaced by
    // the keys that type `text` (digits, at most one point, a leading minus)
    // and every later key runs again, warnings unshown; the tape from the
    // first line a key since the number wrote is written anew (Change::from,
    // Change::corrected). Throws CorrectionRefused with everything as it was.
    void correct(std::uint64_t line, std::size_t index, std::string_view text);

    // A saved calculation worked out before it becomes the calculator's: its
    // keys replayed on an engine of its own, with no warning shown. Needs no
    // session, so it can run on any thread. A key that fails refuses it
    // (DocumentError::KeyFails, naming its line), as does a note after a key
    // that writes no line.
    struct Opened;
    static std::variant<std::shared_ptr<Opened>, DocumentError> replay(const Document& document);
    // Makes it the calculator's as a new run: the display, the fields, the
    // tape, Copy keys and the corrections' marks are what typing its keys
    // gives, and each of its typed numbers can be corrected. Not a step:
    // nothing before it can be undone or redone. Throws only when the
    // display cannot be written, with everything as it was.
    void open(Opened& opened);
    // This run's calculation as a document titled `title`: its keys as Copy
    // keys writes them, and the old values of the numbers corrected.
    Document document(std::string title) const;
    // A line's note: one line of the user's text, kept beside the line (not
    // in it) through corrections, undo and redo; "" when it has none.
    static constexpr std::size_t kNoteLimit = 200; // code points of UTF-8
    std::string_view note(std::uint64_t line) const noexcept;
    // Sets, changes or ("") removes the note of a line shown, as one step.
    // Throws NoteRefused, with nothing changed, for text noteProblem()
    // refuses or a line not shown; the same text again is no step.
    void setNote(std::uint64_t line, std::string_view text);
    // The same without a step: a note put back with its line (a tape
    // opened), not one the user wrote now.
    void restoreNote(std::uint64_t line, std::string_view text);
    // An earlier run's line's note, by the kept tape's id, changed from
    // `before` to `text` as one step: told as Change::earlierNote, now and
    // at its undo and redo. Refused as setNote() refuses text.
    void setEarlierNote(std::uint64_t id, std::string_view before, std::string_view text);

    // Neither is a step: they cannot be undone, and a redo does not bring
    // back what they removed; the lines' notes go with them.
    void clearTape();
    void eraseLines(std::span<const std::uint64_t> numbers);

private:
    // A step's keys, one byte a key: a single key needs no allocation. A
    // reused number is the byte KeyLog::kUse, its text beside the keys.
    using Keys = std::basic_string<std::uint8_t>;
    struct Correction;
    // A note set, changed or removed: its line's note before and after.
    struct NoteEdit {
        std::uint64_t line = 0; // or the kept tape's id, for an earlier run's
        std::string before, after;
        bool earlier = false;
    };
    struct Step {
        Engine::Snapshot before;
        Keys keys;
        std::string use;
        std::optional<std::uint64_t> source; // the key whose line `use` follows
        // A correction's step holds no keys: both sides of it are here.
        std::shared_ptr<const Correction> correction;
        // So does a note's.
        std::shared_ptr<const NoteEdit> note;
        std::size_t weight = 0; // bytes, counted against kBudget
    };
    // What a redo carries out again.
    struct Redo {
        Keys keys;
        std::string use;
        std::optional<std::uint64_t> source;
        std::shared_ptr<const Correction> correction;
        std::shared_ptr<const NoteEdit> note;
    };
    // Where the engine stood before key `key`: a correction's replay starts
    // from the nearest one before the number.
    struct Checkpoint {
        std::uint64_t key = 0;
        Engine::Snapshot engine;
    };
    static constexpr std::uint64_t kCheckpointEvery = 256;
    // The old texts of corrected numbers, and when they were corrected, by
    // the index of their first key.
    struct Mark {
        std::string was;
        std::int64_t at = 0;
    };
    using Marks = std::map<std::uint64_t, Mark>;
    struct Side;
    struct Outcome;
    struct Shift;
    // Whether a correction's replay, which wrote `written` lines from line
    // `from`, stands where the old keys stood at a checkpoint after the
    // number: from there the old run goes on unchanged.
    bool meets(const Engine& replay, std::uint64_t written, const Engine::Snapshot& old,
               std::uint64_t from, const Shift& shift) const;
    // Gives a refusal its line's text as the tape shows it now.
    void nameLine(Refusal& refusal) const;
    Outcome workOut(std::uint64_t line, std::size_t index, std::string_view text, bool whole) const;
    // Why the keys [begin, end) of a number cannot be replaced, if they
    // cannot.
    std::optional<Refusal::Why> unreachable(std::uint64_t begin, std::uint64_t end) const noexcept;
    // Makes a side of a correction the calculator's; may throw with
    // nothing changed until the display is written.
    void apply(const Side& side, std::uint64_t from, bool redone);
    void keepCheckpoint() noexcept;
    // The furthest key index a redo could bring back.
    std::uint64_t redoReach() const noexcept;
    // A new step drops what could be redone.
    void dropRedo(std::uint64_t end) noexcept;
    // The slot the next step goes into; may grow the ring.
    Step& nextSlot();
    // Files the step now in `slot`, which nextSlot() gave; cannot fail.
    void file(Step& slot) noexcept;
    void dropOldest() noexcept;
    // Runs keys as one step; the engine is put back as it was if one fails.
    void runAll(Engine::Snapshot& before, const Keys& keys, std::string_view use);
    // Records a step's keys in the log, after log_.reserve() (and
    // reserveUse() for a reuse); `use` gives up its buffer.
    void logKeys(const Keys& keys, std::string& use, std::optional<std::uint64_t> source) noexcept;
    void notify(const Change& change) noexcept;
    // A reused number as one step, following the line key `source` wrote.
    bool use(std::string_view result, std::optional<std::uint64_t> source);
    // The line key `key` wrote, among the tape's lines kept, if one did.
    std::optional<std::uint64_t> lineOf(std::uint64_t key) const noexcept;
    // Whether a reused number can go on following the line `key` wrote.
    bool followable(std::uint64_t key) const noexcept;
    // Cuts the links to lines cleared, deleted or out of view.
    void unlinkGone() noexcept;
    // A correction's replay, standing at key `now`, meets entry k: a reused
    // number that follows a line the replay rewrote (its key now `source`)
    // takes that line's new result, noted in `followed` when it differs.
    // False, with `refused` (its line as the replay numbers it), when it
    // cannot.
    bool follow(Engine& replay, std::uint64_t k, std::uint64_t now, std::uint64_t source,
                std::uint64_t scratchFrom, std::optional<Refusal>& refused,
                std::vector<std::pair<std::uint64_t, std::string>>& followed) const;
    // Whether every reused number from key `k` on that follows a line the
    // replay rewrote (old keys [end, k), moved by `delta`) keeps its value.
    bool linksHold(const Engine& replay, std::uint64_t k, std::uint64_t end, std::uint64_t delta,
                   std::uint64_t scratchFrom) const;
    // Throws NoteRefused for a note setNote() refuses.
    void checkNote(std::uint64_t line, std::string_view text) const;
    // A copy of `text`, with room made for it as `line`'s note, so that
    // putNote() then cannot fail.
    std::string roomForNote(std::uint64_t line, std::string_view text);
    // Gives `line` the note `text` ("" none), or none when it is not shown
    // (a redo after the line was deleted); no step. Told as Change::noted.
    void putNote(std::uint64_t line, std::string text) noexcept;
    // Tells an earlier run's line's note; no step.
    void tellEarlierNote(std::uint64_t id, std::string_view text) noexcept;
    // Files a note's step; may throw std::bad_alloc (nextSlot()) with
    // nothing changed.
    void fileNote(std::shared_ptr<const NoteEdit> edit);
    // A new key writes lines from `end` on: notes that stayed on numbers
    // from there (put back without a step, then undone) are not theirs.
    void dropNotes(std::uint64_t end) noexcept {
        notes_.erase(notes_.lower_bound(end), notes_.end());
    }
    void undoNote(Step& step);
    void redoNote();

    Engine engine_;
    KeyLog log_;
    // The steps that can be taken back, oldest first: a ring whose slots are
    // reused, so that once it has turned a key allocates nothing for undo.
    std::vector<Step> done_;
    std::size_t doneHead_ = 0; // slot of the oldest
    std::size_t doneCount_ = 0;
    std::size_t doneBytes_ = 0;
    std::vector<Redo> undone_; // newest last
    Listeners<SessionListener> listeners_;
    std::vector<Checkpoint> checkpoints_; // by key, oldest first
    // Keys before this one may have written lines that were cleared or
    // deleted (now or by a redo to come): their numbers are not corrected.
    std::uint64_t cutKey_ = 0;
    Marks was_;
    // By line number: a correction rewrites lines under the same numbers, and
    // undo, being last in first out, takes a note away before its line.
    std::map<std::uint64_t, std::string> notes_;
};

} // namespace quillo
