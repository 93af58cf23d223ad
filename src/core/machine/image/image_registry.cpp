#include "core/machine/image/image_registry.h"

#include "core/machine/image/image_registry_impl.h"


namespace brisko {

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
