// The Applications group: the name match with its short-name guard, building
// the group from a machine's uninstall entries, the shipped apls.dat itself,
// and every installed application of the demo machine.
#include "cleaner/items/application_items.h"

#include <gtest/gtest.h>

#include <set>

#include "base/text.h"
#include "cleaner/clean_catalog.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/items/custom_list.h"
#include "cleaner/items/data_file_items.h"
#include "cleaner/program_lists.h"
#include "core/ini_file.h"
#include "core/machine/registry_key.h"
#include "demo/demo_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;

TEST(ApplicationMatch, WholeWordsEitherWayWithoutCase) {
    EXPECT_TRUE(applicationNamesMatch("VLC media player", "VLC media player 2.0.5"));
    EXPECT_TRUE(applicationNamesMatch("7-Zip", "7-Zip 9.20 (x64 edition)"));
    EXPECT_TRUE(
        applicationNamesMatch("Mozilla Thunderbird 115 (x86 en-GB)", "mozilla thunderbird"));
    EXPECT_TRUE(applicationNamesMatch("Paint.NET", "paint.net 5.0.12"));
    EXPECT_TRUE(applicationNamesMatch("Battle.net", "Battle.net"));
    EXPECT_TRUE(applicationNamesMatch("AIM", "AIM 7.5"));
    EXPECT_TRUE(applicationNamesMatch("Notepad++", "Notepad++ (64-bit x64)"));
    // Inside another word, or the short name of another program.
    EXPECT_FALSE(applicationNamesMatch("Paint", "Paint.NET"));
    EXPECT_FALSE(applicationNamesMatch("Steam", "SteamVR"));
    EXPECT_FALSE(applicationNamesMatch("Opera", "Operation Flashpoint"));
    EXPECT_FALSE(applicationNamesMatch("Notepad", "Notepad++"));
    // Names of one or two letters match nothing, however they stand.
    EXPECT_FALSE(applicationNamesMatch("Google Toolbar History", "Go"));
    EXPECT_FALSE(applicationNamesMatch("R", "R for Windows 4.3.1"));
    EXPECT_FALSE(applicationNamesMatch("Windows Log Files", "X"));
    EXPECT_FALSE(applicationNamesMatch("", "Anything"));
}

TEST(ApplicationMatch, SectionsInTheOrderProgramsFirstMatchThemOnce) {
    const auto sections = parseDataFileSections(
        "[Windows Log Files]\nDelFile1=%windir%\\,*.log\n"
        "[Adobe Reader]\n; comment\nMatch1=Adobe Acrobat Reader\nDelFile1=C:\\x,Match2.log\n"
        "[VLC media player]\nDelFile1=C:\\v,*.*\n[7-Zip]\n[ICQ]\n");
    EXPECT_EQ(sectionMatchNames(sections[1]),
              (std::vector<std::string>{"Adobe Reader", "Adobe Acrobat Reader"}));
    const std::vector<std::string> installed = {"7-Zip 19.00",
                                                "Adobe Acrobat Reader DC",
                                                "VLC media player 3.0.18",
                                                "7-Zip 9.20",
                                                "ICQ",
                                                "Adobe Reader XI (11.0.23)",
                                                "Windows Live",
                                                "R",
                                                "vlc media player"};
    EXPECT_EQ(matchApplicationSections(sections, installed),
              (std::vector<std::string>{"7-Zip", "Adobe Reader", "VLC media player", "ICQ"}));
}

void setString(MachineBuilder& b, std::string_view hive, std::string_view path,
               std::string_view name, std::string_view value) {
    b.hive(hive).find(path, true)->setValue(name, REG_SZ, utf8ToUtf16le(value));
}

const std::string kUninstall = "Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(ApplicationsNode, BuiltFromMachineAndUserUninstallEntries) {
    MachineBuilder b;
    setString(b, "SOFTWARE", kUninstall + "VLC", "DisplayName", "VLC media player 3.0");
    setString(b, "SOFTWARE", kUninstall + "VLC2", "DisplayName", "VLC media player (old)");
    setString(b, "SOFTWARE", kUninstall + "Blank", "DisplayName", "  ");
    setString(b, "SOFTWARE", kUninstall + "NoName", "Publisher", "Someone");
    setString(b, "SOFTWARE", kUninstall + "Go", "DisplayName", "Go");
    setString(b, "NTUSER", "Software\\" + kUninstall + "Spotify", "DisplayName", "Spotify");
    b.addFile("C:\\Program Files\\Brisko Cleaner\\apls.dat",
              "[Spotify]\n; caches\nDelFile1={Local AppData}\\Spotify\\Storage,*.*\n"
              "[VLC media player]\n; art\n[Google Toolbar History]\n; searches\n[Zoom]\n");
    CleanTestMachine m(b);
    EXPECT_EQ(installedProgramNames(m),
              (std::vector<std::string>{"Go", "VLC media player 3.0", "VLC media player (old)",
                                        "Spotify"}));

    CheckTree tree = buildCleanTree();
    addApplicationItem(tree, "Spotify");  // already there: not added again
    EXPECT_EQ(BuildApplicationsNode(m, tree), 1);
    auto* group = applicationsGroup(tree);
    ASSERT_EQ(group->children.size(), 2u);
    EXPECT_EQ(group->children[1]->caption, "VLC media player");
    EXPECT_EQ(logCaption(*group->children[1]), "Applications - VLC media player");
    EXPECT_EQ(group->children[1]->imageIndex, kImgApplications);

    CheckTree noGroup;
    noGroup.addTopLevel("Windows", kImgWindows);
    EXPECT_EQ(BuildApplicationsNode(m, noGroup), 0);
}

// An offline disk has no Brisko installed in it: the list comes from the
// program's installation, else from the copy built into it; a list in the
// machine's own program folder still wins.
TEST(ApplicationsNode, WithoutAListOnTheMachineTheProgramsOwnIsUsed) {
    MachineBuilder b;
    setString(b, "SOFTWARE", kUninstall + "VLC", "DisplayName", "VLC media player");
    CleanTestMachine m(b);
    CheckTree tree = buildCleanTree();
    EXPECT_EQ(BuildApplicationsNode(m, tree), 1);
    EXPECT_EQ(applicationsGroup(tree)->children[0]->caption, "VLC media player");

    test::TempDir host;
    const fs::path installed = host.path() / "share" / "brisko", beside = host.path() / "bin";
    test::writeFile(installed / "apls.dat", "\xEF\xBB\xBF[Installed]\n");
    test::writeFile(beside / "apls.dat", "[Beside]\n");
    std::vector<ListFolder> folders{{installed.string(), ListOrigin::Installed},
                                    {beside.string(), ListOrigin::BesideProgram}};
    auto list = loadProgramList(m, kAppsDataFile, folders);
    EXPECT_EQ(list.origin, ListOrigin::Installed);
    EXPECT_EQ(list.text, "[Installed]\n");
    EXPECT_EQ(list.where, (installed / "apls.dat").string());
    fs::remove(installed / "apls.dat");
    EXPECT_EQ(loadProgramList(m, kAppsDataFile, folders).origin, ListOrigin::BesideProgram);
    list = loadProgramList(m, kAppsDataFile, {});
    EXPECT_EQ(list.origin, ListOrigin::BuiltIn);
    EXPECT_NE(list.text.find("[VLC media player]"), std::string::npos);
    // The user's own lists are never taken from anywhere but the machine.
    EXPECT_EQ(loadProgramList(m, kCustomDataFile, folders).origin, ListOrigin::Missing);

    test::writeFile(m.host("C:\\Program Files\\Brisko Cleaner\\apls.dat"), "[Machine]\n");
    list = loadProgramList(m, kAppsDataFile, folders);
    EXPECT_EQ(list.origin, ListOrigin::Machine);
    EXPECT_EQ(list.where, "C:\\Program Files\\Brisko Cleaner\\apls.dat");
    CheckTree own = buildCleanTree();
    EXPECT_EQ(BuildApplicationsNode(m, own), 0);
}

// The list shipped with the program, read as the demo machine has it: every
// section parses, says in its first line what it removes, holds only known
// lines, and no entry reaches a place a list may not reach.
TEST(ShippedAppList, EverySectionIsSoundOnAWindows7Machine) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "m");
    ImageMachine m(dir.path() / "m");
    const auto sections = readDataFileSections(m, kAppsDataFile);
    std::set<std::string> names;
    int applications = 0;
    for (const auto& s : sections) {
        SCOPED_TRACE(s.name);
        EXPECT_TRUE(names.insert(upperCase(s.name)).second) << "a second section of the name";
        ASSERT_FALSE(s.lines.empty());
        EXPECT_TRUE(s.lines.front().starts_with("; ")) << "no comment line first";
        int entries = 0;
        for (const auto& line : s.lines) {
            if (line.starts_with(";")) continue;
            auto kv = splitIniLine(line);
            ASSERT_TRUE(kv) << line;
            const std::string keyName(kv->first);
            const std::string entry(kv->second);
            if (keyName.starts_with("Match")) {
                EXPECT_GE(entry.size(), 3u) << line;
                continue;
            }
            const bool reg = keyName.starts_with("DelRegValue");
            EXPECT_TRUE(reg || keyName.starts_with("DelFile")) << line;
            EXPECT_EQ(reg, isRegistryRow(entry)) << line;
            ++entries;
            auto why = refuseListEntry(m, entry);
            EXPECT_FALSE(why) << line << ": " << why.value_or("");
            if (!reg) {
                EXPECT_TRUE(resolveFileEntry(m, entry)) << line;
            }
        }
        EXPECT_GT(entries, 0);
        const bool servesItem = s.name == "Windows Log Files" || s.name == "ICQ" ||
                                s.name == "AOL Instant Messenger" ||
                                s.name.ends_with("Toolbar History");
        if (!servesItem) ++applications;
    }
    for (const char* item :
         {"Windows Log Files", "ICQ", "AOL Instant Messenger", "Google Toolbar History",
          "MSN Toolbar History", "Yahoo! Toolbar History"})
        EXPECT_TRUE(names.count(upperCase(item))) << item;
    EXPECT_GE(applications, 60);
}

// Every application the demo machine has installed shows under "Applications",
// finds its traces, and a Clean run removes them (and so do the Office and
// messenger items) and leaves the programs'
// settings and the user's files alone.
TEST(DemoMachine, EveryInstalledApplicationFindsTracesAndKeepsSettings) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "m");
    ImageMachine m(dir.path() / "m");
    CheckTree tree = buildCleanTree();
    BuildApplicationsNode(m, tree);
    std::vector<std::string> captions;
    for (const auto& c : applicationsGroup(tree)->children) captions.push_back(logCaption(*c));
    ASSERT_GE(captions.size(), 10u);
    for (const auto& g : cleanCatalog())
        if (g.caption == "Microsoft Office" || g.caption == "Instant Messengers")
            for (auto item : g.items)
                if (item != "ICQ" && item != "AOL Instant Messenger")
                    captions.push_back(std::string(g.caption) + " - " + std::string(item));

    const ItemTable& table = builtinItemTable();
    auto run = [&](const std::string& caption, int mode) {
        Dispatch d = dispatchCaption(table, caption);
        return test::runRoutine(m, cleanSettings(true), mode, [&](CleanContext& ctx) {
            if (d.kind == Dispatch::Routine)
                (*d.routine)(ctx);
            else
                table.dataFileRoutine()(ctx, d.fileName, caption);
        });
    };
    // Item by item, as a run goes: the Office items share the recent folder.
    for (const auto& c : captions) {
        const int found = run(c, kRunTest).count;
        EXPECT_GT(found, 0) << c;
        EXPECT_EQ(run(c, kRunCleanPass).count, found) << c;
    }
    ASSERT_TRUE(m.registry().commit());
    for (const auto& c : captions) EXPECT_EQ(run(c, kRunTest).count, 0) << c;

    const std::string roaming = "C:\\Users\\Alex\\AppData\\Roaming\\";
    for (const std::string& kept :
         {roaming + "vlc\\vlcrc", roaming + "Code\\User\\settings.json",
          roaming + "FileZilla\\sitemanager.xml", roaming + "Spotify\\prefs",
          roaming + "Thunderbird\\Profiles\\k2j4h6g8.default-release\\Mail\\Local Folders\\Inbox",
          roaming + "Everything\\Everything.ini", roaming + "Skype\\alex.k.skype\\config.xml",
          std::string("C:\\Program Files\\Steam\\config\\loginusers.vdf"),
          std::string("C:\\Users\\Alex\\Documents\\Quarterly review.pptx"),
          std::string("C:\\Users\\Alex\\Documents\\Tenancy agreement.pdf"),
          std::string("C:\\Program Files\\Yahoo!\\Messenger\\Games\\games.ini")})
        EXPECT_TRUE(m.files().fileExists(kept)) << kept;
    RegistryKey sevenZip(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(sevenZip.openKeyReadOnly("Software\\7-Zip\\FM"));
    EXPECT_TRUE(sevenZip.valueExists("ShowDots"));
}

}  // namespace
}  // namespace brisko
