// SPDX-License-Identifier: MIT
#include "session.h"

#include "clipboard.h"
#include "convert.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace quillo {

// One side of a correction, before or after it: everything it changes.
struct Session::Side {
    Engine::Snapshot engine;
    std::vector<Tape::Line> lines; // from the correction's first line rewritten
    KeyLog log;
    std::vector<Checkpoint> checkpoints;
    Marks was;

    std::size_t bytes() const noexcept {
        std::size_t n = sizeof(Side) + engine.display.capacity() + log.bytes() +
                        lines.capacity() * sizeof(Tape::Line) +
                        checkpoints.capacity() * sizeof(Checkpoint);
        for (const Tape::Line& line : lines) {
            n += line.text.capacity();
        }
        for (const Checkpoint& c : checkpoints) {
            n += c.engine.display.capacity();
        }
        for (const auto& [key, text] : was) {
            n += sizeof(key) + text.capacity() + 4 * sizeof(void*);
        }
        return n;
    }
};

struct Session::Correction {
    std::uint64_t from = 0;
    Side before;
    Side after;
    std::size_t bytes = 0;
};

// A correction worked out on a copy of the engine.
struct Session::Outcome {
    std::optional<Refusal> refused;
    std::string display;
    // With `whole`, what carrying it out needs:
    std::uint64_t from = 0;           // the first line rewritten
    std::uint64_t begin = 0, end = 0; // the keys replaced
    std::vector<Key> keys;            // by these
    Engine::Snapshot engine;
    std::vector<Tape::Line> lines;
    std::vector<Checkpoint> checkpoints; // after begin
    std::string oldText;                 // the number's text on its line
    std::string newText;
    // Followed reused numbers given a new value: by their key after it.
    std::vector<std::pair<std::uint64_t, std::string>> followed;
    std::size_t changes = 0; // lines below the number's that change
};

namespace {

std::size_t textBytes(const Variant& v) noexcept {
    return v.kind() == Variant::Kind::Text ? v.asText().capacity() : 0;
}

// A slot keeps the buffers of the step it last held; a very long display's
// are given back rather than kept for the next step.
constexpr std::size_t kKeptBuffer = 4096;

void release(std::string& text) noexcept {
    if (text.capacity() > kKeptBuffer) {
        std::string().swap(text);
    }
}

// Redoing for its lifetime.
class Redoing {
public:
    explicit Redoing(Engine& engine) : engine_(engine) { engine_.setRedoing(true); }
    ~Redoing() { engine_.setRedoing(false); }
    Redoing(const Redoing&) = delete;
    Redoing& operator=(const Redoing&) = delete;

private:
    Engine& engine_;
};

// A step that wrote the display, and took tape lines back or added them
// from `from` on.
Change written(std::uint64_t from) noexcept {
    Change change;
    change.display = true;
    change.from = from;
    return change;
}

// A correction, or its undo or redo.
Change rewritten(std::uint64_t from) noexcept {
    Change change = written(from);
    change.corrected = true;
    return change;
}

} // namespace

void Session::notify(const Change& change) noexcept {
    listeners_.each([&](SessionListener& listener) { listener.sessionChanged(*this, change); });
}

void Session::load() {
    const std::uint64_t end = engine_.tape().end();
    engine_.Form_Load();
    // The engine stands elsewhere than the keys led it: replays start here.
    checkpoints_.clear();
    keepCheckpoint();
    notify(written(end));
}

void Session::keepCheckpoint() noexcept {
    const std::uint64_t key = log_.end();
    if (!checkpoints_.empty() && key - checkpoints_.back().key < kCheckpointEvery) {
        return;
    }
    try {
        checkpoints_.push_back(Checkpoint{key, engine_.snapshot()});
    } catch (const std::bad_alloc&) {
        return; // only a later correction's replay is the longer for it
    }
    // One at or before the log's oldest key is all a replay can start from.
    std::size_t drop = 0;
    while (drop + 1 < checkpoints_.size() && checkpoints_[drop + 1].key <= log_.begin()) {
        ++drop;
    }
    checkpoints_.erase(checkpoints_.begin(),
                       checkpoints_.begin() + static_cast<std::ptrdiff_t>(drop));
}

std::uint64_t Session::redoReach() const noexcept {
    std::uint64_t end = log_.end();
    std::uint64_t most = end;
    for (auto it = undone_.rbegin(); it != undone_.rend(); ++it) {
        end = it->correction ? it->correction->after.log.end() : end + it->keys.size();
        most = std::max(most, end);
    }
    return most;
}

void Session::dropRedo(std::uint64_t end) noexcept {
    undone_.clear();
    // Keys from here on are new: no redo will write their lines as gone.
    cutKey_ = std::min(cutKey_, end);
}

void Session::press(Key key) {
    Step& slot = nextSlot();
    log_.reserve(1);
    const std::uint64_t end = engine_.tape().end();
    // The engine writes where it stood into the slot only once the key has
    // gone through, so a key that fails leaves the slot as it was.
    engine_.recordNext(&slot.before);
    quillo::press(engine_, key);
    slot.keys.assign(1, static_cast<std::uint8_t>(key)); // within the slot's own room
    slot.use.clear();
    slot.source.reset();
    slot.correction.reset();
    dropRedo(log_.end());
    log_.record(key);
    file(slot);
    keepCheckpoint();
    notify(written(end));
}

void Session::paste(std::span<const Key> keys) {
    if (keys.empty()) {
        return;
    }
    Keys bytes;
    bytes.reserve(keys.size());
    for (const Key key : keys) {
        bytes.push_back(static_cast<std::uint8_t>(key));
    }
    Engine::Snapshot before = engine_.snapshot();
    Step& slot = nextSlot();
    log_.reserve(keys.size());
    const std::uint64_t end = engine_.tape().end();
    runAll(before, bytes, {});
    dropRedo(log_.end());
    for (const Key key : keys) {
        log_.record(key);
    }
    slot.before = std::move(before);
    slot.keys = std::move(bytes);
    slot.use.clear();
    slot.source.reset();
    slot.correction.reset();
    file(slot);
    keepCheckpoint();
    notify(written(end));
}

bool Session::use(std::string_view result, std::optional<std::uint64_t> source) {
    if (!reusable(result)) {
        return false;
    }
    // Both copies before anything changes: the step's and the log's.
    std::string stepText(result);
    std::string logText(result);
    Step& slot = nextSlot();
    log_.reserve(1);
    log_.reserveUse();
    const std::uint64_t end = engine_.tape().end();
    engine_.recordNext(&slot.before);
    engine_.Reuse(result);
    slot.keys.assign(1, KeyLog::kUse);
    slot.use = std::move(stepText);
    slot.source = source;
    slot.correction.reset();
    dropRedo(log_.end());
    log_.recordUse(logText, source);
    file(slot);
    keepCheckpoint();
    notify(written(end));
    return true;
}

void Session::runAll(Engine::Snapshot& before, const Keys& keys, std::string_view use) {
    try {
        for (const std::uint8_t key : keys) {
            if (key == KeyLog::kUse) {
                engine_.Reuse(use);
            } else {
                quillo::press(engine_, static_cast<Key>(key));
            }
        }
    } catch (...) {
        engine_.restore(std::move(before));
        throw;
    }
}

void Session::logKeys(const Keys& keys, std::string& use,
                      std::optional<std::uint64_t> source) noexcept {
    for (const std::uint8_t key : keys) {
        if (key == KeyLog::kUse) {
            log_.recordUse(use, source);
        } else {
            log_.record(static_cast<Key>(key));
        }
    }
}

Session::Step& Session::nextSlot() {
    if (doneCount_ < done_.size()) {
        return done_[(doneHead_ + doneCount_) % done_.size()];
    }
    if (done_.size() < kDepth) {
        // Growing: the oldest goes to the front first, so the new slot at
        // the end follows the newest.
        std::rotate(done_.begin(), done_.begin() + static_cast<std::ptrdiff_t>(doneHead_),
                    done_.end());
        doneHead_ = 0;
        done_.emplace_back();
        return done_.back();
    }
    return done_[doneHead_]; // the ring is full: the oldest step makes way
}

void Session::file(Step& slot) noexcept {
    if (doneCount_ == done_.size()) {
        // The slot was the oldest step's.
        doneBytes_ -= slot.weight;
        doneHead_ = (doneHead_ + 1) % done_.size();
        --doneCount_;
    }
    const State& s = slot.before.state;
    slot.weight = sizeof(Step) + slot.before.display.capacity() + textBytes(s.FirstNumber) +
                  textBytes(s.SecondNumber) + textBytes(s.DisplayValue) + slot.keys.capacity() +
                  slot.use.capacity() + (slot.correction ? slot.correction->bytes : 0);
    doneBytes_ += slot.weight;
    ++doneCount_;
    while (doneCount_ > 1 && doneBytes_ > kBudget) {
        dropOldest();
    }
}

void Session::dropOldest() noexcept {
    Step& oldest = done_[doneHead_];
    doneBytes_ -= oldest.weight;
    oldest.weight = 0;
    release(oldest.before.display);
    oldest.before.state = State{};
    oldest.correction.reset();
    doneHead_ = (doneHead_ + 1) % done_.size();
    --doneCount_;
}

void Session::undo() {
    if (doneCount_ == 0) {
        return;
    }
    undone_.reserve(undone_.size() + 1);
    Step& step = done_[(doneHead_ + doneCount_ - 1) % done_.size()];
    if (step.correction) {
        const std::shared_ptr<const Correction> correction = step.correction;
        apply(correction->before, correction->from, true);
        doneBytes_ -= step.weight;
        step.weight = 0;
        step.correction.reset();
        undone_.push_back(Redo{{}, {}, {}, correction});
        --doneCount_;
        notify(rewritten(correction->from));
        return;
    }
    const std::uint64_t cut = step.before.tapeEnd;
    engine_.restore(std::move(step.before));
    log_.drop(step.keys.size());
    while (!checkpoints_.empty() && checkpoints_.back().key > log_.end()) {
        checkpoints_.pop_back();
    }
    doneBytes_ -= step.weight;
    step.weight = 0;
    undone_.push_back(Redo{std::move(step.keys), std::move(step.use), step.source, nullptr});
    --doneCount_;
    release(step.before.display);
    notify(written(cut));
}

void Session::redo() {
    if (undone_.empty()) {
        return;
    }
    if (const std::shared_ptr<const Correction> correction = undone_.back().correction) {
        Step& slot = nextSlot();
        apply(correction->after, correction->from, true);
        undone_.pop_back();
        slot.keys.clear();
        slot.use.clear();
        slot.source.reset();
        slot.correction = correction;
        file(slot);
        notify(rewritten(correction->from));
        return;
    }
    Redo again = undone_.back();
    std::string logText = again.use;
    Engine::Snapshot before = engine_.snapshot();
    Step& slot = nextSlot();
    log_.reserve(again.keys.size());
    if (!again.use.empty()) {
        log_.reserveUse();
    }
    const std::uint64_t end = engine_.tape().end();
    {
        const Redoing redoing(engine_);
        runAll(before, again.keys, again.use);
    }
    undone_.pop_back();
    // Followed again unless its line went meanwhile.
    const std::optional<std::uint64_t> source =
        again.source && followable(*again.source) ? again.source : std::nullopt;
    logKeys(again.keys, logText, source);
    slot.before = std::move(before);
    slot.keys = std::move(again.keys);
    slot.use = std::move(again.use);
    slot.source = source;
    slot.correction.reset();
    file(slot);
    keepCheckpoint();
    notify(written(end));
}

void Session::clearTape() {
    engine_.clearTape();
    cutKey_ = std::max(cutKey_, redoReach());
    was_.clear();
    unlinkGone();
    Change change;
    change.from = engine_.tape().end();
    change.cleared = true;
    notify(change);
}

void Session::eraseLines(std::span<const std::uint64_t> numbers) {
    // Only a number whose keys run up to a deleted line is cut off from its
    // later lines; the lines' info outlives their text.
    std::uint64_t cut = 0;
    const Tape& tape = engine_.tape();
    for (const std::uint64_t n : numbers) {
        if (n >= tape.oldest() && n < tape.end()) {
            cut = std::max(cut, tape.info(n).key + 1);
        } else if (n >= tape.end()) {
            cut = std::max(cut, redoReach()); // a line a redo would write
        }
    }
    engine_.eraseLines(numbers);
    cutKey_ = std::max(cutKey_, cut);
    unlinkGone();
    Change change;
    change.from = engine_.tape().end();
    change.erased = numbers;
    notify(change);
}

} // namespace quillo

namespace quillo {

namespace {

Refusal refusal(Refusal::Why why) {
    Refusal r;
    r.why = why;
    return r;
}

// The keys that type `text`: digits, at most one point, a leading minus.
std::optional<std::vector<Key>> typingKeys(std::string_view text) {
    std::vector<Key> keys;
    bool point = false;
    bool digit = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '-' && i == 0) {
            keys.push_back(Key::Minus);
        } else if (c == '.' && !point) {
            point = true;
            keys.push_back(Key::Decimal);
        } else if (c >= '0' && c <= '9') {
            digit = true;
            keys.push_back(static_cast<Key>(static_cast<int>(Key::D0) + (c - '0')));
        } else {
            return std::nullopt;
        }
    }
    if (!digit) {
        return std::nullopt;
    }
    return keys;
}

// Runs one entry of a key log on an engine.
void run(Engine& engine, const KeyLog& log, std::uint64_t index) {
    const std::uint8_t code = log.code(index);
    if (code == KeyLog::kUse) {
        engine.Reuse(log.used(index));
    } else {
        quillo::press(engine, static_cast<Key>(code));
    }
}

} // namespace

// The key indexes of a correction's old keys as they stand after it: those
// after the number move with its length, those before stay.
struct Session::Shift {
    std::uint64_t begin = 0, end = 0;
    std::uint64_t delta = 0; // modulo 2^64: the number may get shorter

    std::uint64_t key(std::uint64_t k) const noexcept { return k >= end ? k + delta : k; }
    // Nothing for one that reaches into the number.
    std::optional<Origin> origin(Origin o) const noexcept {
        if (!o.typed() || o.end <= begin) {
            return o;
        }
        if (o.begin < end) {
            return std::nullopt;
        }
        return Origin{o.begin + delta, o.end + delta};
    }
    std::optional<Origins> origins(const Origins& o) const noexcept {
        const auto display = origin(o.display), first = origin(o.first), second = origin(o.second),
                   value = origin(o.value);
        if (!display || !first || !second || !value ||
            (o.minus && *o.minus >= begin && *o.minus < end)) {
            return std::nullopt;
        }
        Origins out{*display, *first, *second, *value, o.minus};
        if (out.minus) {
            out.minus = key(*out.minus);
        }
        return out;
    }
    Engine::Snapshot snapshot(Engine::Snapshot s) const {
        s.origins = origins(s.origins).value_or(Origins{});
        s.nextKey = key(s.nextKey);
        return s;
    }
    LineInfo info(LineInfo info) const noexcept {
        info.key = key(info.key);
        for (NumberMark& mark : info.numbers) {
            if (mark.keys > 0) {
                mark.key = key(mark.key);
            }
        }
        return info;
    }
};

bool Session::meets(const Engine& replay, std::uint64_t written, const Engine::Snapshot& old,
                    std::uint64_t from, const Shift& shift) const {
    if (replay.nextKey() != shift.key(old.nextKey) || !(replay.state() == old.state) ||
        replay.display() != old.display) {
        return false;
    }
    const std::optional<Origins> origins = shift.origins(old.origins);
    if (!origins || !(*origins == replay.origins())) {
        return false;
    }
    // "C" writes a rule unless the tape ends on one: both must end alike, on
    // lines written since the number.
    return written > 0 && old.tapeEnd == from + written &&
           (replay.tape().back() == Tape::kRule) ==
               (engine_.tape().at(old.tapeEnd - 1) == Tape::kRule);
}

std::optional<Refusal::Why> Session::unreachable(std::uint64_t begin,
                                                 std::uint64_t end) const noexcept {
    if (end <= begin) {
        return Refusal::Why::Computed;
    }
    if (begin < cutKey_) {
        return Refusal::Why::AcrossClear;
    }
    if (begin < log_.begin() || end > log_.end()) {
        return Refusal::Why::NotCorrectable;
    }
    // A replay starts at a checkpoint, with its keys still in the log.
    const auto c =
        std::upper_bound(checkpoints_.begin(), checkpoints_.end(), begin,
                         [](std::uint64_t k, const Checkpoint& cp) { return k < cp.key; });
    if (c == checkpoints_.begin() || std::prev(c)->key < log_.begin()) {
        return Refusal::Why::NotCorrectable;
    }
    // Every line written since must be in view: the one before the first
    // in view, if kept, was written before the number.
    const Tape& tape = engine_.tape();
    if (tape.first() == tape.oldest() || tape.info(tape.first() - 1).key < begin) {
        return std::nullopt;
    }
    return Refusal::Why::NotCorrectable;
}

std::vector<LineNumber> Session::numbers(std::uint64_t line) const {
    const Tape& tape = engine_.tape();
    std::vector<LineNumber> out;
    if (line < tape.first() || !tape.shown(line)) {
        return out;
    }
    const LineInfo& info = tape.info(line);
    out.reserve(info.count);
    for (std::size_t i = 0; i < info.count; ++i) {
        const NumberMark& mark = info.numbers[i];
        LineNumber n;
        n.offset = mark.offset;
        n.length = mark.length;
        const std::optional<Refusal::Why> why = unreachable(mark.key, mark.key + mark.keys);
        n.correctable = !why;
        n.why = why.value_or(Refusal::Why::Computed);
        if (mark.keys > 0) {
            if (const auto it = was_.find(mark.key); it != was_.end()) {
                n.was = it->second;
            }
            if (mark.keys == 1 && mark.key >= log_.begin() && mark.key < log_.end() &&
                log_.code(mark.key) == KeyLog::kUse) {
                n.reused = true;
                if (const std::optional<std::uint64_t> source = log_.source(mark.key)) {
                    n.follows = lineOf(*source);
                }
            }
        }
        out.push_back(std::move(n));
    }
    return out;
}

Session::Outcome Session::workOut(std::uint64_t line, std::size_t index, std::string_view text,
                                  bool whole) const {
    Outcome out;
    out.display = engine_.display();
    if (text.size() > kPasteLimit) {
        out.refused = refusal(Refusal::Why::TooLong);
        return out;
    }
    const std::optional<std::vector<Key>> keys = typingKeys(text);
    if (!keys) {
        out.refused = refusal(Refusal::Why::NotANumber);
        return out;
    }
    const Tape& tape = engine_.tape();
    if (line < tape.first() || !tape.shown(line) || index >= tape.info(line).count) {
        out.refused = refusal(Refusal::Why::NotCorrectable);
        return out;
    }
    const NumberMark mark = tape.info(line).numbers[index];
    const std::uint64_t begin = mark.key;
    const std::uint64_t end = begin + mark.keys;
    if (const std::optional<Refusal::Why> why = unreachable(begin, end)) {
        out.refused = refusal(*why);
        return out;
    }
    // The lines that keys from the number's first on wrote.
    std::uint64_t from = tape.end();
    while (from > tape.first() && tape.info(from - 1).key >= begin) {
        --from;
    }
    for (std::uint64_t n = from; n < tape.end(); ++n) {
        if (!tape.shown(n)) {
            out.refused = refusal(Refusal::Why::AcrossClear);
            return out;
        }
    }

    // From the nearest checkpoint to the number, on a copy, with no warning
    // shown: the keys up to the number ran before and run the same.
    const Checkpoint& start = *std::prev(
        std::upper_bound(checkpoints_.begin(), checkpoints_.end(), begin,
                         [](std::uint64_t k, const Checkpoint& c) { return k < c.key; }));
    StandardSurface surface;
    Engine engine(surface);
    engine.restore(Engine::Snapshot(start.engine));
    engine.setRedoing(true);
    try {
        for (std::uint64_t k = start.key; k < begin; ++k) {
            run(engine, log_, k);
        }
    } catch (const EngineError&) {
        out.refused = refusal(Refusal::Why::NotCorrectable);
        return out;
    }
    const std::uint64_t scratchFrom = engine.tape().end();
    const std::uint64_t added = keys->size();
    // The caption of the key with index k after the correction.
    auto captionOf = [&](std::uint64_t k) {
        if (k < begin) {
            return log_.caption(k);
        }
        if (k < begin + added) {
            return std::string(caption((*keys)[k - begin]));
        }
        return log_.caption(k - begin - added + end);
    };
    auto fails = [&](const EngineError& e, std::uint64_t k) {
        Refusal r = refusal(Refusal::Why::KeyFails);
        r.error = e.kind();
        r.line = from + (engine.tape().end() - scratchFrom);
        r.key = captionOf(k);
        out.refused = std::move(r);
    };
    try {
        if (keys->front() == Key::Minus) {
            // The minus key makes a negative entry here, or the number can
            // have none.
            quillo::press(engine, Key::Minus);
            if (!equals(engine.state().EntryState, "NEG")) {
                out.refused = refusal(Refusal::Why::MinusHere);
                return out;
            }
        }
        for (std::size_t i = keys->front() == Key::Minus ? 1 : 0; i < keys->size(); ++i) {
            quillo::press(engine, (*keys)[i]);
        }
    } catch (const EngineError&) {
        out.refused = refusal(Refusal::Why::MinusHere);
        return out;
    }
    // The entry must read as the text: a minus that an earlier key left (a
    // second "-" after an operator) would still sign a number typed without.
    if (copyText(surface.display()) != copyText(text)) {
        out.refused = refusal(Refusal::Why::MinusHere);
        return out;
    }
    const Shift shift{begin, end, added - (end - begin)};
    // Where the old run stood at its checkpoints after the number: once the
    // replay stands there too, every later key does what it did.
    auto old = std::lower_bound(checkpoints_.begin(), checkpoints_.end(), end,
                                [](const Checkpoint& c, std::uint64_t k) { return c.key < k; });
    std::uint64_t met = log_.end();
    std::uint64_t lastCheckpoint = start.key;
    for (std::uint64_t k = end; k < log_.end(); ++k) {
        if (old != checkpoints_.end() && old->key == k) {
            if (meets(engine, engine.tape().end() - scratchFrom, old->engine, from, shift) &&
                linksHold(engine, k, end, shift.delta, scratchFrom)) {
                met = k;
                break;
            }
            ++old;
        }
        const std::uint64_t now = k - end + begin + added;
        if (whole && now - lastCheckpoint >= kCheckpointEvery) {
            out.checkpoints.push_back(Checkpoint{now, engine.snapshot()});
            lastCheckpoint = now;
        }
        try {
            const std::optional<std::uint64_t> source =
                log_.code(k) == KeyLog::kUse ? log_.source(k) : std::nullopt;
            if (source && *source >= end) {
                if (!follow(engine, k, now, shift.key(*source), scratchFrom, out.refused,
                            out.followed)) {
                    // Named by the line it stands on, or would have written.
                    const std::uint64_t at = out.refused->line;
                    const Tape& scratch = engine.tape();
                    out.refused->key = captionOf(at < scratch.end() ? scratch.info(at).key : now);
                    out.refused->line = from + (at - scratchFrom);
                    return out;
                }
            } else {
                run(engine, log_, k);
            }
        } catch (const EngineError& e) {
            fails(e, now);
            return out;
        }
    }
    // The old lines of the keys from there on, as they stand after it.
    std::uint64_t kept = tape.end();
    while (kept > from && tape.info(kept - 1).key >= met) {
        --kept;
    }
    const std::uint64_t replayed = engine.tape().end() - scratchFrom;
    // Each key writes as many lines as before: only a rule depends on the
    // tape, and every one since the number follows a line since it.
    const std::uint64_t count = replayed + (tape.end() - kept);
    if (count != tape.end() - from) {
        out.refused = refusal(Refusal::Why::NotCorrectable);
        return out;
    }
    for (std::uint64_t j = 0; j < replayed; ++j) {
        const LineInfo& info = engine.tape().info(scratchFrom + j);
        if (info.zeroDivisor && !tape.info(from + j).zeroDivisor) {
            Refusal r = refusal(Refusal::Why::DivideByZero);
            r.line = from + j;
            r.key = captionOf(info.key);
            out.refused = std::move(r);
            return out;
        }
    }
    for (std::uint64_t j = 0; j < replayed; ++j) {
        if (from + j > line && engine.tape().at(scratchFrom + j) != tape.at(from + j)) {
            ++out.changes;
        }
    }
    const bool meeting = met < log_.end();
    out.display = meeting ? engine_.display() : surface.display();
    if (!whole) {
        return out;
    }
    out.from = from;
    out.begin = begin;
    out.end = end;
    out.keys = *keys;
    out.engine = meeting ? shift.snapshot(engine_.snapshot()) : engine.snapshot();
    out.engine.tapeEnd = from + count;
    out.lines.reserve(count);
    for (std::uint64_t j = 0; j < replayed; ++j) {
        out.lines.push_back(
            Tape::Line{engine.tape().at(scratchFrom + j), engine.tape().info(scratchFrom + j)});
    }
    for (std::uint64_t n = kept; n < tape.end(); ++n) {
        out.lines.push_back(Tape::Line{tape.at(n), shift.info(tape.info(n))});
    }
    for (; meeting && old != checkpoints_.end(); ++old) {
        out.checkpoints.push_back(Checkpoint{shift.key(old->key), shift.snapshot(old->engine)});
    }
    out.oldText = tape.at(line).substr(mark.offset, mark.length);
    const Tape::Line& now = out.lines[line - from];
    const NumberMark& moved = now.info.numbers[index];
    out.newText = now.text.substr(moved.offset, moved.length);
    return out;
}

Session::Preview Session::preview(std::uint64_t line, std::size_t index,
                                  std::string_view text) const {
    Outcome out = workOut(line, index, text, false);
    if (out.refused) {
        nameLine(*out.refused);
    }
    return {std::move(out.display), std::move(out.refused), out.changes};
}

void Session::nameLine(Refusal& refusal) const {
    const Tape& tape = engine_.tape();
    if ((refusal.why == Refusal::Why::KeyFails || refusal.why == Refusal::Why::DivideByZero) &&
        tape.shown(refusal.line)) {
        refusal.lineText = tape.at(refusal.line);
    }
}

void Session::correct(std::uint64_t line, std::size_t index, std::string_view text) {
    Outcome out = workOut(line, index, text, true);
    if (out.refused) {
        nameLine(*out.refused);
        throw CorrectionRefused(std::move(*out.refused));
    }
    auto correction = std::make_shared<Correction>();
    correction->from = out.from;
    Side& before = correction->before;
    before.engine = engine_.snapshot();
    before.lines = engine_.tape().lines(out.from);
    before.log = log_;
    before.checkpoints = checkpoints_;
    before.was = was_;
    Side& after = correction->after;
    after.engine = std::move(out.engine);
    after.lines = std::move(out.lines);
    after.log = log_.replaced(out.begin, out.end, out.keys);
    for (auto& [key, text] : out.followed) {
        after.log.setUsed(key, std::move(text));
    }
    for (const Checkpoint& c : checkpoints_) {
        if (c.key <= out.begin) {
            after.checkpoints.push_back(c);
        }
    }
    after.checkpoints.insert(after.checkpoints.end(),
                             std::make_move_iterator(out.checkpoints.begin()),
                             std::make_move_iterator(out.checkpoints.end()));
    // The marks of numbers after this one move with their keys; the first
    // text this number had stays its mark.
    const std::uint64_t added = out.keys.size();
    for (const auto& [key, was] : was_) {
        if (key <= out.begin) {
            after.was.emplace(key, was);
        } else if (key >= out.end) {
            after.was.emplace(key - out.end + out.begin + added, was);
        }
    }
    const auto mark = after.was.try_emplace(out.begin, out.oldText).first;
    if (mark->second == out.newText) {
        after.was.erase(mark);
    }
    correction->bytes = sizeof(Correction) + before.bytes() + after.bytes();

    Step& slot = nextSlot();
    apply(correction->after, correction->from, false);
    dropRedo(log_.end());
    slot.keys.clear();
    slot.use.clear();
    slot.source.reset();
    slot.correction = std::move(correction);
    file(slot);
    notify(rewritten(slot.correction->from));
}

void Session::apply(const Side& side, std::uint64_t from, bool redone) {
    Side copy = side;
    engine_.reserveLines(copy.lines.size());
    engine_.exchange(copy.engine); // the display first: if it fails, nothing has changed
    engine_.rewriteLines(from, copy.lines, redone);
    std::swap(log_, copy.log);
    checkpoints_.swap(copy.checkpoints);
    was_.swap(copy.was);
    unlinkGone();
}

} // namespace quillo
