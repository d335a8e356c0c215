// SPDX-License-Identifier: MIT
#include "replay.h"

#include "errors.h"
#include "keylog.h"
#include "keys.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <optional>

namespace quillo {

struct Replay::Impl {
    StandardSurface surface;
    Engine engine{surface};
    bool withState;
    bool withTape;
    // The result of the line each of the last key lines wrote ("" for
    // none), for the links that name them; as many as the key log keeps.
    std::deque<std::string> results;
    std::uint64_t keys = 0; // key lines fed
};

const Engine& Replay::engine() const noexcept {
    return impl_->engine;
}

Replay::Replay(bool withState, bool withTape) : impl_(std::make_unique<Impl>()) {
    impl_->withState = withState;
    impl_->withTape = withTape;
    impl_->engine.Form_Load();
}

Replay::~Replay() = default;

bool Replay::feed(std::string_view line, std::string& out, std::string& error) {
    const auto first = line.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string_view::npos) {
        return true;
    }
    const auto last = line.find_last_not_of(" \t\r\n\v\f");
    const std::string_view text = line.substr(first, last - first + 1);
    // Keep a message one printable line, whatever bytes came in.
    auto quote = [&error](std::string_view what) {
        error += '\'';
        for (char c : what.substr(0, 40)) {
            const auto u = static_cast<unsigned char>(c);
            error += (u >= 0x20 && u < 0x7f) ? c : '?';
        }
        error += what.size() > 40 ? "...'" : "'";
    };
    // "use NUMBER": a number reused from the tape.
    const std::string_view use = KeyLog::kUseWord;
    const bool reuse = text.size() > use.size() && text.starts_with(use) &&
                       (text[use.size()] == ' ' || text[use.size()] == '\t');
    std::optional<Key> key;
    std::string_view number;
    std::string followed;
    std::string_view link;
    if (reuse) {
        number = text.substr(use.size());
        number.remove_prefix(number.find_first_not_of(" \t"));
        if (const auto blank = number.find_first_of(" \t"); blank != std::string_view::npos) {
            link = number.substr(blank);
            link.remove_prefix(link.find_first_not_of(" \t"));
            number = number.substr(0, blank);
        }
        if (!reusable(number)) {
            error = "not a number to use ";
            quote(number);
            return false;
        }
        if (!link.empty()) {
            std::uint64_t k = 0;
            const char* end = link.data() + link.size();
            const auto [ptr, ec] = std::from_chars(link.data() + 1, end, k);
            if (link.front() != KeyLog::kLinkSign || ec != std::errc() || ptr != end || k == 0) {
                error = "not a line to follow ";
                quote(link);
                return false;
            }
            const std::uint64_t held = impl_->results.size();
            const std::uint64_t oldest = impl_->keys - held + 1;
            if (k < oldest || k > impl_->keys ||
                !reusable(impl_->results[static_cast<std::size_t>(k - oldest)])) {
                error = "no earlier key wrote a line with a result to follow ";
                quote(link);
                return false;
            }
            followed = impl_->results[static_cast<std::size_t>(k - oldest)];
            number = followed;
        }
    } else {
        key = keyFromCaption(text);
        if (!key) {
            error = "unknown key caption ";
            quote(text);
            return false;
        }
    }
    const Tape& tape = impl_->engine.tape();
    const std::uint64_t tapeEnd = tape.end();
    std::string_view kind;
    try {
        if (key) {
            press(impl_->engine, *key);
        } else {
            impl_->engine.Reuse(number);
        }
    } catch (const EngineError& e) {
        kind = name(e.kind());
    }
    if (key) {
        out += caption(*key);
    } else {
        out += use;
        out += ' ';
        out += number;
        if (!link.empty()) {
            out += ' ';
            out += link;
        }
    }
    // A key that raised an error was undone: it wrote no line.
    std::string result;
    if (kind.empty() && tape.end() > tapeEnd) {
        const std::string& written = tape.at(tape.end() - 1);
        result = written.substr(written.rfind(' ') + 1);
    }
    impl_->results.push_back(std::move(result));
    ++impl_->keys;
    if (impl_->results.size() > KeyLog::kCapacity) {
        impl_->results.pop_front();
    }
    out += "\t|";
    out += impl_->surface.display();
    out += '|';
    if (impl_->surface.takeWarnings() > 0) {
        out += "\twarning";
    }
    if (!kind.empty()) {
        out += "\terror:";
        out += kind;
    }
    if (impl_->withState) {
        out += '\t';
        out += describe(impl_->engine.state());
    }
    out += '\n';
    if (impl_->withTape) {
        for (std::uint64_t n = std::max(tapeEnd, tape.first()); n < tape.end(); ++n) {
            out += "\ttape\t";
            out += tape.at(n);
            out += '\n';
        }
    }
    return true;
}

} // namespace quillo
