// SPDX-License-Identifier: MIT
#include "session.h"

#include <utility>

namespace quillo {
namespace {

std::size_t textBytes(const Variant& v) noexcept {
    return v.kind() == Variant::Kind::Text ? v.asText().capacity() : 0;
}

// Runs quiet for its lifetime.
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
    if (open_) {
        open_->keys.reserve(open_->keys.size() + 1);
        quillo::press(engine_, key);
        open_->keys.push_back(key);
        log_.record(key);
        return;
    }
    Step step{engine_.snapshot(), {key}};
    quillo::press(engine_, key);
    log_.record(key);
    file(std::move(step));
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

std::size_t Session::weight(const Step& step) noexcept {
    const State& s = step.before.state;
    return sizeof(Step) + step.before.display.capacity() + textBytes(s.FirstNumber) +
           textBytes(s.SecondNumber) + textBytes(s.DisplayValue) + step.keys.capacity();
}

void Session::file(Step step) {
    undone_.clear();
    doneBytes_ += weight(step);
    done_.push_back(std::move(step));
    while (done_.size() > 1 && (done_.size() > kDepth || doneBytes_ > kBudget)) {
        doneBytes_ -= weight(done_.front());
        done_.pop_front();
    }
}

void Session::undo() {
    if (done_.empty()) {
        return;
    }
    Step& step = done_.back();
    undone_.reserve(undone_.size() + 1);
    engine_.restore(step.before);
    log_.drop(step.keys.size());
    doneBytes_ -= weight(step);
    undone_.push_back(std::move(step.keys));
    done_.pop_back();
}

void Session::redo() {
    if (undone_.empty()) {
        return;
    }
    Step step{engine_.snapshot(), undone_.back()};
    {
        const Quiet quiet(engine_);
        try {
            for (const Key key : step.keys) {
                quillo::press(engine_, key);
            }
        } catch (...) {
            engine_.restore(step.before);
            throw;
        }
    }
    undone_.pop_back();
    for (const Key key : step.keys) {
        log_.record(key);
    }
    auto undone = std::move(undone_);
    file(std::move(step));
    undone_ = std::move(undone); // filing a redone step keeps what is left to redo
}

} // namespace quillo
