#pragma once
// Reading and blanking Internet Explorer's index.dat files for the cleaner, the
// index.dat viewer and the command line: the listing with the time texts the
// viewer shows, and the in-place blanking with the user's overwrite passes.
// The format itself is in indexdat/index_dat_format.h.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/file_api.h"
#include "indexdat/index_dat_format.h"

namespace brisko {

struct TOptionsSetting;

// One listed record of an index.dat file.
struct IndexDatEntry {
    std::string Url;            // as stored (8-bit characters)
    std::string TimeText;       // local time, or "Not Available"
    int ImageIndex = 0;         // the caller's tag
    std::string Type;           // "URL", "REDR" or "LEAK"
    uint64_t FileTime = 0;      // the listed time: a URL's last access (FILETIME, UTC)
    uint64_t ModifiedTime = 0;  // a URL's last modification; 0 for a redirect
};

inline constexpr std::string_view kTimeNotAvailable = "Not Available";

// Told the percentage read (0..100, never decreasing); false stops the read.
using IndexDatProgress = std::function<bool(int percent)>;

// Every address the file still holds, in table and slot order. A file that
// cannot be opened, or is not an index file, gives an empty list; a damaged one
// gives what its readable part holds.
std::vector<IndexDatEntry> ReadIndexDat(FileHandle& file, int tag,
                                        const IndexDatProgress& progress = {});
std::vector<IndexDatEntry> ReadIndexDat(FileApi& files, std::string_view path, int tag,
                                        const IndexDatProgress& progress = {});

// Passes over the file: WipeNumber when IsWipeFile is on, else one; at most three.
int IndexDatWipePasses(const TOptionsSetting& settings);

// Blanks the hash tables and records in place; the file keeps its size. A file
// that is missing or cannot be opened for writing is left alone. False when
// the file could not be blanked: it was not there or not writable, a write
// failed, or it still lists an address (a damaged table chain).
bool WipeIndexDat(FileHandle& file, const TOptionsSetting& settings);
bool WipeIndexDat(FileApi& files, std::string_view path, const TOptionsSetting& settings);

// The time text of a record: local time as "M/D/YYYY h:mm:ss AM", or "Not
// Available" for a zero or unusable time.
std::string IndexDatTimeText(uint64_t fileTime);
// ISO 8601 UTC ("2026-12-07T14:55:39Z"); empty for a zero or unusable time.
std::string IndexDatIsoTime(uint64_t fileTime);

// A FileHandle seen as the format's byte source.
class FileHandleSource : public indexdat::ByteSource {
  public:
    explicit FileHandleSource(FileHandle& file) : file_(file) {}
    int64_t length() override { return file_.size(); }
    int64_t readAt(int64_t offset, void* buf, int64_t n) override;
    int64_t writeAt(int64_t offset, const void* buf, int64_t n) override;

  private:
    FileHandle& file_;
};

}  // namespace brisko
