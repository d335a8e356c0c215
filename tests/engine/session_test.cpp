// SPDX-License-Identifier: MIT
// Undo, redo and the key log over long random sessions: an undo gives back
// exactly what was there before the step, a redo exactly what was there
// after it, and the copied keys replay to the display shown. A step lands
// whole or not at all, even when an allocation fails; lines the user
// cleared or deleted stay gone.

#include "errors.h"
#include "replay.h"
#include "session.h"

#include <gtest/gtest.h>

#include "clipboard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>

// Every allocation of this test program goes through here, so that one can
// be made to fail: the n-th from when failAt is set.
namespace {
long failAt = -1;
long allocations = 0;
} // namespace

void* operator new(std::size_t size) {
    if (failAt >= 0 && allocations++ == failAt) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
// gcc, inlining these where a new'd pointer is deleted, takes the free() for
// a mismatch: here new is malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace quillo {
namespace {

struct Seen {
    State state;
    std::string display;
    std::uint64_t tapeEnd;
    std::string tapeBack;
    std::size_t logSize;
    bool operator==(const Seen&) const = default;
};

struct Calc {
    StandardSurface surface;
    Session session{surface};
    Calc() { session.load(); }

    Seen seen() const {
        const Tape& tape = session.engine().tape();
        return {session.engine().state(), surface.display(), tape.end(),
                tape.empty() ? "" : tape.back(), session.log().size()};
    }

    // Captions and commands separated by single spaces: "undo", "redo",
    // "clear" (the tape), "erase:N" (tape line N), "paste:1.5" (its keys as
    // one step), "use:-5" (a reused number), "follow:L" (the result of
    // line L put back, following it), "correct:L:I:T" (number I of
    // line L typed as T), "keys:N:K_L" (N times the captions K L). A key that raises an
    // error is skipped, as the window reports and drops it.
    void act(std::string_view actions) {
        while (!actions.empty()) {
            const auto space = actions.find(' ');
            const std::string_view a = actions.substr(0, space);
            actions = space == std::string_view::npos ? "" : actions.substr(space + 1);
            try {
                one(a);
            } catch (const EngineError&) {
            }
            surface.takeWarnings();
        }
    }

    void one(std::string_view a) {
        auto number = [](std::string_view text) {
            return static_cast<std::uint64_t>(
                std::strtoull(std::string(text).c_str(), nullptr, 10));
        };
        if (a == "undo") {
            session.undo();
        } else if (a == "redo") {
            session.redo();
        } else if (a == "clear") {
            session.clearTape();
        } else if (a.starts_with("erase:")) {
            const std::uint64_t n = number(a.substr(6));
            session.eraseLines({&n, 1});
        } else if (a.starts_with("paste:")) {
            std::vector<Key> keys;
            for (const char c : a.substr(6)) {
                keys.push_back(*keyFromCaption(std::string_view(&c, 1)));
            }
            session.paste(keys);
        } else if (a.starts_with("correct:")) {
            // correct:LINE:INDEX:TEXT
            const auto c1 = a.find(':', 8);
            const auto c2 = a.find(':', c1 + 1);
            session.correct(number(a.substr(8, c1 - 8)), number(a.substr(c1 + 1, c2 - c1 - 1)),
                            a.substr(c2 + 1));
        } else if (a.starts_with("use:")) {
            session.reuse(a.substr(4));
        } else if (a.starts_with("follow:")) {
            session.reuseLine(number(a.substr(7)));
        } else if (a.starts_with("keys:")) {
            const auto colon = a.find(':', 5);
            std::string keys(a.substr(colon + 1));
            std::replace(keys.begin(), keys.end(), '_', ' ');
            for (std::uint64_t i = number(a.substr(5, colon - 5)); i > 0; --i) {
                act(keys);
            }
        } else {
            session.press(*keyFromCaption(a));
        }
    }
};

// The display that replaying `keys` (the replay tool's input) ends on.
std::string replayed(const std::string& keys) {
    Replay replay(false);
    std::string out, error;
    std::size_t start = 0;
    for (std::size_t end; (end = keys.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string_view line(keys.data() + start, end - start);
        if (line != KeyLog::kCutLine) {
            EXPECT_TRUE(replay.feed(line, out, error)) << error;
        }
    }
    const auto bar = out.rfind('|', out.size() - 2);
    const auto open = out.rfind('|', bar - 1);
    return out.empty() ? "0." : out.substr(open + 1, bar - open - 1);
}

class RandomSession : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomSession, UndoAndRedoGiveBackExactlyWhatWasThere) {
    std::mt19937 rng(GetParam());
    std::uniform_int_distribution<int> anyKey(0, kKeyCount - 1);
    std::uniform_int_distribution<int> action(0, 9);
    Calc calc;
    std::vector<Seen> history{calc.seen()}; // before each step still done
    std::vector<Seen> future;               // after each step undone
    for (int i = 0; i < 60'000; ++i) {
        const int a = action(rng);
        SCOPED_TRACE("action " + std::to_string(i));
        if (a == 0 && calc.session.canUndo()) {
            future.push_back(calc.seen());
            calc.session.undo();
            history.pop_back();
            ASSERT_EQ(calc.seen(), history.back());
        } else if (a == 1 && calc.session.canRedo()) {
            calc.session.redo();
            ASSERT_EQ(calc.surface.takeWarnings(), 0) << "a redo shows no warning again";
            ASSERT_EQ(calc.seen(), future.back());
            history.push_back(future.back());
            future.pop_back();
        } else {
            std::vector<Key> keys(a == 2 ? 4 : 1);
            for (Key& key : keys) {
                key = static_cast<Key>(anyKey(rng));
            }
            try {
                if (keys.size() > 1) {
                    calc.session.paste(keys);
                } else {
                    calc.session.press(keys[0]);
                }
                history.push_back(calc.seen());
                future.clear();
            } catch (const EngineError&) {
                ASSERT_EQ(calc.seen(), history.back()) << "a failed step leaves no trace";
            }
            calc.surface.takeWarnings();
        }
        ASSERT_EQ(calc.session.canUndo(), history.size() > 1);
        ASSERT_EQ(calc.session.canRedo(), !future.empty());
        if (i % 5'000 == 0) {
            ASSERT_EQ(replayed(calc.session.log().text()), calc.surface.display());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSession, ::testing::Values(1u, 7u, 2026u));

TEST(KeyLog, CopiedKeysReplayToTheSameFieldsWhateverWasDropped) {
    std::mt19937 rng(3);
    std::discrete_distribution<int> pick(
        {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0.3, 0.5});
    StandardSurface surface;
    Engine engine(surface);
    engine.Form_Load();
    KeyLog log(300);
    int whole = 0;
    int cut = 0;
    for (int i = 0; i < 20'000; ++i) {
        const Key key = static_cast<Key>(pick(rng));
        try {
            press(engine, key);
            log.record(key);
        } catch (const EngineError&) {
        }
        if (i % 13 != 0) {
            continue;
        }
        // Cut short, the copy says so; it still reaches the display from a "C".
        const std::string text = log.text();
        const bool isWhole = !text.starts_with(KeyLog::kCutLine);
        std::size_t at = isWhole ? 0 : KeyLog::kCutLine.size() + 1;
        const bool fromClear = text.compare(at, 2, "C\n") == 0;
        StandardSurface replaySurface;
        Engine replay(replaySurface);
        replay.Form_Load();
        for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            try {
                press(replay, *keyFromCaption(std::string_view(text).substr(at, end - at)));
            } catch (const EngineError&) {
            }
        }
        if (isWhole || fromClear) {
            ASSERT_EQ(replaySurface.display(), surface.display()) << "key " << i;
        }
        if (isWhole) {
            ++whole;
            ASSERT_EQ(describe(replay.state()), describe(engine.state())) << "key " << i;
        } else {
            ++cut;
        }
    }
    EXPECT_GT(whole, 0);
    EXPECT_GT(cut, 0);
}

TEST(Tape, KeepsTheLastLinesAndUndoBringsBackWhatWasPushedOut) {
    Calc calc;
    calc.act("1 + keys:10025:1_+");
    const Tape& tape = calc.session.engine().tape();
    ASSERT_EQ(tape.size(), Tape::kCapacity);
    EXPECT_EQ(tape.at(tape.first()), "26 + 1 = 27");
    EXPECT_EQ(tape.back(), "10025 + 1 = 10026");
    calc.act("keys:50:undo");
    EXPECT_EQ(tape.size(), Tape::kCapacity);
    EXPECT_EQ(tape.at(tape.first()), "1 + 1 = 2");
    EXPECT_EQ(tape.back(), "10000 + 1 = 10001");
}

// The tape after actions: what was cleared or deleted stays gone through
// undo and redo; what undo took back and a new key replaced is new.
struct TapeRow {
    const char* name;
    const char* actions;
    const char* tape;
};

class TapeAfter : public ::testing::TestWithParam<TapeRow> {};
TEST_P(TapeAfter, Actions) {
    Calc calc;
    calc.act(GetParam().actions);
    EXPECT_EQ(calc.session.engine().tape().text(), GetParam().tape);
}

INSTANTIATE_TEST_SUITE_P(
    Session, TapeAfter,
    ::testing::Values(
        TapeRow{"UndoTakesLinesBack", "1 + 2 = + 3 = undo", "1 + 2 = 3\n"},
        TapeRow{"RedoBringsThemBack", "1 + 2 = + 3 = undo redo", "1 + 2 = 3\n3 + 3 = 6\n"},
        TapeRow{"ClearedStayGoneThroughUndoAndRedo",
                "1 + 2 = + 3 = clear undo undo undo redo redo redo", ""},
        TapeRow{"LinesAfterClearComeBack", "1 + 2 = clear + 3 = undo undo undo redo redo redo",
                "3 + 3 = 6\n"},
        TapeRow{"NewKeysAfterUndoBelowClearAreShown",
                "1 + 2 = + 3 = clear undo undo undo undo X 4 = undo redo",
                "1 + 2 = 3\n3 X 4 = 12\n"},
        TapeRow{"ClearedStayGoneAfterAFailedKey", "1 + 2 x^2 = clear undo 5 redo", ""},
        TapeRow{"ErasedStayGone", "1 + 2 = + 3 = erase:0 undo undo redo redo", "3 + 3 = 6\n"},
        TapeRow{"ErasedNumberReusedByANewKey",
                "1 + 2 = erase:0 undo undo 4 + 5 = undo undo undo redo redo redo",
                "1 + 4 = 5\n5 + 5 = 10\n"},
        TapeRow{"PasteIsOneStep", "1 + paste:2.5 = undo undo", ""},
        TapeRow{"ClearIsNotAStep", "1 + 2 = clear undo", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Undo reaches back kDepth steps, fewer only once the snapshots pass the
// budget: displays tens of thousands of digits long.
struct DepthRow {
    const char* name;
    const char* actions;
    std::size_t minUndos, maxUndos;
};

class UndoDepth : public ::testing::TestWithParam<DepthRow> {};
TEST_P(UndoDepth, Reaches) {
    Calc calc;
    calc.act(GetParam().actions);
    std::size_t undos = 0, bytes = 0;
    for (; calc.session.canUndo(); ++undos) {
        calc.session.undo();
        bytes += calc.surface.display().size();
    }
    EXPECT_GE(undos, GetParam().minUndos);
    EXPECT_LE(undos, GetParam().maxUndos);
    EXPECT_LE(bytes, Session::kBudget);
}

// 40,000 digits after a point: the last steps' snapshots hold 40 to 80 kB
// (a string's room grows by doubling), so the budget keeps 400 to 800 of them.
INSTANTIATE_TEST_SUITE_P(Session, UndoDepth,
                         ::testing::Values(DepthRow{"ShortKeys", "keys:1200:1", 1'000, 1'000},
                                           DepthRow{"LongDisplays", ". keys:40000:1", 380, 900}),
                         [](const auto& info) { return std::string(info.param.name); });

// Everything a step can change, the undo history and the key log included.
std::string everything(Calc& calc) {
    const Tape& tape = calc.session.engine().tape();
    std::string out = describe(calc.session.engine().state()) + "|" + calc.surface.display() + "|" +
                      std::to_string(tape.first()) + "-" + std::to_string(tape.end()) + "|" +
                      tape.text() + "|" + calc.session.log().text() + "|" +
                      (calc.session.canRedo() ? "redo" : "");
    return out;
}
std::string history(Calc& calc) {
    std::string out;
    while (calc.session.canUndo()) {
        calc.session.undo();
        out +=
            calc.surface.display() + "," + std::to_string(calc.session.engine().tape().end()) + ";";
    }
    return out;
}

struct StepRow {
    const char* name;
    const char* before; // actions that lead to where the step starts
    const char* step;
};

class AtomicStep : public ::testing::TestWithParam<StepRow> {};
TEST_P(AtomicStep, EveryAllocationFailingLeavesNoTrace) {
    const StepRow& row = GetParam();
    Calc reference;
    reference.act(row.before);
    const std::string want = everything(reference);
    const std::string wantHistory = history(reference);
    for (long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        Calc calc;
        calc.act(row.before);
        allocations = 0;
        failAt = n;
        bool failed = false;
        try {
            calc.one(row.step);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        failAt = -1;
        if (!failed) {
            ASSERT_GT(n, 0) << "the step allocates nothing: the row tests nothing";
            break;
        }
        ASSERT_EQ(everything(calc), want);
        ASSERT_EQ(history(calc), wantHistory);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Session, AtomicStep,
    ::testing::Values(
        StepRow{"KeyWritingALine", "keys:20:1 + 2", "="},
        StepRow{"KeyWithTheUndoRingFull", "keys:1001:1 +", "="},
        StepRow{"KeyWithTheKeyLogFull", "keys:50001:1_CE 1 + 2", "="},
        StepRow{"KeyWithTheTapeFull", "1 + keys:11001:1_+ 2", "="},
        StepRow{"Paste", "1 +", "paste:23.5"},
        StepRow{"PasteWithTheUndoRingFull", "keys:1001:1 +", "paste:23.5"},
        StepRow{"Undo", "keys:20:1 + 2 = X 3 =", "undo"},
        StepRow{"Redo", "keys:20:1 + 2 = X 3 = undo undo", "redo"},
        StepRow{"RedoWithTheUndoRingFull", "keys:1001:1 + 2 = undo", "redo"},
        StepRow{"RedoOfAPaste", "keys:20:1 + paste:23.5 undo", "redo"},
        StepRow{"EraseLine", "1 + 2 = X 3 =", "erase:1"}, StepRow{"Reuse", "2 - 7 =", "use:-5"},
        StepRow{"ReuseWithTheUndoRingFull", "keys:1001:1 +", "use:1.5E+20"},
        StepRow{"ReuseWithTheKeyLogFull", "use:2 keys:50001:1_CE 1 +", "use:-1234567890123456789"},
        StepRow{"RedoOfAReuse", "keys:20:1 + use:0.25 undo", "redo"},
        StepRow{"FollowALine", "1 + 2 =", "follow:0"},
        StepRow{"CorrectThroughAFollowedReuse", "1 + 2 = follow:0 X 2 =", "correct:0:0:5"},
        StepRow{"Correct", "1 2 + 3 4 = X 5 = - 6 =", "correct:0:0:-123456789.5"},
        StepRow{"CorrectWithTheUndoRingFull", "keys:1001:CE 1 + 2 = X 3 =", "correct:0:1:2"},
        StepRow{"UndoOfACorrection", "1 + 2 = X 3 = correct:0:1:5", "undo"},
        StepRow{"RedoOfACorrection", "1 + 2 = X 3 = correct:0:1:5 undo", "redo"}),
    [](const auto& info) { return std::string(info.param.name); });

// A result reused from the tape shows as its line shows it and acts as a
// result: the next operator takes it as its operand, a digit or the point
// starts a new number. Undo and redo take it back and bring it again, and
// the copied keys replay to the same display and fields.
struct ReuseRow {
    const char* name;
    const char* before;
    const char* result;
    const char* after; // keys after it, and the display they leave
    const char* afterDisplay;
};

class Reuse : public ::testing::TestWithParam<ReuseRow> {};
TEST_P(Reuse, ShowsTheResultAsWritten) {
    const ReuseRow& row = GetParam();
    Calc calc;
    calc.act(row.before);
    const std::string before = everything(calc);
    ASSERT_TRUE(calc.session.reuse(row.result));
    const std::string reused = everything(calc);
    EXPECT_EQ(calc.surface.display(), row.result);
    calc.session.undo();
    EXPECT_EQ(everything(calc), before + "redo");
    calc.session.redo();
    EXPECT_EQ(everything(calc), reused);
    calc.act(row.after);
    EXPECT_EQ(calc.surface.display(), row.afterDisplay);
    // The copied keys, "use" lines included, replay to the same fields.
    const std::string keys = calc.session.log().text();
    Replay replay(true);
    std::string out, error;
    for (std::size_t at = 0, end; (end = keys.find('\n', at)) != std::string::npos; at = end + 1) {
        out.clear();
        ASSERT_TRUE(replay.feed(std::string_view(keys).substr(at, end - at), out, error)) << error;
    }
    EXPECT_NE(keys.find(std::string("use ") + row.result + "\n"), std::string::npos) << keys;
    EXPECT_TRUE(out.ends_with("\t|" + calc.surface.display() + "|\t" +
                              describe(calc.session.engine().state()) + "\n"))
        << out;
}

INSTANTIATE_TEST_SUITE_P(
    Session, Reuse,
    ::testing::Values(ReuseRow{"Negative", "2 - 7 =", "-5", "X 2 =", "-10"},
                      ReuseRow{"DigitStartsANewNumber", "", "-5", "3 + 1 =", "4"},
                      ReuseRow{"PointStartsANewNumber", "", "1.234", ". 5 + 1 =", "1.5"},
                      ReuseRow{"Exponent", "paste:1856231056 x^2", "3.44559373325887E+18",
                               "- 1 =", "3.44559373325887E+18"},
                      ReuseRow{"Huge", "C", "1.5E+300", "X 2 =", "3E+300"},
                      ReuseRow{"SmallExponent", "C", "1.5E-05", "X 1 0 =", "0.00015"},
                      ReuseRow{"OneOperandKey", "", "16", "Sqrt", " 4"},
                      ReuseRow{"AsSecondOperand", "9 -", "0.5", "=", "8.5"},
                      ReuseRow{"ReplacesATypedEntry", "4 4", "7", "+ 1 =", "8"},
                      ReuseRow{"AfterTheMinusSign", "-", "3", "+ 1 =", "4"},
                      ReuseRow{"MinusAfterItSubtracts", "", "7", "- 2 =", "5"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reuse, RefusesWhatTheTapeDoesNotWrite) {
    const std::string tooLong(1001, '1');
    const char* refused[] = {"",       "abc",    "1.",  ".5",     "-0",           " 5",
                             "5 ",     "1,5",    "+5",  "--5",    "5-",           "1.2.3",
                             "0012",   "1.50",   "1E5", "1e+20",  "1E+5",         "1.0E+20",
                             "1E+999", "12E+20", "-",   "1E+20x", tooLong.c_str()};
    for (const char* text : refused) {
        Calc calc;
        calc.act("1 + 2 = 3");
        const std::string before = everything(calc);
        const std::string beforeHistory = history(calc);
        Calc again;
        again.act("1 + 2 = 3");
        EXPECT_FALSE(again.session.reuse(text)) << text;
        EXPECT_EQ(everything(again), before) << text;
        EXPECT_EQ(history(again), beforeHistory) << text;
    }
}

} // namespace
} // namespace quillo

namespace quillo {
namespace {

// A fresh run of copied keys, as quillo-keys makes it.
struct Fresh {
    Replay replay{false};
    const Engine& engine = replay.engine();
    explicit Fresh(const std::string& keys) {
        std::string out, error;
        for (std::size_t at = 0, end; (end = keys.find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::string_view line = std::string_view(keys).substr(at, end - at);
            EXPECT_TRUE(replay.feed(line, out, error)) << error;
            // They ran before: none fails.
            EXPECT_EQ(out.find("error:"), std::string::npos) << out;
            out.clear();
        }
    }
};

// The copied keys, a reused number that follows a line without its value
// or its line's place, which a correction may change.
std::vector<std::string> keyLines(const std::string& keys) {
    std::vector<std::string> out;
    for (std::size_t at = 0, end; (end = keys.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = keys.substr(at, end - at);
        if (const auto link = line.find(" @"); line.starts_with("use ") && link != line.npos) {
            line = "use @";
        }
        out.push_back(std::move(line));
    }
    return out;
}

// Random sessions, random corrections: each one that goes through leaves the
// display, the fields, the tape from the corrected line on and the key log
// exactly as a fresh run of the corrected keys does, and undo and redo give
// back each side exactly; each one refused changes nothing, the undo history
// included (a twin session, never corrected in vain, must end the same).
TEST(Correct, MatchesAFreshRunOfTheCorrectedKeys) {
    std::mt19937 rng(11);
    std::discrete_distribution<int> pick(
        {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 1.5, 1, 1.5, 1.5, 2, 2, 0.3, 0.5, 0.3, 0.3, 0.3, 0.2, 0.2});
    std::map<int, int> outcomes;
    for (int session = 0; session < 2'000; ++session) {
        SCOPED_TRACE("session " + std::to_string(session));
        Calc calc, twin;
        const bool clears = session % 4 == 0;
        const int length = std::uniform_int_distribution<int>(20, 600)(rng);
        for (int i = 0; i < length; ++i) {
            std::string action;
            const int r = std::uniform_int_distribution<int>(0, 99)(rng);
            const Tape& tape = calc.session.engine().tape();
            if (r < 3) {
                action = "undo";
            } else if (r < 5) {
                action = "redo";
            } else if (r < 7) {
                action = "paste:" + std::to_string(rng() % 1000) + ".5";
            } else if (r < 9 && !tape.empty()) {
                const std::string& line = tape.back();
                action = rng() % 2 ? "follow:" + std::to_string(tape.end() - 1 - rng() % 4)
                                   : "use:" + line.substr(line.rfind(' ') + 1);
            } else if (r < 10 && clears) {
                action = rng() % 2 ? "clear" : "erase:" + std::to_string(tape.end() - 1);
            } else {
                action = std::string(caption(static_cast<Key>(pick(rng))));
            }
            calc.act(action);
            twin.act(action);
        }
        for (int tries = 0; tries < 12; ++tries) {
            const Tape& tape = calc.session.engine().tape();
            if (tape.empty()) {
                break;
            }
            const std::uint64_t line = tape.first() + rng() % tape.size();
            const std::vector<LineNumber> numbers = calc.session.numbers(line);
            if (numbers.empty()) {
                continue;
            }
            const std::size_t index = rng() % numbers.size();
            std::string text = rng() % 4 == 0 ? "-" : "";
            for (int d = 1 + static_cast<int>(rng() % 4); d > 0; --d) {
                text += static_cast<char>('0' + rng() % (rng() % 3 == 0 ? 1 : 10));
            }
            if (rng() % 3 == 0) {
                text += "." + std::to_string(rng() % 100);
            }
            SCOPED_TRACE("line " + std::to_string(line) + " number " + std::to_string(index) +
                         " as " + text);
            const std::string before = everything(calc);
            const std::vector<std::string> keysBefore = keyLines(calc.session.log().text());
            const Session::Preview preview = calc.session.preview(line, index, text);
            ASSERT_EQ(everything(calc), before) << "a preview changes nothing";
            try {
                calc.session.correct(line, index, text);
            } catch (const CorrectionRefused& e) {
                ++outcomes[static_cast<int>(e.refusal().why)];
                ASSERT_FALSE(numbers[index].correctable &&
                             (e.refusal().why == Refusal::Why::NotCorrectable ||
                              e.refusal().why == Refusal::Why::AcrossClear));
                ASSERT_TRUE(preview.refused);
                ASSERT_EQ(preview.refused->why, e.refusal().why);
                ASSERT_EQ(everything(calc), before);
                continue;
            }
            ++outcomes[-1];
            ASSERT_TRUE(numbers[index].correctable);
            ASSERT_FALSE(preview.refused);
            ASSERT_EQ(calc.surface.takeWarnings(), 0) << "warnings replay silently";
            ASSERT_EQ(preview.display, calc.surface.display());
            // The keys: the old ones with one run of a typed entry replaced
            // by the keys that type the text.
            const std::vector<std::string> keys = keyLines(calc.session.log().text());
            std::vector<std::string> typed;
            for (const char c : text) {
                typed.push_back(std::string(1, c == '.' ? '.' : c));
            }
            std::size_t head = 0;
            while (head < keys.size() && head < keysBefore.size() &&
                   keys[head] == keysBefore[head]) {
                ++head;
            }
            head = std::min(head, keysBefore.size() - 1);
            std::size_t found = keysBefore.size();
            for (std::size_t start = head + 1; start-- > 0;) {
                if (start + typed.size() > keys.size()) {
                    continue;
                }
                const std::size_t tail = keys.size() - start - typed.size();
                if (tail > keysBefore.size() - start) {
                    continue;
                }
                if (std::equal(keys.begin(), keys.begin() + static_cast<long>(start),
                               keysBefore.begin()) &&
                    std::equal(typed.begin(), typed.end(),
                               keys.begin() + static_cast<long>(start)) &&
                    std::equal(keys.end() - static_cast<long>(tail), keys.end(),
                               keysBefore.end() - static_cast<long>(tail))) {
                    found = start;
                    break;
                }
            }
            ASSERT_NE(found, keysBefore.size()) << "the keys are the old ones, one number retyped";
            // The number on its line is the one typed now.
            const std::vector<LineNumber> now = calc.session.numbers(line);
            ASSERT_GT(now.size(), index); // a zero divisor corrected adds the result
            {
                Fresh typing(std::string(text.starts_with('-') ? "-\n" : "") + [&] {
                    std::string k;
                    for (char c : text.substr(text.starts_with('-') ? 1 : 0)) {
                        k += c;
                        k += '\n';
                    }
                    return k;
                }());
                ASSERT_EQ(tape.at(line).substr(now[index].offset, now[index].length),
                          copyText(typing.engine.display()));
            }
            // A fresh run of the corrected keys.
            Fresh fresh(calc.session.log().text());
            ASSERT_EQ(describe(fresh.engine.state()), describe(calc.session.engine().state()));
            ASSERT_EQ(fresh.engine.display(), calc.surface.display());
            const Tape& freshTape = fresh.engine.tape();
            ASSERT_GE(freshTape.size(), tape.end() - line);
            for (std::uint64_t n = line; n < tape.end(); ++n) {
                const std::uint64_t theirs = freshTape.end() - (tape.end() - n);
                ASSERT_EQ(tape.at(n), freshTape.at(theirs)) << "tape line " << n;
                ASSERT_TRUE(tape.info(n) == freshTape.info(theirs)) << "the keys of line " << n;
            }
            if (!clears) {
                ASSERT_EQ(tape.text(), freshTape.text());
            }
            const std::string after = everything(calc);
            calc.session.undo();
            const bool couldRedo = before.ends_with("redo");
            ASSERT_EQ(everything(calc),
                      before.substr(0, before.size() - (couldRedo ? 4 : 0)) + "redo");
            calc.session.redo();
            ASSERT_EQ(everything(calc), after);
            twin.session.correct(line, index, text);
            ASSERT_EQ(everything(twin), after);
        }
        ASSERT_EQ(everything(calc), everything(twin));
        ASSERT_EQ(history(calc), history(twin));
    }
    EXPECT_GT(outcomes[-1], 500);
    EXPECT_GT(outcomes[static_cast<int>(Refusal::Why::KeyFails)], 0);
    EXPECT_GT(outcomes[static_cast<int>(Refusal::Why::DivideByZero)], 0);
    EXPECT_GT(outcomes[static_cast<int>(Refusal::Why::MinusHere)], 0);
    EXPECT_GT(outcomes[static_cast<int>(Refusal::Why::AcrossClear)], 0);
}

// Refusal::Why in its order of declaration.
const char* whyName(Refusal::Why why) {
    constexpr const char* kNames[] = {"fails",   "zero",   "not a number", "minus",
                                      "too old", "across", "computed",     "too long"};
    return kNames[static_cast<int>(why)];
}

// Every number the user typed, pasted or put back can be corrected wherever
// its line stands; one that cannot says why truly.
struct NumbersRow {
    const char* name;
    const char* actions;
    std::uint64_t line;
    // Each as its line has it, then "yes" or why not; a reused one adds
    // "@" and the line it follows, or "@fixed".
    const char* numbers;
};
class Numbers : public ::testing::TestWithParam<NumbersRow> {};
TEST_P(Numbers, OfALine) {
    Calc calc;
    calc.act(GetParam().actions);
    const std::string& text = calc.session.engine().tape().at(GetParam().line);
    std::string got;
    for (const LineNumber& n : calc.session.numbers(GetParam().line)) {
        got += (got.empty() ? "" : " ") + text.substr(n.offset, n.length) + ":" +
               (n.correctable ? "yes" : whyName(n.why));
        if (n.reused) {
            got += n.follows ? "@" + std::to_string(*n.follows) : "@fixed";
        }
    }
    EXPECT_EQ(got, GetParam().numbers) << text;
}
INSTANTIATE_TEST_SUITE_P(
    Session, Numbers,
    ::testing::Values(
        NumbersRow{"AfterEquals", "5 + 3 = 2 + 1 =", 1, "2:yes"},
        NumbersRow{"AfterEqualsOnTheNextLine", "5 + 3 = 2 + 1 =", 2, "2:yes 1:yes 3:computed"},
        NumbersRow{"AfterEqualsAndCE", "5 + 3 = CE 2 + 1 =", 2, "2:yes 1:yes 3:computed"},
        NumbersRow{"PercentOnce", "1 5 %", 0, "15:yes 1500:computed"},
        NumbersRow{"Pasted", "paste:12 + 3 =", 0, "12:yes 3:yes 15:computed"},
        NumbersRow{"Reused", "2 - 7 = use:-5 + 1 =", 2, "-5:yes@fixed 1:yes -4:computed"},
        NumbersRow{"Followed", "1 2 + 3 = follow:0 + 5 =", 2, "15:yes@0 5:yes 20:computed"},
        NumbersRow{"FollowedLineDeleted", "1 2 + 3 = 4 = follow:0 + 5 = erase:0", 3,
                   "15:yes@fixed 5:yes 20:computed"},
        NumbersRow{"RedoneAfterItsLineWasDeleted", "1 2 + 3 = 4 = follow:0 undo erase:0 redo + 5 =",
                   3, "15:yes@fixed 5:yes 20:computed"},
        NumbersRow{"FollowedLineCleared", "1 2 + 3 = follow:0 clear + 5 =", 2,
                   "15:across@fixed 5:yes 20:computed"},
        NumbersRow{"LineOlderThanTheKeys", "1 + 2 = keys:100000:CE follow:0 + 1 =", 2,
                   "3:yes@fixed 1:yes 4:computed"},
        NumbersRow{"ComputedOperand", "2 x^2 + 1 =", 1, "4:computed 1:yes 5:computed"},
        NumbersRow{"BeforeADelete", "1 + 2 = X 3 = erase:1", 0, "1:across 2:across 3:computed"},
        NumbersRow{"AfterADelete", "1 + 2 = X 3 = erase:0", 1, "3:computed 3:yes 9:computed"},
        NumbersRow{"KeysOutOfTheLog", "1 + keys:100000:CE 2 =", 0, "1:too old 2:yes 3:computed"}),
    [](const auto& info) { return std::string(info.param.name); });

// The tape with each corrected number followed by {what it was}.
std::string marked(const Session& session) {
    const Tape& tape = session.engine().tape();
    std::string out;
    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
        if (!tape.shown(n)) {
            continue;
        }
        std::string line = tape.at(n);
        const std::vector<LineNumber> numbers = session.numbers(n);
        for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
            if (!it->was.empty()) {
                line.insert(it->offset + it->length, "{" + it->was + "}");
            }
        }
        out += line + "\n";
    }
    return out;
}

// A correction as one table: what the tape and its marks become, or why it
// is refused with nothing changed.
struct CorrectRow {
    const char* name;
    const char* actions;
    std::uint64_t line;
    std::size_t index;
    std::string text;
    const char* result; // the marked tape after it, or why it is refused
};
class Correction : public ::testing::TestWithParam<CorrectRow> {};
TEST_P(Correction, Rows) {
    const CorrectRow& row = GetParam();
    Calc calc;
    calc.act(row.actions);
    const std::string before = everything(calc);
    try {
        calc.session.correct(row.line, row.index, row.text);
    } catch (const CorrectionRefused& e) {
        EXPECT_EQ(whyName(e.refusal().why), std::string_view(row.result));
        EXPECT_EQ(everything(calc), before);
        return;
    }
    EXPECT_EQ(calc.surface.takeWarnings(), 0) << "warnings that were there replay silently";
    EXPECT_EQ(marked(calc.session), row.result);
}
INSTANTIATE_TEST_SUITE_P(
    Session, Correction,
    ::testing::Values(
        CorrectRow{"AfterEquals", "5 + 3 = 2 + 1 =", 1, 0, "4",
                   "5 + 3 = 8\n= 4{2}\n4{2} + 1 = 5\n"},
        CorrectRow{"AfterEqualsOnTheNextLine", "5 + 3 = CE 2 + 1 =", 2, 0, "4",
                   "5 + 3 = 8\n= 4{2}\n4{2} + 1 = 5\n"},
        CorrectRow{"PercentOnce", "1 5 %", 0, 0, "20", "20{15} % = 20 X 100 = 2000\n"},
        CorrectRow{"MarksMoveWithTheirKeys", "1 + 2 = X 3 = correct:1:1:5", 0, 0, "100",
                   "100{1} + 2 = 102\n102 X 5{3} = 510\n"},
        CorrectRow{"ZeroDivisorAlreadyThere", "1 + 2 = 8 / 0 =", 0, 0, "5",
                   "5{1} + 2 = 7\n= 8\n8 / 0: Can't divide by zero\n"},
        CorrectRow{"ZeroDivisorNew", "1 + 2 = X 3 = 8 / 9 =", 3, 1, "0", "zero"},
        CorrectRow{"TooLong", "1 + 2 =", 0, 0, std::string(1001, '1'), "too long"},
        CorrectRow{"LongestTaken", "1 + 2 =", 0, 0, "0." + std::string(998, '0'), "0{1} + 2 = 2\n"},
        CorrectRow{"NotANumber", "1 + 2 =", 0, 0, "1e5", "not a number"},
        CorrectRow{"Computed", "1 + 2 =", 0, 2, "5", "computed"},
        CorrectRow{"BeforeADelete", "1 + 2 = X 3 = erase:1", 0, 0, "5", "across"},
        CorrectRow{"AfterADelete", "1 + 2 = X 3 = erase:0", 1, 1, "4", "3 X 4{3} = 12\n"},
        CorrectRow{"FollowedReuse", "1 2 + 3 = 7 = X 2 = follow:0 = + 5 =", 0, 0, "2",
                   "2{12} + 3 = 5\n= 7\n7 X 2 = 14\n= 5\n5 + 5 = 10\n"},
        CorrectRow{"FollowedThroughAChain", "1 + 2 = follow:0 X 2 = follow:2 + 1 =", 0, 0, "5",
                   "5{1} + 2 = 7\n= 7\n7 X 2 = 14\n= 14\n14 + 1 = 15\n"},
        CorrectRow{"FixedReuseStays", "1 + 2 = use:3 X 2 =", 0, 0, "5",
                   "5{1} + 2 = 7\n= 3\n3 X 2 = 6\n"},
        CorrectRow{"FollowedPastWhereTheRunsMeet", "1 + 2 = keys:300:C follow:0 X 2 =", 0, 0, "5",
                   "5{1} + 2 = 7\n--------\n7 X 2 = 14\n"},
        CorrectRow{"KeyFailsThroughAFollowedReuse", "9 - 1 = follow:0 Sqrt", 0, 0, "0", "fails"},
        CorrectRow{"ZeroDivisorThroughAFollowedReuse", "5 - 3 = 8 / follow:0 =", 0, 0, "3",
                   "zero"}),
    [](const auto& info) { return std::string(info.param.name); });

// Copy keys names the line a reused number follows, and replays to the
// window's tape; a line cleared or deleted leaves the number as it is.
struct LinkRow {
    const char* name;
    const char* actions;
    const char* keys; // Copy keys
};
class CopiedLinks : public ::testing::TestWithParam<LinkRow> {};
TEST_P(CopiedLinks, ReplayToTheSameTape) {
    const LinkRow& row = GetParam();
    Calc calc;
    calc.act(row.actions);
    const std::string keys = calc.session.log().text();
    EXPECT_EQ(keys, row.keys);
    const Fresh fresh(keys);
    EXPECT_EQ(fresh.engine.display(), calc.surface.display());
    if (std::string_view(row.actions).find("erase") == std::string_view::npos) {
        EXPECT_EQ(fresh.engine.tape().text(), calc.session.engine().tape().text());
    }
}
INSTANTIATE_TEST_SUITE_P(
    Session, CopiedLinks,
    ::testing::Values(
        LinkRow{"Followed", "1 2 + 3 = follow:0 + 5 =", "1\n2\n+\n3\n=\nuse 15 @5\n+\n5\n=\n"},
        LinkRow{"Chained", "1 + 2 = follow:0 X 2 = follow:2 =",
                "1\n+\n2\n=\nuse 3 @4\nX\n2\n=\nuse 6 @8\n=\n"},
        LinkRow{"Fixed", "1 + 2 = use:3 X 2 =", "1\n+\n2\n=\nuse 3\nX\n2\n=\n"},
        LinkRow{"SourceDeleted", "1 + 2 = follow:0 X 2 = erase:0", "1\n+\n2\n=\nuse 3\nX\n2\n=\n"},
        LinkRow{"RedoneAfterItsSourceWasDeleted",
                "1 + 2 = follow:0 undo erase:0 redo X 2 =", "1\n+\n2\n=\nuse 3\nX\n2\n=\n"},
        LinkRow{"SourceCorrected", "1 2 + 3 = follow:0 + 5 = correct:0:0:2",
                "2\n+\n3\n=\nuse 5 @4\n+\n5\n=\n"},
        LinkRow{"CorrectionRedone", "1 2 + 3 = follow:0 + 5 = correct:0:0:2 undo redo",
                "2\n+\n3\n=\nuse 5 @4\n+\n5\n=\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillo
