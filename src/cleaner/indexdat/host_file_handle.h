#pragma once
// A regular file on the host, for `brisko indexdat --host` and the benchmarks:
// everything else reaches files through the machine.
#include <memory>
#include <string>

#include "core/machine/file_api.h"

namespace brisko {

// Nullptr when the file cannot be opened or is not a regular file (a pipe or a
// device is never waited on). why says what went wrong.
std::unique_ptr<FileHandle> openHostFile(const std::string& path, FileMode mode,
                                         std::string* why = nullptr);

}  // namespace brisko
