// SPDX-License-Identifier: MIT
#include "replay.h"

#include "errors.h"
#include "keylog.h"
#include "keys.h"

#include <algorithm>
#include <optional>

namespace quillo {

struct Replay::Impl {
    StandardSurface surface;
    Engine engine{surface};
    bool withState;
    bool withTape;
};

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
    if (reuse) {
        number = text.substr(use.size());
        number.remove_prefix(number.find_first_not_of(" \t"));
        if (!reusable(number)) {
            error = "not a number to use ";
            quote(number);
            return false;
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
