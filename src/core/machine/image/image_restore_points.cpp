#include "core/machine/image/image_restore_points.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "base/atomic_file.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "core/local_time.h"
#include "core/machine/image/beneath_open.h"
#include "core/machine/image/commit_journal.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/image/machine_lock.h"
#include "core/small_file.h"
#include "hive/hive_copy.h"
#include "hive/hive_log.h"

namespace brisko {

using namespace hive;

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

bool copySynced(int in, const fs::path& to);

// Copies a regular file (never through a link) and flushes the copy.
bool copySynced(const fs::path& from, const fs::path& to) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    return in.get() >= 0 && copySynced(in.get(), to);
}

bool copySynced(int in, const fs::path& to) {
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (out.get() < 0) return false;
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
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

// A folder below `dir`, reached without following any link; made (owner
// only) when missing and `make` is set.
UniqueFd openFolderBeneath(int dir, const std::string& name, bool make) {
    constexpr int kFlags = O_DIRECTORY | O_RDONLY | O_CLOEXEC;
    int fd = image::openBeneath(dir, name, kFlags);
    if (fd < 0 && errno == ENOENT && make && ::mkdirat(dir, name.c_str(), 0700) == 0)
        fd = image::openBeneath(dir, name, kFlags);
    return UniqueFd(fd);
}

// The path of an open folder: whatever becomes of the names that led to it,
// paths below this one start from the folder itself.
fs::path heldPath(const UniqueFd& fd) {
    return fs::path("/proc/self/fd") / std::to_string(fd.get());
}

// Copies a regular file of the folder `dir` (never through a link) into `to`.
bool copyHeld(int dir, const std::string& name, const fs::path& to) {
    UniqueFd in(image::openBeneath(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    return copySynced(in.get(), to);
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

// The folder of the restore points, held open: it and the folder above it
// are real folders of the machine, never links that lead elsewhere.
UniqueFd ImageRestorePoints::openFolder(bool make, std::string* why) const {
    UniqueFd root(::open(machine_.folder().c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    UniqueFd svi = root.get() < 0
                       ? UniqueFd(-1)
                       : openFolderBeneath(root.get(), "System Volume Information", make);
    UniqueFd rp = svi.get() < 0 ? UniqueFd(-1) : openFolderBeneath(svi.get(), "_restore", make);
    if (rp.get() < 0 && why)
        *why =
            errno == ELOOP || errno == ENOTDIR || errno == EXDEV
                ? "The restore point folder " + folder().string() +
                      " is a link or not a folder; nothing is kept there."
                : "The restore point folder cannot be opened: " + std::string(std::strerror(errno));
    return rp;
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
    UniqueFd held = openFolder(true, &why);
    if (held.get() < 0) return fail(why);
    const fs::path base = heldPath(held);
    int next = 1;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec))
        if (auto n = numberOf(it->path().filename().string())) next = std::max(next, *n + 1);
    fs::path rp = base / ("RP" + std::to_string(next));
    fs::path temp = base / ("RP" + std::to_string(next) + ".tmp");
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
    ::fsync(held.get());
    return true;
}

std::vector<RestorePointInfo> ImageRestorePoints::listRestorePoints() {
    std::vector<RestorePointInfo> out;
    std::error_code ec;
    UniqueFd held = openFolder(false, nullptr);
    if (held.get() < 0) return out;
    for (fs::directory_iterator it(heldPath(held), ec), end; !ec && it != end; it.increment(ec)) {
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
    std::lock_guard guard(mutex_);
    const std::string name = "RP" + std::to_string(number);
    std::string error;
    auto& reg = machine_.imageRegistry();
    // The copies it writes are never taken for a killed restore's leftovers.
    MachineLock own(machine_.folder());
    if (!reg.holdsWriteLock() && !own.acquire(kMachineLockWait, &error)) return fail(error);
    UniqueFd held = openFolder(false, &error);
    if (held.get() < 0) return fail("There is no restore point " + std::to_string(number) + ".");
    UniqueFd rpFd(image::openBeneath(held.get(), name, O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    if (rpFd.get() < 0) return fail("There is no restore point " + std::to_string(number) + ".");
    auto snap = readSnapshot(heldPath(rpFd), number);
    if (!snap || snap->hives.empty())
        return fail("The restore point " + std::to_string(number) + " cannot be read.");
    auto& files = machine_.imageFiles();
    auto mounted = reg.hiveList();

    // The snapshot's files are read into a private folder first, each opened
    // without following a link, so that nothing outside the restore point
    // can be made to stand in for one of its hives.
    std::error_code ec;
    std::string privateTemplate = (fs::temp_directory_path(ec) / "brisko-rp-XXXXXX").string();
    if (!::mkdtemp(privateTemplate.data())) return fail("No private folder for the restore.");
    const fs::path privateDir = privateTemplate;
    struct RemoveAll {
        fs::path p;
        ~RemoveAll() {
            std::error_code e;
            fs::remove_all(p, e);
        }
    } removePrivate{privateDir};

    // Every hive is made ready before any is scheduled: all of them come back, or none.
    struct Ready {
        std::string mountPath, windowsFile, newFile;
        fs::path host;
    };
    std::vector<Ready> ready;
    auto dropReady = [&] {
        for (const auto& r : ready) fs::remove(r.host, ec);
    };
    size_t i = 0;
    for (const auto& h : snap->hives) {
        bool isMounted = std::any_of(mounted.begin(), mounted.end(), [&](const HiveMount& m) {
            return equalsNoCase(m.keyPath, h.mountPath) && equalsNoCase(m.filePath, h.windowsFile);
        });
        if (!isMounted) continue;  // a profile since removed: nothing to put back
        const fs::path stored(h.stored);
        UniqueFd sub(image::openBeneath(rpFd.get(), stored.parent_path().string(),
                                        O_DIRECTORY | O_RDONLY | O_CLOEXEC));
        const fs::path mine = privateDir / std::to_string(i++);
        fs::create_directories(mine, ec);
        const std::string file = stored.filename().string();
        bool copied = sub.get() >= 0 && !ec && copyHeld(sub.get(), file, mine / file);
        if (copied)
            for (const auto& log : findHiveLogs(heldPath(sub) / file))
                copied =
                    copied && copyHeld(sub.get(), log.filename().string(), mine / log.filename());
        if (!copied) {
            dropReady();
            return fail("The hive " + h.windowsFile +
                        " of the restore point cannot be read (a link, or missing).");
        }
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
        if (!writeVerifiedHiveCopy(mine / file, *host, &bad)) {
            dropReady();
            return fail("The hive " + h.windowsFile +
                        " of the restore point cannot be used: " + bad);
        }
        ready.push_back({h.mountPath, h.windowsFile, newFile, *host});
    }
    if (ready.empty()) return fail("None of the restore point's hives is mounted now.");
    // One write of the pending list for all of them.
    std::vector<ImageRegistry::Replacement> all;
    for (const auto& r : ready) all.push_back({r.mountPath, r.newFile, r.windowsFile + ".bak"});
    std::string bad;
    own.release();  // the list write takes it again (two locks exclude each other)
    if (!reg.scheduleReplacements(all, ReplaceKind::Restore, &bad)) {
        dropReady();
        return fail("The restore point's hives cannot be scheduled for the restart: " + bad +
                    " Nothing was scheduled.");
    }
    return true;
}

}  // namespace brisko
