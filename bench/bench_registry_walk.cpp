// Walks every key and reads every value of a large SOFTWARE-like hive through
// the image registry (RegistryKey and its handles), against a plain read of
// the same file from the page cache, and hivexml dumping it, in the same run.
// Usage: bench_registry_walk [folder]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench_timing.h"
#include "bench_walk.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/registry_key.h"
#include "hive/regf_writer.h"
#include "large_hive.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;
using bench::medianOf3;

int main(int argc, char** argv) {
    bool keep = argc > 1;
    fs::path dir =
        keep ? fs::path(argv[1])
             : fs::temp_directory_path() / ("brisko-bench-walk-" + std::to_string(::getpid()));
    fs::path config = dir / "C" / "Windows" / "System32" / "config";
    fs::create_directories(config);

    // A kept folder is reused as it is: the walk alone can then be profiled.
    bench::LargeHive hive = bench::makeLargeSoftwareHive();
    fs::path file = config / "SOFTWARE";
    if (!keep || !fs::exists(file)) {
        RegfWriteOptions options;
        options.embeddedName = "\\SystemRoot\\System32\\Config\\SOFTWARE";
        std::string error;
        if (!writeHiveFile(*hive.root, file, options, &error)) {
            std::fprintf(stderr, "writeHiveFile failed: %s\n", error.c_str());
            return 1;
        }
    }
    std::printf("hive: %zu keys, %zu values, %ju bytes\n", hive.keys, hive.values,
                uintmax_t(fs::file_size(file)));
    hive.root.reset();

    std::vector<HiveSpec> specs{{"\\REGISTRY\\MACHINE\\SOFTWARE", file,
                                 "C:\\Windows\\System32\\config\\SOFTWARE",
                                 "\\Device\\HarddiskVolume2\\Windows\\System32\\config\\SOFTWARE"}};
    bench::WalkCounts counts;
    double walkMs = medianOf3([&] {
        // Mounting is part of the walk: the hive is checked at open, as hivexml reads it whole.
        ImageRegistry reg(specs, "", {}, dir / "pending.txt");
        RegistryKey root(reg, RootKey::LocalMachine);
        if (!root.openKeyReadOnly("SOFTWARE")) return false;
        counts = {};
        bench::walkKey(*root.handle(), counts);
        return true;
    });
    if (walkMs < 0) {
        std::fprintf(stderr, "the hive could not be mounted\n");
        return 1;
    }
    std::string command = "hivexml '" + file.string() + "' > /dev/null";
    double hivexmlMs = medianOf3([&] { return std::system(command.c_str()) == 0; });
    if (hivexmlMs < 0) {
        std::fprintf(stderr, "hivexml failed\n");
        return 1;
    }
    std::printf("walked: %zu keys, %zu values, %zu data bytes\n", counts.keys, counts.values,
                counts.bytes);
    double readMs = medianOf3([&] { return bench::readFiles({file}); });
    std::printf("walk: %.0f ms, hivexml: %.0f ms, ratio: %.2f\n", walkMs, hivexmlMs,
                walkMs / hivexmlMs);
    bench::result("Walk of every key and value against a plain read of the hive", walkMs, readMs,
                  "ms", 5.0);
    if (!keep) fs::remove_all(dir);
    return counts.keys == hive.keys && counts.values == hive.values ? 0 : 2;
}
