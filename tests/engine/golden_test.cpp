// SPDX-License-Identifier: MIT
// Golden files: key sequences beside the replay output they must give,
// seven fields or tape lines included. A change in any display, field or
// tape line shows up here.

#include "replay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillo {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Golden, ReplayMatchesExpectedOutput) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLO_GOLDEN_DIR)) {
        if (entry.path().extension() != ".keys") {
            continue;
        }
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        auto expectedPath = entry.path();
        expectedPath.replace_extension(".expected");
        ASSERT_TRUE(std::filesystem::exists(expectedPath));

        // tape.keys shows the tape's lines; the others the seven fields.
        const bool tape = entry.path().stem() == "tape";
        Replay replay(!tape, tape);
        std::istringstream keys(slurp(entry.path()));
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
    EXPECT_GE(files, 5);
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
