// Writes a large SOFTWARE-like hive and compares the time with copying the
// finished file. Usage: bench_hive_write [folder]  (the hive is kept when a
// folder is given, so other benches and tools can use it).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "bench_timing.h"
#include "hive/regf_writer.h"
#include "large_hive.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;
using bench::medianOf3;

namespace {}  // namespace

int main(int argc, char** argv) {
    bool keep = argc > 1;
    fs::path dir =
        keep ? fs::path(argv[1])
             : fs::temp_directory_path() / ("brisko-bench-hive-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    auto start = std::chrono::steady_clock::now();
    bench::LargeHive hive = bench::makeLargeSoftwareHive();
    std::chrono::duration<double, std::milli> made = std::chrono::steady_clock::now() - start;
    std::printf("tree: %zu keys, %zu values (generated in %.0f ms)\n", hive.keys, hive.values,
                made.count());

    fs::path file = dir / "SOFTWARE";
    RegfWriteOptions options;
    options.embeddedName = "\\SystemRoot\\System32\\Config\\SOFTWARE";
    std::string error;
    // Both timings produce a new file: neither pays for deleting the previous one.
    double write = medianOf3([&] { fs::remove(file); },
                             [&] { return writeHiveFile(*hive.root, file, options, &error); });
    if (write < 0) {
        std::fprintf(stderr, "writeHiveFile failed: %s\n", error.c_str());
        return 1;
    }
    double serialise =
        medianOf3([] {}, [&] { return !serializeHive(*hive.root, options).empty(); });

    fs::path copy = dir / "SOFTWARE.copy";
    double copyMs = medianOf3([&] { fs::remove(copy); }, [&] { return fs::copy_file(file, copy); });
    // The writer's result is durable (flushed before the rename), so the like-for-like
    // baseline is a copy that is flushed too.
    double durableMs = medianOf3([&] { fs::remove(copy); },
                                 [&] {
                                     if (!fs::copy_file(file, copy)) return false;
                                     int fd = ::open(copy.c_str(), O_RDONLY);
                                     bool ok = fd >= 0 && ::fsync(fd) == 0;
                                     if (fd >= 0) ::close(fd);
                                     return ok;
                                 });
    fs::remove(copy);

    auto size = fs::file_size(file);
    std::printf("write: %.1f ms, flushed copy: %.1f ms\n", write, durableMs);
    bench::result("Compact write of a key tree against a flushed copy", write, durableMs, "ms",
                  1.4);
    std::printf("plain copy (page cache only): %.1f ms, ratio: %.2f\n", copyMs, write / copyMs);
    std::printf("serializeHive (in memory, copied out as a vector): %.1f ms\n", serialise);
    std::printf("size: %ju bytes (%.1f MiB)\n", uintmax_t(size), double(size) / (1 << 20));
    if (keep)
        std::printf("hive: %s\n", file.c_str());
    else
        fs::remove_all(dir);
    return 0;
}
