// brisko fix, backups and reg export --all on a fresh demo machine: a fix
// deletes what the scan listed and lists what its deletions left behind (a
// second scan finds exactly that), the healthy entries stay, and the one
// backup brings every problem back.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "support/shell_command.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Run = brisko::test::CommandRun;
using brisko::test::shellQuote;

Run brisko(const fs::path& machine, const std::vector<std::string>& args) {
    std::vector<std::string> argv{BRISKO_CLI};
    if (!machine.empty()) argv.insert(argv.end(), {"--machine", machine.string()});
    argv.insert(argv.end(), args.begin(), args.end());
    return brisko::test::runShell(brisko::test::shellCommand(argv) + " 2>&1 </dev/null");
}

json jsonOf(const Run& r) {
    auto at = r.out.find('{');
    return json::parse(r.out.substr(at == std::string::npos ? 0 : at));
}

// The hives as hivexml sees them, without times and offsets, one element a
// line and the lines sorted: a value deleted alone comes back at the end of
// its key's values, as with the registry editor.
std::string hivesXml(const fs::path& machine) {
    std::string all;
    for (const char* hive :
         {"Windows/System32/config/SOFTWARE", "Windows/System32/config/SYSTEM",
          "Users/Alex/NTUSER.DAT", "Users/Alex/AppData/Local/Microsoft/Windows/UsrClass.dat"}) {
        std::string xml =
            brisko::test::runShell("hivexml " + shellQuote((machine / hive).string())).out;
        xml = std::regex_replace(xml, std::regex("<mtime>[^<]*</mtime>"), "");
        xml = std::regex_replace(xml, std::regex("<byte_runs>.*?</byte_runs>"), "");
        all += std::regex_replace(xml, std::regex("><"), ">\n<");
    }
    std::vector<std::string> lines;
    std::istringstream in(all);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

TEST(FixCli, DemoMachineFixedThenRestoredToTheSameRegistry) {
    brisko::test::TempDir dir;
    const fs::path m = dir.path() / "demo";
    ASSERT_EQ(brisko({}, {"demo-machine", m.string()}).code, 0);
    const std::string sections =
        "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25";

    auto scan = brisko(m, {"--json", "regscan", "--sections", sections});
    ASSERT_EQ(scan.code, 0) << scan.out;
    const size_t planted = jsonOf(scan)["total"].get<size_t>();
    ASSERT_GT(planted, 20u);
    const std::string before = hivesXml(m);

    // Without --yes and without a terminal nothing happens.
    auto refused = brisko(m, {"fix", "--sections", sections});
    EXPECT_EQ(refused.code, 2) << refused.out;

    auto fix = brisko(m, {"--json", "fix", "--sections", sections, "--yes"});
    ASSERT_EQ(fix.code, 0) << fix.out;
    json report = jsonOf(fix);
    EXPECT_NE(fix.out.find(report.dump(2) + "\n"), std::string::npos);  // streamed, same layout
    EXPECT_EQ(report["fixed"].get<size_t>() + report["alreadyGone"].get<size_t>(), planted);
    const std::string backup = report["backup"];

    // What the deletions left behind (keys emptied, commands left without
    // their program) is listed, not deleted: the next scan finds just that.
    auto again = brisko(m, {"--json", "regscan", "--sections", sections});
    ASSERT_EQ(again.code, 0) << again.out;
    const json leftovers = report["leftovers"];
    EXPECT_GT(leftovers.size(), 0u);
    const json second = jsonOf(again);
    EXPECT_EQ(second["total"].get<size_t>(), leftovers.size()) << again.out;
    std::set<std::string> foundAgain;
    for (const auto& r : second["problems"])
        foundAgain.insert(r["keyPath"].get<std::string>() + "|" + r["data"].get<std::string>());
    for (const auto& r : leftovers)
        EXPECT_TRUE(
            foundAgain.count(r["keyPath"].get<std::string>() + "|" + r["data"].get<std::string>()))
            << r.dump();

    // The healthy twins of the planted problems are all still there.
    const std::string after = hivesXml(m);
    std::multiset<std::string> gone;
    {
        std::istringstream b(before);
        for (std::string l; std::getline(b, l);) gone.insert(l);
        std::istringstream a(after);
        for (std::string l; std::getline(a, l);)
            if (auto it = gone.find(l); it != gone.end()) gone.erase(it);
    }
    ASSERT_FALSE(gone.empty());
    for (const auto& line : gone)
        for (const char* twin : {"Firefox", "firefox", "vlc", "VLC", "7-Zip", "7zFM", "notepad",
                                 "Notify", "arial", "segoeui"})
            EXPECT_EQ(line.find(twin), std::string::npos) << line;

    auto list = brisko(m, {"--json", "backups", "list"});
    ASSERT_EQ(list.code, 0) << list.out;
    ASSERT_EQ(jsonOf(list)["backups"].size(), 1u);
    std::string name = jsonOf(list)["backups"][0]["file"];
    EXPECT_NE(backup.find(name), std::string::npos);

    auto restore = brisko(m, {"--json", "backups", "restore", name, "--keep"});
    ASSERT_EQ(restore.code, 0) << restore.out;
    auto back = brisko(m, {"--json", "regscan", "--sections", sections});
    EXPECT_EQ(jsonOf(back)["total"].get<size_t>(), planted) << back.out;
    EXPECT_EQ(hivesXml(m), before);

    EXPECT_EQ(brisko(m, {"backups", "delete", name}).code, 0);
    EXPECT_EQ(jsonOf(brisko(m, {"--json", "backups"}))["backups"].size(), 0u);

    // Told as text, the leftovers come with the command that fixes them.
    auto text = brisko(m, {"fix", "--sections", sections, "--yes"});
    ASSERT_EQ(text.code, 0) << text.out;
    EXPECT_NE(text.out.find("Left behind by these deletions:\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("`brisko fix`"), std::string::npos) << text.out;
}

TEST(FixCli, FullExportImportsBackIntoTheSameRegistry) {
    brisko::test::TempDir dir;
    const fs::path m = dir.path() / "demo";
    ASSERT_EQ(brisko({}, {"demo-machine", m.string()}).code, 0);
    const fs::path file = dir.path() / "full.reg";
    auto exp = brisko(m, {"reg", "export", "--all", file.string()});
    ASSERT_EQ(exp.code, 0) << exp.out;
    std::string text = brisko::test::readFile(file);
    ASSERT_TRUE(text.starts_with("\xFF\xFE"));
    const std::string before = hivesXml(m);
    ASSERT_EQ(brisko(m, {"reg", "import", file.string()}).code, 0);
    EXPECT_EQ(hivesXml(m), before);
    EXPECT_EQ(brisko(m, {"reg", "export", "--all"}).code, 2);
}

// `backups delete` and `restore` take only backups in the backup folder, never
// a document named by its path, nor what a link beside a backup names; a
// backup cut short is listed as such and not restored; an empty one is no backup.
TEST(FixCli, BackupsCommandsStayInTheBackupFolder) {
    brisko::test::TempDir dir;
    const fs::path m = dir.path() / "demo";
    ASSERT_EQ(brisko({}, {"demo-machine", m.string()}).code, 0);
    // A fresh machine has no backup folder yet: the list names where it would be.
    auto list = brisko(m, {"backups", "list"});
    const std::string missing = " can not find the backup folder.";
    const size_t end = list.out.find(missing), start = list.out.find("C:\\");
    ASSERT_TRUE(end != std::string::npos && start < end) << list.out;
    std::string folderWin = list.out.substr(start, end - start);
    ASSERT_TRUE(folderWin.starts_with("C:\\")) << folderWin;
    std::string rel = folderWin.substr(3);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    const fs::path backups = m / rel;
    fs::create_directories(backups);
    const fs::path docs = m / "Users" / "Alex" / "Documents";
    fs::create_directories(docs / "Website_files");
    brisko::test::writeFile(docs / "CV 2026.docx", "cv");
    brisko::test::writeFile(docs / "Website.reg", "REGEDIT4\r\n");
    brisko::test::writeFile(docs / "Website_files" / "index.html", "<html>");

    for (const char* doc :
         {"C:\\Users\\Alex\\Documents\\CV 2026.docx", "C:\\Users\\Alex\\Documents\\Website.reg"}) {
        EXPECT_NE(brisko(m, {"backups", "delete", doc}).code, 0) << doc;
        EXPECT_NE(brisko(m, {"backups", "restore", doc}).code, 0) << doc;
    }
    EXPECT_TRUE(fs::exists(docs / "CV 2026.docx"));
    EXPECT_TRUE(fs::exists(docs / "Website.reg"));
    EXPECT_TRUE(fs::exists(docs / "Website_files" / "index.html"));

    // A backup whose folder of copies is a link to the documents.
    brisko::test::writeFile(backups / "2013_07_04_093005.reg", "REGEDIT4\r\n");
    fs::create_directory_symlink(docs, backups / "2013_07_04_093005_files");
    auto del = brisko(m, {"backups", "delete", "2013_07_04_093005.reg"});
    EXPECT_EQ(del.code, 0) << del.out;
    EXPECT_FALSE(fs::exists(backups / "2013_07_04_093005.reg"));
    EXPECT_TRUE(fs::exists(docs / "Website_files" / "index.html"));

    brisko::test::writeFile(backups / "2014_01_01_000000.reg",
                            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Cut]\r\n"
                            "\"ImagePath\"=\"C:\\\\Program Fi");
    brisko::test::writeFile(backups / "2015_01_01_000000.reg", "");
    auto rows = jsonOf(brisko(m, {"--json", "backups", "list"}))["backups"];
    ASSERT_EQ(rows.size(), 1u) << rows.dump();
    EXPECT_EQ(rows[0]["file"], "2014_01_01_000000.reg");
    EXPECT_FALSE(rows[0]["whole"].get<bool>());
    auto cut = brisko(m, {"backups", "restore", "2014_01_01_000000.reg"});
    EXPECT_NE(cut.code, 0);
    EXPECT_NE(cut.out.find("cut short"), std::string::npos) << cut.out;
}

}  // namespace
