#include "cleaner/items/data_file_items.h"

#include <gtest/gtest.h>

#include "cleaner/clean_test_machine.h"
#include "core/machine/registry_key.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;
using test::runRoutine;
using test::ScriptedPrompter;

const char* kProgramFolder = "C:\\Program Files\\Brisko Cleaner\\";

void writeList(CleanTestMachine& m, std::string_view file, const std::string& text) {
    test::writeFile(m.host(kProgramFolder + std::string(file)), text);
}

ItemRun runList(Machine& m, int mode, std::string_view caption = "Custom Lists - <New List>",
                std::string_view file = "Custom.dat", Prompter* prompter = nullptr) {
    return runRoutine(
        m, cleanSettings(), mode, [&](CleanContext& ctx) { RunDataFileItem(ctx, file, caption); },
        prompter);
}

// Runs a Test and then a Clean run of the list; the Test must change nothing
// and count what the Clean run removes.
ItemRun testThenClean(CleanTestMachine& m, Prompter* prompter = nullptr) {
    auto before = m.snapshot();
    auto t = runList(m, kRunTest, "Custom Lists - <New List>", "Custom.dat", prompter);
    EXPECT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before);
    auto c = runList(m, kRunCleanPass, "Custom Lists - <New List>", "Custom.dat", prompter);
    EXPECT_EQ(c.count, t.count);
    EXPECT_EQ(c.bytes, t.bytes);
    EXPECT_TRUE(m.registry().commit());
    return c;
}

bool exists(CleanTestMachine& m, std::string_view winPath) {
    return fs::exists(m.host(winPath));
}

std::optional<std::vector<std::string>> userValues(Machine& m, std::string_view path) {
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    if (!k.openKeyReadOnly(path)) return std::nullopt;
    return k.valueNames();
}

MachineBuilder listMachine() {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        "Shell Folders]\r\n\"Common AppData\"=\"C:\\\\ProgramData\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        "Shell Folders]\r\n\"Local AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\"\r\n"
        "\"AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\X]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\X\\Sub]\r\n\"c\"=\"3\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\X\\Sub\\Deeper]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Y]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Empty]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Z]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Old]\r\n\"c\"=\"3\"\r\n");
    b.addFolder("C:\\Program Files\\Brisko Cleaner");
    for (const char* t : {"T1", "T2", "T3", "T4"}) {
        const std::string folder = std::string("C:\\") + t + "\\";
        b.addFile(folder + "a.tmp", std::string(100, 'a'));
        b.addFile(folder + "b.log", std::string(200, 'b'));
        b.addFile(folder + "sub\\c.tmp", std::string(300, 'c'));
    }
    b.addFile("C:\\Windows\\Temp\\x.log", "x");
    b.addFile("C:\\Windows\\Temp\\y.txt", "y");
    b.addFile("C:\\Users\\User\\AppData\\Local\\Foo\\f.tmp", "f");
    b.addFile("C:\\Users\\User\\AppData\\Roaming\\Bar\\inner\\g.dat", "g");
    b.addFile("C:\\ProgramData\\Baz\\h.dat", "h");
    b.addFile("C:\\Program Files\\App\\logs\\run.log", "r");
    b.addFile("C:\\Qux\\x.txt", "q");
    b.addFile("C:\\Foo\\f.tmp", "not below a token");
    return b;
}

TEST(DataFileSection, IsTheCaptionAfterItsFirstDash) {
    EXPECT_EQ(dataFileSection("Custom Lists - <New List>"), "<New List>");
    EXPECT_EQ(dataFileSection("Applications - Foo-Bar 2"), "Foo-Bar 2");
    EXPECT_EQ(dataFileSection("Advanced - Yahoo! Toolbar History"), "Yahoo! Toolbar History");
    EXPECT_EQ(dataFileSection("Windows Log Files"), "Windows Log Files");
    EXPECT_EQ(dataFileSection("Broken -"), "");
}

TEST(DataFileSection, ReadsTheFirstSectionOfTheNameTrimmed) {
    auto b = listMachine();
    CleanTestMachine m(b);
    EXPECT_TRUE(readDataFileSection(m, "Custom.dat", "<New List>").empty());  // no file
    writeList(m, "Custom.dat",
              "\xEF\xBB\xBF[<new list>]\r\n  DelFile1=C:\\T1  \r\n\r\n[Other]\nDelFile1=C:\\T2\n"
              "[<New List>]\nDelFile1=C:\\T3\n");
    EXPECT_EQ(readDataFileSection(m, "Custom.dat", "<New List>"),
              std::vector<std::string>{"DelFile1=C:\\T1"});
    EXPECT_TRUE(readDataFileSection(m, "Custom.dat", "Missing").empty());
    EXPECT_TRUE(readDataFileSection(m, "apls.dat", "Other").empty());
}

TEST(DataFileItems, FileEntryForms) {
    auto b = listMachine();
    CleanTestMachine m(b);
    writeList(m, "Custom.dat",
              "[<New List>]\r\nDelFile1=C:\\T1\r\nDelFile2=C:\\T2,*.*\r\nDelFile3=C:\\T3,*.tmp\r\n"
              "DelFile4=C:\\T4,b.log\r\nDelFile5=C:\\T4,A.TMP\r\nDelFile6=C:\\Missing,*.*\r\n");
    auto c = testThenClean(m);
    EXPECT_EQ(c.count, 3 + 3 + 1 + 1);
    EXPECT_EQ(c.bytes, 600 + 600 + 100 + 200);
    // The whole folder; emptied, the folder kept; one folder's matches; one file.
    EXPECT_FALSE(exists(m, "C:\\T1"));
    EXPECT_TRUE(fs::is_directory(m.host("C:\\T2")));
    EXPECT_TRUE(fs::is_empty(m.host("C:\\T2")));
    EXPECT_FALSE(exists(m, "C:\\T3\\a.tmp"));
    EXPECT_TRUE(exists(m, "C:\\T3\\b.log"));
    EXPECT_TRUE(exists(m, "C:\\T3\\sub\\c.tmp"));
    EXPECT_FALSE(exists(m, "C:\\T4\\b.log"));
    EXPECT_TRUE(exists(m, "C:\\T4\\a.tmp"));  // a file name without "*" matches its case only
}

TEST(DataFileItems, BaseTokensAreReplacedOnlyAsWritten) {
    auto b = listMachine();
    CleanTestMachine m(b);
    writeList(m, "Custom.dat",
              "[<New List>]\r\nDelFile1=%windir%\\Temp,*.log\r\nDelFile2=%WINDIR%\\Temp,*.txt\r\n"
              "DelFile3={Local AppData}\\Foo,*.tmp\r\nDelFile4={Current AppData}\\Bar\r\n"
              "DelFile5={Common AppData}\\Baz,*.*\r\nDelFile6=%ProgramFiles%\\App\\logs,*.log\r\n"
              "DelFile7={C: Drive}\\Qux,x.txt\r\n");
    auto c = testThenClean(m);
    EXPECT_EQ(c.count, 6);
    EXPECT_FALSE(exists(m, "C:\\Windows\\Temp\\x.log"));
    EXPECT_TRUE(exists(m, "C:\\Windows\\Temp\\y.txt"));  // "%WINDIR%" is no token
    EXPECT_FALSE(exists(m, "C:\\Users\\User\\AppData\\Local\\Foo\\f.tmp"));
    EXPECT_FALSE(exists(m, "C:\\Users\\User\\AppData\\Roaming\\Bar"));
    EXPECT_TRUE(fs::is_directory(m.host("C:\\ProgramData\\Baz")));
    EXPECT_FALSE(exists(m, "C:\\ProgramData\\Baz\\h.dat"));
    EXPECT_FALSE(exists(m, "C:\\Program Files\\App\\logs\\run.log"));
    EXPECT_FALSE(exists(m, "C:\\Qux\\x.txt"));
}

TEST(DataFileItems, ATokenWithoutAFolderSkipsTheEntry) {
    auto b = listMachine();
    b.hive("NTUSER")
        .find("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        ->removeValue("Local AppData");
    CleanTestMachine m(b);
    writeList(m, "Custom.dat", "[<New List>]\r\nDelFile1={Local AppData}\\Foo,*.tmp\r\n");
    auto c = testThenClean(m);
    EXPECT_EQ(c.count, 0);
    EXPECT_TRUE(exists(m, "C:\\Foo\\f.tmp"));
    EXPECT_TRUE(exists(m, "C:\\Users\\User\\AppData\\Local\\Foo\\f.tmp"));
}

TEST(DataFileItems, RegistryEntryForms) {
    auto b = listMachine();
    CleanTestMachine m(b);
    writeList(m, "Custom.dat",
              "[<New List>]\r\n"
              "DelRegValue1=HKCU\\Software\\Y\r\n"                   // abbreviations are no roots
              "DelRegValue2=HKEY_CURRENT_USER\\Software\\X,\r\n"     // values and subkeys
              "DelRegValue3=HKEY_CURRENT_USER\\Software\\Empty\r\n"  // key: counts 1
              "DelRegValue4=hkey_current_user\\Software\\Z,v\r\n"    // one value
              "DelRegValue5=HKEY_CURRENT_USER\\Software\\Z,missing\r\n"
              "DelRegValue6=HKEY_CURRENT_USER\\,\r\n"  // a root itself: never
              "DelRegValue7=HKEY_CURRENT_USER\r\n"
              "DelRegValue8=HKEY_CURRENT_USER\\\\\\,\r\n");
    auto c = testThenClean(m);
    EXPECT_EQ(c.count, 3 + 1 + 1);
    EXPECT_EQ(c.sizeText, "0");
    EXPECT_EQ(userValues(m, "Software\\Y")->size(), 2u);
    EXPECT_EQ(userValues(m, "Software\\X"), std::vector<std::string>{});
    RegistryKey x(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(x.openKeyReadOnly("Software\\X"));
    EXPECT_TRUE(x.subkeyNames().empty());
    EXPECT_FALSE(userValues(m, "Software\\Empty"));
    EXPECT_EQ(userValues(m, "Software\\Z"), std::vector<std::string>{"w"});
    EXPECT_TRUE(userValues(m, "Environment") || userValues(m, "Software\\Microsoft"));
}

TEST(DataFileItems, MachineValuesNeedAnAdministratorOnNt) {
    const std::string list =
        "[<New List>]\r\nDelRegValue1=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor,a\r\n"
        "DelRegValue2=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor,\r\n"
        "DelRegValue3=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Old\r\n"
        "DelRegValue4=HKEY_CURRENT_USER\\Software\\Z,v\r\n";
    auto vendorValues = [](Machine& m) {
        RegistryKey k(m.registry(), RootKey::LocalMachine);
        return k.openKeyReadOnly("SOFTWARE\\Vendor") ? k.valueNames().size() : 0u;
    };
    struct Case {
        const char* ini;
        int mode;
        size_t questions;
        int count;
    };
    const Case cases[] = {
        {"[Machine]\r\nAdministrator=0\r\n", kRunCleanPass, 1, 1 + 1},
        {"[Machine]\r\nAdministrator=0\r\n", kRunUnattended, 0, 1 + 1},
        {"[Machine]\r\nAdministrator=0\r\nPlatform=9x\r\n", kRunCleanPass, 0, 1 + 1 + 1 + 1},
        {"[Machine]\r\nAdministrator=1\r\n", kRunCleanPass, 0, 1 + 1 + 1 + 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.ini) + " mode " + std::to_string(k.mode));
        auto b = listMachine();
        b.addFile("C:\\machine.ini", k.ini);
        CleanTestMachine m(b);
        writeList(m, "Custom.dat", list);
        ScriptedPrompter prompter;
        auto r = runList(m, k.mode, "Custom Lists - <New List>", "Custom.dat", &prompter);
        EXPECT_EQ(r.count, k.count);
        ASSERT_EQ(prompter.asked.size(), k.questions);
        if (k.questions) {
            EXPECT_EQ(prompter.asked[0], "You must have administrators user.");
        }
        // The key entry is not a value entry and is not held back.
        RegistryKey old(m.registry(), RootKey::LocalMachine);
        EXPECT_FALSE(old.openKeyReadOnly("SOFTWARE\\Vendor\\Old"));
        EXPECT_EQ(vendorValues(m), k.count == 2 ? 2u : 0u);
    }
}

TEST(DataFileItems, WhichLinesCount) {
    auto b = listMachine();
    CleanTestMachine m(b);
    writeList(m, "Custom.dat",
              "[<New List>]\r\n"
              "DelFile1 C:\\T1\r\n"                // no "="
              ";DelFile2=C:\\T2\r\n"               // switched off
              "Anything=C:\\T3,*.tmp DelFile\r\n"  // the marker may stand anywhere
              "MyDelFile=C:\\T4,a.tmp\r\n"
              "delfile5=C:\\T4,b.log\r\n");  // markers are case-sensitive
    auto c = testThenClean(m);
    EXPECT_EQ(c.count, 1);
    EXPECT_TRUE(exists(m, "C:\\T1\\a.tmp"));
    EXPECT_TRUE(exists(m, "C:\\T2\\a.tmp"));
    EXPECT_TRUE(exists(m, "C:\\T3\\a.tmp"));  // its mask reads "*.tmp DelFile"
    EXPECT_FALSE(exists(m, "C:\\T4\\a.tmp"));
    EXPECT_TRUE(exists(m, "C:\\T4\\b.log"));
}

// The shipped list on an XP installation: the logs go, the update database's
// transaction log and everything that is not a log stay.
TEST(AplsDat, WindowsLogFilesAndToolbarHistories) {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Google\\NavClient\\1.1\\History]\r\n"
        "\"cheap flights\"=dword:00000001\r\n"
        "[HKEY_CURRENT_USER\\Software\\Yahoo\\Companion\\SearchHistory]\r\n\"0\"=\"cars\"\r\n");
    const std::string w = "C:\\WINDOWS\\";
    for (const char* log :
         {"setupapi.log", "WindowsUpdate.log", "KB958644.log", "setuplog.txt", "ntbtlog.txt",
          "Debug\\NetSetup.LOG", "Debug\\UserMode\\userenv.log", "Debug\\UserMode\\userenv.bak",
          "security\\logs\\winlogon.log", "system32\\wbem\\Logs\\wbemess.lo_",
          "system32\\wbem\\Logs\\wmiprov.log", "system32\\CatRoot2\\dberr.txt", "Temp\\MSI1a.LOG",
          "SoftwareDistribution\\ReportingEvents.log", "inf\\setupapi.dev.log",
          "Logs\\CBS\\CbsPersist_20120101.cab", "Panther\\UnattendGC\\setupact.log"})
        b.addFile(w + log, "log");
    for (const char* kept :
         {"win.ini", "system32\\config.nt", "SoftwareDistribution\\DataStore\\Logs\\edb.log",
          "system32\\CatRoot2\\edb.log", "Temp\\keep.tmp", "inf\\usb.inf",
          "Debug\\WIA\\wiatrace.log"})
        b.addFile(w + kept, "keep");
    b.addFolder(kProgramFolder);
    CleanTestMachine m(b);
    fs::copy_file(fs::path(BRISKO_DATA_DIR) / "apls.dat",
                  m.host(kProgramFolder + std::string("apls.dat")));

    auto t = runList(m, kRunTest, "Windows - Windows Log Files", "apls.dat");
    EXPECT_EQ(t.count, 17);
    auto c = runList(m, kRunCleanPass, "Windows - Windows Log Files", "apls.dat");
    EXPECT_EQ(c.count, 17);
    EXPECT_EQ(c.bytes, 17 * 3);
    for (const char* kept :
         {"win.ini", "system32\\config.nt", "SoftwareDistribution\\DataStore\\Logs\\edb.log",
          "system32\\CatRoot2\\edb.log", "Temp\\keep.tmp", "inf\\usb.inf",
          "Debug\\WIA\\wiatrace.log"})
        EXPECT_TRUE(m.files().fileExists(w + kept)) << kept;

    EXPECT_EQ(runList(m, kRunCleanPass, "Advanced - Google Toolbar History", "apls.dat").count, 1);
    EXPECT_EQ(runList(m, kRunCleanPass, "Advanced - Yahoo! Toolbar History", "apls.dat").count, 1);
    EXPECT_EQ(runList(m, kRunTest, "Advanced - MSN Toolbar History", "apls.dat").count, 0);
    EXPECT_EQ(userValues(m, "Software\\Google\\NavClient\\1.1\\History"),
              std::vector<std::string>{});
}

}  // namespace
}  // namespace brisko
