// SPDX-License-Identifier: MIT
// Undo, redo and the key log over long random sessions: an undo gives back
// exactly what was there before the step, a redo exactly what was there
// after it, and the copied keys replay to the display shown.

#include "errors.h"
#include "replay.h"
#include "session.h"

#include <gtest/gtest.h>

#include <random>

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
    Calc() { session.engine().Form_Load(); }

    Seen seen() const {
        const Tape& tape = session.engine().tape();
        return {session.engine().state(), surface.display(), tape.end(),
                tape.empty() ? "" : tape.back(), session.log().size()};
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
            const bool paste = a == 2;
            if (paste) {
                calc.session.beginStep();
            }
            bool any = false;
            for (int k = 0; k < (paste ? 4 : 1); ++k) {
                try {
                    calc.session.press(static_cast<Key>(anyKey(rng)));
                    any = true;
                } catch (const EngineError&) {
                }
            }
            if (paste) {
                calc.session.endStep();
            }
            calc.surface.takeWarnings();
            if (any) {
                history.push_back(calc.seen());
                future.clear();
                ASSERT_FALSE(calc.session.canRedo()) << "a new key drops what could be redone";
            }
        }
        ASSERT_EQ(calc.session.canUndo(), history.size() > 1);
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
    StandardSurface surface;
    Session session(surface);
    session.engine().Form_Load();
    for (Key k : {Key::D1, Key::Plus}) {
        session.press(k);
    }
    for (std::size_t i = 0; i < Tape::kCapacity + 25; ++i) {
        session.press(Key::D1);
        session.press(Key::Plus); // 1 + 1 = 2, 2 + 1 = 3, ...
    }
    const Tape& tape = session.engine().tape();
    ASSERT_EQ(tape.size(), Tape::kCapacity);
    EXPECT_EQ(tape.line(0), "26 + 1 = 27");
    EXPECT_EQ(tape.back(), "10025 + 1 = 10026");
    for (int i = 0; i < 2 * 25; ++i) {
        session.undo();
    }
    EXPECT_EQ(tape.size(), Tape::kCapacity);
    EXPECT_EQ(tape.line(0), "1 + 1 = 2");
    EXPECT_EQ(tape.back(), "10000 + 1 = 10001");
}

} // namespace
} // namespace quillo
