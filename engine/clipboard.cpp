// SPDX-License-Identifier: MIT
#include "clipboard.h"

#include <algorithm>

namespace quillo {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// What may stand around a pasted number or between it and its currency
// sign: ASCII blanks and the no-break and thin spaces that locales put there.
constexpr std::string_view kSpaces[] = {" ",        "\t",           "\r",          "\n",
                                        "\xC2\xA0", "\xE2\x80\x89", "\xE2\x80\xAF"};

// Group separators read in any locale besides its own: a space, the no-break
// space, the thin space, the narrow no-break space, ' and U+2019.
constexpr std::string_view kAnyGroup[] = {" ", "\xC2\xA0",    "\xE2\x80\x89", "\xE2\x80\xAF",
                                          "'", "\xE2\x80\x99"};

// Currency signs read in any locale besides its own: $, the euro, the pound.
constexpr std::string_view kAnyCurrency[] = {"$", "\xE2\x82\xAC", "\xC2\xA3"};

bool eatFront(std::string_view& text, std::string_view part) {
    if (part.empty() || !text.starts_with(part)) {
        return false;
    }
    text.remove_prefix(part.size());
    return true;
}

bool eatBack(std::string_view& text, std::string_view part) {
    if (part.empty() || !text.ends_with(part)) {
        return false;
    }
    text.remove_suffix(part.size());
    return true;
}

void trimSpaces(std::string_view& text) {
    for (bool more = true; more;) {
        more = false;
        for (const std::string_view space : kSpaces) {
            more = eatFront(text, space) || eatBack(text, space) || more;
        }
    }
}

std::string_view takeDigits(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && isDigit(text[n])) {
        ++n;
    }
    const std::string_view digits = text.substr(0, n);
    text.remove_prefix(n);
    return digits;
}

// One way to read a text as a number, its digits as written.
struct Reading {
    std::string whole;
    bool point = false;
    std::string fraction;
};

// Digits with at most one point.
std::optional<Reading> readPlain(std::string_view text) {
    Reading r;
    r.whole = takeDigits(text);
    r.point = eatFront(text, ".");
    if (r.point) {
        r.fraction = takeDigits(text);
    }
    if (!text.empty() || (r.whole.empty() && r.fraction.empty())) {
        return std::nullopt;
    }
    return r;
}

// The group separator `text` starts with, if any: the locale's own (unless
// it is its decimal separator too) or one read in any locale.
std::string_view groupSeparator(std::string_view text, const NumberForm& form) {
    if (!form.group.empty() && form.group != form.decimal && text.starts_with(form.group)) {
        return form.group;
    }
    for (const std::string_view separator : kAnyGroup) {
        if (text.starts_with(separator)) {
            return separator;
        }
    }
    return {};
}

// The locale's form: the whole digits ungrouped, or a first group of one to
// three and groups of three after one and the same separator; then the
// locale's decimal separator and digits.
std::optional<Reading> readLocal(std::string_view text, const NumberForm& form) {
    Reading r;
    r.whole = takeDigits(text);
    if (r.whole.empty()) {
        return std::nullopt;
    }
    std::string_view separator;
    while (r.whole.size() <= 3 || !separator.empty()) {
        const std::string_view next = separator.empty() ? groupSeparator(text, form) : separator;
        std::string_view rest = text;
        if (!eatFront(rest, next)) {
            break;
        }
        const std::string_view group = takeDigits(rest);
        if (group.size() != 3) {
            break;
        }
        separator = next;
        r.whole += group;
        text = rest;
    }
    if (eatFront(text, form.decimal)) {
        r.point = true;
        r.fraction = takeDigits(text);
        if (r.fraction.empty()) {
            return std::nullopt;
        }
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return r;
}

// The readings a pasted text may have, once the blanks around it and one
// currency sign, before or after, are set aside.
struct Candidates {
    std::optional<Reading> plain;
    std::optional<Reading> local;
};

Candidates scan(std::string_view text, const NumberForm& form) {
    trimSpaces(text);
    // The locale's sign first: it may end in "$" ("US$").
    if (eatFront(text, form.currency) || eatBack(text, form.currency)) {
        trimSpaces(text);
    } else {
        for (const std::string_view sign : kAnyCurrency) {
            if (eatFront(text, sign) || eatBack(text, sign)) {
                trimSpaces(text);
                break;
            }
        }
    }
    return {readPlain(text), readLocal(text, form)};
}

bool sameNumber(const Reading& a, const Reading& b) {
    auto whole = [](const Reading& r) {
        return std::string_view(r.whole).substr(
            std::min(r.whole.find_first_not_of('0'), r.whole.size()));
    };
    auto fraction = [](const Reading& r) {
        return std::string_view(r.fraction).substr(0, r.fraction.find_last_not_of('0') + 1);
    };
    return whole(a) == whole(b) && fraction(a) == fraction(b);
}

Key digitKey(char c) {
    return static_cast<Key>(static_cast<int>(Key::D0) + (c - '0'));
}

std::vector<Key> keysOf(const Reading& r) {
    std::vector<Key> keys;
    keys.reserve(r.whole.size() + 1 + r.fraction.size());
    for (const char c : r.whole) {
        keys.push_back(digitKey(c));
    }
    if (r.point) {
        keys.push_back(Key::Decimal);
    }
    for (const char c : r.fraction) {
        keys.push_back(digitKey(c));
    }
    return keys;
}

} // namespace

std::string copyText(std::string_view display) {
    if (display.starts_with(' ')) {
        display.remove_prefix(1);
    }
    const bool negative = eatFront(display, "-");
    std::string number;
    if (display.find('E') != std::string_view::npos) {
        number = display;
    } else if (!display.empty()) {
        const std::size_t point = display.find('.');
        std::string_view whole = display.substr(0, point);
        std::string_view fraction =
            point == std::string_view::npos ? std::string_view() : display.substr(point + 1);
        while (!whole.empty() && whole.front() == '0') {
            whole.remove_prefix(1);
        }
        while (!fraction.empty() && fraction.back() == '0') {
            fraction.remove_suffix(1);
        }
        number = whole.empty() ? "0" : whole;
        if (!fraction.empty()) {
            number += '.';
            number += fraction;
        }
    }
    // Negative zero is zero to other programs.
    if (negative && number != "0") {
        number.insert(0, 1, '-');
    }
    return number;
}

std::optional<std::vector<Key>> pasteKeys(std::string_view text, const NumberForm& form) {
    if (text.size() > kPasteLimit) {
        return std::nullopt;
    }
    const Candidates c = scan(text, form);
    if (c.plain && c.local && !sameNumber(*c.plain, *c.local)) {
        return std::nullopt; // "1.234" in German: 1.234 or 1234
    }
    if (c.plain) {
        return keysOf(*c.plain);
    }
    if (c.local) {
        return keysOf(*c.local);
    }
    return std::nullopt;
}

} // namespace quillo
