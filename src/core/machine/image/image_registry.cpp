#include "core/machine/image/image_registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_set>

#include "base/text.h"
#include "core/machine/image/commit_journal.h"
#include "core/machine/image/machine_lock.h"
#include "core/machine/image/registry_views.h"
#include "core/small_file.h"
#include "hive/hive.h"
#include "hive/hive_copy.h"
#include "hive/regf_writer.h"

namespace brisko {

using namespace hive;

namespace fs = std::filesystem;
using regview::KeyBase;
using regview::Mount;
using regview::State;
using regview::VirtualChild;

namespace {
// Decides every change before it reaches a hive, and keeps the machine's
// write lock from the first change to the commit or discard. Shared with the
// key handles, which may outlive the registry.
struct WriteGuard {
    std::mutex mutex;
    std::unique_ptr<MachineLock> lock;
    std::chrono::milliseconds wait = kMachineLockWait;
    std::unordered_set<const Hive*> checked;  // unchanged on disk since the lock was taken
    std::unordered_set<const Hive*> stale;    // changed by another program: refused
    std::vector<std::string> refusals;
    bool lockFailed = false;  // asked once per job: every change would wait again
    bool closed = false;

    void refuse(std::string why) {
        if (std::find(refusals.begin(), refusals.end(), why) == refusals.end())
            refusals.push_back(std::move(why));
    }

    bool allow(const Mount& m) {
        std::lock_guard g(mutex);
        const Hive* hive = m.hive.get();
        if (closed) return false;
        if (!m.hive->writable()) {
            std::string why = m.hive->readOnlyReason();
            refuse(why.empty() ? "The registry hive " + m.hiveSpec.windowsFile +
                                     " cannot be written; nothing was changed."
                               : why);
            return false;
        }
        if (lockFailed || stale.count(hive)) return false;
        if (!lock->held()) {
            std::string why;
            if (!lock->acquire(wait, &why)) {
                lockFailed = true;
                refuse(why);
                return false;
            }
            checked.clear();
        }
        if (!checked.count(hive)) {
            if (!m.hive->fileUnchanged()) {
                stale.insert(hive);
                refuse("The registry hive " + m.hiveSpec.windowsFile +
                       " was changed by another program after Brisko Cleaner read it; nothing "
                       "was changed. Open the machine again to work on its current state.");
                return false;
            }
            checked.insert(hive);
        }
        return true;
    }

    // After a commit or discard: the next change asks again.
    void reset() {
        std::lock_guard g(mutex);
        if (lock) lock->release();
        checked.clear();
        refusals.clear();
        lockFailed = false;
    }
};

std::string unloadedReason(const std::string& why) {
    return why.empty() ? "the file cannot be read" : why;
}
}  // namespace

struct ImageRegistry::Impl {
    std::shared_ptr<State> state = std::make_shared<State>();
    std::shared_ptr<WriteGuard> guard = std::make_shared<WriteGuard>();
    Resolver resolver;
    fs::path folder;
    fs::path pendingFile;
    std::mutex pendingMutex;
    std::mutex commitMutex;
    mutable std::mutex errorMutex;
    std::string lastCommitError;
    std::vector<HiveStatus> unloaded;  // hives named but not mounted
    std::function<bool(CommitStep, size_t)> probe;

    // Copies saveHive wrote and found equal to their hive, by the copy's
    // file: asked again, one that is still that file of that unchanged hive
    // need not be read back a second time. Why the last save of a hive failed,
    // by the hive's file.
    struct VerifiedCopy {
        std::weak_ptr<Hive> hive;
        uint64_t generation = 0;
        struct stat file {};
    };
    std::mutex copiesMutex;
    std::unordered_map<std::string, VerifiedCopy> verifiedCopies;
    std::unordered_map<std::string, std::string> saveFailures;

    std::unique_ptr<KeyBase> hiveRoot(const Mount* m, KeyAccess access) {
        return regview::openHiveRoot(state, m, access);
    }

    // HKEY_LOCAL_MACHINE or HKEY_USERS: the hives mounted below it.
    std::unique_ptr<KeyBase> mountRoot(bool machine) {
        std::vector<VirtualChild> children;
        if (machine)
            children.push_back(
                {"HARDWARE", [](KeyAccess) { return regview::makeVirtualKey({}, {}); }});
        for (const auto& m : state->mounts) {
            if (m->machine != machine) continue;
            const Mount* mount = m.get();
            children.push_back({m->leaf, [st = state, mount](KeyAccess a) {
                                    return regview::openHiveRoot(st, mount, a);
                                }});
        }
        if (machine)
            std::stable_sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
                return foldRegistryName(a.name) < foldRegistryName(b.name);
            });
        return regview::makeVirtualKey(std::move(children), {});
    }

    std::unique_ptr<KeyBase> classesRoot(KeyAccess access) {
        const Mount* user = state->find(false, state->currentSid + "_Classes");
        std::unique_ptr<KeyBase> machine;
        if (auto software = hiveRoot(state->find(true, "SOFTWARE"), access))
            machine = software->child("Classes",
                                      access == KeyAccess::Read ? access : KeyAccess::ReadWrite);
        return regview::makeMergedKey(hiveRoot(user, access), std::move(machine));
    }

    std::function<void(const std::string&)> scheduledHook;
    std::vector<PendingReplace> readPending() { return readPendingList(pendingFile); }

    bool step(CommitStep s, size_t hive) { return !probe || probe(s, hive); }
    bool commitChanged(std::string& error);
};

ImageRegistry::ImageRegistry(std::vector<HiveSpec> hives, std::string currentUserSid,
                             Resolver resolver, fs::path pendingListFile)
    : impl_(std::make_unique<Impl>()) {
    impl_->resolver = std::move(resolver);
    impl_->pendingFile = std::move(pendingListFile);
    impl_->folder = impl_->pendingFile.parent_path();
    if (impl_->folder.empty()) impl_->folder = ".";
    impl_->guard->lock = std::make_unique<MachineLock>(impl_->folder);
    State& st = *impl_->state;
    st.currentSid = std::move(currentUserSid);
    st.allowEdit = [guard = impl_->guard](const Mount& m) { return guard->allow(m); };
    static constexpr std::string_view kMachine = "\\REGISTRY\\MACHINE\\";
    static constexpr std::string_view kUser = "\\REGISTRY\\USER\\";
    struct Identity {
        dev_t dev;
        ino_t ino;
        std::string mountPath;
    };
    std::vector<Identity> seen;
    auto leaveOut = [&](HiveSpec& mount, std::string line, std::string reason) {
        errors_.push_back(std::move(line));
        HiveStatus status;
        status.mount = std::move(mount);
        status.state.health = HiveHealth::Damaged;
        status.state.reason = std::move(reason);
        impl_->unloaded.push_back(std::move(status));
    };
    for (auto& hiveSpec : hives) {
        auto m = std::make_unique<Mount>();
        std::string_view path = hiveSpec.mountPath;
        m->machine = startsWithNoCase(path, kMachine);
        if (!m->machine && !startsWithNoCase(path, kUser)) {
            errors_.push_back("The registry hive " + hiveSpec.windowsFile +
                              " has a mount path Windows does not use: " + hiveSpec.mountPath);
            continue;
        }
        m->leaf = std::string(path.substr(m->machine ? kMachine.size() : kUser.size()));
        if (m->leaf.empty() || m->leaf.find('\\') != std::string::npos ||
            st.find(m->machine, m->leaf)) {
            errors_.push_back("The registry hive " + hiveSpec.windowsFile +
                              " cannot be mounted at " + hiveSpec.mountPath);
            continue;
        }
        // Two mounts of one file would each write their own copy of it, and
        // the later commit would lose the other's changes.
        struct stat fileStat {};
        if (::stat(hiveSpec.hostFile.c_str(), &fileStat) == 0) {
            auto same = std::find_if(seen.begin(), seen.end(), [&](const Identity& i) {
                return i.dev == fileStat.st_dev && i.ino == fileStat.st_ino;
            });
            if (same != seen.end()) {
                errors_.push_back("The registry hive " + hiveSpec.windowsFile + " (" +
                                  hiveSpec.mountPath + ") is the file already mounted at " +
                                  same->mountPath + "; it is mounted there only.");
                continue;
            }
            seen.push_back({fileStat.st_dev, fileStat.st_ino, hiveSpec.mountPath});
        }
        std::string why;
        m->hive = Hive::open(hiveSpec.hostFile, &why);
        if (!m->hive) {
            std::string line = "Cannot load the registry hive " + hiveSpec.windowsFile + " (" +
                               hiveSpec.hostFile.string() + "): " + why;
            leaveOut(hiveSpec, std::move(line), unloadedReason(why));
            continue;
        }
        if (m->machine && equalsNoCase(m->leaf, "SYSTEM")) m->role = Mount::Role::System;
        if (m->machine && equalsNoCase(m->leaf, "SOFTWARE")) m->role = Mount::Role::Software;
        if (!m->machine) {
            m->role =
                endsWithNoCase(m->leaf, "_Classes") ? Mount::Role::UserClasses : Mount::Role::User;
        }
        m->hiveSpec = std::move(hiveSpec);
        st.mounts.push_back(std::move(m));
    }
    for (auto& m : st.mounts)
        if (m->role == Mount::Role::User) m->classes = st.find(false, m->leaf + "_Classes");
}

ImageRegistry::~ImageRegistry() {
    close();
}

std::unique_ptr<KeyHandle> ImageRegistry::openKey(RootKey root, std::string_view subPath,
                                                  KeyAccess access) {
    std::unique_ptr<KeyBase> base;
    switch (root) {
        case RootKey::LocalMachine:
            base = impl_->mountRoot(true);
            break;
        case RootKey::Users:
            base = impl_->mountRoot(false);
            break;
        case RootKey::CurrentUser:
            if (impl_->state->currentSid.empty()) return nullptr;
            base = impl_->hiveRoot(impl_->state->find(false, impl_->state->currentSid), access);
            break;
        case RootKey::ClassesRoot:
            base = impl_->classesRoot(access);
            break;
        case RootKey::CurrentConfig:
            base = impl_->mountRoot(true)->openPath(
                "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current",
                access == KeyAccess::Read ? access : KeyAccess::ReadWrite);
            break;
    }
    if (!base) return nullptr;
    return base->openPath(subPath, access);
}

bool ImageRegistry::Impl::commitChanged(std::string& error) {
    std::vector<Mount*> changed;
    for (const auto& m : state->mounts)
        if (m->hive->dirty()) changed.push_back(m.get());
    if (changed.empty()) return true;
    std::string why;
    {
        std::lock_guard g(guard->mutex);
        if (!guard->lock->acquire(guard->wait, &why)) {
            error = why;
            return false;
        }
    }

    // First every new hive beside its file. A failure here leaves every hive
    // as it was, with its changes still in memory.
    std::vector<HiveReplacement> copies;
    auto dropCopies = [&] {
        for (const auto& c : copies) ::unlink(c.newFile.c_str());
    };
    for (size_t i = 0; i < changed.size(); ++i) {
        Mount& m = *changed[i];
        if (!m.hive->fileUnchanged()) {
            error = "The registry hive " + m.hiveSpec.windowsFile +
                    " was changed by another program after Brisko Cleaner read it; no hive was "
                    "changed.";
            dropCopies();
            return false;
        }
        fs::path copy = newHiveCopyName(m.hive->file());
        if (!m.hive->writeCommitCopy(copy, &why)) {
            error = "Cannot write the registry hive " + m.hiveSpec.windowsFile + ": " + why +
                    "; no hive was changed.";
            ::unlink(copy.c_str());
            dropCopies();
            return false;
        }
        copies.push_back({copy, m.hive->file()});
        if (!step(CommitStep::CopyWritten, i)) {
            error =
                "The commit was stopped after writing " + copy.string() + "; no hive was changed.";
            dropCopies();
            return false;
        }
    }
    std::set<fs::path> folders;
    for (const auto& c : copies) folders.insert(c.hive.parent_path());
    for (const auto& f : folders) syncFolder(f);

    // From here on the commit happens: once the journal is on the disk, the
    // next open finishes whatever a crash leaves undone.
    if (!writeCommitJournal(folder, copies, &why)) {
        error = "Cannot record the commit in " + commitJournalFile(folder).string() + ": " + why +
                "; no hive was changed.";
        dropCopies();
        return false;
    }
    if (!step(CommitStep::JournalWritten, 0)) {
        error = "The commit was stopped after its journal; it is finished at the next open.";
        return false;
    }
    bool allRenamed = true;
    for (size_t i = 0; i < copies.size(); ++i) {
        if (::rename(copies[i].newFile.c_str(), copies[i].hive.c_str()) != 0) {
            error = "Cannot put the new registry hive " + changed[i]->hiveSpec.windowsFile +
                    " in place (" + std::strerror(errno) +
                    "); the commit is finished when the machine is opened next.";
            allRenamed = false;
            break;
        }
        if (!step(CommitStep::Renamed, i)) {
            error = "The commit was stopped part-way; it is finished at the next open.";
            return false;
        }
    }
    for (const auto& f : folders) syncFolder(f);
    if (!allRenamed) return false;
    for (Mount* m : changed) m->hive->commitLanded();
    if (!step(CommitStep::Landed, 0)) return true;
    removeCommitJournal(folder);
    return true;
}

bool ImageRegistry::commit() {
    std::lock_guard lock(impl_->commitMutex);
    std::string error;
    bool ok = impl_->commitChanged(error);
    // A commit that failed keeps the lock and the changes, to retry or discard.
    if (ok) impl_->guard->reset();
    std::lock_guard errorLock(impl_->errorMutex);
    impl_->lastCommitError = error;
    return ok;
}

void ImageRegistry::discard() {
    std::lock_guard lock(impl_->commitMutex);
    for (const auto& m : impl_->state->mounts) m->hive->discardChanges();
    impl_->guard->reset();
}

std::vector<std::string> ImageRegistry::refusedEdits() const {
    std::lock_guard g(impl_->guard->mutex);
    return impl_->guard->refusals;
}

std::vector<std::string> ImageRegistry::readOnlyHives() {
    std::vector<std::string> out;
    for (const auto& m : impl_->state->mounts)
        if (!m->hive->writable()) {
            std::string why = m->hive->readOnlyReason();
            out.push_back(why.empty() ? "The registry hive " + m->hiveSpec.windowsFile +
                                            " cannot be written."
                                      : why);
        }
    return out;
}

std::vector<HiveStatus> ImageRegistry::hiveStatus() const {
    std::vector<HiveStatus> out;
    for (const auto& m : impl_->state->mounts) {
        HiveStatus s;
        s.mount = m->hiveSpec;
        s.loaded = true;
        s.state = m->hive->state();
        s.writable = m->hive->writable();
        s.readOnlyReason = m->hive->readOnlyReason();
        out.push_back(std::move(s));
    }
    for (const auto& u : impl_->unloaded) out.push_back(u);
    return out;
}

void ImageRegistry::setLockWait(std::chrono::milliseconds wait) {
    std::lock_guard g(impl_->guard->mutex);
    impl_->guard->wait = wait;
}

void ImageRegistry::adoptWriteLock(std::unique_ptr<MachineLock> held) {
    if (!held || !held->held()) return;
    std::lock_guard g(impl_->guard->mutex);
    impl_->guard->lock = std::move(held);
    impl_->guard->checked.clear();
}

bool ImageRegistry::holdsWriteLock() const {
    std::lock_guard g(impl_->guard->mutex);
    return impl_->guard->lock->held();
}

void ImageRegistry::setCommitProbe(std::function<bool(CommitStep, size_t)> probe) {
    std::lock_guard lock(impl_->commitMutex);
    impl_->probe = std::move(probe);
}

std::string ImageRegistry::lastCommitError() const {
    std::lock_guard lock(impl_->errorMutex);
    return impl_->lastCommitError;
}

std::vector<HiveMount> ImageRegistry::hiveList() {
    std::vector<HiveMount> out;
    for (const auto& m : impl_->state->mounts)
        out.push_back({m->hiveSpec.mountPath, m->hiveSpec.windowsFile});
    return out;
}

bool ImageRegistry::saveHive(std::string_view keyPath, std::string_view targetFile) {
    const Mount* m = impl_->state->byKeyPath(keyPath);
    if (!m || !impl_->resolver) return false;
    auto host = impl_->resolver(targetFile);
    if (!host) return false;
    std::error_code ec;
    // Like RegSaveKey, never over an existing file.
    if (fs::symlink_status(*host, ec).type() != fs::file_type::not_found) return false;
    // Unlike RegSaveKey, the copy is read back and compared before it is kept.
    uint64_t generation = m->hive->generation();
    std::string why;
    // The hive save serves the defrag: its copy is a reorganization.
    bool saved = saveVerifiedCopy(*m->hive, *host, &why, true);
    std::lock_guard lock(impl_->copiesMutex);
    impl_->verifiedCopies.erase(host->string());
    impl_->saveFailures.erase(m->hiveSpec.hostFile.string());
    Impl::VerifiedCopy record{m->hive, generation, {}};
    if (!saved)
        impl_->saveFailures[m->hiveSpec.hostFile.string()] = why;
    else if (::stat(host->c_str(), &record.file) == 0)
        impl_->verifiedCopies[host->string()] = record;
    return saved;
}

bool ImageRegistry::waitsForRestart(std::string_view file) {
    if (!impl_->resolver) return false;
    auto host = impl_->resolver(file);
    if (!host) return false;
    std::vector<PendingReplace> list;
    {
        std::lock_guard lock(impl_->pendingMutex);
        list = impl_->readPending();
    }
    std::error_code ec;
    for (const auto& p : list) {
        if (equalsNoCase(p.newFile, file)) return true;
        auto other = impl_->resolver(p.newFile);
        if (other && (*other == *host || fs::equivalent(*other, *host, ec))) return true;
    }
    return false;
}

bool ImageRegistry::replaceHive(std::string_view keyPath, std::string_view newFile,
                                std::string_view oldFile) {
    return scheduleReplacement(keyPath, newFile, oldFile, ReplaceKind::Compact, nullptr);
}

bool ImageRegistry::scheduleReplacement(std::string_view keyPath, std::string_view newFile,
                                        std::string_view oldFile, ReplaceKind kind,
                                        std::string* why) {
    return scheduleReplacements(
        {{std::string(keyPath), std::string(newFile), std::string(oldFile)}}, kind, why);
}

bool ImageRegistry::scheduleReplacements(const std::vector<Replacement>& all, ReplaceKind kind,
                                         std::string* why) {
    auto refuse = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    std::vector<PendingReplace> entries;
    for (const auto& r : all) {
        const Mount* m = impl_->state->byKeyPath(r.keyPath);
        if (!m || !impl_->resolver) return refuse("no hive is mounted at " + r.keyPath);
        for (std::string_view f : {std::string_view(r.newFile), std::string_view(r.oldFile)})
            if (f.empty() || f.find_first_of("\t\r\n") != std::string_view::npos)
                return refuse("the file name is not usable");
        auto newHost = impl_->resolver(r.newFile);
        auto oldHost = impl_->resolver(r.oldFile);
        std::error_code ec;
        if (!newHost || !oldHost || !fs::is_regular_file(*newHost, ec))
            return refuse("the new file " + r.newFile + " does not exist");
        if (fs::equivalent(*newHost, m->hiveSpec.hostFile, ec))
            return refuse("the new file is the hive itself");
        // A file Windows could not load would leave the machine without that
        // hive at its next start.
        std::string bad;
        auto check = Hive::open(*newHost, &bad);
        if (!check || check->state().health == HiveHealth::Damaged)
            return refuse("the new file " + r.newFile + " is not a sound registry hive");
        check.reset();

        PendingReplace entry{m->hiveSpec.windowsFile, r.newFile, r.oldFile};
        entry.kind = kind;
        // Changes not yet on disk leave the hive's identity unknown: the restart
        // then copies the hive again rather than trust a copy of unsaved state.
        if (!m->hive->dirty()) entry.hiveId = hiveIdentity(m->hiveSpec.hostFile);
        entry.newId = fileIdentity(*newHost);
        entries.push_back(std::move(entry));
    }

    // The list is shared with other programs writing this machine.
    MachineLock own(impl_->folder);
    if (!holdsWriteLock() && !own.acquire(impl_->guard->wait, why)) return false;
    {
        std::lock_guard lock(impl_->pendingMutex);
        auto list = impl_->readPending();
        for (const auto& entry : entries)
            std::erase_if(list, [&](const PendingReplace& p) {
                return equalsNoCase(p.hiveFile, entry.hiveFile);
            });
        list.insert(list.end(), entries.begin(), entries.end());
        std::error_code ec;
        fs::create_directories(impl_->pendingFile.parent_path(), ec);
        if (!writePendingList(impl_->pendingFile, list))
            return refuse("the list of pending replacements cannot be written");
    }
    if (impl_->scheduledHook)
        for (const auto& r : all) impl_->scheduledHook(r.newFile);
    return true;
}

bool ImageRegistry::verifyHiveCopy(std::string_view keyPath, std::string_view copyFile,
                                   std::string* why) {
    auto refuse = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    const Mount* m = impl_->state->byKeyPath(keyPath);
    if (!m || !impl_->resolver) return refuse("no hive is mounted at " + std::string(keyPath));
    auto state = m->hive->state();
    if (state.health == HiveHealth::Damaged)
        return refuse("the hive is damaged (" + state.reason + "); it is not compacted");
    auto host = impl_->resolver(copyFile);
    if (!host) return refuse("the copy lies outside the machine");
    uint64_t generation = m->hive->generation();
    struct stat now {};
    bool exists = ::stat(host->c_str(), &now) == 0;
    {
        std::lock_guard lock(impl_->copiesMutex);
        auto known = impl_->verifiedCopies.find(host->string());
        if (exists && known != impl_->verifiedCopies.end()) {
            const auto& was = known->second.file;
            if (known->second.hive.lock() == m->hive && known->second.generation == generation &&
                was.st_dev == now.st_dev && was.st_ino == now.st_ino &&
                was.st_size == now.st_size && was.st_mtim.tv_sec == now.st_mtim.tv_sec &&
                was.st_mtim.tv_nsec == now.st_mtim.tv_nsec)
                return true;
        }
        auto failed = impl_->saveFailures.find(m->hiveSpec.hostFile.string());
        if (!exists && failed != impl_->saveFailures.end()) return refuse(failed->second);
    }
    return copyMatchesHive(*m->hive, *host, why);
}

void ImageRegistry::setScheduledHook(std::function<void(const std::string&)> hook) {
    impl_->scheduledHook = std::move(hook);
}

const fs::path& ImageRegistry::pendingListFile() const {
    return impl_->pendingFile;
}

std::vector<ImageRegistry::PendingReplace> ImageRegistry::pendingReplacements() {
    std::lock_guard lock(impl_->pendingMutex);
    return impl_->readPending();
}

void ImageRegistry::clearPendingReplacements() {
    MachineLock own(impl_->folder);
    if (!holdsWriteLock() && !own.acquire(impl_->guard->wait)) return;
    std::lock_guard lock(impl_->pendingMutex);
    std::error_code ec;
    if (fs::exists(impl_->pendingFile, ec)) writeFileAtomically(impl_->pendingFile, "", nullptr);
}

void ImageRegistry::close() {
    discard();
    {
        // Key handles may keep the guard alive; the lock must not stay with them.
        std::lock_guard g(impl_->guard->mutex);
        impl_->guard->closed = true;
        impl_->guard->lock->release();
    }
    for (const auto& m : impl_->state->mounts) m->hive->close();
}

}  // namespace brisko
