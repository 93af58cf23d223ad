#pragma once
// A lifelike SOFTWARE hive in memory for benchmarks: COM classes, interfaces,
// type libraries, file types, installer data and vendor settings, deterministic
// for a given seed. Benches write it with writeHiveFile and work on the file.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/reg_tree.h"
#include "base/text.h"

namespace brisko::bench {

struct LargeHive {
    std::unique_ptr<RegTreeKey> root;
    size_t keys = 0;
    size_t values = 0;
    size_t bytes = 0;  // roughly what the cells take in a written hive
};

// What the generated tree holds besides the usual COM, file type, installer
// and vendor keys: the shapes of hives that grew for years.
struct HiveShapes {
    bool deepTrees = false;  // Explorer's folder views: chains ten to twenty keys deep
    bool bigValues = false;  // cached blobs of 64 KB to 1 MB
};

namespace detail {

class HiveGenerator {
  public:
    explicit HiveGenerator(uint64_t seed, HiveShapes shapes = {}) : state_(seed), shapes_(shapes) {}

    LargeHive run(size_t minKeys, size_t minValues, size_t minBytes = 0) {
        hive_.root = std::make_unique<RegTreeKey>();
        hive_.root->name = "CMI-CreateHive{199DAFC2-6F16-4946-BF90-5A3FC3A60902}";
        hive_.keys = 1;
        RegTreeKey& classes = key(*hive_.root, "Classes");
        clsid_ = &key(classes, "CLSID");
        interfaces_ = &key(classes, "Interface");
        typeLibs_ = &key(classes, "TypeLib");
        classes_ = &classes;
        RegTreeKey& windows = key(key(key(*hive_.root, "Microsoft"), "Windows"), "CurrentVersion");
        uninstall_ = &key(windows, "Uninstall");
        components_ =
            &key(key(key(key(windows, "Installer"), "UserData"), "S-1-5-18"), "Components");
        static const char* vendors[] = {"Adobe",
                                        "Apple Inc.",
                                        "Autodesk",
                                        "Corel",
                                        "Dell",
                                        "Google",
                                        "Intel",
                                        "Logitech",
                                        "Macromedia",
                                        "Mozilla",
                                        "NVIDIA Corporation",
                                        "Oracle",
                                        "Realtek",
                                        "Symantec",
                                        "VideoLAN",
                                        "WinRAR",
                                        "Yahoo",
                                        "Zoom",
                                        "Canon",
                                        "HP"};
        for (const char* v : vendors) vendors_.push_back(&key(*hive_.root, v));

        if (shapes_.deepTrees)
            bags_ = &key(key(key(key(key(key(classes, "Local Settings"), "Software"), "Microsoft"),
                                 "Windows"),
                             "Shell"),
                         "BagMRU");
        const uint32_t kinds = 10 + (shapes_.deepTrees ? 2 : 0) + (shapes_.bigValues ? 1 : 0);
        while (hive_.keys < minKeys || hive_.values < minValues || hive_.bytes < minBytes) {
            uint32_t kind = below(kinds);
            if (kind >= 10) {
                if (shapes_.deepTrees && kind < 12)
                    folderViews();
                else
                    bigValue();
                continue;
            }
            switch (kind) {
                case 0:
                case 1:
                case 2:
                    comClass();
                    break;
                case 3:
                    interface();
                    break;
                case 4:
                    typeLib();
                    break;
                case 5:
                    fileType();
                    break;
                case 6:
                    uninstallEntry();
                    break;
                case 7:
                case 8:
                    component();
                    break;
                default:
                    vendorProduct();
                    break;
            }
        }
        return std::move(hive_);
    }

  private:
    uint64_t next() {  // splitmix64
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }

    std::string guid() {
        uint64_t a = next(), b = next();
        char s[40];
        std::snprintf(s, sizeof s, "{%08X-%04X-%04X-%04X-%012llX}", uint32_t(a >> 32),
                      unsigned(a >> 16) & 0xFFFF, unsigned(a) & 0xFFFF, unsigned(b >> 48),
                      static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
        return s;
    }
    std::string hex32() {
        char s[40];
        std::snprintf(s, sizeof s, "%016llX%016llX", static_cast<unsigned long long>(next()),
                      static_cast<unsigned long long>(next()));
        return s;
    }
    std::string word() {
        static const char* words[] = {"Shell",  "Media",  "Sync",    "Print",  "Update", "Viewer",
                                      "Editor", "Helper", "Service", "Player", "Cloud",  "Link",
                                      "Search", "Office", "Photo",   "Net",    "Data",   "Core"};
        return words[below(18)];
    }

    // Cell sizes as the writer lays them out, near enough to aim at a file size.
    RegTreeKey& key(RegTreeKey& parent, std::string name) {
        hive_.bytes += 88 + name.size() + 8;
        parent.subkeys.push_back(std::make_unique<RegTreeKey>());
        parent.subkeys.back()->name = std::move(name);
        ++hive_.keys;
        return *parent.subkeys.back();
    }
    void value(RegTreeKey& k, std::string name, uint32_t type, std::vector<uint8_t> data) {
        hive_.bytes += 32 + name.size() + 4 + (data.size() > 4 ? (data.size() + 11) / 8 * 8 : 0);
        k.values.push_back(RegValue{std::move(name), type, std::move(data)});
        ++hive_.values;
    }
    void text(RegTreeKey& k, std::string name, const std::string& s, uint32_t type = REG_SZ) {
        value(k, std::move(name), type, utf8ToUtf16le(s));
    }
    void dword(RegTreeKey& k, std::string name, uint32_t v) {
        value(k, std::move(name), REG_DWORD,
              {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> d(n);
        for (auto& b : d) b = uint8_t(next());
        return d;
    }
    std::string path() {
        return "%ProgramFiles%\\" + word() + " " + std::to_string(serial_) + "\\" + word() + ".dll";
    }

    void comClass() {
        std::string id = guid(), prog = word() + "." + word() + "." + std::to_string(++serial_);
        RegTreeKey& c = key(*clsid_, id);
        text(c, "", word() + " " + word() + " Class");
        RegTreeKey& server = key(c, "InprocServer32");
        text(server, "", path(), REG_EXPAND_SZ);
        text(server, "ThreadingModel", below(2) ? "Apartment" : "Both");
        text(key(c, "ProgID"), "", prog);
        if (below(2)) key(key(c, "Implemented Categories"), guid());
        if (below(3) == 0) text(c, "AppID", guid());
        RegTreeKey& p = key(*classes_, prog);
        text(p, "", word() + " Object");
        text(key(p, "CLSID"), "", id);
    }

    void interface() {
        RegTreeKey& i = key(*interfaces_, guid());
        text(i, "", "I" + word() + word());
        text(key(i, "ProxyStubClsid32"), "", "{00020424-0000-0000-C000-000000000046}");
        text(key(i, "NumMethods"), "", std::to_string(3 + below(40)));
    }

    void typeLib() {
        RegTreeKey& version = key(key(*typeLibs_, guid()), "1." + std::to_string(below(4)));
        text(version, "", word() + " Type Library");
        text(key(key(version, "0"), "win32"), "", path());
        text(key(version, "FLAGS"), "", "0");
        text(key(version, "HELPDIR"), "", "%SystemRoot%\\system32");
    }

    void fileType() {
        std::string ext = "." + word().substr(0, 3) + std::to_string(++serial_);
        std::string prog = word() + "File" + std::to_string(serial_);
        RegTreeKey& e = key(*classes_, ext);
        text(e, "", prog);
        text(e, "Content Type", "application/x-" + word());
        text(e, "PerceivedType", "document");
        RegTreeKey& open = key(e, "OpenWithProgids");
        value(open, prog, REG_NONE, {});
        RegTreeKey& p = key(*classes_, prog);
        text(p, "", word() + " Document");
        value(p, "EditFlags", REG_BINARY, bytes(4));
        text(key(key(key(p, "shell"), "open"), "command"), "", "\"" + path() + "\" \"%1\"",
             REG_EXPAND_SZ);
    }

    void uninstallEntry() {
        RegTreeKey& u = key(*uninstall_, guid());
        std::string name = word() + " " + word() + " " + std::to_string(++serial_);
        text(u, "DisplayName", name);
        text(u, "DisplayVersion", std::to_string(below(20)) + "." + std::to_string(below(100)));
        text(u, "Publisher", vendors_[below(uint32_t(vendors_.size()))]->name);
        text(u, "InstallDate", "2012" + std::to_string(1000 + below(1231)).substr(1));
        text(u, "InstallLocation", "C:\\Program Files\\" + name + "\\");
        text(u, "UninstallString", "MsiExec.exe /X" + u.name, REG_EXPAND_SZ);
        dword(u, "EstimatedSize", below(500000));
        dword(u, "NoModify", 1);
        dword(u, "NoRepair", below(2));
        dword(u, "Language", 1033);
        dword(u, "Version", uint32_t(next()));
    }

    void component() {
        RegTreeKey& c = key(*components_, hex32());
        uint32_t n = 1 + below(4);
        for (uint32_t i = 0; i < n; ++i)
            text(c, hex32(),
                 "C:\\Program Files\\" + word() + "\\" + word() + std::to_string(i) + ".dll");
    }

    void vendorProduct() {
        RegTreeKey& vendor = *vendors_[below(uint32_t(vendors_.size()))];
        RegTreeKey& product = key(vendor, word() + " " + std::to_string(++serial_));
        for (uint32_t v = 0, versions = 1 + below(2); v < versions; ++v) {
            RegTreeKey& version = key(product, std::to_string(v + 1) + ".0");
            text(version, "InstallPath", "C:\\Program Files\\" + vendor.name + "\\");
            dword(version, "Installed", 1);
            RegTreeKey& settings = key(version, "Settings");
            uint32_t n = 4 + below(8);
            for (uint32_t i = 0; i < n; ++i) {
                std::string name = word() + std::to_string(i);
                switch (below(8)) {
                    case 0:
                    case 1:
                        dword(settings, name, below(1000));
                        break;
                    case 2:
                        text(settings, name, word() + " " + word());
                        break;
                    case 3:
                        value(settings, name, REG_BINARY, bytes(8 + below(120)));
                        break;
                    case 4:
                        value(settings, name, REG_QWORD, bytes(8));
                        break;
                    case 5:
                        value(settings, name, REG_MULTI_SZ,
                              utf8ToUtf16le(word() + '\0' + word() + '\0' + '\0', false));
                        break;
                    case 6:
                        value(settings, name, REG_BINARY, bytes(below(40) ? 1024 : 20000));
                        break;
                    default:
                        text(settings, name, path(), REG_EXPAND_SZ);
                        break;
                }
            }
        }
    }

    // A folder view chain: BagMRU\3\0\12\..., each level with its item
    // blob and MRU order, as Explorer leaves them in the classes hive.
    void folderViews() {
        RegTreeKey* k = bags_;
        for (uint32_t depth = 0, n = 10 + below(11); depth < n; ++depth) {
            std::string name = std::to_string(below(depth < 2 ? 40 : 6));
            RegTreeKey* next = nullptr;
            for (auto& sub : k->subkeys)
                if (sub->name == name) next = sub.get();
            if (!next) {
                next = &key(*k, name);
                value(*next, "MRUListEx", REG_BINARY, bytes(8 + 4 * below(6)));
                value(*next, "NodeSlot", REG_DWORD, bytes(4));
                value(*next, "0", REG_BINARY, bytes(40 + below(260)));
            }
            k = next;
        }
    }

    // A vendor's cached blob: an icon cache, a certificate list, a saved state.
    void bigValue() {
        RegTreeKey& vendor = *vendors_[below(uint32_t(vendors_.size()))];
        RegTreeKey& cache = key(vendor, "Cache " + std::to_string(++serial_));
        value(cache, "Blob", REG_BINARY, bytes(65536u << below(5)));
        dword(cache, "Size", below(1u << 20));
    }

    uint64_t state_;
    HiveShapes shapes_;
    uint64_t serial_ = 0;
    LargeHive hive_;
    RegTreeKey *classes_ = nullptr, *clsid_ = nullptr, *interfaces_ = nullptr, *typeLibs_ = nullptr;
    RegTreeKey *uninstall_ = nullptr, *components_ = nullptr, *bags_ = nullptr;
    std::vector<RegTreeKey*> vendors_;
};

}  // namespace detail

// At least minKeys keys and minValues values; the same tree for the same seed.
inline LargeHive makeLargeSoftwareHive(size_t minKeys = 300000, size_t minValues = 600000,
                                       uint64_t seed = 1) {
    return detail::HiveGenerator(seed).run(minKeys, minValues);
}

// About `bytes` of hive with the given shapes; the same tree for the same seed.
inline LargeHive makeHiveOfSize(size_t bytes, HiveShapes shapes, uint64_t seed) {
    return detail::HiveGenerator(seed, shapes).run(0, 0, bytes);
}

}  // namespace brisko::bench
