#include "hive/hive_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/unique_fd.h"
#include "hive/hive.h"
#include "hive/hive_log.h"
#include "hive/regf_writer.h"

namespace brisko::hive {

namespace fs = std::filesystem;

namespace {
constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t h, uint64_t w) {
    h ^= w;
    h *= kMul;
    return h ^ (h >> 31);
}

// Folds the file's bytes into `h`; false when it cannot be read to its end.
bool hashFile(const fs::path& file, uint64_t& h, uint64_t& size) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) return false;
    std::vector<uint8_t> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) return false;
        if (n == 0) break;
        size += uint64_t(n);
        size_t i = 0;
        for (; i + 8 <= size_t(n); i += 8) {
            uint64_t w;
            std::memcpy(&w, buf.data() + i, 8);
            h = mix(h, w);
        }
        for (; i < size_t(n); ++i) h = mix(h, buf[i]);
    }
    h = mix(h, size);
    return true;
}

}  // namespace

std::optional<FileIdentity> fileIdentity(const fs::path& file) {
    FileIdentity id;
    id.hash = 0x5172u;
    if (!hashFile(file, id.hash, id.size)) return std::nullopt;
    return id;
}

std::optional<FileIdentity> hiveIdentity(const fs::path& hiveFile) {
    FileIdentity id;
    id.hash = 0x5172u;
    if (!hashFile(hiveFile, id.hash, id.size)) return std::nullopt;
    for (const auto& log : findHiveLogs(hiveFile)) {
        // The log's name matters too: a log appearing or vanishing changes the hive.
        for (char c : log.filename().string()) id.hash = mix(id.hash, uint8_t(c));
        uint64_t logSize = 0;
        if (!hashFile(log, id.hash, logSize)) return std::nullopt;
        id.size += logSize;
    }
    return id;
}

bool saveVerifiedCopy(Hive& hive, const fs::path& target, std::string* why, bool reorganization) {
    std::string error;
    TempFileBeside temp;
    if (!temp.create(target, &error) ||
        !hive.writeCompact(temp, &error, reorganization ? nowFiletime() : 0)) {
        if (why) *why = "the copy cannot be written: " + error;
        return false;
    }
    // The bytes are read back from the file while the system writes them out.
    std::string flushError;
    bool flushed = false;
    std::thread flusher([&] { flushed = temp.finish(&flushError); });
    bool same = copyMatchesHive(hive, temp.path(), why);
    flusher.join();
    if (!flushed) {
        if (why) *why = "the copy cannot be written: " + flushError;
        return false;
    }
    if (!same) return false;
    if (!temp.replace(&error)) {
        if (why) *why = "the copy cannot be written: " + error;
        return false;
    }
    return true;
}

bool writeVerifiedHiveCopy(const fs::path& hiveFile, const fs::path& target, std::string* why,
                           bool reorganization) {
    auto fail = [&](std::string text) {
        std::error_code ec;
        fs::remove(target, ec);
        if (why) *why = std::move(text);
        return false;
    };
    std::error_code ec;
    if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) {
        if (why) *why = "the file " + target.string() + " is in the way";
        return false;
    }
    std::string error;
    auto hive = Hive::open(hiveFile, &error);
    if (!hive) return fail("the hive cannot be read: " + error);
    auto state = hive->state();
    if (state.health == HiveHealth::Damaged) return fail("the hive is damaged: " + state.reason);
    if (!saveVerifiedCopy(*hive, target, &error, reorganization)) return fail(error);
    return true;
}

}  // namespace brisko::hive
