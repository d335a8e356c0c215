// SPDX-License-Identifier: MIT
// Golden files: key sequences beside the replay output they must give,
// seven fields or tape lines included. A change in any display, field or
// tape line shows up here.

#include "replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace quillo {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct GoldenFile {
    const char* name;
    bool tape; // shows the tape's lines rather than the seven fields
};

constexpr GoldenFile kFiles[] = {{"entry", false},     {"errors", false}, {"one_operand", false},
                                 {"operators", false}, {"powers", false}, {"tape", true}};

class GoldenFiles : public ::testing::TestWithParam<GoldenFile> {};

TEST_P(GoldenFiles, ReplayMatchesExpectedOutput) {
    const std::filesystem::path keysPath =
        std::filesystem::path(QUILLO_GOLDEN_DIR) / (std::string(GetParam().name) + ".keys");
    auto expectedPath = keysPath;
    expectedPath.replace_extension(".expected");
    ASSERT_TRUE(std::filesystem::exists(keysPath));
    ASSERT_TRUE(std::filesystem::exists(expectedPath));

    Replay replay(!GetParam().tape, GetParam().tape);
    std::istringstream keys(slurp(keysPath));
    std::string line, out, error;
    while (std::getline(keys, line)) {
        ASSERT_TRUE(replay.feed(line, out, error)) << error;
    }
    std::istringstream got(out), want(slurp(expectedPath));
    std::string g, w;
    for (int n = 1; std::getline(want, w); ++n) {
        ASSERT_TRUE(std::getline(got, g)) << "output ends before line " << n;
        EXPECT_EQ(g, w) << "line " << n;
    }
    EXPECT_FALSE(std::getline(got, g)) << "extra output: " << g;
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// A key file left out of the table above would never be checked.
TEST(Golden, EveryKeyFileIsInTheTable) {
    for (const auto& entry : std::filesystem::directory_iterator(QUILLO_GOLDEN_DIR)) {
        if (entry.path().extension() == ".keys") {
            const std::string stem = entry.path().stem().string();
            EXPECT_TRUE(std::any_of(std::begin(kFiles), std::end(kFiles), [&](const GoldenFile& f) {
                return stem == f.name;
            })) << stem;
        }
    }
}

TEST(Golden, UnknownCaptionsAndBlankLines) {
    Replay replay(false);
    std::string out, error;
    EXPECT_TRUE(replay.feed("   ", out, error));
    EXPECT_TRUE(replay.feed("\t7 \r", out, error));
    EXPECT_EQ(out, "7\t|7.|\n");
    EXPECT_FALSE(replay.feed("x", out, error));
    EXPECT_NE(error.find("'x'"), std::string::npos);
    EXPECT_FALSE(replay.feed(std::string("\x01\xff", 2), out, error));
    EXPECT_EQ(error.find('\xff'), std::string::npos) << "message stays printable";
    EXPECT_FALSE(replay.feed("sqrt", out, error)) << "captions are case-sensitive";
}

} // namespace
} // namespace quillo
