// SPDX-License-Identifier: MIT
// Long random key sequences with fixed seeds: whatever is pressed, the engine
// never fails other than by its typed errors, a key that raises one changes
// nothing, and the fields hold only what the engine can produce.

#include "invariants.h"
#include "sequence.h"

#include <gtest/gtest.h>

#include <random>

namespace quillo::test {
namespace {

class RandomKeys : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomKeys, InvariantsHoldAfterEveryKey) {
    std::mt19937 rng(GetParam());
    // Digits twice as often as the rest, so that long numbers get typed too;
    // "C" rarely, so that long chains and the percent lock build up.
    std::discrete_distribution<int> pick({2, 2, 2, 2, 2,   2,  2, 2, 2, 2, // digits
                                          1, 1, 1, 1, 1,   1,  1,          // . and operators
                                          1, 1, 1, 1, 0.1, 0.5});
    Calc calc;
    int errors = 0;
    for (int i = 0; i < 200'000; ++i) {
        const State before = calc.state();
        const std::string displayBefore = calc.surface.display();
        const Key key = static_cast<Key>(pick(rng));
        std::optional<ErrorKind> error;
        try {
            press(calc.engine, key);
        } catch (const EngineError& e) {
            error = e.kind();
        }
        calc.surface.takeWarnings();
        if (error) {
            ++errors;
            ASSERT_EQ(calc.state(), before) << "key " << i;
            ASSERT_EQ(calc.surface.display(), displayBefore) << "key " << i;
        }
        const std::string problem = violation(calc.state(), calc.surface.display());
        ASSERT_EQ(problem, "") << "after key " << i << " '" << caption(key) << "'";
    }
    EXPECT_GT(errors, 0); // the sequences do reach the error paths
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomKeys, ::testing::Values(1u, 2u, 3u, 42u, 2026u));

TEST(Invariants, RecogniseWhatTheEngineWrites) {
    const char* good[] = {"0.",      "-0.",  "-",     "12.5", " 9",   "- 0",
                          " 1E+405", "-.25", "1E-05", "00.",  " 15.", "-4."};
    const char* bad[] = {"", "--1", "1.2.3", "abc", " -1", "1E5", "1E+", "+1"};
    for (const char* d : good) {
        EXPECT_TRUE(writableDisplay(d)) << d;
    }
    for (const char* d : bad) {
        EXPECT_FALSE(writableDisplay(d)) << d;
    }
}

} // namespace
} // namespace quillo::test
