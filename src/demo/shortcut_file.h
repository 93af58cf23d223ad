#pragma once
// Windows shortcut (.lnk) files for demo and test machines. liblnk only
// reads them, so the few bytes the shell would write are put together here.
#include <string>
#include <string_view>

namespace brisko {

// A minimal shortcut to a local path on a fixed disk: the header and the link
// information with the target as its local base path (ANSI). The target need
// not exist: a shortcut keeps its path after the target is gone.
std::string shortcutFileBytes(std::string_view targetPath, bool targetIsFolder = false);

}  // namespace brisko
