// A full registry scan (every section) of a machine whose SOFTWARE hive is the
// large benchmark hive, against hivexml dumping every hive of the same machine
// in the same run; and the scan's peak memory against the size of the hives.
//
// Usage: bench_full_scan [folder]   builds the machine (kept when a folder is
//                                   given), then measures
//        bench_full_scan --scan DIR one scan of DIR; prints its figures
// Each scan runs in a child process so that its peak memory is its own and not
// that of building the hive.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bench_timing.h"
#include "core/machine/image/image_machine.h"
#include "core/startup.h"
#include "demo/machine_builder.h"
#include "large_hive.h"
#include "registry/problem_filter.h"
#include "registry/scan_task_thread.h"

namespace fs = std::filesystem;
using namespace brisko;
using bench::bestOf3;

namespace {

class NoMessages : public MessageTarget {
  public:
    void post(uint32_t, uintptr_t, intptr_t) override {}
};

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int scanOnce(const fs::path& dir) {
    auto start = std::chrono::steady_clock::now();
    ImageMachine machine(dir);
    std::vector<int> sections;
    for (int code = 1; code <= 25; ++code) sections.push_back(code);
    int version = WindowsVersionCode(machine.version());
    ProblemCollector rows;
    NoMessages messages;
    TScanTaskThread worker(machine, makeScanEnvironment(machine, true, version), sections,
                           defaultScannerTable(), rows, messages);
    worker.start();
    worker.join();
    size_t found = rows.rows.size();
    FilterProblems(rows.rows, {}, {}, version);
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%.1f %ld %zu %zu %zu\n", took.count(), peakRssKb(), found, rows.rows.size(),
                worker.failures().size());
    return worker.completed() ? 0 : 1;
}

struct ScanFigures {
    double ms = 0;
    long rssKb = 0;
    size_t found = 0, kept = 0, failures = 0;
};

bool runChild(const std::string& self, const fs::path& dir, ScanFigures& f) {
    std::string command = "'" + self + "' --scan '" + dir.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return false;
    return std::fscanf(pipe.get(), "%lf %ld %zu %zu %zu", &f.ms, &f.rssKb, &f.found, &f.kept,
                       &f.failures) == 5;
}

void buildMachine(const fs::path& dir) {
    bench::LargeHive large = bench::makeLargeSoftwareHive();
    std::printf("SOFTWARE: %zu keys, %zu values\n", large.keys, large.values);
    MachineBuilder builder("Bench");
    RegTreeKey& software = builder.hive("SOFTWARE");
    software.subkeys = std::move(large.root->subkeys);
    software.values = std::move(large.root->values);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--scan") {
        try {
            return scanOnce(argv[2]);
        } catch (const MachineOpenError& e) {
            std::fprintf(stderr, "%s\n", e.message.c_str());
            return 1;
        }
    }
    bool keep = argc > 1;
    fs::path dir =
        keep ? fs::path(argv[1])
             : fs::temp_directory_path() / ("brisko-bench-scan-" + std::to_string(::getpid()));
    try {
        buildMachine(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the machine could not be built: %s\n", e.what());
        return 1;
    }

    std::vector<fs::path> hives;
    uintmax_t hiveBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::string name = entry.path().filename().string();
        if (entry.path().parent_path().filename() == "config" || name == "NTUSER.DAT" ||
            name == "UsrClass.dat") {
            hives.push_back(entry.path());
            hiveBytes += entry.file_size();
        }
    }
    std::printf("hives: %zu files, %ju bytes\n", hives.size(), hiveBytes);

    std::string self = fs::absolute(argv[0]).string();
    ScanFigures best;
    best.ms = 1e300;
    long peakKb = 0;
    for (int i = 0; i < 3; ++i) {
        ScanFigures f;
        if (!runChild(self, dir, f)) {
            std::fprintf(stderr, "the scan failed\n");
            return 1;
        }
        if (f.ms < best.ms) best = f;
        peakKb = std::max(peakKb, f.rssKb);
    }
    double hivexmlMs = bestOf3([&] {
        for (const auto& h : hives) {
            std::string command = "hivexml '" + h.string() + "' > /dev/null";
            if (std::system(command.c_str()) != 0) return false;
        }
        return true;
    });
    if (hivexmlMs < 0) {
        std::fprintf(stderr, "hivexml failed\n");
        return 1;
    }
    std::printf("problems: %zu found, %zu after the filter; sections failed: %zu\n", best.found,
                best.kept, best.failures);
    std::printf("full scan: %.0f ms, hivexml: %.0f ms, ratio: %.2f (goal <= 1.0)\n", best.ms,
                hivexmlMs, best.ms / hivexmlMs);
    std::printf("peak memory: %ld KB, hives: %ju KB, ratio: %.2f\n", peakKb, hiveBytes / 1024,
                double(peakKb) * 1024 / double(hiveBytes));
    if (!keep) fs::remove_all(dir);
    return best.failures == 0 ? 0 : 2;
}
