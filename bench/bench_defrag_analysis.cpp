// The defrag analysis (a compact copy of every hive, read back and compared
// with its hive) on the large benchmark machine, against copying the same
// hive files with a flushed copy. Then the reduction on a fragmented SOFTWARE
// hive. Usage: bench_defrag_analysis [folder]  (the machines are kept when a
// folder is given).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_timing.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "defrag/defrag_run.h"
#include "demo/machine_builder.h"
#include "large_hive.h"

namespace fs = std::filesystem;
using namespace brisko;
using bench::medianOf3;

namespace {

void buildMachine(const fs::path& dir, uint32_t holeEvery, uint32_t holeBytes) {
    bench::LargeHive large = bench::makeLargeSoftwareHive();
    MachineBuilder builder("Bench");
    RegTreeKey& software = builder.hive("SOFTWARE");
    software.subkeys = std::move(large.root->subkeys);
    software.values = std::move(large.root->values);
    builder.addRegText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"CurrentVersion\"=\"6.1\"\r\n\"CurrentBuild\"=\"7601\"\r\n");
    if (holeEvery) builder.fragmentHive("SOFTWARE", holeEvery, holeBytes);
    builder.write(dir);
}

bool flushedCopy(const fs::path& from, const fs::path& to) {
    if (!fs::copy_file(from, to)) return false;
    int fd = ::open(to.c_str(), O_RDONLY);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = argc > 1;
    fs::path base =
        keep ? fs::path(argv[1])
             : fs::temp_directory_path() / ("brisko-bench-defrag-" + std::to_string(::getpid()));
    fs::path dense = base / "large", fragmented = base / "fragmented";
    try {
        if (!fs::exists(dense / "Windows")) buildMachine(dense, 0, 0);
        if (!fs::exists(fragmented / "Windows")) buildMachine(fragmented, 3, 192);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the machines could not be built: %s\n", e.what());
        return 1;
    }

    int rc = 0;
    {
        ImageMachine m(dense);
        auto hives = BuildHiveList(m, false);
        std::vector<fs::path> files;
        uintmax_t bytes = 0;
        for (const auto& h : m.imageRegistry().hiveStatus()) {
            files.push_back(h.mount.hostFile);
            bytes += fs::file_size(h.mount.hostFile);
        }
        std::printf("large machine: %zu hives, %.1f MB\n", hives.size(), double(bytes) / 1e6);
        auto removeCopies = [&] { DeleteHiveCopies(m, hives); };
        double analysis =
            medianOf3(removeCopies, [&] { return RunDefragAnalysis(m, hives, false).usable(); });
        removeCopies();
        auto removeFlushed = [&] {
            for (const auto& f : files) fs::remove(fs::path(f.string() + ".copy"));
        };
        double copy = medianOf3(removeFlushed, [&] {
            for (const auto& f : files)
                if (!flushedCopy(f, f.string() + ".copy")) return false;
            return true;
        });
        removeFlushed();
        if (analysis < 0 || copy < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        std::printf("analysis (copy, read back, compare): %.0f ms\n", analysis);
        std::printf("flushed copy of the hive files:      %.0f ms\n", copy);
        bench::result("Defrag analysis against a flushed copy of the hives", analysis, copy, "ms",
                      1.3);
    }
    {
        ImageMachine m(fragmented);
        auto hives = BuildHiveList(m, false);
        auto result = RunDefragAnalysis(m, hives, false);
        for (size_t i = 0; i < hives.size(); ++i) {
            if (hives[i].name != "\\REGISTRY\\MACHINE\\SOFTWARE") continue;
            auto cur = HiveFileSize(m.files(), hives[i].file);
            auto nw = HiveFileSize(m.files(), HiveCopyFile(hives[i].file));
            std::printf("fragmented SOFTWARE: %.1f MB -> %.1f MB, reduction %s\n",
                        double(cur) / 1e6, double(nw) / 1e6, ReductionText(cur, nw).c_str());
        }
        std::printf("whole registry: %s -> %s (%s)\n", result.sizes.currentRegistrySize.c_str(),
                    result.sizes.newRegistrySize.c_str(), result.sizes.compactPercent.c_str());
        DeleteHiveCopies(m, hives);
    }
    if (!keep) fs::remove_all(base);
    return rc;
}
