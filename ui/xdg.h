// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <string>

namespace quillo {

// An XDG base folder: $`envName` when it is an absolute path (a relative one
// is ignored, as the XDG base directory rules say), else $HOME/`homeFallback`
// ("~/.config" is homeFallback ".config"); "" when HOME is not absolute either.
inline std::string xdgFolder(const char* envName, const char* homeFallback) {
    const char* set = std::getenv(envName);
    if (set != nullptr && set[0] == '/') {
        return set;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/" + homeFallback : "";
}

} // namespace quillo
