// The Startup manager's list on a machine with many entries.
//  500 run values (half the user's, half the machine's) and 200 shortcuts
//  (half in each Startup folder): ListStartupEntries against a raw baseline
//  on the same data — liblnk reading the shortcut files straight from the
//  host and the run keys' values read through the registry without the
//  list's work — best of 3 each, and the ratio. Goal: the list under 200 ms.
// Usage: bench_startup_list [values shortcuts]
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_timing.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/shortcut_reader.h"
#include "core/startup.h"
#include "demo/machine_builder.h"
#include "demo/shortcut_file.h"
#include "tools/startup_list.h"

namespace fs = std::filesystem;
using namespace brisko;

int main(int argc, char** argv) {
    int values = argc > 2 ? std::atoi(argv[1]) : 500;
    int shortcuts = argc > 2 ? std::atoi(argv[2]) : 200;
    fs::path dir = fs::temp_directory_path() / ("brisko-bench-startup-" + std::to_string(getpid()));
    fs::remove_all(dir);

    const std::string userStartup =
        "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
    const std::string commonStartup =
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
    MachineBuilder b;
    std::string reg = "Windows Registry Editor Version 5.00\n";
    for (const char* root : {"HKEY_CURRENT_USER\\Software", "HKEY_LOCAL_MACHINE\\SOFTWARE"}) {
        reg += std::string("\n[") + root + "\\Microsoft\\Windows\\CurrentVersion\\Run]\n";
        for (int i = 0; i < values / 2; ++i)
            reg += "\"Program " + std::to_string(i) + "\"=\"\\\"C:\\\\Program Files\\\\Vendor " +
                   std::to_string(i) + "\\\\agent.exe\\\" /background\"\n";
    }
    b.addRegText(reg);
    std::vector<fs::path> hostLinks;
    for (int i = 0; i < shortcuts; ++i) {
        const std::string& folder = i % 2 ? commonStartup : userStartup;
        std::string name = "Tool " + std::to_string(i) + ".lnk";
        b.addFile(folder + name,
                  shortcutFileBytes("C:\\Program Files\\Tool " + std::to_string(i) + "\\tool.exe"));
    }
    b.write(dir);
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().extension() == ".lnk") hostLinks.push_back(e.path());

    ImageMachine machine(dir);
    int code = WindowsVersionCode(machine.version());
    size_t rows = 0;
    double list = bench::medianOf3([&] {
        rows = ListStartupEntries(machine, code).size();
        return rows == size_t(values / 2 * 2 + shortcuts);
    });
    double raw = bench::medianOf3([&] {
        size_t n = 0;
        for (const auto& p : hostLinks) n += !readShortcutTarget(p).empty();
        for (RootKey root : {RootKey::CurrentUser, RootKey::LocalMachine}) {
            auto key = machine.registry().openKey(
                root, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", KeyAccess::Read);
            if (!key) return false;
            for (const auto& name : key->valueNames()) n += key->value(name).has_value();
        }
        return n == size_t(values / 2 * 2 + shortcuts);
    });
    std::printf("startup list: %zu rows (%d run values, %d shortcuts)\n", rows, values, shortcuts);
    std::printf("  ListStartupEntries   %8.1f ms  (goal: under 200 ms)\n", list);
    std::printf("  raw liblnk + values  %8.1f ms\n", raw);
    std::printf("  ratio                %8.2f\n", raw > 0 ? list / raw : 0.0);
    fs::remove_all(dir);
    return list >= 0 && raw >= 0 ? 0 : 1;
}
