// How time and memory grow with the registry: a walk of every key and value,
// a full scan and the defrag analysis of the benchmark machines of 28 MB,
// 111 MB, 450 MB and 1 GB of hives (made once into the cache folder, see
// bench_machines.h), each run three times in a child process of its own.
// Usage: bench_growth [MB ...]   (default: all four sizes)
//        bench_growth --walk|--scan|--analyse DIR   one run, in the child
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench_machines.h"
#include "bench_scan.h"
#include "bench_timing.h"
#include "bench_walk.h"
#include "core/machine/image/image_machine.h"
#include "defrag/defrag_run.h"
#include "defrag/hive_list.h"

namespace fs = std::filesystem;
using namespace brisko;

namespace {

int childRun(const std::string& mode, const fs::path& dir) {
    if (mode == "--walk") {
        ImageMachine machine(dir);
        auto counts = bench::walkRegistry(machine.registry());
        std::printf("%zu keys, %zu values\n", counts.keys, counts.values);
        return counts.keys > 0 ? 0 : 1;
    }
    if (mode == "--scan") {
        auto c = bench::scanMachine(dir);
        std::printf("%zu problems found, %zu kept\n", c.found, c.kept);
        return c.completed && c.failures == 0 ? 0 : 1;
    }
    ImageMachine machine(dir);
    auto hives = BuildHiveList(machine, false);
    bool ok = RunDefragAnalysis(machine, hives, false).usable();
    DeleteHiveCopies(machine, hives);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && argv[1][0] == '-') {
        try {
            return childRun(argv[1], argv[2]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes.assign(bench::kMachineSizesMb.begin(), bench::kMachineSizesMb.end());

    const std::string self = fs::absolute(argv[0]).string();
    const char* ops[] = {"walk", "scan", "analyse"};
    // Per operation: the smallest and largest time and memory per MB of hives.
    std::map<std::string, std::pair<double, double>> msPerMb, kbPerMb;
    int rc = 0;
    for (int mb : sizes) {
        fs::path dir;
        try {
            dir = bench::benchMachine(mb);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "the %d MB machine could not be built: %s\n", mb, e.what());
            return 1;
        }
        uintmax_t bytes = 0;
        auto hives = bench::machineHives(dir, &bytes);
        const double hiveMb = double(bytes) / (1 << 20);
        double readMs = bench::medianOf3([&] { return bench::readFiles(hives); });
        std::printf("%d MB machine: %zu hives, %.1f MB; plain read %.1f ms\n", mb, hives.size(),
                    hiveMb, readMs);
        std::printf("GROWTH|%d|%.1f|read|%.1f|0\n", mb, hiveMb, readMs);
        for (const char* op : ops) {
            auto r = bench::runChild3({self, std::string("--") + op, dir.string()}, true);
            if (!r.ok) {
                std::fprintf(stderr, "%s of the %d MB machine failed\n", op, mb);
                rc = 1;
                continue;
            }
            std::printf("  %-8s %9.0f ms %8ld KB peak (%.2f ms and %.2f MB a MB of hives)\n", op,
                        r.ms, r.peakKb, r.ms / hiveMb, double(r.peakKb) / 1024 / hiveMb);
            std::printf("GROWTH|%d|%.1f|%s|%.1f|%ld\n", mb, hiveMb, op, r.ms, r.peakKb);
            std::fflush(stdout);
            auto widen = [](std::pair<double, double>& range, double v) {
                if (range.first == 0 || v < range.first) range.first = v;
                range.second = std::max(range.second, v);
            };
            widen(msPerMb[op], r.ms / hiveMb);
            widen(kbPerMb[op], double(r.peakKb) / hiveMb);
        }
    }
    if (sizes.size() > 1) {
        // Within 20% of each other: the largest per-MB figure at most 1.2 times the smallest.
        for (const char* op : ops) {
            if (!msPerMb.count(op)) continue;
            bench::result(std::string("Growth: ") + op + " time a MB, largest against smallest",
                          msPerMb[op].second, msPerMb[op].first, "ms/MB", 1.2);
            bench::result(std::string("Growth: ") + op + " memory a MB, largest against smallest",
                          kbPerMb[op].second / 1024, kbPerMb[op].first / 1024, "MB/MB", 1.2);
        }
    }
    return rc;
}
