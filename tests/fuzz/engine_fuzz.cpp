// SPDX-License-Identifier: MIT
// Session fuzzer: each input is a run of steps a user can take on a
// calculator started as the window starts it: keys, pastes, a line's result
// reused (as a number, or following its line), a correction (previewed,
// then applied), undo, redo, Delete of lines and Clear tape. After every
// step:
// - the display, the fields and the tape are what a fresh engine gives when
//   fed the session's own copied keys, as quillo-keys replays them;
// - an undo gives back exactly what was there before the step, a redo what
//   was there after it;
// - a refused correction, reuse or paste, and a preview, change nothing.
// A breach aborts naming the step, so that libFuzzer keeps the input.

#include "clipboard.h"
#include "errors.h"
#include "invariants.h"
#include "keys.h"
#include "replay.h"
#include "session.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillo;

// Bytes below kFirstStep are keys; from 0xFF down they take turns among the
// other kinds of step (0xFF, which mutations favour, an undo), and the next
// bytes (zero past the end) choose what the step does.
constexpr std::uint8_t kFirstStep = 200;
enum class Kind { Key, Undo, Redo, Correct, Reuse, Paste, Delete, Clear, Count };
constexpr const char* kNames[] = {"key",   "undo",  "redo",   "correction",
                                  "reuse", "paste", "delete", "clear"};

// How often each kind ran, and how corrections ended, over the whole run.
struct Counts {
    std::array<unsigned long, static_cast<int>(Kind::Count)> steps{};
    unsigned long applied = 0, refused = 0, reuseRefused = 0, pasteRefused = 0;
    // Reuses that follow their line; corrections applied that reached one,
    // and those that changed its number.
    unsigned long followed = 0, reached = 0, carried = 0;
} counts;

void report() {
    std::fprintf(stderr, "steps:");
    for (int k = 0; k < static_cast<int>(Kind::Count); ++k) {
        std::fprintf(stderr, " %s %lu,", kNames[k], counts.steps[static_cast<std::size_t>(k)]);
    }
    std::fprintf(
        stderr,
        " corrections applied %lu, refused %lu; reuses refused %lu; pastes refused %lu;"
        " reuses following their line %lu, corrections reaching one %lu, changing it %lu\n",
        counts.applied, counts.refused, counts.reuseRefused, counts.pasteRefused, counts.followed,
        counts.reached, counts.carried);
}

class Input {
public:
    explicit Input(std::span<const std::uint8_t> data) : data_(data) {}
    bool done() const { return at_ >= data_.size(); }
    std::uint8_t next() { return at_ < data_.size() ? data_[at_++] : 0; }
    std::size_t at() const { return at_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
};

std::string digits(Input& in, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += static_cast<char>('0' + in.next() % 10);
    }
    return out;
}

// A number in one of the forms a clipboard brings, or something that is not.
std::string pasteText(Input& in, NumberForm& form) {
    const std::uint8_t how = in.next();
    form = how & 0x80 ? NumberForm{".", ",", "€"} : NumberForm{",", ".", "$"};
    const std::string whole = digits(in, 1 + in.next() % 7);
    switch (how % 8) {
    case 0:
        return whole;
    case 1:
        return whole + form.decimal + digits(in, 1 + in.next() % 4);
    case 2:
        return "1" + form.group + digits(in, 3) + form.group + digits(in, 3);
    case 3:
        return form.currency + whole;
    case 4:
        return " " + whole + " ";
    case 5:
        return std::string(999 + in.next() % 3, '9'); // about the limit
    case 6: {
        std::string garbage;
        for (int i = in.next() % 6; i >= 0; --i) {
            garbage += static_cast<char>(in.next());
        }
        return garbage;
    }
    default:
        return "-" + whole; // a sign, refused
    }
}

// A new text for a number: mostly digits, a point, a minus; sometimes not.
std::string correctionText(Input& in, std::string_view now) {
    const std::uint8_t how = in.next();
    std::string text = how & 0x10 ? "-" : "";
    text += digits(in, 1 + in.next() % 5);
    if (how & 0x20) {
        text += "." + digits(in, in.next() % 3);
    }
    switch (how % 8) {
    case 5:
        return std::string(1000 + in.next() % 2, '7');
    case 6:
        return std::string(now);
    case 7:
        return text + (how & 0x40 ? "e5" : ".");
    default:
        return text;
    }
}

// What a step can change, as text: the display, the fields and the key log
// (the head), then the tape with its numbers' marks. The tape is left out of
// a comparison once lines were cleared or deleted, which undo and redo do not
// bring back.
struct Seen {
    std::string text;
    std::size_t head = 0;
    bool tape = true;
    bool correction = false; // the step between it and now

    // A clear or a delete cuts the links to its lines, which undo and redo
    // do not bring back either.
    bool same(const Seen& other) const {
        return tape ? text == other.text
                    : unlinked(text.substr(0, head)) == unlinked(other.text.substr(0, other.head));
    }
    static std::string unlinked(std::string text) {
        for (std::size_t at = 0; (at = text.find(" @", at)) != std::string::npos;) {
            const std::size_t end = text.find('\n', at);
            text.erase(at, end - at);
        }
        return text;
    }
};

Seen seen(const Session& session) {
    const Engine& engine = session.engine();
    Seen out;
    out.text = describe(engine.state()) + "|" + engine.display() + "|" + session.log().text() +
               (session.canUndo() ? "|undo\n" : "|\n");
    out.head = out.text.size();
    const Tape& tape = engine.tape();
    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
        if (!tape.shown(n)) {
            continue;
        }
        out.text += std::to_string(n) + ": " + tape.at(n);
        for (const LineNumber& number : session.numbers(n)) {
            out.text += " [" + std::to_string(number.offset) + "," + std::to_string(number.length) +
                        (number.correctable ? ",c" : ",") + number.was +
                        (number.follows ? "@" + std::to_string(*number.follows) : "") + "]";
        }
        out.text += "\n";
    }
    return out;
}

// The first line where two views differ, each side of it.
std::string difference(const Seen& want, const Seen& got) {
    std::size_t at = 0;
    while (at < want.text.size() && at < got.text.size() && want.text[at] == got.text[at]) {
        ++at;
    }
    auto lineAt = [at](const std::string& text) {
        const std::size_t from = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t start = from == std::string::npos || at == 0 ? 0 : from + 1;
        return text.substr(start, text.find('\n', start) - start);
    };
    return "\n  was: " + lineAt(want.text) + "\n  now: " + lineAt(got.text);
}

class Run {
public:
    Run() {
        session_.load();
        now_ = seen(session_);
    }

    void step(Input& in) {
        start_ = in.at();
        const std::uint8_t b = in.next();
        constexpr int kSteps = static_cast<int>(Kind::Count) - 1;
        kind_ = b < kFirstStep ? Kind::Key : static_cast<Kind>(1 + (0xFF - b) % kSteps);
        ++counts.steps[static_cast<std::size_t>(kind_)];
        what_.clear();
        couldRedo_ = session_.canRedo();
        logBefore_ = session_.log().end();
        switch (kind_) {
        case Kind::Key:
            key(static_cast<Key>(b % kKeyCount));
            break;
        case Kind::Undo:
            undo();
            break;
        case Kind::Redo:
            redo();
            break;
        case Kind::Paste:
            paste(in);
            break;
        case Kind::Reuse:
            // Which of the bytes that choose a reuse says how: kept inputs
            // take the steps they took.
            reuse(in, (0xFF - b) / kSteps % 3 != 0);
            break;
        case Kind::Correct:
            // Half of them on a line a reused number follows, if any.
            correct(in, (0xFF - b) / kSteps % 2 == 0);
            break;
        case Kind::Delete:
            erase(in);
            break;
        default:
            what_ = "clear tape";
            session_.clearTape();
            cut();
            break;
        }
        surface_.takeWarnings();
        if (trace_) {
            std::fprintf(stderr, "byte %zu: %s %s\n", start_, kNames[static_cast<int>(kind_)],
                         what_.c_str());
        }
        now_ = seen(session_);
        sound();
        replayed();
    }

private:
    [[noreturn]] void breach(const std::string& what) const {
        std::fprintf(stderr, "session_fuzz: step at byte %zu (%s%s%s): %s\n", start_,
                     kNames[static_cast<int>(kind_)], what_.empty() ? "" : " ", what_.c_str(),
                     what.c_str());
        std::abort();
    }

    // A step that landed: it can be undone to `before`, and nothing is left
    // to redo.
    void landed(Seen before) {
        done_.push_back(std::move(before));
        undone_.clear();
        // Keys from here on write lines no clear or delete has touched.
        fresh_ = std::min(fresh_, logBefore_);
    }

    void unchanged(const char* what) const {
        if (const Seen now = seen(session_); !now.same(now_)) {
            breach(std::string(what) + " changed the session:" + difference(now_, now));
        }
        if (session_.canRedo() != couldRedo_) {
            breach(std::string(what) + " changed what can be redone");
        }
    }

    void key(Key k) {
        what_ = caption(k);
        const Seen before = now_;
        try {
            session_.press(k);
        } catch (const EngineError&) {
            unchanged("a key that raised an error");
            return;
        }
        landed(before);
    }

    void undo() {
        if (!session_.canUndo()) {
            return;
        }
        what_ = "of the step before";
        session_.undo();
        if (done_.empty()) {
            breach("an undo past the steps taken");
        }
        if (const Seen now = seen(session_); !done_.back().same(now)) {
            breach("an undo did not give back what was there before the step:" +
                   difference(done_.back(), now));
        }
        shifted(done_.back().correction);
        undone_.push_back(now_);
        undone_.back().correction = done_.back().correction;
        done_.pop_back();
    }

    void redo() {
        if (!session_.canRedo()) {
            return;
        }
        try {
            session_.redo();
        } catch (const std::exception&) {
            breach("a redo failed");
        }
        if (undone_.empty()) {
            breach("a redo past the steps undone");
        }
        if (const Seen now = seen(session_); !undone_.back().same(now)) {
            breach("a redo did not give back what was there after the step:" +
                   difference(undone_.back(), now));
        }
        shifted(undone_.back().correction);
        done_.push_back(now_);
        done_.back().correction = undone_.back().correction;
        undone_.pop_back();
    }

    void paste(Input& in) {
        NumberForm form;
        const std::string text = pasteText(in, form);
        what_ = "'" + text.substr(0, 24) + (text.size() > 24 ? "...'" : "'");
        const Seen before = now_;
        const auto keys = pasteKeys(text, form);
        if (!keys) {
            ++counts.pasteRefused;
            return;
        }
        try {
            session_.paste(*keys);
        } catch (const EngineError&) {
            unchanged("a paste whose key raised an error");
            ++counts.pasteRefused;
            return;
        }
        if (keys->empty()) {
            unchanged("an empty paste");
            return;
        }
        landed(before);
    }

    // A shown line of the tape chosen by a byte, if there is one.
    std::optional<std::uint64_t> line(Input& in) const {
        const Tape& tape = session_.engine().tape();
        std::vector<std::uint64_t> shown;
        for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
            if (tape.shown(n)) {
                shown.push_back(n);
            }
        }
        const std::uint8_t pick = in.next();
        if (shown.empty()) {
            return std::nullopt;
        }
        // Most picks near the end, where typing goes on.
        return shown[shown.size() - 1 -
                     pick % std::min<std::size_t>(shown.size(), pick & 1 ? 4 : 64)];
    }

    void reuse(Input& in, bool follow) {
        const std::optional<std::uint64_t> n = line(in);
        if (!n) {
            return;
        }
        const std::string& text = session_.engine().tape().at(*n);
        const std::string result = text.substr(text.rfind(' ') + 1);
        what_ = "line " + std::to_string(*n) + " '" + result + "'" + (follow ? " followed" : "");
        const Seen before = now_;
        if (follow ? !session_.reuseLine(*n) : !session_.reuse(result)) {
            ++counts.reuseRefused;
            unchanged("a refused reuse");
            return;
        }
        if (follow && session_.log().source(session_.log().end() - 1)) {
            ++counts.followed;
        }
        landed(before);
    }

    // The numbers of the reused results that follow a line, and whether one
    // follows a line a key from `key` on wrote.
    std::vector<std::string> followedValues(std::uint64_t key, bool& reached) const {
        std::vector<std::string> values;
        const KeyLog& log = session_.log();
        log.eachLink(log.begin(),
                     [&](std::uint64_t, std::uint64_t source, const std::string& text) {
                         reached = reached || source >= key;
                         values.push_back(text);
                     });
        return values;
    }

    // A line a reused number follows, chosen by a byte, if there is one.
    std::optional<std::uint64_t> followedLine(Input& in) const {
        const Tape& tape = session_.engine().tape();
        std::vector<std::uint64_t> lines;
        session_.log().eachLink(session_.log().begin(),
                                [&](std::uint64_t, std::uint64_t source, const std::string&) {
                                    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
                                        if (tape.shown(n) && tape.info(n).key == source) {
                                            lines.push_back(n);
                                        }
                                    }
                                });
        if (lines.empty()) {
            return line(in);
        }
        return lines[in.next() % lines.size()];
    }

    void correct(Input& in, bool towardLinks) {
        const std::optional<std::uint64_t> n = towardLinks ? followedLine(in) : line(in);
        if (!n) {
            return;
        }
        const std::vector<LineNumber> numbers = session_.numbers(*n);
        const std::size_t index = in.next() % std::max<std::size_t>(numbers.size(), 1);
        const std::string& lineText = session_.engine().tape().at(*n);
        const std::string now = index < numbers.size()
                                    ? lineText.substr(numbers[index].offset, numbers[index].length)
                                    : std::string();
        const std::string text = correctionText(in, now);
        what_ = "line " + std::to_string(*n) + " number " + std::to_string(index) + " to '" +
                text.substr(0, 24) + (text.size() > 24 ? "...'" : "'");
        const Seen before = now_;
        bool reached = false;
        const LineInfo& info = session_.engine().tape().info(*n);
        const std::vector<std::string> values =
            followedValues(index < info.count ? info.numbers[index].key : UINT64_MAX, reached);
        const Session::Preview preview = session_.preview(*n, index, text);
        unchanged("a preview");
        try {
            session_.correct(*n, index, text);
        } catch (const CorrectionRefused& e) {
            ++counts.refused;
            unchanged("a refused correction");
            if (!preview.refused || preview.refused->why != e.refusal().why) {
                breach("the preview did not foresee the refusal");
            }
            if (index < numbers.size() && numbers[index].correctable &&
                (e.refusal().why == Refusal::Why::Computed ||
                 e.refusal().why == Refusal::Why::NotCorrectable ||
                 e.refusal().why == Refusal::Why::AcrossClear)) {
                breach("a number listed as correctable was refused as not");
            }
            return;
        }
        ++counts.applied;
        if (reached) {
            ++counts.reached;
            bool ignored = false;
            counts.carried += followedValues(0, ignored) != values ? 1 : 0;
        }
        if (preview.refused || preview.display != session_.engine().display()) {
            breach("the preview did not foresee the display");
        }
        if (index >= numbers.size() || !numbers[index].correctable) {
            breach("a number not listed as correctable was corrected");
        }
        if (surface_.takeWarnings() != 0) {
            breach("a correction showed a warning");
        }
        Seen side = before;
        side.correction = true;
        landed(std::move(side));
    }

    // A correction undone or redone moves the later keys' indexes: which
    // of them are new since a cut is known again at the next new step.
    void shifted(bool correction) {
        if (correction && cutAny_) {
            fresh_ = UINT64_MAX;
        }
    }

    // Neither is a step: the history's tape sides no longer hold.
    void cut() {
        for (Seen& s : done_) {
            s.tape = false;
        }
        for (Seen& s : undone_) {
            s.tape = false;
        }
        fresh_ = UINT64_MAX;
        cutAny_ = true;
    }

    void erase(Input& in) {
        std::vector<std::uint64_t> numbers;
        for (int i = in.next() % 3; i >= 0; --i) {
            if (const std::optional<std::uint64_t> n = line(in)) {
                numbers.push_back(*n);
            }
        }
        if (numbers.empty()) {
            return;
        }
        what_ = "line " + std::to_string(numbers.front());
        session_.eraseLines(numbers);
        cut();
    }

    void sound() const {
        const std::string problem =
            test::violation(session_.engine().state(), session_.engine().display());
        if (!problem.empty()) {
            breach(problem + "; " + describe(session_.engine().state()));
        }
    }

    // Feeds the copied keys to a fresh engine, only those it has not had
    // when they go on from what it had.
    void replayed() {
        const std::string keys = session_.log().text();
        if (!keys.starts_with(fedKeys_) || !replay_) {
            replay_ = std::make_unique<Replay>(false);
            fedKeys_.clear();
        }
        std::string out, error;
        for (std::size_t at = fedKeys_.size(), end;
             (end = keys.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string_view line = std::string_view(keys).substr(at, end - at);
            if (line.starts_with('#')) {
                continue;
            }
            if (!replay_->feed(line, out, error)) {
                breach("a copied line does not replay: " + std::string(line) + ": " + error);
            }
            if (out.find("\terror:") != std::string::npos) {
                breach("a copied key fails when replayed: " + std::string(line));
            }
            out.clear();
        }
        fedKeys_ = keys;
        const Engine& fresh = replay_->engine();
        const Engine& engine = session_.engine();
        if (!(fresh.state() == engine.state())) {
            breach("the fields differ from a fresh replay: " + describe(engine.state()) +
                   " against " + describe(fresh.state()));
        }
        if (fresh.display() != engine.display()) {
            breach("the display '" + engine.display() + "' differs from a fresh replay's '" +
                   fresh.display() + "'");
        }
        sameTape();
    }

    // Every line the session shows is the one the fresh replay's same key
    // wrote (a rule may stand where a cleared tape had none before it); with
    // nothing cleared or deleted the tapes are the same, and since the last
    // cut, every line new keys wrote is shown.
    void sameTape() const {
        const Tape& mine = session_.engine().tape();
        const Tape& theirs = replay_->engine().tape();
        if (!cutAny_ && (mine.text() != theirs.text() || mine.end() != theirs.end())) {
            breach("the tape differs from a fresh replay's:\n" + mine.text() + "against\n" +
                   theirs.text());
        }
        std::uint64_t t = theirs.first();
        for (std::uint64_t n = mine.first(); n < mine.end(); ++n) {
            if (!mine.shown(n)) {
                continue;
            }
            const LineInfo& info = mine.info(n);
            while (t < theirs.end() && theirs.info(t).key < info.key) {
                if (theirs.info(t).key >= fresh_ && theirs.at(t) != Tape::kRule) {
                    breach("line '" + theirs.at(t) + "' of a fresh replay is not shown");
                }
                ++t;
            }
            if (t == theirs.end() || theirs.info(t).key != info.key) {
                if (mine.at(n) != Tape::kRule) {
                    breach("line " + std::to_string(n) + " '" + mine.at(n) +
                           "' is not in a fresh replay");
                }
                continue;
            }
            if (theirs.at(t) != mine.at(n) || !(theirs.info(t) == info)) {
                breach("line " + std::to_string(n) + " '" + mine.at(n) + "' differs from '" +
                       theirs.at(t) + "' of a fresh replay, or its numbers do");
            }
            ++t;
        }
        for (; t < theirs.end(); ++t) {
            if (theirs.info(t).key >= fresh_ && theirs.at(t) != Tape::kRule) {
                breach("line '" + theirs.at(t) + "' of a fresh replay is not shown");
            }
        }
    }

    StandardSurface surface_;
    Session session_{surface_};
    std::vector<Seen> done_;
    std::vector<Seen> undone_;
    std::unique_ptr<Replay> replay_;
    std::string fedKeys_;
    // Lines of keys from fresh_ on must all be shown; with nothing cut,
    // every line.
    std::uint64_t fresh_ = 0;
    std::uint64_t logBefore_ = 0;
    bool cutAny_ = false;
    std::size_t start_ = 0;
    Kind kind_ = Kind::Key;
    std::string what_;
    Seen now_; // as the last step left it
    // QUILLO_FUZZ_TRACE set: each step is written out as it lands.
    const bool trace_ = std::getenv("QUILLO_FUZZ_TRACE") != nullptr;
    bool couldRedo_ = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(report);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    Run run;
    while (!in.done()) {
        run.step(in);
    }
    return 0;
}
