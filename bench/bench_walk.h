#pragma once
// A walk of every key and value of a registry, depth first as the scanners
// go (list the values, read each, open each subkey), and a plain read of
// files for a baseline.
#include <fcntl.h>
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
    for (const auto& name : key.valueNames()) {
        if (auto v = key.value(name)) {
            ++counts.values;
            counts.bytes += v->data.size();
        }
    }
    for (const auto& name : key.subkeyNames())
        if (auto sub = key.openSubkey(name, KeyAccess::Read)) walkKey(*sub, counts);
}

// Every hive once: HKEY_LOCAL_MACHINE and HKEY_USERS hold them all.
inline WalkCounts walkRegistry(RegistryApi& registry) {
    WalkCounts counts;
    for (RootKey root : {RootKey::LocalMachine, RootKey::Users})
        if (auto key = registry.openKey(root, "", KeyAccess::Read)) walkKey(*key, counts);
    return counts;
}

// Reads each file whole into memory of its size, as a program that reads
// hives would (from the page cache once warm); false when one cannot be read.
inline bool readFiles(const std::vector<std::filesystem::path>& files) {
    for (const auto& f : files) {
        int fd = ::open(f.c_str(), O_RDONLY);
        if (fd < 0) return false;
        std::vector<char> buffer(std::filesystem::file_size(f));
        size_t at = 0;
        ssize_t n = 1;
        while (at < buffer.size() && (n = ::read(fd, buffer.data() + at, buffer.size() - at)) > 0)
            at += size_t(n);
        ::close(fd);
        if (n < 0) return false;
    }
    return true;
}

}  // namespace brisko::bench
