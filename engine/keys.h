// SPDX-License-Identifier: MIT
#pragma once

#include "engine.h"

#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The calculator's keys, for everything that drives the engine: the window,
// the replay tool, the tests, the fuzzer and the benchmark.
namespace quillo {

// In the order of kKeys below.
// clang-format off
enum class Key {
    D0, D1, D2, D3, D4, D5, D6, D7, D8, D9,
    Decimal,
    Divide, Plus, Times, Minus, Equals, Power, // the operator array's indexes 0 to 5
    Percent,
    Square,
    Cube,
    Sqrt,
    Clear,
    ClearEntry,
};
// clang-format on

// Everything the engine knows about a key, one row a key.
struct KeyDescription {
    Key key;
    std::string_view caption;
    void (*operation)(Engine&);
    // The tape's line for the key's own step, "" when it computes nothing:
    // %1 is the number it took, %2 the one it gave.
    std::string_view step;
    // The tape's line when the key is the pending operator that an evaluation
    // applies: %1 and %2 are the numbers taken, %3 the result.
    std::string_view evaluation;
};

// clang-format off
inline constexpr KeyDescription kKeys[] = {
    {Key::D0, "0", [](Engine& e) { e.Number_Click(0); }, "", ""},
    {Key::D1, "1", [](Engine& e) { e.Number_Click(1); }, "", ""},
    {Key::D2, "2", [](Engine& e) { e.Number_Click(2); }, "", ""},
    {Key::D3, "3", [](Engine& e) { e.Number_Click(3); }, "", ""},
    {Key::D4, "4", [](Engine& e) { e.Number_Click(4); }, "", ""},
    {Key::D5, "5", [](Engine& e) { e.Number_Click(5); }, "", ""},
    {Key::D6, "6", [](Engine& e) { e.Number_Click(6); }, "", ""},
    {Key::D7, "7", [](Engine& e) { e.Number_Click(7); }, "", ""},
    {Key::D8, "8", [](Engine& e) { e.Number_Click(8); }, "", ""},
    {Key::D9, "9", [](Engine& e) { e.Number_Click(9); }, "", ""},
    {Key::Decimal, ".", [](Engine& e) { e.Decimal_Click(); }, "", ""},
    {Key::Divide, "/", [](Engine& e) { e.Operator_Click(0); }, "", "%1 / %2 = %3"},
    {Key::Plus, "+", [](Engine& e) { e.Operator_Click(1); }, "", "%1 + %2 = %3"},
    {Key::Times, "X", [](Engine& e) { e.Operator_Click(2); }, "", "%1 X %2 = %3"},
    {Key::Minus, "-", [](Engine& e) { e.Operator_Click(3); }, "", "%1 - %2 = %3"},
    {Key::Equals, "=", [](Engine& e) { e.Operator_Click(4); }, "", "= %3"},
    {Key::Power, "x^y", [](Engine& e) { e.Operator_Click(5); }, "", "%1 x^y %2 = %3"},
    // Pending, the percent key's "%" is a product.
    {Key::Percent, "%", [](Engine& e) { e.Percent_Click(); }, "%1 % = %1 X 100 = %2", "%1 X %2 = %3"},
    {Key::Square, "x^2", [](Engine& e) { e.cmdsq_Click(); }, "%1 x^2 = %2", ""},
    {Key::Cube, "x^3", [](Engine& e) { e.cmdqr_Click(); }, "%1 x^3 = %2", ""},
    {Key::Sqrt, "Sqrt", [](Engine& e) { e.cmdsqrt_Click(); }, "Sqrt %1 = %2", ""},
    {Key::Clear, "C", [](Engine& e) { e.Cancel_Click(); }, "", ""},
    {Key::ClearEntry, "CE", [](Engine& e) { e.CancelEntry_Click(); }, "", ""},
};
// clang-format on

inline constexpr int kKeyCount = static_cast<int>(std::size(kKeys));

constexpr const KeyDescription& describe(Key key) noexcept {
    return kKeys[static_cast<std::size_t>(key)];
}

constexpr std::string_view caption(Key key) noexcept {
    return describe(key).caption;
}

std::optional<Key> keyFromCaption(std::string_view caption) noexcept;

// Runs the key's operation; an EngineError propagates.
inline void press(Engine& engine, Key key) {
    describe(key).operation(engine);
}

// The standard captions and a display held in memory.
class StandardSurface final : public Surface {
public:
    std::string displayText() const override { return display_; }
    void setDisplayText(const std::string& text) override { display_ = text; }
    void exchangeDisplayText(std::string& text) override { display_.swap(text); }
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
