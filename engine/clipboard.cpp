// SPDX-License-Identifier: MIT
#include "clipboard.h"

namespace quillo {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string copyText(std::string_view display) {
    if (!display.empty() && display.front() == ' ') {
        display.remove_prefix(1);
    }
    std::string out;
    out.reserve(display.size() + 1);
    if (!display.empty() && display.front() == '-') {
        out += '-';
        display.remove_prefix(1);
    }
    if (!display.empty() && display.front() == '.') {
        out += '0';
    }
    if (!display.empty() && display.back() == '.') {
        display.remove_suffix(1);
    }
    out += display;
    return out;
}

std::optional<std::vector<Key>> pasteKeys(std::string_view text) {
    if (text.size() > kPasteLimit) {
        return std::nullopt;
    }
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    std::vector<Key> keys;
    keys.reserve(text.size());
    bool point = false;
    bool digit = false;
    for (const char c : text) {
        if (isDigit(c)) {
            digit = true;
            keys.push_back(static_cast<Key>(static_cast<int>(Key::D0) + (c - '0')));
        } else if (c == '.' && !point) {
            point = true;
            keys.push_back(Key::Decimal);
        } else {
            return std::nullopt;
        }
    }
    if (!digit) {
        return std::nullopt;
    }
    return keys;
}

} // namespace quillo
