// The desktop program started without a display: a switch that ends by
// itself runs offscreen and says so; anything that would wait for a user
// ends at once with a message, also a registry switch a 9x machine ignores.
#ifdef BRISKO_GUI
#include <gtest/gtest.h>

#include "demo/machine_builder.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;

namespace {

using brisko::test::CommandRun;

CommandRun startWithoutDisplay(const fs::path& machine, const std::vector<std::string>& args) {
    std::vector<std::string> argv{
        "env",      "-u",        "DISPLAY",       "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
        BRISKO_GUI, "--machine", machine.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return brisko::test::runShell("timeout 60 " + brisko::test::shellCommand(argv) +
                                  " 2>&1 </dev/null");
}

void buildMachine(const fs::path& dir, const char* machineIni) {
    brisko::MachineBuilder b("Ann", "S-1-5-21-1-2-3-1001");
    b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n\"a\"=\"1\"\n");
    b.write(dir);
    if (machineIni) brisko::test::writeFile(dir / "machine.ini", machineIni);
}

TEST(GuiStart, WithoutADisplayOnlyWhatEndsByItselfRuns) {
    brisko::test::TempDir nt;
    buildMachine(nt.path(), nullptr);
    auto plain = startWithoutDisplay(nt.path(), {});
    EXPECT_EQ(plain.code, 2) << plain.out;
    EXPECT_NE(plain.out.find("no display"), std::string::npos) << plain.out;

    const fs::path report = nt.path() / "report.ini";
    auto regscan = startWithoutDisplay(nt.path(), {"/Regscan", "C:\\report.ini"});
    EXPECT_EQ(regscan.code, 0) << regscan.out;
    EXPECT_NE(regscan.out.find("running offscreen"), std::string::npos) << regscan.out;
    EXPECT_TRUE(fs::exists(report));

    // A 9x machine has no registry analysis: "/Regscan" is an interactive
    // start there, which has no display to wait on.
    brisko::test::TempDir old;
    buildMachine(old.path(), "[Machine]\nVersion=4.10\nPlatform=9x\n");
    auto ignored = startWithoutDisplay(old.path(), {"/Regscan", "C:\\report.ini"});
    EXPECT_EQ(ignored.code, 2) << ignored.out;
    EXPECT_NE(ignored.out.find("no display"), std::string::npos) << ignored.out;
    EXPECT_FALSE(fs::exists(old.path() / "report.ini"));
}

}  // namespace
#endif
