// The brisko command-line tool end to end, on a demo machine of its own.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "support/shell_command.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {
using CliRun = brisko::test::CommandRun;
using brisko::test::shellQuote;

class Cli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new brisko::test::TempDir;
        auto r = run({"demo-machine", machine().string()}, false);
        ASSERT_EQ(r.code, 0) << r.out;
    }
    static void TearDownTestSuite() { delete dir_; }
    static fs::path machine() { return dir_->path() / "demo"; }

    // Runs brisko with its arguments; stderr is kept apart from stdout.
    static CliRun run(const std::vector<std::string>& args, bool onMachine = true) {
        std::vector<std::string> argv{BRISKO_CLI};
        if (onMachine) argv.insert(argv.end(), {"--machine", machine().string()});
        argv.insert(argv.end(), args.begin(), args.end());
        return brisko::test::runShell(brisko::test::shellCommand(argv) + " 2>" +
                                      shellQuote((dir_->path() / "stderr").string()) +
                                      " </dev/null");
    }
    static std::string lastStderr() { return brisko::test::readFile(dir_->path() / "stderr"); }
    static brisko::test::TempDir* dir_;
};
brisko::test::TempDir* Cli::dir_ = nullptr;
}  // namespace

TEST_F(Cli, InfoDescribesTheMachine) {
    auto r = run({"--json", "info"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    auto j = json::parse(r.out);
    EXPECT_EQ(j["windowsVersionCode"], 12);
    EXPECT_EQ(j["isWow64"], false);
    EXPECT_EQ(j["user"]["name"], "Alex");
    EXPECT_EQ(j["drives"][0]["letter"], "C");
    EXPECT_EQ(j["drives"][0]["device"], "\\Device\\HarddiskVolume2");
    EXPECT_EQ(j["hives"].size(), 7u);
    EXPECT_EQ(j["specialFolders"]["26"], "C:\\Users\\Alex\\AppData\\Roaming\\");
    EXPECT_EQ(j["specialFolders"].size(), 16u);
}

TEST_F(Cli, ErrorsAPersonUnderstands) {
    auto r = run({"--machine", (dir_->path() / "nowhere").string(), "info"}, false);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(lastStderr().find("does not exist"), std::string::npos) << lastStderr();

    r = run({"reg", "query", "HKEY_NOWHERE\\x"});
    EXPECT_EQ(r.code, 2);
    r = run({"reg", "query", "HKEY_CURRENT_USER\\No Such Key"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(lastStderr().find("does not exist"), std::string::npos);

    brisko::test::writeFile(dir_->path() / "bad.reg", "this is no registry file\n[x]\n");
    r = run({"reg", "import", (dir_->path() / "bad.reg").string()});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(lastStderr().find("Nothing was imported"), std::string::npos) << lastStderr();

    r = run({"frobnicate"});
    EXPECT_EQ(r.code, 2);
}

TEST_F(Cli, RegistryExportAndImportRoundTrip) {
    auto reg = (dir_->path() / "env.reg").string();
    ASSERT_EQ(run({"reg", "export", "HKEY_CURRENT_USER\\Environment", reg}).code, 0)
        << lastStderr();
    auto text = brisko::test::readFile(reg);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(uint8_t(text[0]), 0xff);  // version 5 files are UTF-16LE with a BOM

    brisko::test::writeFile(dir_->path() / "add.reg",
                            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brisko Test]\r\n"
                            "\"Name\"=\"Value \\\"quoted\\\"\"\r\n\"Count\"=dword:0000002a\r\n");
    ASSERT_EQ(run({"reg", "import", (dir_->path() / "add.reg").string()}).code, 0) << lastStderr();
    auto r = run({"--json", "reg", "query", "HKEY_CURRENT_USER\\Software\\Brisko Test"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    auto j = json::parse(r.out);
    ASSERT_EQ(j["values"].size(), 2u);
    EXPECT_EQ(j["values"][0]["data"], "Value \"quoted\"");
    EXPECT_EQ(j["values"][1]["type"], "REG_DWORD");
    EXPECT_EQ(j["values"][1]["data"], "0x2a");
}

TEST_F(Cli, OptionsAreValidatedAsTheDialogDoes) {
    // Refused as the Options dialog refuses it; the stored value stays.
    EXPECT_EQ(run({"options", "WipeNumber", "11"}).code, 2);
    EXPECT_NE(lastStderr().find("1 to 10"), std::string::npos) << lastStderr();
    auto r = run({"--json", "options", "WipeNumber"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    EXPECT_EQ(r.out.find("11"), std::string::npos) << r.out;
    EXPECT_EQ(run({"options", "CleanInterval", "5"}).code, 2);
    EXPECT_EQ(run({"options", "OutputDirectory", "C:\\No Such Folder"}).code, 2);
    EXPECT_EQ(run({"options", "CleanInterval", "4"}).code, 0) << lastStderr();
    EXPECT_EQ(run({"options", "NoSuchSetting"}).code, 2);

    // What the dialog keeps outside options.ini.
    // An offline machine has no program of ours for Windows to start.
    EXPECT_EQ(run({"options", "AutoStart", "1"}).code, 1);
    EXPECT_NE(lastStderr().find("not installed"), std::string::npos) << lastStderr();
    EXPECT_EQ(run({"options", "AutoStart", "0"}).code, 0);
    EXPECT_EQ(run({"options", "AutoStart"}).out, "0\n");
    EXPECT_EQ(run({"options", "CookiesToKeep", "a.org, b.org"}).code, 0);
    EXPECT_EQ(run({"options", "CookiesToKeep"}).out, "a.org,b.org\n");
    EXPECT_EQ(run({"options", "CookiesToKeep", ""}).code, 0);
}

TEST_F(Cli, StartupListDeleteAndRestore) {
    auto r = run({"--json", "startup", "list"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    auto entries = json::parse(r.out)["entries"];
    std::set<std::string> names;
    for (const auto& e : entries) names.insert(e["name"].get<std::string>());
    for (const char* n :
         {"WinampAgent", "VLC Tray", "7-Zip File Manager.lnk", "VLC media player.lnk"})
        EXPECT_TRUE(names.count(n)) << n;
    // Not confirmed: nothing happens.
    EXPECT_EQ(run({"startup", "delete", "WinampAgent"}).code, 5);
    EXPECT_EQ(run({"startup", "delete", "No Such Entry", "--yes"}).code, 1);
    r = run({"--json", "startup", "delete", "WinampAgent", "7-Zip File Manager.lnk", "--yes"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    auto results = json::parse(r.out)["results"];
    ASSERT_EQ(results.size(), 2u);
    std::vector<std::string> backups;
    for (const auto& x : results) {
        EXPECT_EQ(x["result"], "deleted");
        backups.push_back(x["backup"].get<std::string>());
    }
    r = run({"--json", "startup", "list"});
    EXPECT_EQ(json::parse(r.out)["entries"].size(), entries.size() - 2);
    // The run's .reg file brings back its values and names the shortcut's
    // copy: restoring it puts both back.
    ASSERT_TRUE(backups[0].ends_with("_startup.reg")) << backups[0];
    EXPECT_EQ(run({"startup", "restore", backups[0]}).code, 0) << lastStderr();
    r = run({"--json", "startup", "list"});
    EXPECT_EQ(json::parse(r.out)["entries"].size(), entries.size());
    // A shortcut that is back already is not written over.
    EXPECT_EQ(run({"startup", "restore", backups[1]}).code, 1);
}

TEST_F(Cli, TestRunCountsWhatCleanRemoves) {
    auto test = run({"--json", "test", "Windows - Start Run", "Windows - Temporary Files"});
    ASSERT_EQ(test.code, 0) << lastStderr();
    auto before = json::parse(test.out);
    EXPECT_EQ(before["mode"], "test");
    ASSERT_EQ(before["items"].size(), 2u);
    EXPECT_GT(before["totalCount"].get<int>(), 0);

    auto clean =
        run({"--json", "clean", "--yes", "Windows - Start Run", "Windows - Temporary Files"});
    ASSERT_EQ(clean.code, 0) << lastStderr();
    auto cleaned = json::parse(clean.out);
    EXPECT_EQ(cleaned["totalCount"], before["totalCount"]);
    EXPECT_EQ(cleaned["totalBytes"], before["totalBytes"]);

    auto again = json::parse(
        run({"--json", "test", "Windows - Start Run", "Windows - Temporary Files"}).out);
    EXPECT_EQ(again["totalCount"], 0);
}

TEST_F(Cli, RegistryScanFindsTheDemoProblemsAndHonoursIgnoreLists) {
    auto r = run({"--json", "regscan"});
    ASSERT_EQ(r.code, 0) << lastStderr();
    auto j = json::parse(r.out);
    ASSERT_GT(j["total"].get<int>(), 10);
    // Written row by row, laid out as a whole document dumped at once.
    EXPECT_EQ(r.out, j.dump(2) + "\n");
    std::string key;
    for (const auto& p : j["problems"]) {
        std::string k = p["keyPath"];
        if (k.find("\\Run\\") != std::string::npos) key = k.substr(0, k.rfind('\\'));
    }
    ASSERT_FALSE(key.empty()) << "no Run entry reported";
    ASSERT_EQ(run({"ignore", "add", "key", key}).code, 0) << lastStderr();
    auto after = json::parse(run({"--json", "regscan"}).out);
    EXPECT_LT(after["total"].get<int>(), j["total"].get<int>());
    for (const auto& p : after["problems"])
        EXPECT_EQ(p["keyPath"].get<std::string>().rfind(key, 0), std::string::npos);
    ASSERT_EQ(run({"ignore", "remove", "key", key}).code, 0) << lastStderr();
    EXPECT_EQ(json::parse(run({"--json", "regscan"}).out)["total"], j["total"]);
}

namespace {
// Every path below the folder with its size and write time.
std::map<std::string, std::string> stamps(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir)) {
        auto t = fs::last_write_time(e.path()).time_since_epoch().count();
        out[fs::relative(e.path(), dir).string()] =
            std::to_string(e.is_regular_file() ? e.file_size() : 0) + "@" + std::to_string(t);
    }
    return out;
}
}  // namespace

TEST_F(Cli, CommandsThatOnlyReadChangeNothingInTheMachine) {
    brisko::test::TempDir dir;
    const fs::path m = dir.path() / "m";
    ASSERT_EQ(run({"demo-machine", m.string()}, false).code, 0);
    const auto before = stamps(m);
    for (std::vector<std::string> args : {std::vector<std::string>{"regscan"},
                                          {"test", "Windows"},
                                          {"options"},
                                          {"options", "FastScan"},
                                          {"ignore", "list"},
                                          {"list"},
                                          {"info"}}) {
        args.insert(args.begin(), {"--machine", m.string()});
        auto r = run(args, false);
        EXPECT_EQ(r.code, 0) << args[2] << ": " << lastStderr();
        EXPECT_EQ(stamps(m), before) << args[2];
    }
}

// --yes confirms the run for a script; agreeing to empty a drive root or the
// documents takes --yes-to-all.
TEST_F(Cli, YesConfirmsTheRunOnlyYesToAllAlsoAnswersTheSafetyQuestions) {
    brisko::test::TempDir dir;
    const fs::path m = dir.path() / "m";
    ASSERT_EQ(run({"demo-machine", m.string()}, false).code, 0);
    const fs::path letter = m / "Users" / "Alex" / "Documents" / "letter.doc";
    brisko::test::writeFile(letter, "dear");
    brisko::test::writeFile(m / "Program Files" / "Brisko Cleaner" / "Custom.dat",
                            "[<New List>]\r\nDelFile1=C:\\Users\\Alex\\Documents\\.,*.*\r\n");
    auto clean = [&](const char* answer) {
        return run({"--machine", m.string(), "clean", answer, "Custom Lists - <New List>"}, false);
    };
    auto yes = clean("--yes");
    EXPECT_EQ(yes.code, 0) << lastStderr();
    const std::string asked = lastStderr();
    EXPECT_NE(asked.find("Are you sure you want to start to clean"), std::string::npos) << asked;
    EXPECT_NE(asked.find("Do you want to delete all files and folders under "
                         "C:\\Users\\Alex\\Documents\\.\\? -> No (default)"),
              std::string::npos)
        << asked;
    EXPECT_TRUE(fs::exists(letter));

    auto all = clean("--yes-to-all");
    EXPECT_EQ(all.code, 0) << lastStderr();
    EXPECT_NE(lastStderr().find("? -> Yes"), std::string::npos) << lastStderr();
    EXPECT_FALSE(fs::exists(letter));
    EXPECT_TRUE(fs::exists(m / "Users" / "Alex" / "NTUSER.DAT"));
    EXPECT_EQ(clean("--no").code, 5);  // the run itself is not confirmed
}
