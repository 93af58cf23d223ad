// "Windows - Temporary Files" over a large temporary folder.
//  1. Test run over 1,000,000 files in 25,000 folders against
//     `find TEMP -type f -printf '%s\n'` on the same tree: median of 3 each,
//     their ratio, and the memory the test run took a file.
//  2. Clean run: time per file, without and with one overwrite pass.
// Usage: bench_clean_temp [folders files-per-folder]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench_timing.h"
#include "cleaner/clean_context.h"
#include "cleaner/clean_log.h"
#include "cleaner/clear_task_thread.h"
#include "cleaner/removal.h"
#include "core/machine/image/image_machine.h"
#include "core/messages.h"
#include "demo/machine_builder.h"

namespace fs = std::filesystem;
using namespace brisko;

namespace {

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

const char* kItem = "Windows - Temporary Files";

class CountingLog : public CleanLogSink {
  public:
    void addLine(std::string_view) override { ++lines; }
    size_t lines = 0;
};

double seconds(const std::function<void()>& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Files of a few hundred bytes, as a temporary folder holds them.
uint64_t makeTree(const fs::path& temp, int folders, int perFolder) {
    uint64_t bytes = 0;
    std::string content(400, 'x');
    for (int d = 0; d < folders; ++d) {
        fs::path dir = temp / ("d" + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < perFolder; ++f) {
            std::string name = (dir / ("f" + std::to_string(f) + ".tmp")).string();
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) std::abort();
            size_t n = static_cast<size_t>((d * 31 + f * 7) % 400);
            if (::write(fd, content.data(), n) != static_cast<ssize_t>(n)) std::abort();
            ::close(fd);
            bytes += n;
        }
    }
    return bytes;
}

// The item's routine as the item families register it; the same folder wipe
// when this build has none yet.
ItemTable benchTable(bool& builtin) {
    ItemTable t;
    if (const auto* r = builtinItemTable().find(kItem)) {
        builtin = true;
        t.add(kItem, *r);
    } else {
        builtin = false;
        t.add(kItem, [](CleanContext& ctx) {
            ctx.addItemBytes(
                WipeFolder(ctx, ctx.machine.tempPath(), false, true, "", ctx.ItemCount));
        });
    }
    return t;
}

struct RunResult {
    double secs;
    int64_t count;
    int64_t bytes;
};

RunResult runItem(Machine& m, const ItemTable& table, int mode, bool wipe) {
    TOptionsSetting s;
    s.FastScan = true;
    s.IsWipeFile = wipe;
    s.WipeNumber = 1;
    DefaultPrompter prompter;
    CountingLog log;
    TClearTaskThread worker({m, s, mode, {kItem}, prompter, log, nullptr, &table});
    double secs = seconds([&] { worker.Execute({}); });
    return {secs, worker.totalCount(), worker.totalBytes()};
}

fs::path makeMachine(const fs::path& root) {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Environment]\r\n"
        "\"TEMP\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\\\\Temp\"\r\n"
        "\"TMP\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\\\\Temp\"\r\n");
    b.addFolder("C:\\Users\\User\\AppData\\Local\\Temp");
    b.write(root);
    return root / "Users" / "User" / "AppData" / "Local" / "Temp";
}

}  // namespace

int main(int argc, char** argv) {
    int folders = argc > 2 ? std::atoi(argv[1]) : 25000;
    int perFolder = argc > 2 ? std::atoi(argv[2]) : 40;
    fs::path root = fs::temp_directory_path() / ("bench-clean-temp-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::path temp = makeMachine(root);
    uint64_t bytes = makeTree(temp, folders, perFolder);
    const long files = static_cast<long>(folders) * perFolder;
    std::printf("tree: %d folders, %ld files, %llu bytes\n", folders, files,
                static_cast<unsigned long long>(bytes));

    ImageMachine machine(root);
    bool builtin = false;
    ItemTable table = benchTable(builtin);
    std::printf("routine: %s\n", builtin ? "registered item routine"
                                         : "folder wipe of the temporary folder (no item "
                                           "routine registered in this build)");
    if (machine.tempPath() != "C:\\Users\\User\\AppData\\Local\\Temp\\")
        std::printf("warning: temp path is %s\n", machine.tempPath().c_str());

    const std::string find = "find '" + temp.string() + "' -type f -printf '%s\\n' > /dev/null";
    std::array<double, 3> tests{}, finds{};
    RunResult last{};
    const long rssBefore = peakRssKb();
    for (int i = 0; i < 3; ++i) {
        last = runItem(machine, table, kRunTest, false);
        tests[size_t(i)] = last.secs;
        finds[size_t(i)] = seconds([&] {
            if (std::system(find.c_str()) != 0) std::abort();
        });
    }
    // What the test run added to the process's peak: its memory for the files it found.
    const double bytesPerFile = double(peakRssKb() - rssBefore) * 1024 / double(files);
    const double bestTest = bench::median3(tests), bestFind = bench::median3(finds);
    std::printf("test run: %lld items, %lld bytes (expected %ld, %llu)\n",
                static_cast<long long>(last.count), static_cast<long long>(last.bytes), files,
                static_cast<unsigned long long>(bytes));
    std::printf("test run median of 3: %.3f s   find median of 3: %.3f s\n", bestTest, bestFind);
    const std::string at = " (" + std::to_string(files) + " files)";
    bench::result("Test of Temporary Files against find -printf %s" + at, bestTest * 1000,
                  bestFind * 1000, "ms", 1.2);
    std::printf("RESULT|Memory of the test run a file%s|%.0f bytes|100 bytes|%.2f|<= 1.00|%s\n",
                at.c_str(), bytesPerFile, bytesPerFile / 100,
                bytesPerFile <= 100 ? "met" : "not met");

    // Clean runs on a smaller tree, rebuilt for each.
    fs::remove_all(temp);
    fs::create_directories(temp);
    const int cleanFolders = folders / 10 > 0 ? folders / 10 : 1;
    makeTree(temp, cleanFolders, perFolder);
    auto plain = runItem(machine, table, kRunCleanPass, false);
    // Every overwrite pass is flushed to disk, so this one gets a tenth of that.
    makeTree(temp, cleanFolders / 10 > 0 ? cleanFolders / 10 : 1, perFolder);
    auto wiped = runItem(machine, table, kRunCleanPass, true);
    std::printf(
        "clean run, %lld files: %.1f us per file; with one overwrite pass (%lld files): "
        "%.1f us per file\n",
        static_cast<long long>(plain.count), plain.secs * 1e6 / double(plain.count),
        static_cast<long long>(wiped.count), wiped.secs * 1e6 / double(wiped.count));
    fs::remove_all(root);
    return 0;
}
