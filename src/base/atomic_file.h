#pragma once
// Files replaced whole: the new content goes to a fresh file beside the old
// one, is flushed, and is renamed over it; the folder is flushed after. A
// crash leaves the old file or the new one, never a mix.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace brisko {

// A new file beside `file` under a name no other writer uses (created with
// O_EXCL, never through a link planted there), with the old file's owner and
// mode. Removed again unless keep() was called.
class TempFileBeside {
  public:
    TempFileBeside() = default;
    ~TempFileBeside();
    TempFileBeside(const TempFileBeside&) = delete;
    TempFileBeside& operator=(const TempFileBeside&) = delete;

    bool create(const std::filesystem::path& file, std::string* error);
    // Creates exactly `path`, which must not exist yet.
    bool createAt(const std::filesystem::path& path, const std::filesystem::path& file,
                  std::string* error);
    bool write(std::span<const uint8_t> bytes, std::string* error);
    // Writes at `offset`, leaving the file position alone (any thread may).
    bool writeAt(std::span<const uint8_t> bytes, uint64_t offset, std::string* error);
    // Starts writing a stretch out to the disk without waiting for it, so
    // that finish() has less to wait for.
    void startWriteOut(uint64_t offset, uint64_t size);
    // Flushes and closes.
    bool finish(std::string* error);
    // Renames the finished file over `file_` and flushes the folder.
    bool replace(std::string* error);
    void keep() { keep_ = true; }
    const std::filesystem::path& path() const { return path_; }

  private:
    bool fail(const std::string& what, std::string* error);
    std::filesystem::path file_, path_;
    UniqueFd fd_;
    bool keep_ = true;
};

// Renames `temp` over `file`, then flushes the folder so the rename holds.
bool renameDurably(const std::filesystem::path& temp, const std::filesystem::path& file,
                   std::string* error);

// Replaces `file` with `content` as described above.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view content,
                         std::string* error);
bool writeFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> content,
                         std::string* error);

}  // namespace brisko
