// SPDX-License-Identifier: MIT
#include "xdg.h"

#include <cstdlib>

namespace quillo {

std::string xdgFolder(const char* envName, const char* homeFallback) {
    const char* set = std::getenv(envName);
    if (set != nullptr && set[0] == '/') {
        return set;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/" + homeFallback;
    }
    return {};
}

} // namespace quillo
