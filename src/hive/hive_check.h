#pragma once
// The checks a hive gets when it is opened: its base block, the chain of hive
// bins, and every key the program can reach from the root. Each returns what
// is wrong, for a person, or an empty string.
#include <cstdint>
#include <span>
#include <string>

#include "hive/hive_reader.h"

namespace brisko::hive {

// Signature, checksum, sequence numbers, version, type, and the hive bins
// size against the file. `dirty` is set when the sequence numbers differ or
// the checksum is wrong: the state the transaction logs repair. `usedAsStored`:
// sequence numbers that differ are no fault (a hive with nothing to replay).
std::string checkBaseBlock(std::span<const uint8_t> file, bool* dirty = nullptr,
                           bool usedAsStored = false);

// The hbin headers from the first bin to the end of the bins: each one where
// the previous one ends, sized in whole pages.
std::string checkBins(const HiveReader& reader);

// Every key reachable from the root: its cell, its subkey and value lists,
// its values, its security and class cells.
std::string checkKeys(const HiveReader& reader, uint32_t root);

}  // namespace brisko::hive
