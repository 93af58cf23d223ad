#pragma once
// Writes index files as Internet Explorer 5 to 9 lay them out ("Client UrlCache
// MMF Ver 5.2"): header with cache folders and allocation bitmap, a chain of
// hash tables, and the records. The demo machine's traces and the tests are
// made with it.
#include <cstdint>
#include <string>
#include <vector>

#include "indexdat/index_dat_format.h"

namespace brisko::indexdat {

struct NewRecord {
    RecordType type = RecordType::Url;
    std::string url;
    // FILETIME, UTC; REDR records have neither.
    uint64_t lastAccess = 0;  // at 16: the listed time
    uint64_t modified = 0;    // at 8
    std::string fileName;     // cached file, in cache folder folderIndex; may be empty
    uint8_t folderIndex = 0;
    uint32_t fileSize = 0;
};

struct WriterOptions {
    std::vector<std::string> cacheFolders;  // 8-character names ("ABCD1234")
    uint32_t tableBlocks = 32;              // hash table length in 128-byte blocks (>= 1)
    // Slots beyond this many per table are left free (0: as many as fit), so
    // that small files can still have several tables.
    uint32_t slotsPerTable = 0;
    // Records a second slot points to as well (indexes into the records).
    std::vector<size_t> alsoListed;
};

// The whole file. Records are placed after the first table; a further table
// starts when a table's slots are used up, and the chain links them in order.
std::string writeIndexDat(const std::vector<NewRecord>& records, const WriterOptions& options = {});

// FILETIME from Unix seconds.
uint64_t fileTimeFromUnix(int64_t seconds);

}  // namespace brisko::indexdat
