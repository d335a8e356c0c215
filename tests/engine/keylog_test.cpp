// SPDX-License-Identifier: MIT
#include "keylog.h"

#include <gtest/gtest.h>

#include <string>

namespace quillo {
namespace {

struct CutRow {
    std::size_t capacity;
    std::string keys; // captions, one a line
    std::string copied;
};

TEST(KeyLog, CopyCutShortStartsWhereTheReplayKnowsTheFields) {
    const std::string cut = std::string(KeyLog::kCutLine) + "\n";
    const CutRow rows[] = {
        // From the "C" before the last operator key, not the last "C".
        {7, "9\nC\n5\n+\n3\n=\nC\n7\n", "C\n5\n+\n3\n=\nC\n7\n"},
        {5, "1\n+\n2\nC\n3\nx^y\n2\n", "C\n3\nx^y\n2\n"},
        // No operator key after a "C": said so, and from the last "C".
        {4, "5\n+\n3\nC\n7\n", cut + "C\n7\n"},
        {3, "1\n+\n3\n4\n", cut + "+\n3\n4\n"},
        {5, "1\n+\n3\n4\n", "1\n+\n3\n4\n"},
    };
    for (const auto& row : rows) {
        KeyLog log(row.capacity);
        for (std::size_t at = 0, end; (end = row.keys.find('\n', at)) != std::string::npos;
             at = end + 1) {
            log.record(*keyFromCaption(std::string_view(row.keys).substr(at, end - at)));
        }
        EXPECT_EQ(log.text(), row.copied) << row.keys;
    }
}

} // namespace
} // namespace quillo
