#pragma once
// The index files of Internet Explorer ("index.dat" in the cache, cookie and
// history folders): the walk over their hash tables that lists the addresses
// they hold, the blanking that overwrites the tables and records in place, and
// the removal of one record. This library depends on nothing else of the
// program, so both the cleaner and the machine's WinINet services use it.
//
// Layout as far as it is used here (all integers 32-bit little-endian):
//   header      28: recorded file size, 32: offset of the first hash table,
//               40: allocated blocks, 72: cache folder count, 76: 12-byte folder
//               entries (file count, 8-character name), 0x250: allocation bitmap
//               (one bit per 128-byte block from 0x4000)
//   hash table  0 "HASH", 4: length in 128-byte blocks, 8: next table (0 = last),
//               12: sequence number, 16: 8-byte slots (hash word, record offset);
//               a slot whose hash word has the low byte 1 or 3 is empty
//   "URL "/"LEAK" record  4: blocks, 8: last modification (FILETIME; in a
//               cache index the server's time, whole seconds), 16: last access,
//               52: address offset from the record (low byte used),
//               56: cache folder index, 60: local file name offset
//   "REDR" record 8: time field, 16: the address
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brisko::indexdat {

// Random access to the bytes of one file.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The file's real length in bytes; negative when unknown.
    virtual int64_t length() = 0;
    // Bytes read at offset (fewer at the end of the file, negative on error).
    virtual int64_t readAt(int64_t offset, void* buf, int64_t n) = 0;
    // Bytes written at offset; negative on error or when the source is read-only.
    virtual int64_t writeAt(int64_t, const void*, int64_t) { return -1; }
};

// A file held in memory (tests, the fuzzer, the writer's output).
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    int64_t length() override { return static_cast<int64_t>(bytes_.size()); }
    int64_t readAt(int64_t offset, void* buf, int64_t n) override;
    int64_t writeAt(int64_t offset, const void* buf, int64_t n) override;
    const std::string& bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

enum class RecordType { Url, Redirect, Leak };
const char* recordTypeName(RecordType t);  // "URL", "REDR", "LEAK"

inline constexpr uint32_t kBlockSize = 128;
inline constexpr uint32_t kFirstBlockOffset = 0x4000;
inline constexpr uint32_t kBitmapOffset = 0x250;
inline constexpr uint32_t kHashHeaderSize = 16;
inline constexpr uint32_t kSlotSize = 8;
// Longer addresses are cut here; Internet Explorer's own limit is far below.
inline constexpr size_t kMaxAddressLength = 65536;

// One listed record.
struct Record {
    RecordType type = RecordType::Url;
    std::string url;            // bytes as stored (the browser's code page)
    uint64_t fileTime = 0;      // the listed time: a URL's last access (FILETIME, UTC)
    uint64_t modifiedTime = 0;  // a URL's last modification; 0 for a redirect
    uint32_t offset = 0;        // the record's offset in the file
    uint32_t slotOffset = 0;    // the offset of the slot that points to it
};

// Told the percentage of slots done (0..100, never decreasing). Returning false
// stops the walk; what was found so far is returned.
using Progress = std::function<bool(int percent)>;

// Every record a used slot points to, in table order and slot order within a
// table; a record two slots point to comes twice. Records without an address
// are left out. A file that is not an index file, or is cut short, lists what
// its readable part holds.
std::vector<Record> listRecords(ByteSource& file, const Progress& progress = {});

// Overwrites the slots of every hash table and everything from there to the
// next table (or the end of the file), `passes` times (1..3): random bytes on
// each pass but the last, zeros on the last. The header, the allocation bitmap
// and each table's 16-byte header stay; the file keeps its length. randomByte
// gives the fill of an early pass (0..254). Nothing is written past the end of
// the file or the recorded size. False when a write failed or the file still
// lists an address afterwards (a chain that loops or leads past the end keeps
// tables the walk never reached).
bool blankFile(ByteSource& file, int passes, const std::function<uint8_t()>& randomByte);

// A "URL "/"LEAK" record's local file: the cache folder name (from the header's
// folder table) and the file name. Empty names when the record has none.
struct LocalFile {
    std::string folder;
    std::string name;
};
LocalFile localFileOf(ByteSource& file, uint32_t recordOffset);

// Removes one listed record: its slot becomes a deleted one, its blocks are
// zeroed and given back in the allocation bitmap. False when the slot does not
// point to the record any more or a write failed.
bool removeRecord(ByteSource& file, const Record& record);

// Little-endian helpers shared by the reader and the writer.
inline uint32_t getU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putU32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace brisko::indexdat
