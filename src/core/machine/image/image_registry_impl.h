#pragma once
// The image registry's state, shared by its parts (image_registry*.cpp) only.
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
#include "core/machine/image/image_registry.h"
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

inline std::string unloadedReason(const std::string& why) {
    return why.empty() ? "the file cannot be read" : why;
}

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

}  // namespace brisko
