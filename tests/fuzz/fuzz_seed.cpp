// SPDX-License-Identifier: MIT
// Turns a key file (captions, one per line) into fuzzer input, one byte a key,
// so that the golden sequences seed the fuzzer as the sequences they are.

#include "keys.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string_view text = line;
        const auto first = text.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) {
            continue;
        }
        text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
        const auto key = quillo::keyFromCaption(text);
        if (!key) {
            std::cerr << "quillo-fuzz-seed: unknown key caption '" << text << "'\n";
            return 2;
        }
        std::putchar(static_cast<int>(*key));
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
