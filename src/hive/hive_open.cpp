// Opening a hive: the file read whole into memory of our own, its logs
// replayed when it is dirty, its base block and bins checked, and the check of
// every key started beside the caller.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/text.h"
#include "base/unique_fd.h"
#include "hive/hive.h"
#include "hive/hive_check.h"
#include "hive/hive_log.h"
#include "hive/regf_format.h"

namespace brisko::hive {

namespace {
namespace fs = std::filesystem;
using regf::get32;
constexpr uint64_t kMaxHiveFile = 0xFFFFFFFF;
constexpr const char* kChangedWhileRead = "the hive changed while it was read";
}  // namespace

// --- opening ----------------------------------------------------------------

std::shared_ptr<Hive> Hive::open(const fs::path& file, std::string* error) {
    std::shared_ptr<Hive> hive(new Hive());
    hive->file_ = file;
    std::lock_guard lock(hive->mutex_);
    if (!hive->load(error)) return nullptr;
    return hive;
}

bool Hive::load(std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    // Never waits on a pipe or a device planted in place of a hive.
    UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0) return fail(errno == ENOENT ? "the file does not exist" : std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    if (uint64_t(st.st_size) < regf::kBaseBlockSize + regf::kBinHeaderSize)
        return fail("too short to be a registry hive");
    if (uint64_t(st.st_size) > kMaxHiveFile) return fail("too large to be a registry hive");
    char magic[4] = {};
    if (::pread(fd.fd, magic, 4, 0) != 4 || std::memcmp(magic, "regf", 4) != 0)
        return fail("not a registry hive (no regf signature)");
    // Read into memory of our own rather than mapped: another program may
    // rewrite or truncate the file while it is open, and a mapping of it would
    // then fault on pages that are gone.
    size_t size = size_t(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return fail(std::strerror(errno));
    map_ = static_cast<const uint8_t*>(map);
    mapSize_ = size;
    ::madvise(map, size, MADV_HUGEPAGE);  // fewer faults while the file is read in
    for (size_t done = 0; done < size;) {
        ssize_t n = ::pread(fd.fd, static_cast<uint8_t*>(map) + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(std::strerror(errno));
        if (n == 0) return fail(kChangedWhileRead);
        done += size_t(n);
    }
    struct stat after {};
    if (::fstat(fd.fd, &after) != 0 || after.st_size != st.st_size ||
        after.st_mtim.tv_sec != st.st_mtim.tv_sec || after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
        return fail(kChangedWhileRead);
    ::mprotect(map, size, PROT_READ);
    fileId_ = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    std::span<const uint8_t> bytes(map_, mapSize_);
    highestSequence_ =
        std::max(get32(map_ + regf::kBaseSequence1), get32(map_ + regf::kBaseSequence2));

    bool dirty = false;
    std::string damage = checkBaseBlock(bytes, &dirty);
    logs_ = findHiveLogs(file_);
    if (dirty || hiveNeedsRecovery(bytes.first(regf::kBaseBlockSize))) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        LogReplay replay = replayHiveLogs(copy, logs_);
        highestSequence_ = std::max(highestSequence_, replay.highestSequence);
        if (replay.applied) {
            recovered_ = std::move(copy);
            bytes = recovered_;
            state_.health = HiveHealth::Recovered;
            state_.logEntries = replay.entries;
            state_.logsUsed = replay.logsUsed;
            state_.reason = "recovered from";
            for (const auto& log : replay.logsUsed) state_.reason += " " + log.filename().string();
            if (!replay.note.empty()) state_.reason += " (" + replay.note + ")";
            damage = checkBaseBlock(bytes);
        } else if (replay.noLogs && checkBaseBlock(bytes, nullptr, true).empty()) {
            // Nothing to replay: Windows loads such a hive as the file holds
            // it, and so do we once every bin and key checks out below.
            state_.health = HiveHealth::AsStored;
            state_.reason = "not closed cleanly; no transaction logs; used as stored";
            damage.clear();
        } else if (replay.dirty) {
            damage = "its transaction logs could not be applied: " +
                     (replay.problem.empty() ? std::string("no usable log") : replay.problem);
        }
    }
    reader_.reset(bytes);
    embeddedName_ = utf16leToUtf8(bytes.data() + regf::kBaseFileName, regf::kBaseFileNameBytes);
    baseBlock_.assign(bytes.begin(), bytes.begin() + 512);
    root_ = get32(bytes.data() + regf::kBaseRootCell);
    if (!reader_.key(root_)) return fail("damaged registry hive (no root key)");
    if (damage.empty()) damage = checkBins(reader_);
    if (damage.empty())
        startKeyCheck();
    else
        markDamaged(damage);
    open_ = true;
    return true;
}

void Hive::markDamaged(const std::string& damage) const {
    state_ = {HiveHealth::Damaged, damage, 0, {}};
    readOnly_ = "The registry hive " + file_.string() + " is damaged (" + damage +
                "); nothing was changed.";
}

// Reading needs no verdict (the reader checks each cell as it follows it), so
// the walk of every key runs beside the caller's first reads.
void Hive::startKeyCheck() {
    checkPending_ = true;
    try {
        checker_ = std::thread([this] { checkFound_ = checkKeys(reader_, uint32_t(root_)); });
    } catch (const std::system_error&) {
        checkFound_ = checkKeys(reader_, uint32_t(root_));  // no thread to be had
    }
}

// Expects mutex_ held.
void Hive::settleCheck() const {
    if (!checkPending_) return;
    if (checker_.joinable()) checker_.join();
    checkPending_ = false;
    if (!checkFound_.empty()) markDamaged(checkFound_);
}

}  // namespace brisko::hive
