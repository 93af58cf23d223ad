#pragma once
// Reading the program's own small text files (pending lists, journals) from a
// disk that may hold anything: only a regular file is read, never through a
// link as its last name, never waiting on a pipe or a device, and never more
// than a cap.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace brisko {

// The file's bytes; nullopt (and why, for a person) when it is absent, not a
// regular file, larger than maxBytes, or cannot be read.
std::optional<std::string> readSmallFile(const std::filesystem::path& file, size_t maxBytes,
                                         std::string* why = nullptr);

}  // namespace brisko
