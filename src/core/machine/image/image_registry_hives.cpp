#include "core/machine/image/image_registry.h"

#include "core/machine/image/image_registry_impl.h"


namespace brisko {

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

}  // namespace brisko
