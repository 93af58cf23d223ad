// Building the "Applications" group at start.
//  On the demo machine, and on the demo machine with N more installed
//  programs (default 400, a well-used PC): BuildApplicationsNode (apls.dat
//  read and parsed, every uninstall entry's name matched against every
//  section) against a raw baseline on the same data — apls.dat read from the
//  host and the uninstall entries' display names read through the registry,
//  without parsing or matching — best of 3 each, and the ratio.
//  Goal: under 50 ms on the demo machine.
// Usage: bench_applications_node [extra-programs]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/text.h"
#include "bench_timing.h"
#include "cleaner/clean_catalog.h"
#include "cleaner/items/application_items.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "demo/demo_content.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"

namespace fs = std::filesystem;
using namespace brisko;

namespace {

struct Figures {
    double build = -1, raw = -1;
    size_t added = 0, programs = 0;
};

Figures measure(const fs::path& dir) {
    ImageMachine machine(dir);
    Figures f;
    f.build = bench::medianOf3([&] {
        CheckTree tree = buildCleanTree();
        f.added = static_cast<size_t>(BuildApplicationsNode(machine, tree));
        return f.added > 0;
    });
    const fs::path apls = dir / "Program Files" / "Brisko Cleaner" / "apls.dat";
    const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    f.raw = bench::medianOf3([&] {
        std::ifstream in(apls, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        size_t names = 0;
        for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser}) {
            RegistryKey k(machine.registry(), root);
            if (!k.openKeyReadOnly(uninstall)) continue;
            for (const auto& sub : k.subkeyNames()) {
                RegistryKey e(machine.registry(), root);
                if (e.openKeyReadOnly(uninstall + "\\" + sub) && e.readString("DisplayName"))
                    ++names;
            }
        }
        f.programs = names;
        return !text.str().empty() && names > 0;
    });
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("%s: %zu installed programs, %zu applications listed\n", what, f.programs, f.added);
    std::printf("  BuildApplicationsNode  %8.2f ms\n", f.build);
    std::printf("  raw read of the names  %8.2f ms\n", f.raw);
    std::printf("  ratio                  %8.2f\n", f.raw > 0 ? f.build / f.raw : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int extra = argc > 1 ? std::atoi(argv[1]) : 400;
    const fs::path base =
        fs::temp_directory_path() / ("brisko-bench-apps-" + std::to_string(getpid()));
    fs::remove_all(base);

    createDemoMachine(base / "demo");
    const Figures demo = measure(base / "demo");
    print("demo machine", demo);
    std::printf("  (goal: under 50 ms)\n");

    MachineBuilder b("Alex", "S-1-5-21-1004336348-1177238915-682003330-1000");
    addDemoWindows(b);
    addDemoCleanTraces(b);
    addDemoApplications(b);
    RegTreeKey& software = b.hive("SOFTWARE");
    for (int i = 0; i < extra; ++i)
        software
            .find("Microsoft\\Windows\\CurrentVersion\\Uninstall\\Program " + std::to_string(i),
                  true)
            ->setValue("DisplayName", REG_SZ,
                       utf8ToUtf16le("Vendor " + std::to_string(i % 37) + " Utility Suite " +
                                     std::to_string(i)));
    fs::create_directories(base / "many");
    b.write(base / "many");
    const Figures many = measure(base / "many");
    print("demo machine with more programs", many);

    fs::remove_all(base);
    return demo.build >= 0 && many.build >= 0 ? 0 : 1;
}
