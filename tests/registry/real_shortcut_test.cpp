// A shortcut Windows 7 itself wrote, whose target is held only in its
// environment-variable block: read with the machine's environment, as
// IShellLink::GetPath gives it, by the Shortcuts scan and the Startup list.
#include <gtest/gtest.h>

#include <filesystem>

#include "registry/scanners/scanners.h"
#include "registry/section_tree.h"
#include "scan_test_machine.h"
#include "support/real_data.h"
#include "tools/startup_list.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;

TEST(RealShortcut, EnvironmentBlockTargetIsExpandedWithTheMachinesEnvironment) {
    BRISKO_REQUIRE_REAL_DATA();
    const fs::path lnk = *test::realDataFolder() / "example.lnk";
    const std::string bytes = test::readFile(lnk);
    const std::string desktop = "C:\\Users\\Alex\\Desktop\\";
    const std::string startup =
        "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
    const std::string target = "C:\\Windows\\system32\\migwiz\\migwiz.exe";

    test::ScanMachine missing;
    missing.file(desktop + "Transfer.lnk", bytes).file(startup + "Transfer.lnk", bytes);
    Machine& m = missing.open();
    EXPECT_EQ(m.shortcutTarget(desktop + "Transfer.lnk"), target);
    // The Startup folder lies in the Start Menu: both copies are reported.
    auto rows = missing.scan(kSecShortcuts);
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) EXPECT_EQ(row.data, target);
    bool listed = false;
    for (const auto& e : ListStartupEntries(m, 12))
        if (e.name == "Transfer.lnk") listed = e.file == target;
    EXPECT_TRUE(listed);

    test::ScanMachine present;
    present.file(desktop + "Transfer.lnk", bytes).file(target);
    EXPECT_TRUE(present.scan(kSecShortcuts).empty());
}

}  // namespace
}  // namespace brisko
