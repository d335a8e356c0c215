// SPDX-License-Identifier: MIT
// A line's result put back into the calculator, following its line: the
// link from a reused number to the key that wrote its line, and how a
// correction's replay carries a changed result on to it.
#include "session.h"

#include <algorithm>

namespace quillo {

namespace {

// A line's result is its last word, as the tape window puts it back.
std::string_view resultOf(std::string_view line) noexcept {
    const std::size_t space = line.rfind(' ');
    return space == std::string_view::npos ? line : line.substr(space + 1);
}

// The line key `key` wrote among the lines [from, tape.end()): each key
// writes one at most, so their keys rise with their numbers.
std::optional<std::uint64_t> lineOfKey(const Tape& tape, std::uint64_t from,
                                       std::uint64_t key) noexcept {
    std::uint64_t lo = std::max(from, tape.oldest());
    std::uint64_t hi = tape.end();
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (tape.info(mid).key < key) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo < tape.end() && tape.info(lo).key == key) {
        return lo;
    }
    return std::nullopt;
}

} // namespace

bool Session::reuse(std::string_view result) {
    return use(result, std::nullopt);
}

bool Session::reuseLine(std::uint64_t line) {
    const Tape& tape = engine_.tape();
    if (!tape.shown(line)) {
        return false;
    }
    const std::uint64_t key = tape.info(line).key;
    // A line whose key has left the log cannot be written again: its
    // result stays as it is now.
    const bool kept = key >= log_.begin() && key < log_.end() && tape.info(line).count > 0;
    return use(resultOf(tape.at(line)), kept ? std::optional<std::uint64_t>(key) : std::nullopt);
}

std::optional<std::uint64_t> Session::lineOf(std::uint64_t key) const noexcept {
    const std::optional<std::uint64_t> line = lineOfKey(engine_.tape(), 0, key);
    return line && engine_.tape().shown(*line) ? line : std::nullopt;
}

bool Session::followable(std::uint64_t key) const noexcept {
    return key >= log_.begin() && lineOf(key).has_value();
}

void Session::unlinkGone() noexcept {
    log_.unlinkIf([this](std::uint64_t key) { return !followable(key); });
}

bool Session::follow(Engine& replay, std::uint64_t k, std::uint64_t now, std::uint64_t source,
                     std::uint64_t scratchFrom, std::optional<Refusal>& refused,
                     std::vector<std::pair<std::uint64_t, std::string>>& followed) const {
    const Tape& tape = replay.tape();
    const std::optional<std::uint64_t> line = lineOfKey(tape, scratchFrom, source);
    Refusal r;
    r.why = Refusal::Why::KeyFails;
    r.error = ErrorKind::InvalidArgument;
    r.line = tape.end();
    if (line && tape.info(*line).zeroDivisor) {
        // Its line now has no result: a zero divisor met where there was none.
        r.why = Refusal::Why::DivideByZero;
        r.line = *line;
        refused = std::move(r);
        return false;
    }
    const std::string_view result = line ? resultOf(tape.at(*line)) : std::string_view();
    if (!line || !replay.Reuse(result)) {
        refused = std::move(r);
        return false;
    }
    if (result != log_.used(k)) {
        followed.emplace_back(now, std::string(result));
    }
    return true;
}

bool Session::linksHold(const Engine& replay, std::uint64_t k, std::uint64_t end,
                        std::uint64_t delta, std::uint64_t scratchFrom) const {
    bool hold = true;
    log_.eachLink(k, [&](std::uint64_t, std::uint64_t source, const std::string& text) {
        if (!hold || source < end || source >= k) {
            return;
        }
        const Tape& tape = replay.tape();
        const std::optional<std::uint64_t> line = lineOfKey(tape, scratchFrom, source + delta);
        hold = line && resultOf(tape.at(*line)) == text;
    });
    return hold;
}

} // namespace quillo
