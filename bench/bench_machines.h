#pragma once
// The benchmark machines of four sizes (28 MB, 111 MB, 450 MB and 1 GB of
// hives), made once into a cache folder and reused by every later run:
// $BRISKO_BENCH_CACHE, else ~/.cache/brisko/bench-machines. The two small
// ones hold the large SOFTWARE hive of large_hive.h (a quarter of it, and
// whole); the two large ones add the shapes of registries that grew for
// years (deep folder-view trees, big cached values) to SOFTWARE and to the
// user's two hives. Never part of the test run.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "demo/machine_builder.h"
#include "large_hive.h"

namespace brisko::bench {

inline constexpr std::array<int, 4> kMachineSizesMb{28, 111, 450, 1024};

inline std::filesystem::path machineCache() {
    if (const char* dir = std::getenv("BRISKO_BENCH_CACHE"); dir && *dir) return dir;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/tmp") / ".cache" / "brisko" / "bench-machines";
}

namespace detail {

// Moves the keys and values of `from` into `to`, merging keys both hold.
inline void merge(RegTreeKey& to, RegTreeKey& from) {
    for (auto& k : from.subkeys) {
        RegTreeKey* same = nullptr;
        for (auto& t : to.subkeys)
            if (equalsNoCase(t->name, k->name)) same = t.get();
        if (same)
            merge(*same, *k);
        else
            to.subkeys.push_back(std::move(k));
    }
    for (auto& v : from.values) to.values.push_back(std::move(v));
}

inline void moveInto(RegTreeKey& to, LargeHive&& from) {
    merge(to, *from.root);
}

inline void buildMachine(int mb, const std::filesystem::path& dir) {
    MachineBuilder builder("Bench");
    RegTreeKey& software = builder.hive("SOFTWARE");
    if (mb <= 111) {
        moveInto(software,
                 mb < 111 ? makeLargeSoftwareHive(75000, 150000) : makeLargeSoftwareHive());
    } else {
        // Seven tenths in SOFTWARE, the rest in the user's hives.
        const size_t total = size_t(mb) << 20;
        moveInto(software, makeHiveOfSize(total / 10 * 7, {true, true}, 11));
        RegTreeKey user;
        user.subkeys.push_back(std::make_unique<RegTreeKey>());
        user.subkeys.back()->name = "Software";
        moveInto(*user.subkeys.back(), makeHiveOfSize(total / 5, {false, true}, 12));
        merge(builder.hive("NTUSER"), user);
        moveInto(builder.hive("USRCLASS"), makeHiveOfSize(total / 10, {true, false}, 13));
    }
    builder.addRegText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"CurrentVersion\"=\"6.1\"\r\n\"CurrentBuild\"=\"7601\"\r\n"
        "\"ProductName\"=\"Windows 7 Professional\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
        "Folders]\r\n"
        "\"Desktop\"=\"C:\\\\Users\\\\Bench\\\\Desktop\"\r\n"
        "\"AppData\"=\"C:\\\\Users\\\\Bench\\\\AppData\\\\Roaming\"\r\n");
    builder.addFolder("C:\\Windows\\Fonts");
    builder.addFolder("C:\\Users\\Bench\\Desktop");
    builder.write(dir);
}

}  // namespace detail

// The machine of `mb` megabytes of hives, built on first use (which takes
// minutes and gigabytes of memory for the large ones). Throws on failure.
inline std::filesystem::path benchMachine(int mb) {
    namespace fs = std::filesystem;
    fs::path dir = machineCache() / (std::to_string(mb) + "mb");
    if (fs::exists(dir / "complete")) return dir / "machine";
    std::fprintf(stderr, "building the %d MB benchmark machine in %s\n", mb, dir.c_str());
    fs::remove_all(dir);
    fs::create_directories(dir);
    detail::buildMachine(mb, dir / "machine");
    std::ofstream(dir / "complete") << "built\n";
    return dir / "machine";
}

// The hive files of a machine and their total size.
inline std::vector<std::filesystem::path> machineHives(const std::filesystem::path& machine,
                                                       uintmax_t* bytes = nullptr) {
    std::vector<std::filesystem::path> hives;
    if (bytes) *bytes = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(machine)) {
        if (!e.is_regular_file()) continue;
        std::string name = e.path().filename().string();
        if ((e.path().parent_path().filename() == "config" &&
             name.find('.') == std::string::npos) ||
            name == "NTUSER.DAT" || name == "UsrClass.dat") {
            hives.push_back(e.path());
            if (bytes) *bytes += e.file_size();
        }
    }
    return hives;
}

}  // namespace brisko::bench
