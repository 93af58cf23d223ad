#pragma once
// A walk of every key and value of a registry, depth first as the scanners
// go (each key's values with their data, then each subkey in turn), and a plain read of
// files for a baseline.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "core/machine/registry_api.h"

namespace brisko::bench {

struct WalkCounts {
    size_t keys = 0, values = 0, bytes = 0;
};

inline void walkKey(KeyHandle& key, WalkCounts& counts) {
    ++counts.keys;
    key.forEachValue([&](const RegValue& v) {
        ++counts.values;
        counts.bytes += v.data.size();
        return true;
    });
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view, KeyHandle& sub) {
        walkKey(sub, counts);
        return true;
    });
}

// Every hive once: HKEY_LOCAL_MACHINE and HKEY_USERS hold them all.
inline WalkCounts walkRegistry(RegistryApi& registry) {
    WalkCounts counts;
    for (RootKey root : {RootKey::LocalMachine, RootKey::Users})
        if (auto key = registry.openKey(root, "", KeyAccess::Read)) walkKey(*key, counts);
    return counts;
}

// Reads each file whole into fresh memory of its size, as the hive reader
// does (from the page cache once warm); false when one cannot be read.
inline bool readFiles(const std::vector<std::filesystem::path>& files) {
    for (const auto& f : files) {
        int fd = ::open(f.c_str(), O_RDONLY);
        if (fd < 0) return false;
        size_t size = std::filesystem::file_size(f);
        void* map =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        bool ok = map != MAP_FAILED;
        if (ok) ::madvise(map, size, MADV_HUGEPAGE);
        for (size_t at = 0; ok && at < size;) {
            ssize_t n = ::pread(fd, static_cast<char*>(map) + at, size - at, off_t(at));
            ok = n > 0;
            at += ok ? size_t(n) : 0;
        }
        if (map != MAP_FAILED) ::munmap(map, size);
        ::close(fd);
        if (!ok) return false;
    }
    return true;
}

}  // namespace brisko::bench
