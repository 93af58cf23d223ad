#include "cleaner/items/windows_items.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "cleaner/clean_catalog.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"
#include "core/machine/registry_key.h"
#include "demo/demo_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;
using test::runRoutine;

const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-1000";
const std::string kTemp = "C:\\Users\\User\\AppData\\Local\\Temp\\";
const std::string kRecent = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\";
const std::string kExplorer =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";

// Runs the item as the worker would: its own routine or the data-file routine.
ItemRun runItem(Machine& m, std::string_view caption, int mode,
                const TOptionsSetting& settings = cleanSettings()) {
    const ItemTable& table = builtinItemTable();
    Dispatch d = dispatchCaption(table, caption);
    return runRoutine(m, settings, mode, [&](CleanContext& ctx) {
        if (d.kind == Dispatch::Routine)
            (*d.routine)(ctx);
        else
            table.dataFileRoutine()(ctx, d.fileName, caption);
    });
}

bool userKeyExists(Machine& m, std::string_view path) {
    return m.registry().openKey(RootKey::CurrentUser, path, KeyAccess::Read) != nullptr;
}

std::string regText(std::string body) {
    return "REGEDIT4\r\n\r\n" + body;
}

// One machine with traces for every item of both groups, beside things that
// look alike and must stay.
MachineBuilder windowsTraces() {
    MachineBuilder b;
    b.addRegText(
        regText("[HKEY_CURRENT_USER\\Environment]\r\n"
                "\"TEMP\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\\\\Temp\"\r\n"
                "[" +
                kExplorer +
                "\\RunMRU]\r\n\"a\"=\"cmd\\\\1\"\r\n\"b\"=\"notepad\\\\1\"\r\n"
                "\"c\"=\"calc\\\\1\"\r\n\"d\"=\"mspaint\\\\1\"\r\n\"MRUList\"=\"dcba\"\r\n"
                "[" +
                kExplorer +
                "\\RecentDocs]\r\n\"0\"=hex:61,00\r\n\"1\"=hex:62,00\r\n"
                "\"MRUListEx\"=hex:01,00,00,00,00,00,00,00,ff,ff,ff,ff\r\n"
                "[" +
                kExplorer +
                "\\RecentDocs\\.txt]\r\n\"0\"=hex:61,00\r\n\"MRUListEx\"=hex:00\r\n"
                "[HKEY_CURRENT_USER\\Software\\Microsoft\\Search Assistant\\ACMru\\5603]\r\n"
                "\"000\"=\"*.doc\"\r\n\"001\"=\"budget\"\r\n"
                "[HKEY_CURRENT_USER\\Software\\Microsoft\\Search Assistant\\ACMru\\5604]\r\n"
                "\"000\"=\"tax\"\r\n"
                "[" +
                kExplorer +
                "\\ComDlg32\\OpenSaveMRU\\*]\r\n\"a\"=\"C:\\\\a.doc\"\r\n"
                "\"b\"=\"C:\\\\b.xls\"\r\n\"MRUList\"=\"ba\"\r\n"
                "[" +
                kExplorer +
                "\\ComDlg32\\OpenSaveMRU\\doc]\r\n\"a\"=\"C:\\\\a.doc\"\r\n"
                "\"MRUList\"=\"a\"\r\n"
                "[" +
                kExplorer +
                "\\ComDlg32\\LastVisitedMRU]\r\n\"a\"=\"stays\"\r\n"
                "[" +
                kExplorer +
                "\\MenuOrder\\Start Menu2\\Programs]\r\n\"Order\"=hex:08,00\r\n"
                "[" +
                kExplorer +
                "\\MenuOrder\\Favorites]\r\n"
                "[" +
                kExplorer +
                "\\TrayNotify]\r\n\"IconStreams\"=hex:14,00\r\n"
                "\"PastIconsStream\"=hex:14,00\r\n\"BalloonTip\"=dword:00000001\r\n"
                "[" +
                kExplorer +
                "\\UserAssist\\{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count]\r\n"
                "\"HRZR_PGYFRFFVBA\"=hex:01\r\n\"HRZR_EHACNGU:P:\\\\k.rkr\"=hex:01\r\n"
                "[" +
                kExplorer +
                "\\UserAssist\\{75048700-EF1F-11D0-9888-006097DEACF9}\\Count]\r\n"
                "\"HRZR_PGYFRFFVBA\"=hex:01\r\n"
                "[" +
                kExplorer +
                "\\UserAssist\\{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}\\Count]\r\n"
                "\"HRZR_PGYFRFFVBA\"=hex:01\r\n"
                "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\"
                "Recent File List]\r\n\"File1\"=\"C:\\\\a.png\"\r\n\"File2\"=\"C:\\\\b.png\"\r\n"));
    b.addFile(kRecent + "a.lnk", std::string(100, 'l'));
    b.addFile(kRecent + "b.lnk", std::string(200, 'l'));
    b.addFile(kRecent + "AutomaticDestinations\\1b4dd67f29cb1962.automaticDestinations-ms", "j");
    b.addFile(kTemp + "a.tmp", std::string(1500, 'a'));
    b.addFile(kTemp + "sub\\b.log", "bb");
    b.addFile(kTemp + "sub\\deep\\c.bin", std::string(2048, 'c'));
    b.addFile("C:\\Windows\\MEMORY.DMP", "dump");
    b.addFile("C:\\Windows\\Minidump\\Mini070111-01.dmp", "mini");
    b.addFile("C:\\Windows\\Minidump\\readme.txt", "stays");
    b.addFile("C:\\Windows\\System32\\FILE0001.CHK", "frag");
    b.addFile("C:\\Windows\\System32\\kernel32.dll", "stays");
    b.addFile("C:\\FOUND.000\\FILE0000.CHK", std::string(10, 'f'));
    b.addFile("C:\\FOUND.001\\FILE0000.CHK", std::string(20, 'f'));
    b.addFile("C:\\FOUND.001\\note.txt", "stays");
    b.addFile("C:\\FOUNDX\\FILE0000.CHK", "stays");
    const std::string bin = "C:\\$Recycle.Bin\\" + kSid + "\\";
    b.addFile(bin + "desktop.ini", "[.ShellClassInfo]\r\n");
    b.addFile(bin + "$IAB12CD.txt", std::string(544, 'i'));
    b.addFile(bin + "$RAB12CD.txt", std::string(1000, 'r'));
    b.addFile(bin + "$RXY34ZW\\inner.txt", std::string(300, 'r'));
    b.addFile("C:\\$Recycle.Bin\\S-1-5-21-1-2-3-1005\\$RQQ.txt", "another user's");
    b.addFile("C:\\Users\\User\\Documents\\letter.doc", "dear");
    return b;
}

struct Expected {
    const char* caption;
    int count;
    int64_t bytes;
};

const Expected kExpected[] = {
    {"Windows - Recent Documents", 5 + 2, 300},
    {"Windows - Start Run", 5, 0},
    {"Windows - Search Assistant", 3, 0},
    {"Windows - Empty Recycle Bin", 3, 544 + 1000 + 300},
    {"Windows - Temporary Files", 3, 1500 + 2 + 2048},
    {"Windows - Clipboard", 0, 0},
    {"Windows - Memory Dumps", 2, 8},
    {"Windows - Chkdsk File Fragments", 3, 4 + 10 + 20},
    {"Advanced - Open File History", 5, 0},
    {"Advanced - Menu Order Cache", 1, 0},
    {"Advanced - Tray Notifications Cache", 2, 0},
    {"Advanced - User Assist History", 3, 0},
    {"Advanced - Paint", 2, 0},
};

TEST(WindowsItems, EveryRoutineIsRegisteredAndTheListItemsGoToApls) {
    const ItemTable& table = builtinItemTable();
    for (const auto& group : cleanCatalog()) {
        if (group.caption != "Windows" && group.caption != "Advanced") continue;
        for (auto item : group.items) {
            std::string caption = std::string(group.caption) + " - " + std::string(item);
            Dispatch d = dispatchCaption(table, caption);
            bool fromList = item == "Windows Log Files" || item.find("Toolbar") != item.npos;
            EXPECT_EQ(d.kind, fromList ? Dispatch::DataFile : Dispatch::Routine) << caption;
            if (fromList) {
                EXPECT_EQ(d.fileName, "apls.dat");
            }
        }
    }
    EXPECT_TRUE(table.dataFileRoutine());
}

TEST(WindowsItems, TestCountsExactlyWhatCleanRemovesAndChangesNothing) {
    auto b = windowsTraces();
    CleanTestMachine m(b);
    auto before = m.snapshot();
    for (const auto& e : kExpected) {
        SCOPED_TRACE(e.caption);
        auto t = runItem(m, e.caption, kRunTest);
        EXPECT_EQ(t.count, e.count);
        EXPECT_EQ(t.bytes, e.bytes);
        EXPECT_EQ(t.sizeText, FormatKB(static_cast<uint64_t>(e.bytes)));
    }
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before);

    for (const auto& e : kExpected) {
        SCOPED_TRACE(e.caption);
        auto c = runItem(m, e.caption, kRunCleanPass);
        EXPECT_EQ(c.count, e.count);
        EXPECT_EQ(c.bytes, e.bytes);
    }
    ASSERT_TRUE(m.registry().commit());
    for (const auto& e : kExpected) {
        SCOPED_TRACE(e.caption);
        EXPECT_EQ(runItem(m, e.caption, kRunTest).count, 0);
    }

    // What only looked like a trace is still there.
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    EXPECT_TRUE(userKeyExists(m, explorer + "\\ComDlg32\\LastVisitedMRU"));
    EXPECT_TRUE(
        userKeyExists(m, explorer + "\\UserAssist\\{5E6AB780-7743-11CF-A12B-00AA004AE837}"));
    EXPECT_TRUE(
        userKeyExists(m, explorer + "\\UserAssist\\{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}\\Count"));
    RegistryKey tray(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(tray.openKeyReadOnly(explorer + "\\TrayNotify"));
    EXPECT_EQ(tray.valueNames(), std::vector<std::string>{"BalloonTip"});
    for (const char* kept :
         {"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\AutomaticDestinations",
          "C:\\Windows\\Minidump\\readme.txt", "C:\\Windows\\System32\\kernel32.dll",
          "C:\\FOUND.001\\note.txt", "C:\\FOUNDX\\FILE0000.CHK",
          "C:\\$Recycle.Bin\\S-1-5-21-1-2-3-1005\\$RQQ.txt",
          "C:\\Users\\User\\Documents\\letter.doc"})
        EXPECT_TRUE(fs::exists(m.host(kept))) << kept;
    // The temporary folder and the bin stay, empty but for the bin's desktop.ini;
    // an emptied FOUND folder goes.
    EXPECT_TRUE(fs::is_empty(m.host(kTemp)));
    EXPECT_FALSE(fs::exists(m.host("C:\\FOUND.000")));
    std::vector<std::string> binLeft;
    for (const auto& e : fs::directory_iterator(m.host("C:\\$Recycle.Bin\\" + kSid)))
        binLeft.push_back(e.path().filename().string());
    EXPECT_EQ(binLeft, std::vector<std::string>{"desktop.ini"});
}

TEST(WindowsItems, SingleListsAndMissingParts) {
    MachineBuilder b;
    b.addRegText(regText("[" + kExplorer + "\\TrayNotify]\r\n\"IconStreams\"=hex:14,00\r\n"));
    b.addFile("C:\\Windows\\memory.dmp", "lower");
    b.addFile("C:\\Windows\\Memory.Dmp.bak", "stays");
    CleanTestMachine m(b);

    auto tray = runItem(m, "Advanced - Tray Notifications Cache", kRunCleanPass);
    EXPECT_EQ(tray.count, 1);
    EXPECT_EQ(tray.log, std::vector<std::string>{"Clean: deleting registry value " + kExplorer +
                                                 "\\TrayNotify\\IconStreams"});

    // No MiniDump folder: only the dump in the Windows folder.
    auto dumps = runItem(m, "Windows - Memory Dumps", kRunCleanPass);
    EXPECT_EQ(dumps.count, 1);
    EXPECT_FALSE(fs::exists(m.host("C:\\Windows\\memory.dmp")));
    EXPECT_TRUE(fs::exists(m.host("C:\\Windows\\Memory.Dmp.bak")));

    EXPECT_EQ(runItem(m, "Advanced - User Assist History", kRunTest).count, 0);
}

// TEMP naming the Windows folder or the profile (as Windows falls back to when
// TMP and TEMP are unusable) must not empty it.
TEST(WindowsItems, TemporaryFilesNeverEmptiesASystemFolderTakenForTemp) {
    // .reg spelling: a missing folder (Windows then takes the profile), the
    // profile itself, the system folder.
    for (const char* temp :
         {"C:\\\\Nowhere", "C:\\\\Users\\\\User", "C:\\\\Windows\\\\system32\\\\"}) {
        SCOPED_TRACE(temp);
        MachineBuilder b;
        b.addRegText(regText("[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"" + std::string(temp) +
                             "\"\r\n\"TMP\"=\"\"\r\n"));
        b.addFile("C:\\Windows\\win.ini", "[fonts]");
        b.addFile("C:\\Windows\\system32\\config.nt", "x");
        b.addFile("C:\\Users\\User\\Documents\\letter.doc", "dear");
        CleanTestMachine m(b);
        auto before = m.snapshot();
        auto r = runItem(m, "Windows - Temporary Files", kRunCleanPass);
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(m.snapshot(), before);
    }
}

TEST(WindowsItems, TemporaryFilesLeavesAFolderThatStillHoldsALockedFile) {
    auto b = windowsTraces();
    CleanTestMachine m(b);
    m.imageFiles().lockFile(kTemp + "sub\\deep\\c.bin");
    auto r = runItem(m, "Windows - Temporary Files", kRunCleanPass);
    EXPECT_EQ(r.count, 2);  // the locked file goes at the next restart, not now
    EXPECT_TRUE(fs::exists(m.host(kTemp + "sub\\deep\\c.bin")));
    EXPECT_FALSE(fs::exists(m.host(kTemp + "sub\\b.log")));
    EXPECT_FALSE(fs::exists(m.host(kTemp + "a.tmp")));
}

// Drives: C: fixed (Vista bin; a 9x bin without desktop.ini), D: removable,
// E: fixed (9x and XP bins), F: CD-ROM.
MachineBuilder binDrives() {
    MachineBuilder b;
    b.addFile("C:\\machine.ini",
              "[Drive D]\r\nKind=removable\r\nPath=drives/d\r\n"
              "[Drive E]\r\nKind=fixed\r\nPath=drives/e\r\n"
              "[Drive F]\r\nKind=cdrom\r\nPath=drives/f\r\n");
    const std::string info2 =
        std::string("\x05\0\0\0\0\0\0\0\0\0\0\0\x20\x03\0\0\xee\x02\0\0", 20) +
        std::string(800, 'R');
    for (const char* drive : {"d", "f"}) {
        const std::string recycled = std::string("C:\\drives\\") + drive + "\\Recycled\\";
        b.addFile(recycled + "INFO2", info2);
        b.addFile(recycled + "desktop.ini", "[.ShellClassInfo]");
        b.addFile(recycled + "Dc1.txt", "not fixed");
    }
    b.addFile("C:\\drives\\e\\Recycled\\INFO2", info2);
    b.addFile("C:\\drives\\e\\Recycled\\Desktop.ini", "[.ShellClassInfo]");
    b.addFile("C:\\drives\\e\\Recycled\\Dc1.doc", std::string(700, 'd'));
    b.addFile("C:\\drives\\e\\Recycled\\Dc2\\x.txt", std::string(50, 'x'));
    b.addFile("C:\\drives\\e\\RECYCLER\\" + kSid + "\\INFO2", info2);
    b.addFile("C:\\drives\\e\\RECYCLER\\" + kSid + "\\Dc3.txt", std::string(30, 'd'));
    b.addFile("C:\\drives\\e\\RECYCLER\\S-1-5-21-9-9-9-1001\\Dc9.txt", "another user's");
    b.addFile("C:\\Recycled\\INFO2", info2);
    b.addFile("C:\\Recycled\\Dc1.txt", "no desktop.ini: not counted, but emptied");
    b.addFile("C:\\$Recycle.Bin\\" + kSid + "\\$IAB.txt", std::string(544, 'i'));
    b.addFile("C:\\$Recycle.Bin\\" + kSid + "\\$RAB.txt", std::string(100, 'r'));
    return b;
}

TEST(RecycleBin, OnlyTheUsersBinsOnFixedDrivesAreCountedAndEmptied) {
    auto b = binDrives();
    CleanTestMachine m(b);
    EXPECT_EQ(recycleBinFolders(m),
              (std::vector<std::string>{"C:\\$Recycle.Bin\\" + kSid, "E:\\Recycled",
                                        "E:\\RECYCLER\\" + kSid}));
    auto before = m.snapshot();
    auto t = runItem(m, "Windows - Empty Recycle Bin", kRunTest);
    EXPECT_EQ(t.count, 5);
    EXPECT_EQ(t.bytes, 544 + 100 + 700 + 50 + 30);
    EXPECT_TRUE(t.log.empty());  // ShowLogRecycleBin is off
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before);

    auto c = runItem(m, "Windows - Empty Recycle Bin", kRunCleanPass);
    EXPECT_EQ(c.count, t.count);
    EXPECT_EQ(c.bytes, t.bytes);
    EXPECT_EQ(c.log, std::vector<std::string>{"Clearing, please wait..."});

    // The index keeps its header with a zero total; its records are gone.
    for (const char* info2 : {"C:\\drives\\e\\Recycled\\INFO2",
                              "C:\\drives\\e\\RECYCLER\\S-1-5-21-1004336348-1177238915-"
                              "682003330-1000\\INFO2"}) {
        std::string bytes = test::readFile(m.host(info2));
        EXPECT_EQ(bytes, std::string("\x05\0\0\0\0\0\0\0\0\0\0\0\x20\x03\0\0\0\0\0\0", 20));
    }
    EXPECT_TRUE(fs::exists(m.host("C:\\drives\\e\\Recycled\\Desktop.ini")));
    EXPECT_FALSE(fs::exists(m.host("C:\\drives\\e\\Recycled\\Dc2")));
    for (const char* kept : {"C:\\drives\\d\\Recycled\\Dc1.txt", "C:\\drives\\f\\Recycled\\Dc1.txt",
                             "C:\\drives\\d\\Recycled\\INFO2",
                             "C:\\drives\\e\\RECYCLER\\S-1-5-21-9-9-9-1001\\Dc9.txt"})
        EXPECT_TRUE(fs::exists(m.host(kept))) << kept;
    EXPECT_EQ(fs::file_size(m.host("C:\\drives\\d\\Recycled\\INFO2")), 820u);
    // A 9x bin without its desktop.ini is emptied whole, as Windows empties it.
    EXPECT_FALSE(fs::exists(m.host("C:\\Recycled\\Dc1.txt")));
    EXPECT_EQ(fs::file_size(m.host("C:\\Recycled\\INFO2")), 20u);
    EXPECT_EQ(runItem(m, "Windows - Empty Recycle Bin", kRunTest).count, 0);
}

// The demo machine: every item of both groups finds something (the clipboard
// of an image is always empty), a Clean run removes it all, and the files the
// lists must spare are still there.
TEST(DemoMachine, EveryWindowsAndAdvancedItemFindsTracesAndCleanRemovesThem) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "m");
    ImageMachine m(dir.path() / "m");
    EXPECT_EQ(test::readFile(dir.path() / "m" / "Program Files" / "Brisko Cleaner" / "apls.dat"),
              test::readFile(fs::path(BRISKO_DATA_DIR) / "apls.dat"));

    const std::string recent = m.specialFolder(CSIDL_RECENT);
    EXPECT_EQ(m.shortcutTarget(recent + "Budget 2026.lnk"),
              "C:\\Users\\Alex\\Documents\\Budget 2026.xlsx");

    std::vector<std::string> captions;
    for (const auto& group : cleanCatalog())
        if (group.caption == "Windows" || group.caption == "Advanced")
            for (auto item : group.items)
                captions.push_back(std::string(group.caption) + " - " + std::string(item));
    std::map<std::string, int> found;
    for (const auto& caption : captions) {
        found[caption] = runItem(m, caption, kRunTest, cleanSettings(true)).count;
        if (caption != "Windows - Clipboard") {
            EXPECT_GT(found[caption], 0) << caption;
        }
    }
    EXPECT_GE(found["Windows - Windows Log Files"], 15);
    for (const auto& caption : captions)
        EXPECT_EQ(runItem(m, caption, kRunCleanPass, cleanSettings(true)).count, found[caption])
            << caption;
    ASSERT_TRUE(m.registry().commit());
    for (const auto& caption : captions)
        EXPECT_EQ(runItem(m, caption, kRunTest, cleanSettings(true)).count, 0) << caption;

    for (const char* kept :
         {"C:\\Windows\\SoftwareDistribution\\DataStore\\Logs\\edb.log", "C:\\Windows\\win.ini",
          "C:\\Windows\\inf\\usbstor.inf", "C:\\Users\\Alex\\Documents\\Budget 2026.xlsx",
          "C:\\Users\\Alex\\AppData\\Local\\Temp", "C:\\Windows\\Performance\\WinSAT\\DataStore"})
        EXPECT_TRUE(m.files().fileExists(kept) || m.files().directoryExists(kept)) << kept;
    for (const char* gone : {"C:\\Windows\\WindowsUpdate.log", "C:\\Windows\\MEMORY.DMP",
                             "C:\\FOUND.000", "C:\\Windows\\Logs\\CBS\\CBS.log"})
        EXPECT_FALSE(m.files().fileExists(gone) || m.files().directoryExists(gone)) << gone;
}

}  // namespace
}  // namespace brisko
