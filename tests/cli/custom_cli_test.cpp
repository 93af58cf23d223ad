// brisko custom and the Applications group of brisko list, end to end on a
// demo machine of their own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/shell_command.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using CliRun = brisko::test::CommandRun;

class CustomCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new brisko::test::TempDir;
        ASSERT_EQ(run({"demo-machine", (dir_->path() / "demo").string()}, false).code, 0);
    }
    static void TearDownTestSuite() { delete dir_; }

    static CliRun run(const std::vector<std::string>& args, bool onMachine = true) {
        std::vector<std::string> argv{BRISKO_CLI};
        if (onMachine) argv.insert(argv.end(), {"--machine", (dir_->path() / "demo").string()});
        argv.insert(argv.end(), args.begin(), args.end());
        return brisko::test::runShell(brisko::test::shellCommand(argv) + " 2>" +
                                      brisko::test::shellQuote((dir_->path() / "stderr").string()) +
                                      " </dev/null");
    }
    static std::string err() { return brisko::test::readFile(dir_->path() / "stderr"); }
    static brisko::test::TempDir* dir_;
};
brisko::test::TempDir* CustomCli::dir_ = nullptr;

TEST_F(CustomCli, ListShowsTheInstalledApplications) {
    auto r = run({"--json", "list"});
    ASSERT_EQ(r.code, 0) << err();
    std::vector<std::string> apps;
    const json doc = json::parse(r.out);
    for (const auto& g : doc["groups"])
        if (g["caption"] == "Applications")
            for (const auto& i : g["items"]) apps.push_back(i["logCaption"]);
    EXPECT_GE(apps.size(), 10u);
    EXPECT_NE(std::find(apps.begin(), apps.end(), "Applications - Spotify"), apps.end());
}

TEST_F(CustomCli, AddListRemoveWithTheEditorsRules) {
    EXPECT_EQ(run({"custom", "list"}).out, "The custom list is empty.\n");
    auto r = run({"custom", "add", "{Current AppData}\\Zoom\\logs,*.log",
                  "HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory,", "%windir%\\Temp"});
    ASSERT_EQ(r.code, 0) << err();
    EXPECT_EQ(r.out,
              "1. DelFile1={Current AppData}\\Zoom\\logs,*.log\n"
              "2. DelRegValue1=HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory,\n"
              "3. DelFile2=%windir%\\Temp\n");

    // Refused entries change nothing and say why.
    for (const char* bad :
         {"Q:\\Temp", "C:\\Temp\\..\\..", "Temp\\x", "HKCU\\Software\\X", "C:\\Nowhere"}) {
        EXPECT_EQ(run({"custom", "add", bad}).code, 2) << bad;
        EXPECT_FALSE(err().empty()) << bad;
    }
    EXPECT_EQ(run({"--json", "custom", "list"}).code, 0);
    EXPECT_EQ(json::parse(run({"--json", "custom", "list"}).out)["entries"].size(), 3u);

    // The list runs as its clean item.
    r = run({"--json", "test", "Custom Lists - <New List>"});
    ASSERT_EQ(r.code, 0) << err();
    EXPECT_GT(json::parse(r.out)["items"][0]["count"].get<int>(), 0);

    r = run({"custom", "remove", "3", "HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory,"});
    ASSERT_EQ(r.code, 0) << err();
    EXPECT_EQ(r.out, "1. DelFile1={Current AppData}\\Zoom\\logs,*.log\n");
    EXPECT_EQ(run({"custom", "remove", "7"}).code, 2);
    EXPECT_EQ(run({"custom", "remove", "1"}).code, 2);  // the list is never left empty
    EXPECT_EQ(run({"custom", "list"}).out, "1. DelFile1={Current AppData}\\Zoom\\logs,*.log\n");
}

}  // namespace
