#include "core/machine/image/image_registry.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/machine/image/hive.h"
#include "core/machine/image/registry_views.h"
#include "core/machine/regf_writer.h"
#include "core/text.h"

namespace brisko {

namespace fs = std::filesystem;
using regview::KeyBase;
using regview::Mount;
using regview::State;
using regview::VirtualChild;

struct ImageRegistry::Impl {
    std::shared_ptr<State> state = std::make_shared<State>();
    Resolver resolver;
    fs::path pendingFile;
    std::mutex pendingMutex;
    std::mutex errorMutex;
    std::string lastCommitError;

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

    std::vector<PendingReplace> readPending() {
        std::vector<PendingReplace> out;
        std::ifstream in(pendingFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            auto f = split(line, '\t');
            if (f.size() != 3 || f[0].empty() || f[1].empty()) continue;
            out.push_back({f[0], f[1], f[2]});
        }
        return out;
    }
};

ImageRegistry::ImageRegistry(std::vector<HiveSpec> hives, std::string currentUserSid,
                             Resolver resolver, fs::path pendingListFile)
    : impl_(std::make_unique<Impl>()) {
    impl_->resolver = std::move(resolver);
    impl_->pendingFile = std::move(pendingListFile);
    State& st = *impl_->state;
    st.currentSid = std::move(currentUserSid);
    static constexpr std::string_view kMachine = "\\REGISTRY\\MACHINE\\";
    static constexpr std::string_view kUser = "\\REGISTRY\\USER\\";
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
        std::string why;
        m->hive = Hive::open(hiveSpec.hostFile, &why);
        if (!m->hive) {
            errors_.push_back("Cannot load the registry hive " + hiveSpec.windowsFile + " (" +
                              hiveSpec.hostFile.string() + "): " + why);
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

bool ImageRegistry::commit() {
    bool ok = true;
    std::string errors;
    for (const auto& m : impl_->state->mounts) {
        std::string why;
        if (!m->hive->commit(&why)) {
            ok = false;
            errors += (errors.empty() ? "" : "\n") + why;
        }
    }
    std::lock_guard lock(impl_->errorMutex);
    impl_->lastCommitError = errors;
    return ok;
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
    auto tree = m->hive->snapshot(nullptr);
    if (!tree) return false;
    RegfWriteOptions options;
    options.embeddedName = m->hive->embeddedName();
    return writeHiveFile(*tree, *host, options);
}

bool ImageRegistry::replaceHive(std::string_view keyPath, std::string_view newFile,
                                std::string_view oldFile) {
    const Mount* m = impl_->state->byKeyPath(keyPath);
    if (!m || !impl_->resolver) return false;
    for (std::string_view f : {newFile, oldFile})
        if (f.empty() || f.find_first_of("\t\r\n") != std::string_view::npos) return false;
    auto newHost = impl_->resolver(newFile);
    auto oldHost = impl_->resolver(oldFile);
    std::error_code ec;
    if (!newHost || !oldHost || !fs::is_regular_file(*newHost, ec)) return false;
    if (fs::equivalent(*newHost, m->hiveSpec.hostFile, ec)) return false;
    // A file Windows could not load would leave the machine without that
    // hive at its next start.
    if (!Hive::open(*newHost, nullptr)) return false;

    std::lock_guard lock(impl_->pendingMutex);
    auto list = impl_->readPending();
    std::erase_if(list, [&](const PendingReplace& p) {
        return equalsNoCase(p.hiveFile, m->hiveSpec.windowsFile);
    });
    list.push_back({m->hiveSpec.windowsFile, std::string(newFile), std::string(oldFile)});
    std::string text;
    for (const auto& p : list) text += p.hiveFile + '\t' + p.newFile + '\t' + p.oldFile + '\n';
    fs::create_directories(impl_->pendingFile.parent_path(), ec);
    return writeFileAtomically(impl_->pendingFile, text, nullptr);
}

std::vector<ImageRegistry::PendingReplace> ImageRegistry::pendingReplacements() {
    std::lock_guard lock(impl_->pendingMutex);
    return impl_->readPending();
}

void ImageRegistry::clearPendingReplacements() {
    std::lock_guard lock(impl_->pendingMutex);
    std::error_code ec;
    if (fs::exists(impl_->pendingFile, ec)) writeFileAtomically(impl_->pendingFile, "", nullptr);
}

void ImageRegistry::close() {
    commit();
    for (const auto& m : impl_->state->mounts) m->hive->close();
}

}  // namespace brisko
