// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace quillo {

// An XDG base folder: $`envName` when it is an absolute path (a relative one
// is ignored, as the XDG base directory rules say), else $HOME/`homeFallback`
// ("~/.config" is homeFallback ".config"); "" when HOME is not absolute either.
std::string xdgFolder(const char* envName, const char* homeFallback);

} // namespace quillo
