#pragma once
// A machine file read whole into memory, with a cap on its size: the small
// files the program reads as text (.reg backups, INI files, list files).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/machine/file_api.h"

namespace brisko {

enum class FileReadError { CannotOpen, TooLarge, CannotRead };

// The file's bytes; nullopt (and *why) when it cannot be opened, is larger
// than maxBytes, or a read fails. A file that shrinks while it is read gives
// what it holds by the end.
std::optional<std::string> readWholeFile(FileApi& files, std::string_view path, int64_t maxBytes,
                                         FileReadError* why = nullptr);

}  // namespace brisko
