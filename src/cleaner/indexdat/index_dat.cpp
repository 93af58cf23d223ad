#include "cleaner/indexdat/index_dat.h"

#include <algorithm>
#include <ctime>
#include <random>

#include "core/settings.h"

namespace brisko {

namespace {

constexpr int64_t kUnixEpochAsFileTime = 11644473600LL;  // seconds from 1601 to 1970

// Seconds since 1970 of a FILETIME, when it is a usable time: not zero and not
// past the year 2500.
bool unixSeconds(uint64_t fileTime, int64_t& seconds) {
    if (fileTime == 0) return false;
    // 1 January 2501, in seconds since 1601.
    constexpr uint64_t kLimit = 28401667200ULL + 11644473600ULL;
    uint64_t s = fileTime / 10000000ULL;
    if (s >= kLimit) return false;
    seconds = static_cast<int64_t>(s) - kUnixEpochAsFileTime;
    return true;
}

}  // namespace

int64_t FileHandleSource::readAt(int64_t offset, void* buf, int64_t n) {
    if (!file_.seek(offset)) return -1;
    return file_.read(buf, n);
}

int64_t FileHandleSource::writeAt(int64_t offset, const void* buf, int64_t n) {
    if (!file_.seek(offset)) return -1;
    return file_.write(buf, n);
}

std::string IndexDatTimeText(uint64_t fileTime) {
    int64_t seconds = 0;
    if (!unixSeconds(fileTime, seconds)) return std::string(kTimeNotAvailable);
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year + 1900 > 2500) return std::string(kTimeNotAvailable);
    int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d %s", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

std::string IndexDatIsoTime(uint64_t fileTime) {
    int64_t seconds = 0;
    if (!unixSeconds(fileTime, seconds)) return {};
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::vector<IndexDatEntry> ReadIndexDat(FileHandle& file, int tag,
                                        const IndexDatProgress& progress) {
    FileHandleSource source(file);
    std::vector<IndexDatEntry> out;
    auto records = indexdat::listRecords(source, progress);
    out.reserve(records.size());
    for (auto& r : records) {
        IndexDatEntry e;
        e.Url = std::move(r.url);
        e.TimeText = IndexDatTimeText(r.fileTime);
        e.ImageIndex = tag;
        e.Type = indexdat::recordTypeName(r.type);
        e.FileTime = r.fileTime;
        e.ModifiedTime = r.modifiedTime;
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<IndexDatEntry> ReadIndexDat(FileApi& files, std::string_view path, int tag,
                                        const IndexDatProgress& progress) {
    auto file = files.openFile(path, FileMode::Read);
    if (!file) return {};
    return ReadIndexDat(*file, tag, progress);
}

int IndexDatWipePasses(const TOptionsSetting& settings) {
    int passes = settings.IsWipeFile ? settings.WipeNumber : 0;
    return std::clamp(passes, 1, 3);
}

bool WipeIndexDat(FileHandle& file, const TOptionsSetting& settings) {
    FileHandleSource source(file);
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> byte(0, 254);
    const bool blanked = indexdat::blankFile(source, IndexDatWipePasses(settings),
                                             [&] { return static_cast<uint8_t>(byte(random)); });
    return file.flush() && blanked;
}

bool WipeIndexDat(FileApi& files, std::string_view path, const TOptionsSetting& settings) {
    if (!files.fileExists(path)) return false;
    auto file = files.openFile(path, FileMode::ReadWrite);
    if (!file) return false;
    return WipeIndexDat(*file, settings);
}

}  // namespace brisko
