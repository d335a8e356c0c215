// SPDX-License-Identifier: MIT
// A saved calculation opened as a new run, and this run saved.
#include "session.h"

#include "keys.h"

#include <algorithm>
#include <charconv>

namespace quillo {

static_assert(Document::kTextLimit == Session::kNoteLimit);

struct Session::Opened {
    Engine::Snapshot engine;
    Tape tape;
    KeyLog log;
    std::vector<Checkpoint> checkpoints;
    Marks was;
    std::map<std::uint64_t, std::string> notes; // by tape line
};

std::variant<std::shared_ptr<Session::Opened>, DocumentError>
Session::replay(const Document& document) {
    auto out = std::make_shared<Opened>();
    StandardSurface surface;
    Engine engine(surface);
    engine.Form_Load();
    KeyLog& log = out->log;
    log.reserve(document.keys.size());
    out->checkpoints.push_back(Checkpoint{0, engine.snapshot()});
    const std::string_view use = KeyLog::kUseWord;
    auto note = document.notes.begin();
    std::vector<std::string> results;
    results.reserve(document.keys.size());
    for (std::size_t i = 0; i < document.keys.size(); ++i) {
        if (i - out->checkpoints.back().key >= kCheckpointEvery) {
            out->checkpoints.push_back(Checkpoint{i, engine.snapshot()});
        }
        const Document::Key& key = document.keys[i];
        const std::uint64_t tapeEnd = engine.tape().end();
        try {
            if (key.text.starts_with(use)) {
                // The number as written, or the result of the line it follows
                // ("@3": the line the third key line wrote), as it is now.
                std::string number = key.text.substr(key.text.find_first_not_of(" \t", use.size()));
                const std::size_t blank = std::min(number.size(), number.find_first_of(" \t"));
                std::optional<std::uint64_t> source;
                if (blank < number.size()) {
                    const std::size_t at = number.find('@', blank);
                    std::uint64_t k = 0;
                    std::from_chars(number.data() + at + 1, number.data() + number.size(), k);
                    source = k - 1;
                    number = results[static_cast<std::size_t>(*source)];
                } else {
                    number.resize(blank);
                }
                if (!engine.Reuse(number)) {
                    return DocumentError{DocumentError::Why::UnknownKey, key.line, key.text};
                }
                log.reserveUse();
                log.recordUse(number, source);
            } else {
                const std::optional<Key> k = keyFromCaption(key.text);
                if (!k) {
                    return DocumentError{DocumentError::Why::UnknownKey, key.line, key.text};
                }
                quillo::press(engine, *k);
                log.record(*k);
            }
        } catch (const EngineError& e) {
            // Copy keys holds no key that failed: this one did not when saved.
            return DocumentError{DocumentError::Why::KeyFails, key.line,
                                 std::string(name(e.kind()))};
        }
        // What a later "use N @K" takes: the result of the line this key wrote.
        const Tape& tape = engine.tape();
        results.emplace_back(
            tape.end() > tapeEnd
                ? tape.at(tape.end() - 1).substr(tape.at(tape.end() - 1).rfind(' ') + 1)
                : std::string());
        if (note != document.notes.end() && note->first == i) {
            if (engine.tape().end() == tapeEnd) {
                return DocumentError{DocumentError::Why::NoLine, note->second.line, {}};
            }
            out->notes.emplace(engine.tape().end() - 1, note->second.text);
            ++note;
        }
    }
    for (const auto& [index, was] : document.was) {
        if (index >= log.begin()) {
            out->was.emplace(index, Mark{was.text, was.at});
        }
    }
    // A replay starts at a checkpoint with its keys still in the log.
    while (out->checkpoints.size() > 1 && out->checkpoints[1].key <= log.begin()) {
        out->checkpoints.erase(out->checkpoints.begin());
    }
    std::erase_if(out->notes, [&](const auto& n) { return n.first < engine.tape().first(); });
    out->engine = engine.snapshot();
    out->tape = engine.releaseTape();
    return out;
}

void Session::open(Opened& opened) {
    // The display first: if it cannot be written, nothing has changed.
    engine_.begin(opened.engine, opened.tape);
    std::swap(log_, opened.log);
    checkpoints_.swap(opened.checkpoints);
    was_.swap(opened.was);
    notes_.swap(opened.notes);
    done_.clear();
    doneHead_ = doneCount_ = doneBytes_ = 0;
    undone_.clear();
    cutKey_ = 0;
    Change change;
    change.display = true;
    change.from = engine_.tape().first();
    change.opened = true;
    notify(change);
}

Document Session::document(std::string title) const {
    Document doc;
    doc.title = std::move(title);
    const std::string text = log_.text();
    std::string_view rest = text;
    std::vector<std::string_view> lines;
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        lines.push_back(rest.substr(0, nl));
        rest.remove_prefix(nl + 1);
    }
    if (!lines.empty() && lines.front() == KeyLog::kCutLine) {
        doc.cut = true;
        lines.erase(lines.begin());
    }
    // One line a key, the newest last.
    const std::uint64_t first = log_.end() - lines.size();
    doc.keys.reserve(lines.size());
    for (const std::string_view line : lines) {
        doc.keys.push_back({std::string(line), 0});
    }
    for (auto it = was_.lower_bound(first); it != was_.end(); ++it) {
        doc.was.emplace(static_cast<std::size_t>(it->first - first),
                        Document::Was{it->second.was, it->second.at, 0});
    }
    // A note goes after the key that wrote its line.
    const Tape& tape = engine_.tape();
    for (const auto& [line, note] : notes_) {
        if (tape.shown(line) && !note.empty() && tape.info(line).key >= first) {
            doc.notes.emplace(static_cast<std::size_t>(tape.info(line).key - first),
                              Document::Note{note, 0});
        }
    }
    return doc;
}

} // namespace quillo
