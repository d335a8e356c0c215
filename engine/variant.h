// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quillo {

// A field's value: empty, 16-bit integer, double, text or boolean, converting
// on use (see convert.h). Assigning the display stores a copy of its text.
class Variant {
public:
    enum class Kind { Empty, Integer, Double, Text, Boolean };

    Variant() = default;
    // libstdc++ 12 crashes when a std::variant's copy throws while copying a
    // string (it destroys the half-made copy by an invalid index), so a text
    // is copied into a variant made around it: a copy that runs out of
    // memory throws std::bad_alloc and leaves nothing behind.
    Variant(const Variant& other) : value_(copy(other.value_)) {}
    Variant& operator=(const Variant& other) {
        value_ = copy(other.value_);
        return *this;
    }
    Variant(Variant&&) noexcept = default;
    Variant& operator=(Variant&&) noexcept = default;
    static Variant integer(std::int16_t v) { return Variant(Storage(std::in_place_index<1>, v)); }
    static Variant number(double v) { return Variant(Storage(std::in_place_index<2>, v)); }
    static Variant text(std::string v) {
        return Variant(Storage(std::in_place_index<3>, std::move(v)));
    }
    static Variant boolean(bool v) { return Variant(Storage(std::in_place_index<4>, Bool{v})); }

    Kind kind() const noexcept { return static_cast<Kind>(value_.index()); }
    bool isEmpty() const noexcept { return kind() == Kind::Empty; }

    // Accessors for the held kind; calling the wrong one is a logic error.
    std::int16_t asInteger() const { return std::get<1>(value_); }
    double asDouble() const { return std::get<2>(value_); }
    const std::string& asText() const { return std::get<3>(value_); }
    bool asBoolean() const { return std::get<4>(value_).value; }

    bool operator==(const Variant&) const = default;

private:
    struct Bool {
        bool value;
        bool operator==(const Bool&) const = default;
    };
    using Storage = std::variant<std::monostate, std::int16_t, double, std::string, Bool>;
    explicit Variant(Storage v) : value_(std::move(v)) {}
    static Storage copy(const Storage& v) {
        if (const std::string* text = std::get_if<3>(&v)) {
            return Storage(std::in_place_index<3>, *text);
        }
        return v; // no alternative but the text allocates
    }

    Storage value_;
};

} // namespace quillo
