#pragma once
// Serialises a key tree into a fresh, densely packed regf hive: how demo and
// test machines are built, and what "save a compact copy of a hive" means on
// an image.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/reg_tree.h"

namespace brisko::hive {

class HiveReader;

struct RegfWriteOptions {
    // File name stored in the base block, as Windows does ("\SystemRoot\System32\Config\SOFTWARE").
    std::string embeddedName;
    int64_t timestamp = 0;  // FILETIME for the base block and keys without one; 0: now
    // Both sequence numbers of the base block. A hive that replaces one with
    // transaction logs beside it must count past every sequence number in them.
    uint32_t sequence = 1;
    // Leaves a free cell of freeCellBytes after every freeCellEvery-th cell, as
    // a hive looks after keys were added and deleted in it (demo and benchmark
    // hives that have something to compact). 0: densely packed.
    uint32_t freeCellEvery = 0;
    uint32_t freeCellBytes = 0;
    // The base block of the hive this one rewrites (at least its first 512
    // bytes): its format version (and with it the kind of subkey lists written),
    // clustering factor, resource-manager and log GUIDs, flags, "rmtm" and time
    // of the last reorganization are kept. Empty: a fresh hive of version 1.5.
    std::vector<uint8_t> keepBaseBlock;
    // Set by a defrag: the time written as the hive's last reorganization.
    int64_t reorganized = 0;
};

// The current time as a FILETIME (100 ns since 1601, UTC).
int64_t nowFiletime();

std::vector<uint8_t> serializeHive(const RegTreeKey& root, const RegfWriteOptions& options = {});
// Writes atomically: beside the target, flushed, then renamed over it.
bool writeHiveFile(const RegTreeKey& root, const std::filesystem::path& file,
                   const RegfWriteOptions& options = {}, std::string* error = nullptr);
// The same from the cells of a sound hive read in place (no key tree is built):
// a compact copy of a hive file. Byte for byte what the tree the hive holds
// gives; fails with the reason when a cell cannot be read.
std::vector<uint8_t> serializeHive(const HiveReader& reader, uint32_t root,
                                   const RegfWriteOptions& options = {},
                                   std::string* error = nullptr);
bool writeHiveFile(const HiveReader& reader, uint32_t root, const std::filesystem::path& file,
                   const RegfWriteOptions& options = {}, std::string* error = nullptr);
bool writeHiveTo(const HiveReader& reader, uint32_t root, TempFileBeside& out,
                 const RegfWriteOptions& options, std::string* error);
// Writes the hive into a file being made (see atomic_file.h); the caller
// finishes it. False, with nothing written, when the tree cannot be a hive.
bool writeHiveTo(const RegTreeKey& root, TempFileBeside& out, const RegfWriteOptions& options,
                 std::string* error);

}  // namespace brisko::hive
