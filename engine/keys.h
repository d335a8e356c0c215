// SPDX-License-Identifier: MIT
#pragma once

#include "engine.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The calculator's keys by caption, for everything that drives the engine
// without a window: the replay tool, the tests, the fuzzer and the benchmark.
namespace quillo {

// Indexes in the operator array, as the window numbers its keys.
inline constexpr std::array<std::string_view, 6> kOperatorCaptions = {"/", "+", "X",
                                                                      "-", "=", "x^y"};

// clang-format off
enum class Key {
    D0, D1, D2, D3, D4, D5, D6, D7, D8, D9,
    Decimal,
    Divide, Plus, Times, Minus, Equals, Power, // in operator-array order
    Percent,
    Square,
    Cube,
    Sqrt,
    Clear,
    ClearEntry,
};
// clang-format on
inline constexpr int kKeyCount = 23;

std::string_view caption(Key key) noexcept;
std::optional<Key> keyFromCaption(std::string_view caption) noexcept;

// Runs the key's operation; an EngineError propagates.
void press(Engine& engine, Key key);

// The standard captions and a display held in memory.
class StandardSurface final : public Surface {
public:
    std::string displayText() const override { return display_; }
    void setDisplayText(const std::string& text) override { display_ = text; }
    std::string numberCaption(int index) const override;
    std::string operatorCaption(int index) const override;
    void showWarning(std::string_view text, std::string_view title) override;

    const std::string& display() const noexcept { return display_; }
    // Warnings shown since the last call.
    int takeWarnings() noexcept { return std::exchange(warnings_, 0); }

private:
    std::string display_ = "0.";
    int warnings_ = 0;
};

// One field as "empty", "int:N", "double:D", "text:|S|" or "bool:-1"/"bool:0".
std::string describe(const Variant& v);
// All seven fields, "FirstNumber=... SecondNumber=... ... DisplayValue=...".
std::string describe(const State& s);

} // namespace quillo
