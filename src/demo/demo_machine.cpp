#include "demo/demo_machine.h"

#include <cstdlib>
#include <stdexcept>

#include "demo/demo_content.h"
#include "demo/machine_builder.h"

namespace fs = std::filesystem;

namespace brisko {

void createDemoMachine(const fs::path& folder) {
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_empty(folder, ec))
        throw std::runtime_error("Cannot create the demo machine in " + folder.string() +
                                 ": the folder is not empty.");
    MachineBuilder b("Alex", "S-1-5-21-1004336348-1177238915-682003330-1000");
    addDemoWindows(b);
    addDemoCleanTraces(b);
    addDemoApplications(b);
    addDemoBrowsers(b);
    addDemoInternetExplorer(b);
    addDemoRegistryProblems(b);
    // Years of installs and uninstalls leave holes in these two; the rest are compact.
    b.fragmentHive("SOFTWARE", 3, 200);
    b.fragmentHive("NTUSER", 4, 120);
    fs::create_directories(folder, ec);
    if (ec)
        throw std::runtime_error("Cannot create the folder " + folder.string() + ": " +
                                 ec.message());
    b.write(folder);
}

fs::path chooseMachineFolder(std::string_view option) {
    if (!option.empty()) return fs::path(option);
    if (const char* env = std::getenv("BRISKO_MACHINE"); env && *env) return fs::path(env);
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    } else {
        base = fs::temp_directory_path();
    }
    fs::path folder = base / "brisko" / "demo-machine";
    std::error_code ec;
    if (!fs::exists(folder / "Windows", ec)) {
        // Build beside and rename, so an interrupted first start leaves no half machine.
        fs::path tmp = base / "brisko" / "demo-machine.tmp";
        fs::remove_all(tmp, ec);
        createDemoMachine(tmp);
        fs::remove_all(folder, ec);
        fs::rename(tmp, folder, ec);
        if (ec)
            throw std::runtime_error("Cannot create the demo machine in " + folder.string() +
                                     ": " + ec.message());
    }
    return folder;
}

}  // namespace brisko
