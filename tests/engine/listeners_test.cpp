// SPDX-License-Identifier: MIT
#include "listeners.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillo {
namespace {

struct Ear {
    std::string* heard;
    char name;
    std::function<void()> onTold;
    void told() {
        *heard += name;
        if (onTold) {
            onTold();
        }
    }
};

// Either side may go first, and one that leaves while told leaves no one
// out.
TEST(Listeners, EitherSideMayGoFirst) {
    std::string heard;
    Ear a{&heard, 'a', {}}, b{&heard, 'b', {}}, c{&heard, 'c', {}};
    std::optional<Listeners<Ear>::Subscription> sa, sb, sc;
    {
        Listeners<Ear> teller;
        sa = teller.add(a);
        sb = teller.add(b);
        sc = teller.add(c);
        a.onTold = [&] { sa.reset(); };
        teller.each([](Ear& e) { e.told(); });
        teller.each([](Ear& e) { e.told(); });
        EXPECT_EQ(heard, "abcbc");
        Listeners<Ear>::Subscription moved = std::move(*sb);
        sb.reset();
        teller.each([](Ear& e) { e.told(); });
        EXPECT_EQ(heard, "abcbcbc");
    }
    sc.reset(); // the teller is gone: nothing to leave
}

} // namespace
} // namespace quillo
