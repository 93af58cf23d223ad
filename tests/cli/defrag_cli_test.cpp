// brisko defrag and brisko restore-point on the demo machine, end to end.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "demo/demo_machine.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// args as the shell reads them.
test::CommandRun brisko(const fs::path& machine, const std::string& args) {
    return test::runShell(std::string(BRISKO_CLI) + " --machine " +
                          test::shellQuote(machine.string()) + " " + args +
                          " 2>/dev/null </dev/null");
}

TEST(DefragCli, AnalyzeApplyRestartThenNothingLeftToCompact) {
    test::TempDir dir;
    fs::path m = dir.path() / "demo";
    createDemoMachine(m);
    auto analyzed = brisko(m, "--json defrag analyze");
    ASSERT_EQ(analyzed.code, 0) << analyzed.out;
    auto j = json::parse(analyzed.out);
    ASSERT_EQ(j["hives"].size(), 7u);
    int64_t total = 0;
    size_t toCompact = 0;
    for (const auto& h : j["hives"]) {
        EXPECT_GT(h["currentSize"].get<int64_t>(), 0);
        total += h["currentSize"].get<int64_t>();
        // A hive whose copy would not be smaller keeps its size and is left alone.
        if (h.value("alreadyCompact", false))
            EXPECT_EQ(h["newSize"], h["currentSize"]);
        else
            ++toCompact;
    }
    EXPECT_GE(toCompact, 2u);  // the demo's SOFTWARE and user hive have room to spare
    EXPECT_EQ(j["totalCurrent"].get<int64_t>(), total);
    EXPECT_LT(j["totalNew"].get<int64_t>(), total);
    EXPECT_FALSE(fs::exists(m / "Windows/System32/config/SOFTWARE.fdc"));  // nothing left behind

    // Without --yes and without a terminal the default answer is No.
    EXPECT_EQ(brisko(m, "defrag apply").code, 5);
    EXPECT_FALSE(fs::exists(m / "Windows/System32/config/SOFTWARE.fdc"));
    auto applied = brisko(m, "--json defrag apply --yes");
    ASSERT_EQ(applied.code, 0) << applied.out;
    EXPECT_EQ(json::parse(applied.out)["scheduled"], toCompact);
    EXPECT_EQ(brisko(m, "defrag analyze").code, 1);  // the copies wait for the restart
    ASSERT_EQ(brisko(m, "restart").code, 0);
    EXPECT_TRUE(fs::exists(m / "Windows/System32/config/SOFTWARE.bak"));
    auto again = json::parse(brisko(m, "--json defrag analyze").out);
    EXPECT_EQ(again["compactPercent"], "0.0%");
    for (const auto& h : again["hives"]) EXPECT_TRUE(h.value("alreadyCompact", false)) << h;
}

TEST(RestorePointCli, CreateListRestore) {
    test::TempDir dir;
    fs::path m = dir.path() / "demo";
    createDemoMachine(m);
    ASSERT_EQ(brisko(m, "restore-point create").code, 0);
    auto list = json::parse(brisko(m, "--json restore-point list").out);
    ASSERT_EQ(list["restorePoints"].size(), 1u);
    EXPECT_EQ(list["restorePoints"][0]["number"], 1);
    EXPECT_EQ(list["restorePoints"][0]["description"], "Made by Brisko Cleaner");
    EXPECT_EQ(brisko(m, "restore-point restore 2").code, 1);
    fs::path del = dir.path() / "delete.reg";
    test::writeFile(del, "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\7-Zip]\r\n");
    ASSERT_EQ(brisko(m, "reg import '" + del.string() + "'").code, 0);
    ASSERT_NE(brisko(m, "reg query 'HKCU\\Software\\7-Zip'").code, 0);
    ASSERT_EQ(brisko(m, "restore-point restore 1").code, 0);
    ASSERT_EQ(brisko(m, "restart").code, 0);
    EXPECT_EQ(brisko(m, "reg query 'HKCU\\Software\\7-Zip'").code, 0);
}

}  // namespace
}  // namespace brisko
