// A full registry scan (every section) of the 111 MB benchmark machine, in a
// child process so that its peak memory is its own: against a walk of every
// key and value of the same machine, and its peak memory against the size
// of the hives. Then `brisko --json regscan` as a user runs it, against a
// plain read of the hive files, with its own peak memory.
// Usage: bench_full_scan [MB]         the machine of that size (default 111)
//        bench_full_scan --scan DIR   one scan of DIR, in the child
//        bench_full_scan --walk DIR   one walk of DIR, in the child
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_machines.h"
#include "bench_scan.h"
#include "bench_timing.h"
#include "bench_walk.h"

namespace fs = std::filesystem;
using namespace brisko;

int main(int argc, char** argv) {
    if (argc == 3 && argv[1][0] == '-') {
        try {
            if (std::string(argv[1]) == "--walk") {
                ImageMachine machine(argv[2]);
                auto c = bench::walkRegistry(machine.registry());
                std::printf("%zu %zu\n", c.keys, c.values);
                return 0;
            }
            auto c = bench::scanMachine(argv[2]);
            std::printf("%zu %zu %zu\n", c.found, c.kept, c.failures);
            return c.completed ? 0 : 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    const int mb = argc > 1 ? std::atoi(argv[1]) : 111;
    fs::path dir;
    try {
        dir = bench::benchMachine(mb);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the machine could not be built: %s\n", e.what());
        return 1;
    }
    uintmax_t bytes = 0;
    auto hives = bench::machineHives(dir, &bytes);
    const double hiveMb = double(bytes) / (1 << 20);
    std::printf("hives: %zu files, %.1f MB\n", hives.size(), hiveMb);

    const std::string self = fs::absolute(argv[0]).string();
    auto scan = bench::runChild3({self, "--scan", dir.string()});
    auto walk = bench::runChild3({self, "--walk", dir.string()});
    auto cli = bench::runChild3({BRISKO_CLI, "--machine", dir.string(), "--json", "regscan"}, true);
    // brisko exits 1 when a section failed; the rows were printed all the same.
    if (!scan.ok || !walk.ok) {
        std::fprintf(stderr, "a scan or walk failed\n");
        return 1;
    }
    double readMs = bench::medianOf3([&] { return bench::readFiles(hives); });
    size_t found = 0, kept = 0, failures = 0, keys = 0, values = 0;
    std::sscanf(scan.out.c_str(), "%zu %zu %zu", &found, &kept, &failures);
    std::sscanf(walk.out.c_str(), "%zu %zu", &keys, &values);
    std::printf("problems: %zu found, %zu after the filter; sections failed: %zu\n", found, kept,
                failures);
    std::printf("walk: %zu keys, %zu values, %.0f ms, %ld KB peak\n", keys, values, walk.ms,
                walk.peakKb);
    std::printf("full scan: %.0f ms, %ld KB peak\n", scan.ms, scan.peakKb);
    std::printf("brisko --json regscan: %.0f ms, %ld KB peak%s\n", cli.ms, cli.peakKb,
                cli.ok ? "" : " (exit code not 0)");
    std::printf("plain read of the hives: %.1f ms\n", readMs);

    const std::string size = " (" + std::to_string(mb) + " MB machine)";
    // At most 1.2 times the hives and 50 MB: the goal as a ratio to the hives.
    const double memoryGoal = (1.2 * hiveMb + 50) / hiveMb;
    bench::result("Full scan against the walk" + size, scan.ms, walk.ms, "ms", 2.0);
    bench::result("brisko --json regscan against a plain read of the hives" + size, cli.ms, readMs,
                  "ms", 15.0);
    bench::result("Peak memory of the full scan against the hives" + size,
                  double(scan.peakKb) / 1024, hiveMb, "MB", memoryGoal);
    bench::result("Peak memory of brisko --json regscan against the hives" + size,
                  double(cli.peakKb) / 1024, hiveMb, "MB", memoryGoal);
    return failures == 0 ? 0 : 2;
}
