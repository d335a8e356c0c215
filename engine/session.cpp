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

// Keeps the engine quiet for its lifetime.
class Quiet {
public:
    explicit Quiet(Engine& engine) : engine_(engine) { engine_.setQuiet(true); }
    ~Quiet() { engine_.setQuiet(false); }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    Engine& engine_;
};

} // namespace

void Session::press(Key key) {
    const auto k = static_cast<std::uint8_t>(key);
    if (open_) {
        open_->keys.reserve(open_->keys.size() + 1);
        quillo::press(engine_, key);
        open_->keys.push_back(k);
        log_.record(key);
        return;
    }
    // The engine writes where it stood into the slot only once the key has
    // gone through, so a key that fails leaves the slot as it was.
    const auto [slot, dropsOldest] = nextSlot();
    engine_.recordNext(&slot->before);
    quillo::press(engine_, key);
    slot->keys.assign(1, k);
    log_.record(key);
    file(*slot, dropsOldest);
}

std::pair<Session::Step*, bool> Session::nextSlot() {
    if (doneCount_ < done_.size()) {
        return {&done_[(doneHead_ + doneCount_) % done_.size()], false};
    }
    if (done_.size() < kDepth) {
        // Growing: the oldest goes to the front first, so the new slot at
        // the end follows the newest.
        std::rotate(done_.begin(), done_.begin() + static_cast<std::ptrdiff_t>(doneHead_),
                    done_.end());
        doneHead_ = 0;
        done_.emplace_back();
        return {&done_.back(), false};
    }
    return {&done_[doneHead_], true};
}

void Session::file(Step& slot, bool dropsOldest) noexcept {
    undone_.clear();
    if (dropsOldest) {
        doneBytes_ -= slot.weight;
        doneHead_ = (doneHead_ + 1) % done_.size();
        --doneCount_;
    }
    const State& s = slot.before.state;
    slot.weight = sizeof(Step) + slot.before.display.capacity() + textBytes(s.FirstNumber) +
                  textBytes(s.SecondNumber) + textBytes(s.DisplayValue) + slot.keys.capacity();
    doneBytes_ += slot.weight;
    ++doneCount_;
    while (doneCount_ > 1 && doneBytes_ > kBudget) {
        dropOldest();
    }
}

void Session::file(Step&& step) {
    const auto [slot, dropsOldest] = nextSlot();
    const std::size_t oldWeight = slot->weight; // the dropped step's, if any
    *slot = std::move(step);
    slot->weight = oldWeight;
    file(*slot, dropsOldest);
}

void Session::dropOldest() noexcept {
    Step& oldest = done_[doneHead_];
    doneBytes_ -= oldest.weight;
    release(oldest.before.display);
    oldest.before.state = State{};
    doneHead_ = (doneHead_ + 1) % done_.size();
    --doneCount_;
}

void Session::beginStep() {
    open_.emplace(Step{engine_.snapshot(), {}});
}

void Session::endStep() {
    if (open_ && !open_->keys.empty()) {
        file(std::move(*open_));
    }
    open_.reset();
}

void Session::undo() {
    if (doneCount_ == 0) {
        return;
    }
    Step& step = done_[(doneHead_ + doneCount_ - 1) % done_.size()];
    undone_.reserve(undone_.size() + 1);
    engine_.restore(step.before);
    log_.drop(step.keys.size());
    doneBytes_ -= step.weight;
    undone_.push_back(step.keys);
    --doneCount_;
    release(step.before.display);
}

void Session::redo() {
    if (undone_.empty()) {
        return;
    }
    Step step{engine_.snapshot(), undone_.back()};
    {
        // A redone key was warned about when it first ran.
        const Quiet quiet(engine_);
        try {
            for (const std::uint8_t key : step.keys) {
                quillo::press(engine_, static_cast<Key>(key));
            }
        } catch (...) {
            engine_.restore(step.before);
            throw;
        }
    }
    Keys keys = std::move(undone_.back());
    undone_.pop_back();
    for (const std::uint8_t key : keys) {
        log_.record(static_cast<Key>(key));
    }
    auto undone = std::move(undone_);
    file(std::move(step));
    undone_ = std::move(undone); // filing a redone step keeps what is left to redo
}

} // namespace quillo
