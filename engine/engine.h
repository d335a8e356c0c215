// SPDX-License-Identifier: MIT
#pragma once

#include "tape.h"
#include "variant.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillo {

enum class Key;

// What the engine needs from its surroundings: the display text, which is its
// working register, the captions of the two key arrays, and a place to show
// the zero-divisor warning. The window implements it; the tests and the
// replay tool use StandardSurface (keys.h).
class Surface {
public:
    virtual ~Surface() = default;
    virtual std::string displayText() const = 0;
    virtual void setDisplayText(const std::string& text) = 0;
    // Writes `text` and hands back the text it replaced; a surface that holds
    // the text itself can swap it rather than copy it twice.
    virtual void exchangeDisplayText(std::string& text) {
        std::string old = displayText();
        setDisplayText(text);
        text = std::move(old);
    }
    virtual std::string numberCaption(int index) const = 0;
    virtual std::string operatorCaption(int index) const = 0;
    // A modal notice with one OK button and an exclamation icon.
    virtual void showWarning(std::string_view text, std::string_view title) = 0;
};

// The engine's fields, in their order of declaration.
struct State {
    Variant FirstNumber;
    Variant SecondNumber;
    bool DecimalTyped = false;
    std::int16_t OperandCount = 0;
    Variant EntryState = Variant::text("NONE");
    Variant PendingOperator = Variant::text(" ");
    Variant DisplayValue;

    bool operator==(const State&) const = default;
};

// Whether `result` is a number as the engine writes it on the tape: "-5",
// "1.234", "3.44559373325887E+18", "0.5"; no blanks, no "+", no leading or
// trailing zeros, no "-0", finite, at most kReuseLimit bytes.
bool reusable(std::string_view result);
inline constexpr std::size_t kReuseLimit = 1000;

// The keys that typed a number: key-log indexes [begin, end), counted as
// the Session's key log counts them; empty for a computed number.
struct Origin {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool typed() const noexcept { return end > begin; }
    bool operator==(const Origin&) const = default;
};

// Where the numbers the fields and the display hold came from, kept beside
// them so that a tape line can say which of its numbers were typed.
struct Origins {
    Origin display;
    Origin first;  // FirstNumber
    Origin second; // SecondNumber
    Origin value;  // DisplayValue
    // The key that put a minus before the entry to come (EntryState "NEG").
    std::optional<std::uint64_t> minus;
    bool operator==(const Origins&) const = default;
};

// The EntryState a reused result leaves.
inline constexpr std::string_view kReused = "USE";

inline constexpr std::string_view kDivideByZeroText = "Can't divide by zero";
inline constexpr std::string_view kDivideByZeroTitle = "Calculator";

// One operation per key. Each runs on a copy of the fields and the display
// text and commits both, with the tape line it made, only when it completes,
// so a key that raises an error (an EngineError, an allocation that fails, or
// any failure of the surface's display write) leaves everything exactly as
// it was before the key. The display's write must therefore either write the
// whole text or throw having written nothing; it is the last thing that can
// fail.
class Engine {
public:
    explicit Engine(Surface& surface) : surface_(surface) {}

    void Form_Load();
    void Number_Click(int Index);
    void Decimal_Click();
    void Operator_Click(int Index);
    void Percent_Click();
    void cmdsq_Click();
    void cmdqr_Click();
    void cmdsqrt_Click();
    void Cancel_Click();
    void CancelEntry_Click();
    // A result taken from the tape, shown as its line shows it (EntryState
    // kReused): like a typed number, it is the next operator's operand; like
    // a result, a digit or the point starts a new number in its place. False,
    // with nothing changed, for a text reusable() refuses.
    bool Reuse(std::string_view result);

    const State& state() const noexcept { return state_; }
    const Tape& tape() const noexcept { return tape_; }
    void clearTape() noexcept { tape_.clear(); }
    // May throw std::bad_alloc with the tape unchanged.
    void eraseLines(std::span<const std::uint64_t> numbers) { tape_.erase(numbers); }

    const Origins& origins() const noexcept { return origins_; }
    std::string display() const { return surface_.displayText(); }
    // The key-log index the next key gets: every key that completes counts,
    // the load does not.
    std::uint64_t nextKey() const noexcept { return nextKey_; }

    // What undo needs to put the engine back where it stood.
    struct Snapshot {
        State state;
        std::string display;
        std::uint64_t tapeEnd = 0;
        Origins origins;
        std::uint64_t nextKey = 0;
    };
    Snapshot snapshot() const;
    // Trades places with `other`, tape aside: the display is written first,
    // and if that fails nothing has changed.
    void exchange(Snapshot& other);
    // Room for n more tape lines; may throw std::bad_alloc.
    void reserveLines(std::size_t n) { tape_.reserve(n); }
    // A new run: the engine stands where `snapshot` says, its tape is `tape`;
    // both trade places with what was. The display is written first: if
    // that fails, nothing has changed.
    void begin(Snapshot& snapshot, Tape& tape);
    // The tape, moved out: what a run worked out aside hands to begin().
    Tape releaseTape() noexcept { return std::move(tape_); }
    // The lines from `from` on replaced by `lines` (their buffers taken),
    // after reserveLines(lines.size()); a line cleared or deleted is written
    // as gone when `redone`.
    void rewriteLines(std::uint64_t from, std::vector<Tape::Line>& lines, bool redone) noexcept;
    // Writes the display first: if that fails, nothing has changed. Takes
    // the snapshot's buffers, so that it allocates nothing of its own.
    void restore(Snapshot&& snapshot);
    // The next key, if it completes, leaves in *before where the engine stood
    // when it began: what undo needs, at the cost of a move.
    void recordNext(Snapshot* before) noexcept { record_ = before; }

    // While redoing, the zero-divisor warning is not shown (a key redone was
    // warned about when it first ran), and a line the user cleared or
    // deleted is written as gone.
    void setRedoing(bool redoing) noexcept { redoing_ = redoing; }

private:
    struct Work;
    template <class Op> void run(Op&& op, bool key = true);
    std::optional<double> evaluate(std::optional<Key> op, const Variant& a, const Variant& b,
                                   Work& w);
    template <class Result> void oneOperand(Key key, Result&& result, Work& w);

    Surface& surface_;
    State state_;
    Origins origins_;
    std::uint64_t nextKey_ = 0;
    Tape tape_;
    bool redoing_ = false;
    Snapshot* record_ = nullptr;
};

} // namespace quillo
