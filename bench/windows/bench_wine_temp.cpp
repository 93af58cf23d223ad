// "Windows - Temporary Files" on the running Windows (under Wine in CI's
// image): the Test run over 50,000 files in 500 folders of a temporary folder
// of its own, against `cmd /c dir /s` of the same folder, in one run. There is
// no goal: Wine's file layer dominates both.
// Usage: bench_wine_temp [folders files-per-folder]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "cleaner/clean_context.h"
#include "cleaner/clean_log.h"
#include "cleaner/clear_task_thread.h"
#include "cleaner/removal.h"
#include "core/machine/win32/wide.h"
#include "core/machine/win32/win32_machine.h"
#include "core/messages.h"

#include <windows.h>

using namespace brisko;

namespace {

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

uint64_t makeTree(FileApi& files, const std::string& temp, int folders, int perFolder) {
    uint64_t bytes = 0;
    std::string content(400, 'x');
    for (int d = 0; d < folders; ++d) {
        std::string dir = temp + "d" + std::to_string(d);
        if (!files.forceDirectories(dir)) std::abort();
        for (int f = 0; f < perFolder; ++f) {
            auto h = files.createFile(dir + "\\f" + std::to_string(f) + ".tmp");
            if (!h) std::abort();
            int64_t n = (d * 31 + f * 7) % 400;
            if (h->write(content.data(), n) != n) std::abort();
            bytes += uint64_t(n);
        }
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int folders = argc > 2 ? std::atoi(argv[1]) : 500;
    int perFolder = argc > 2 ? std::atoi(argv[2]) : 100;

    // A temporary folder of the benchmark's own, so that the item sees only its
    // tree. Wine hands out the same small process ids again: the tick count
    // keeps the folder apart from one a stopped run left behind.
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    std::string temp = win32::narrow(base) + "brisko-bench-" +
                       std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount()) + "\\";
    SetEnvironmentVariableW(L"TEMP", win32::widen(temp).c_str());
    SetEnvironmentVariableW(L"TMP", win32::widen(temp).c_str());

    win32::Win32Machine machine;
    if (machine.tempPath() != temp) {
        std::printf("temp path is %s, not %s\n", machine.tempPath().c_str(), temp.c_str());
        return 1;
    }
    uint64_t bytes = makeTree(machine.files(), temp, folders, perFolder);
    const long files = long(folders) * perFolder;
    std::printf("tree: %d folders, %ld files, %llu bytes in %s\n", folders, files,
                static_cast<unsigned long long>(bytes), temp.c_str());

    const ItemRoutine* routine = builtinItemTable().find(kItem);
    if (!routine) {
        std::printf("no routine for \"%s\" in this build\n", kItem);
        return 1;
    }
    ItemTable table;
    table.add(kItem, *routine);
    TOptionsSetting s;
    s.FastScan = true;
    DefaultPrompter prompter;
    CountingLog log;
    TClearTaskThread worker({machine, s, kRunTest, {kItem}, prompter, log, nullptr, &table});
    double testSecs = seconds([&] { worker.Execute({}); });

    std::string dir = temp.substr(0, temp.size() - 1);
    ProcessResult listed;
    double dirSecs = seconds(
        [&] { listed = machine.runProcess("cmd.exe /c dir /s /a-d \"" + dir + "\" > NUL", true); });
    std::printf("test run: %lld items, %lld bytes (expected %ld, %llu)\n",
                static_cast<long long>(worker.totalCount()),
                static_cast<long long>(worker.totalBytes()), files,
                static_cast<unsigned long long>(bytes));
    std::printf("test run: %.3f s   cmd /c dir /s: %.3f s%s   ratio: %.2f\n", testSecs, dirSecs,
                listed.finished && listed.exitCode == 0 ? "" : " (dir failed)", testSecs / dirSecs);
    machine.files().shellDelete(dir);
    return 0;
}
