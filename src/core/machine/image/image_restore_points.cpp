#include "core/machine/image/image_restore_points.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "core/local_time.h"
#include "core/machine/atomic_file.h"
#include "core/machine/image/commit_journal.h"
#include "core/machine/image/hive_copy.h"
#include "core/machine/image/hive_log.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/image/machine_lock.h"
#include "core/small_file.h"
#include "core/text.h"
#include "core/unique_fd.h"

namespace brisko {

namespace fs = std::filesystem;

namespace {
constexpr const char* kInfoFile = "restore-point.txt";

struct SnapshotHive {
    std::string mountPath, windowsFile, stored;  // stored: relative to the RP folder
};

struct Snapshot {
    RestorePointInfo info;
    std::vector<SnapshotHive> hives;
};

std::string oneLine(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

// Copies a regular file (never through a link) and flushes the copy.
bool copySynced(const fs::path& from, const fs::path& to) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (in.get() < 0) return false;
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (out.get() < 0) return false;
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0) return false;
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out.get(), buf.data() + done, size_t(n - done));
            if (w <= 0) return false;
            done += w;
        }
    }
    return ::fsync(out.get()) == 0;
}

std::optional<Snapshot> readSnapshot(const fs::path& rp, int number) {
    auto text = readSmallFile(rp / kInfoFile, 1 << 20);
    if (!text) return std::nullopt;
    Snapshot s;
    s.info.number = number;
    std::istringstream in(*text);
    std::string line;
    while (std::getline(in, line)) {
        auto f = split(line, '\t');
        if (f.size() == 2 && f[0] == "Description") s.info.description = f[1];
        if (f.size() == 2 && f[0] == "Time") s.info.time = f[1];
        if (f.size() == 4 && f[0] == "Hive") {
            // The stored name is ours: a number and a file name, never a way out.
            if (f[3].find("..") != std::string::npos || f[3].starts_with("/")) continue;
            s.hives.push_back({f[1], f[2], f[3]});
            s.info.hives.push_back(f[2]);
        }
    }
    return s;
}

std::optional<int> numberOf(const std::string& name) {
    if (name.size() < 3 || !name.starts_with("RP")) return std::nullopt;
    int n = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000000) return std::nullopt;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}
}  // namespace

ImageRestorePoints::ImageRestorePoints(ImageMachine& machine) : machine_(machine) {}

fs::path ImageRestorePoints::folder() const {
    return machine_.folder() / "System Volume Information" / "_restore";
}

std::string ImageRestorePoints::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

bool ImageRestorePoints::createRestorePoint(std::string_view description) {
    std::lock_guard guard(mutex_);
    auto fail = [&](std::string why, const fs::path& temp = {}) {
        std::error_code ec;
        if (!temp.empty()) fs::remove_all(temp, ec);
        lastError_ = std::move(why);
        return false;
    };
    lastError_.clear();
    auto& reg = machine_.imageRegistry();
    // Committed files only, and no commit of another program half-way through.
    MachineLock own(machine_.folder());
    std::string why;
    if (!reg.holdsWriteLock() && !own.acquire(kMachineLockWait, &why)) return fail(why);

    std::error_code ec;
    fs::create_directories(folder(), ec);
    if (ec) return fail("The restore point folder cannot be created: " + ec.message());
    int next = 1;
    for (const auto& p : listRestorePoints()) next = std::max(next, p.number + 1);
    for (fs::directory_iterator it(folder(), ec), end; !ec && it != end; it.increment(ec))
        if (auto n = numberOf(it->path().filename().string())) next = std::max(next, *n + 1);
    fs::path rp = folder() / ("RP" + std::to_string(next));
    fs::path temp = folder() / ("RP" + std::to_string(next) + ".tmp");
    fs::remove_all(temp, ec);
    fs::create_directories(temp, ec);
    if (ec) return fail("The restore point folder cannot be created: " + ec.message());

    std::string info =
        "Description\t" + oneLine(description) + "\nTime\t" + localTimeNowText() + "\n";
    size_t i = 0;
    for (const auto& h : reg.hiveStatus()) {
        if (!h.loaded) continue;
        std::string sub = std::to_string(i++);
        fs::create_directories(temp / sub, ec);
        std::string name = h.mount.hostFile.filename().string();
        if (!copySynced(h.mount.hostFile, temp / sub / name))
            return fail("The hive " + h.mount.windowsFile + " cannot be copied.", temp);
        for (const auto& log : findHiveLogs(h.mount.hostFile))
            if (!copySynced(log, temp / sub / log.filename()))
                return fail("The log " + log.filename().string() + " of the hive " +
                                h.mount.windowsFile + " cannot be copied.",
                            temp);
        syncFolder(temp / sub);
        info += "Hive\t" + h.mount.mountPath + "\t" + h.mount.windowsFile + "\t" + sub + "/" +
                name + "\n";
    }
    if (i == 0) return fail("The machine has no hive to keep.", temp);
    if (!writeFileAtomically(temp / kInfoFile, info, &why)) return fail(why, temp);
    fs::rename(temp, rp, ec);
    if (ec) return fail("The restore point cannot be stored: " + ec.message(), temp);
    syncFolder(folder());
    return true;
}

std::vector<RestorePointInfo> ImageRestorePoints::listRestorePoints() {
    std::vector<RestorePointInfo> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder(), ec), end; !ec && it != end; it.increment(ec)) {
        auto n = numberOf(it->path().filename().string());
        if (!n || !it->is_directory(ec) || it->is_symlink(ec)) continue;
        if (auto s = readSnapshot(it->path(), *n)) out.push_back(std::move(s->info));
    }
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.number < b.number; });
    return out;
}

bool ImageRestorePoints::restoreRestorePoint(int number, std::string* why) {
    auto fail = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    fs::path rp = folder() / ("RP" + std::to_string(number));
    std::error_code ec;
    if (fs::symlink_status(rp, ec).type() != fs::file_type::directory)
        return fail("There is no restore point " + std::to_string(number) + ".");
    auto snap = readSnapshot(rp, number);
    if (!snap || snap->hives.empty())
        return fail("The restore point " + std::to_string(number) + " cannot be read.");
    auto& reg = machine_.imageRegistry();
    auto& files = machine_.imageFiles();
    auto mounted = reg.hiveList();

    // Every hive is made ready before any is scheduled: all of them come back, or none.
    struct Ready {
        std::string mountPath, windowsFile, newFile;
        fs::path host;
    };
    std::vector<Ready> ready;
    auto dropReady = [&] {
        for (const auto& r : ready) fs::remove(r.host, ec);
    };
    for (const auto& h : snap->hives) {
        bool isMounted = std::any_of(mounted.begin(), mounted.end(), [&](const HiveMount& m) {
            return equalsNoCase(m.keyPath, h.mountPath) && equalsNoCase(m.filePath, h.windowsFile);
        });
        if (!isMounted) continue;  // a profile since removed: nothing to put back
        std::string newFile = h.windowsFile + ".rp";
        auto host = files.resolve(newFile, false);
        if (!host) {
            dropReady();
            return fail("The hive " + h.windowsFile + " lies outside the machine.");
        }
        if (files.fileUse(newFile) == FileUse::Locked) {
            dropReady();
            return fail("A restore of the hive " + h.windowsFile +
                        " already waits for the restart.");
        }
        fs::remove(*host, ec);
        std::string bad;
        if (!writeVerifiedHiveCopy(rp / h.stored, *host, &bad)) {
            dropReady();
            return fail("The hive " + h.windowsFile +
                        " of the restore point cannot be used: " + bad);
        }
        ready.push_back({h.mountPath, h.windowsFile, newFile, *host});
    }
    if (ready.empty()) return fail("None of the restore point's hives is mounted now.");
    for (size_t i = 0; i < ready.size(); ++i) {
        std::string bad;
        if (!reg.scheduleReplacement(ready[i].mountPath, ready[i].newFile,
                                     ready[i].windowsFile + ".bak", ReplaceKind::Restore, &bad))
            return fail("The hive " + ready[i].windowsFile +
                        " cannot be scheduled for the restart: " + bad +
                        (i ? " (the hives before it are scheduled)" : ""));
    }
    return true;
}

}  // namespace brisko
