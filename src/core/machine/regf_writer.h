#pragma once
// Serialises a key tree into a fresh, densely packed regf hive: how demo and
// test machines are built, and what "save a compact copy of a hive" means on
// an image.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/machine/reg_tree.h"

namespace brisko {

struct RegfWriteOptions {
    // File name stored in the base block, as Windows does ("\SystemRoot\System32\Config\SOFTWARE").
    std::string embeddedName;
    int64_t timestamp = 0;  // FILETIME for the base block and keys without one; 0: now
};

std::vector<uint8_t> serializeHive(const RegTreeKey& root, const RegfWriteOptions& options = {});
// Writes atomically: beside the target, flushed, then renamed over it.
bool writeHiveFile(const RegTreeKey& root, const std::filesystem::path& file,
                   const RegfWriteOptions& options = {}, std::string* error = nullptr);

}  // namespace brisko
