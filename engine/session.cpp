// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>

namespace quillo {
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

} // namespace

void Session::removeListener(SessionListener* listener) noexcept {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void Session::notify(const Change& change) noexcept {
    for (SessionListener* listener : listeners_) {
        listener->sessionChanged(*this, change);
    }
}

void Session::load() {
    const std::uint64_t end = engine_.tape().end();
    engine_.Form_Load();
    notify(written(end));
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
    log_.record(key);
    undone_.clear(); // a new key drops what could have been redone
    file(slot);
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
    for (const Key key : keys) {
        log_.record(key);
    }
    undone_.clear();
    slot.before = std::move(before);
    slot.keys = std::move(bytes);
    slot.use.clear();
    file(slot);
    notify(written(end));
}

bool Session::reuse(std::string_view result) {
    if (!typedNumber(result)) {
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
    log_.recordUse(logText);
    undone_.clear();
    file(slot);
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

void Session::logKeys(const Keys& keys, std::string& use) noexcept {
    for (const std::uint8_t key : keys) {
        if (key == KeyLog::kUse) {
            log_.recordUse(use);
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
                  slot.use.capacity();
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
    doneHead_ = (doneHead_ + 1) % done_.size();
    --doneCount_;
}

void Session::undo() {
    if (doneCount_ == 0) {
        return;
    }
    undone_.reserve(undone_.size() + 1);
    Step& step = done_[(doneHead_ + doneCount_ - 1) % done_.size()];
    const std::uint64_t cut = step.before.tapeEnd;
    engine_.restore(std::move(step.before));
    log_.drop(step.keys.size());
    doneBytes_ -= step.weight;
    step.weight = 0;
    undone_.push_back(Redo{std::move(step.keys), std::move(step.use)});
    --doneCount_;
    release(step.before.display);
    notify(written(cut));
}

void Session::redo() {
    if (undone_.empty()) {
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
    logKeys(again.keys, logText);
    slot.before = std::move(before);
    slot.keys = std::move(again.keys);
    slot.use = std::move(again.use);
    file(slot);
    notify(written(end));
}

void Session::clearTape() {
    engine_.clearTape();
    Change change;
    change.from = engine_.tape().end();
    change.cleared = true;
    notify(change);
}

void Session::eraseLines(std::span<const std::uint64_t> numbers) {
    engine_.eraseLines(numbers);
    Change change;
    change.from = engine_.tape().end();
    change.erased = numbers;
    notify(change);
}

} // namespace quillo

namespace quillo {

// Not built yet.

std::vector<LineNumber> Session::numbers(std::uint64_t) const {
    return {};
}

Session::Preview Session::preview(std::uint64_t, std::size_t, std::string_view) const {
    return {engine_.tape().empty() ? std::string() : std::string(), Refusal{}};
}

void Session::correct(std::uint64_t, std::size_t, std::string_view) {
    throw CorrectionRefused(Refusal{});
}

} // namespace quillo
