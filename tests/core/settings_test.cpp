#include "core/settings.h"

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "fake_machine.h"

namespace brisko {
namespace {

using test::FakeMachine;
using test::readFile;
using test::writeFile;

// A small clean tree of the real shape: groups with items.
CheckTree cleanTree() {
    CheckTree t;
    CheckNode& ie = t.addTopLevel("Internet Explorer", 1);
    t.addChild(ie, "Recently Typed URLs", 1);
    t.addChild(ie, "Cookies", 1);
    CheckNode& win = t.addTopLevel("Windows", 2);
    t.addChild(win, "Recent Documents", 2);
    t.addChild(win, "Clipboard", 2);
    t.addTopLevel("Applications", 9);
    return t;
}

CheckTree sectionTree() {
    CheckTree t;
    CheckNode& root = t.addTopLevel("My Computers", 1, 1);
    CheckNode& ff = t.addChild(root, "Files and Folders", 2, 2);
    for (int c = 3; c <= 6; ++c) t.addChild(ff, "hive", c, c);
    for (int c = 7; c <= 25; ++c) t.addChild(root, "section", c, c);
    t.forEach([](CheckNode& n) { n.checked = true; });
    return t;
}

const WindowMetrics kMetrics{1024, 768, 705, 490};

class SettingsStore : public ::testing::Test {
  protected:
    std::string fileText() { return readFile(m.hostOf(m.settingsFile())); }
    void putFile(std::string_view text) { writeFile(m.hostOf(m.settingsFile()), text); }
    TOptionsSetting load() {
        TOptionsSetting s;
        LoadSettings(m, s, &clean, kMetrics);
        return s;
    }

    FakeMachine m;
    CheckTree clean = cleanTree();
    CheckTree sections = sectionTree();
};

TEST_F(SettingsStore, FreshStartHasTheDefaults) {
    for (CheckNode* n : clean.nodes()) n->checked = true;
    TOptionsSetting s = load();
    EXPECT_TRUE(s.IsAskBeforeClear);
    EXPECT_FALSE(s.IsWipeFile);
    EXPECT_EQ(s.WipeNumber, 1);
    EXPECT_FALSE(s.EnableHotkey);
    EXPECT_TRUE(s.Hotkey.IsCtrl);
    EXPECT_FALSE(s.Hotkey.IsShift || s.Hotkey.IsAlt);
    EXPECT_EQ(s.Hotkey.CharString, "F5");
    EXPECT_EQ(s.Hotkey.CharAscII, 116);
    EXPECT_FALSE(s.AutoClean || s.StartClean || s.ShutdownClean);
    EXPECT_TRUE(s.FastScan);
    for (int i = 1; i <= 25; ++i) EXPECT_TRUE(s.TreeViewNodeCheck[i]) << i;
    for (int i = 1; i <= 11; ++i) EXPECT_TRUE(s.FirstNodeExpand[i]) << i;
    for (CheckNode* n : clean.nodes()) EXPECT_FALSE(n->checked) << n->caption;
    EXPECT_EQ(s.WindowState, TWindowState::wsNormal);
    EXPECT_EQ(s.Left, (1024 - 705) / 2);
    EXPECT_EQ(s.Top, (768 - 490) / 2);
    EXPECT_EQ(s.Width, 705);
    EXPECT_EQ(s.Height, 490);
    const std::string folder = m.appData + "Brisko\\Brisko Cleaner\\";
    EXPECT_EQ(s.OutputDirectory, folder + "Backup");
    EXPECT_TRUE(m.files().directoryExists(folder + "Backup"));
    EXPECT_TRUE(s.DeleteBackupFile && s.IncludeRemoveMedia);
    EXPECT_FALSE(s.IncludeCDdrive || s.RestorePoint);
    EXPECT_TRUE(s.IgnoreKeyList.empty() && s.IgnoreValueList.empty());
    EXPECT_FALSE(m.files().fileExists(m.settingsFile()));  // loading creates no file

    // Centring truncates toward zero when the window is larger than the screen.
    TOptionsSetting small;
    LoadSettings(m, small, nullptr, WindowMetrics{600, 400, 705, 491});
    EXPECT_EQ(small.Left, -52);
    EXPECT_EQ(small.Top, -45);
}

TEST_F(SettingsStore, FreshSaveWritesEveryKeyInOrder) {
    TOptionsSetting s = load();
    setChecked(*clean.findByLogCaption("Internet Explorer - Cookies"), true);
    setChecked(*clean.findByLogCaption("Windows - Clipboard"), true);
    sections.findByImageIndex(4)->checked = false;
    s.IgnoreKeyList = {"HKEY_CURRENT_USER\\Software\\A"};
    WindowPlacement place{1, 10, 20, 700, 500};
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, &place));

    std::string expected =
        "[Options]\r\nIsAskBeforeClear=1\r\nIsWipeFile=0\r\nWipeNumber=1\r\n"
        "OutputDirectory=C:\\Users\\test\\AppData\\Roaming\\Brisko\\Brisko Cleaner\\Backup\r\n"
        "DeleteBackupFile=1\r\nIncludeRemoveMedia=1\r\nIncludeCDdrive=0\r\nRestorePoint=0\r\n"
        "[Hotkey]\r\nEnableHotkey=0\r\nIsCtrl=1\r\nIsShift=0\r\nIsAlt=0\r\nCharString=F5\r\n"
        "CharAscII=116\r\nEnableIE=0\r\nEnableNetscape=0\r\nEnableFirefox=0\r\nEnableOpera=0\r\n"
        "[SChedule]\r\nAutoClean=0\r\nCleanInterval=0\r\nStartClean=0\r\nShutdownClean=0\r\n"
        "[NodeSelected]\r\n1=Internet Explorer\r\n2=Internet Explorer - Cookies\r\n"
        "3=Windows\r\n4=Windows - Clipboard\r\nSelectedCount=4\r\n"
        "[FirstNodeExpand]\r\n";
    for (int i = 1; i <= 11; ++i) expected += std::to_string(i) + "=1\r\n";
    expected += "[Settings]\r\nShowLogTempInternetFiles=0\r\nShowLogRecycleBin=0\r\nFastScan=1\r\n";
    expected += "[TreeViewNodeCheck]\r\n";
    for (int i = 1; i <= 25; ++i) expected += std::to_string(i) + (i == 4 ? "=0\r\n" : "=1\r\n");
    expected +=
        "[IgnoreValue]\r\nCount=0\r\n"
        "[IgnoreKey]\r\nCount=1\r\nKey1=HKEY_CURRENT_USER\\Software\\A\r\n"
        "[Window]\r\nState=1\r\nLeft=10\r\nTop=20\r\nWidth=700\r\nHeight=500\r\n";
    EXPECT_EQ(fileText(), expected);
    EXPECT_EQ(s.SelectedCount, 4);
    EXPECT_EQ(s.IgnoreKeyCount, 1);
    EXPECT_FALSE(s.TreeViewNodeCheck[4]);
    EXPECT_FALSE(m.files().fileExists(m.settingsFile() + ".new"));
}

TEST_F(SettingsStore, EverySettingSurvivesASaveAndALoad) {
    TOptionsSetting s = load();
    s.IsAskBeforeClear = false;
    s.IsWipeFile = true;
    s.WipeNumber = 10;
    s.EnableHotkey = true;
    s.Hotkey = TShortcut{false, true, true, "F9", 120};
    s.EnableIE = s.EnableNetscape = s.EnableFirefox = s.EnableOpera = true;
    s.AutoClean = s.StartClean = s.ShutdownClean = true;
    s.CleanInterval = 3;
    s.FastScan = false;
    s.FirstNodeExpand[2] = s.FirstNodeExpand[11] = false;
    s.ShowLogTempInternetFiles = s.ShowLogRecycleBin = true;
    s.OutputDirectory = "D:\\Reg Backups";
    s.DeleteBackupFile = s.IncludeRemoveMedia = false;
    s.IncludeCDdrive = s.RestorePoint = true;
    sections.findByImageIndex(25)->checked = false;
    s.IgnoreValueList = {"HKEY_CURRENT_USER\\Software\\A\\Run1", "x"};
    s.IgnoreKeyList = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\B"};
    WindowPlacement place{1, -5, 7, 800, 600};
    setChecked(*clean.findByLogCaption("Windows - Recent Documents"), true);
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, &place));

    CheckTree again = cleanTree();
    TOptionsSetting r;
    LoadSettings(m, r, &again, kMetrics);
    s.Left = -5, s.Top = 7, s.Width = 800, s.Height = 600;
    EXPECT_EQ(r, s);
    EXPECT_TRUE(again.findByLogCaption("Windows - Recent Documents")->checked);
    EXPECT_TRUE(again.findByLogCaption("Windows")->checked);
    EXPECT_FALSE(again.findByLogCaption("Windows - Clipboard")->checked);
}

TEST_F(SettingsStore, DefaultsBesideTheProgramAreCopiedOnce) {
    writeFile(m.hostOf(m.program + "options.ini"), "[Options]\r\nWipeNumber=4\r\n");
    EXPECT_EQ(load().WipeNumber, 4);
    EXPECT_TRUE(m.files().fileExists(m.settingsFile()));
    writeFile(m.hostOf(m.program + "options.ini"), "[Options]\r\nWipeNumber=6\r\n");
    EXPECT_EQ(load().WipeNumber, 4);
}

TEST_F(SettingsStore, SettingsFolderFallsBackToTheProgramFolder) {
    m.files_.noCreateFolders.insert(m.appData);
    SettingsLocation loc = LocateSettings(m);
    EXPECT_EQ(loc.settingsFolder, m.program);
    EXPECT_EQ(loc.backupFolder, m.program + "Backup");
    EXPECT_EQ(loc.fileName, m.program + "options.ini");
    TOptionsSetting s = load();
    s.WipeNumber = 5;
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_TRUE(m.files().fileExists(m.program + "options.ini"));
}

TEST_F(SettingsStore, WipeNumberOutOfRangeLoadsAsOne) {
    for (auto [stored, loaded] :
         {std::pair{"0", 1}, {"11", 1}, {"-3", 1}, {"10", 10}, {"1", 1}, {"abc", 1}}) {
        putFile(std::string("[Options]\r\nWipeNumber=") + stored + "\r\n");
        EXPECT_EQ(load().WipeNumber, loaded) << stored;
    }
}

TEST_F(SettingsStore, WindowStateDecidesWhetherBoundsAreRead) {
    putFile("[Window]\r\nState=3\r\nLeft=1\r\nTop=2\r\nWidth=3\r\nHeight=4\r\n");
    TOptionsSetting max = load();
    EXPECT_EQ(max.WindowState, TWindowState::wsMaximized);
    EXPECT_EQ(max.Left, 0);
    EXPECT_EQ(max.Width, 0);

    putFile("[Window]\r\nState=2\r\nLeft=1\r\nTop=2\r\nWidth=300\r\nHeight=400\r\n");
    TOptionsSetting min = load();
    EXPECT_EQ(min.WindowState, TWindowState::wsNormal);
    EXPECT_EQ(min.Left, 1);
    EXPECT_EQ(min.Top, 2);
    EXPECT_EQ(min.Width, 300);
    EXPECT_EQ(min.Height, 400);

    // An unreadable placement leaves the stored state alone.
    TOptionsSetting s = load();
    WindowPlacement noState{std::nullopt, 5, 6, 7, 8};
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, &noState));
    IniFile ini(fileText());
    EXPECT_EQ(ini.readInteger("Window", "State", 0), 2);
    EXPECT_EQ(ini.readInteger("Window", "Left", 0), 5);
}

TEST_F(SettingsStore, StaleSelectionKeysStayButOnlyTheCountIsRead) {
    TOptionsSetting s = load();
    setChecked(*clean.topLevelByCaption("Windows"), true);  // 3 texts
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    clean.uncheckAll();
    setChecked(*clean.findByLogCaption("Internet Explorer - Cookies"), true);
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));

    IniFile ini(fileText());
    EXPECT_EQ(ini.readInteger("NodeSelected", "SelectedCount", 0), 2);
    EXPECT_EQ(ini.readString("NodeSelected", "3"), "Windows - Clipboard");  // left over

    CheckTree fresh = cleanTree();
    TOptionsSetting r;
    LoadSettings(m, r, &fresh, kMetrics);
    EXPECT_TRUE(fresh.findByLogCaption("Internet Explorer - Cookies")->checked);
    EXPECT_FALSE(fresh.findByLogCaption("Windows - Clipboard")->checked);
    EXPECT_FALSE(fresh.findByLogCaption("Windows")->checked);
}

TEST_F(SettingsStore, SelectionTextsMatchExactlyAndGroupsAreNotRecomputed) {
    putFile(
        "[NodeSelected]\r\nSelectedCount=5\r\n1=Windows - Clipboard\r\n"
        "2=Windows - Recent Docs\r\n3=windows - recent documents\r\n4=Internet Explorer\r\n"
        "05=Windows - Recent Documents\r\n");
    TOptionsSetting s = load();
    EXPECT_EQ(s.SelectedCount, 5);
    EXPECT_TRUE(clean.findByLogCaption("Windows - Clipboard")->checked);
    EXPECT_FALSE(clean.findByLogCaption("Windows - Recent Documents")->checked);
    EXPECT_FALSE(clean.topLevelByCaption("Windows")->checked);  // stored group text absent
    EXPECT_TRUE(clean.topLevelByCaption("Internet Explorer")->checked);
    EXPECT_FALSE(clean.findByLogCaption("Internet Explorer - Cookies")->checked);
}

TEST_F(SettingsStore, IgnoreListsFollowTheirCounts) {
    TOptionsSetting s = load();
    s.IgnoreValueList = {"v1", "v2", "v3", "v4", "v5"};
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    s.IgnoreValueList = {"a", "b", "c"};
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_EQ(IniFile(fileText()).readString("IgnoreValue", "Value5"), "v5");
    TOptionsSetting r = load();
    EXPECT_EQ(r.IgnoreValueList, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(r.IgnoreValueCount, 3);

    // A count beyond its entries loads empty entries, which filter nothing.
    putFile("[IgnoreKey]\r\nCount=4\r\nKey1=HKEY_CURRENT_USER\\Software\\X\r\nKey3=\\\r\n");
    r = load();
    EXPECT_EQ(r.IgnoreKeyList,
              (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\X", "", "\\", ""}));
    EXPECT_EQ(r.IgnoreKeyCount, 4);
    EXPECT_EQ(usableIgnoreEntries(r.IgnoreKeyList),
              (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\X"}));
    EXPECT_FALSE(ignoreEntryUsable("  "));
    EXPECT_TRUE(ignoreEntryUsable("HKEY_USERS"));
}

TEST_F(SettingsStore, DamagedCountsDoNotRunAway) {
    putFile(
        "[NodeSelected]\r\nSelectedCount=2147483647\r\n2000000000=Windows - Clipboard\r\n"
        "[IgnoreValue]\r\nCount=2147483647\r\n[IgnoreKey]\r\nCount=-5\r\n");
    TOptionsSetting s = load();
    EXPECT_TRUE(clean.findByLogCaption("Windows - Clipboard")->checked);
    EXPECT_EQ(s.IgnoreValueList.size(), 100000u);
    EXPECT_TRUE(s.IgnoreKeyList.empty());
    EXPECT_EQ(s.IgnoreKeyCount, 0);
}

TEST_F(SettingsStore, SaveKeepsForeignLinesAndLosesNothingOnFailure) {
    const std::string mine = "; hand edited\r\n[Options]\r\nWipeNumber=3\r\nOdd line\r\n";
    putFile(mine);
    TOptionsSetting s = load();
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_EQ(fileText().rfind("; hand edited\r\n[Options]\r\nWipeNumber=3\r\nOdd line\r\n", 0),
              0u);

    putFile(mine);
    m.files_.failCreate = true;
    EXPECT_FALSE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_EQ(fileText(), mine);
    m.files_.failCreate = false;

    m.files_.lockedFiles.insert(m.settingsFile());
    EXPECT_FALSE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_EQ(fileText(), mine);
    m.files_.lockedFiles.clear();

    // A backend whose move does not replace still gets the new file in place.
    m.files_.moveReplaces = false;
    s.WipeNumber = 9;
    ASSERT_TRUE(SaveSettings(m, s, &clean, &sections, nullptr));
    EXPECT_EQ(IniFile(fileText()).readInteger("Options", "WipeNumber", 0), 9);
    EXPECT_FALSE(m.files().fileExists(m.settingsFile() + ".old"));
}

TEST_F(SettingsStore, SavingWithoutTreesOrWindowKeepsTheirEntries) {
    putFile(
        "[NodeSelected]\r\nSelectedCount=1\r\n1=Applications - Foo\r\n"
        "[Window]\r\nState=3\r\nLeft=9\r\n[TreeViewNodeCheck]\r\n7=0\r\n");
    TOptionsSetting s;
    LoadSettings(m, s, nullptr, kMetrics);
    s.WipeNumber = 2;
    ASSERT_TRUE(SaveSettings(m, s, nullptr, nullptr, nullptr));
    IniFile ini(fileText());
    EXPECT_EQ(readSelectedItems(ini), std::vector<std::string>{"Applications - Foo"});
    EXPECT_EQ(ini.readInteger("Window", "State", 0), 3);
    EXPECT_EQ(ini.readInteger("Window", "Left", 0), 9);
    EXPECT_EQ(ini.readInteger("TreeViewNodeCheck", "7", 1), 0);
    EXPECT_EQ(ini.readInteger("Options", "WipeNumber", 0), 2);
}

}  // namespace
}  // namespace brisko
