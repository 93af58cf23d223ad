// The custom list in Custom.dat: saving and loading with the list's numbering,
// and the entries the editor and `brisko custom` refuse.
#include "cleaner/items/custom_list.h"

#include <gtest/gtest.h>

#include "cleaner/clean_test_machine.h"
#include "cleaner/items/data_file_items.h"

namespace brisko {
namespace {

using test::CleanTestMachine;

const char* kCustomDat = "C:\\Program Files\\Brisko Cleaner\\Custom.dat";

MachineBuilder listMachine() {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        "Shell Folders]\r\n"
        "\"Personal\"=\"C:\\\\Users\\\\User\\\\Documents\"\r\n"
        "\"My Pictures\"=\"C:\\\\Users\\\\User\\\\Pictures\"\r\n"
        "\"Local AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\"\r\n"
        "\"AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\"\r\n");
    b.addFolder("C:\\Program Files\\Brisko Cleaner");
    b.addFolder("C:\\Users\\User\\Documents\\Letters");
    b.addFolder("C:\\Users\\User\\Pictures");
    b.addFile("C:\\Windows\\Temp\\a.log", "a");
    b.addFile("C:\\Windows\\WindowsUpdate.log", "w");
    b.addFile("C:\\Temp\\Logs\\x.log", "x");
    b.addFile("C:\\Users\\User\\AppData\\Local\\App\\cache\\c.bin", "c");
    return b;
}

// The rows keep their order; each kind is numbered on its own; the rest of
// the file is left as it was, and saving again replaces the section.
TEST(CustomList, SaveAndLoadWithTheListNumbering) {
    auto b = listMachine();
    CleanTestMachine m(b);
    test::writeFile(
        m.host(kCustomDat),
        "; my lists\r\n[Other]\r\nDelFile1=C:\\Keep\r\n[<New List>]\r\nDelFile1=C:\\Old\r\n"
        "DelFile2=C:\\Older\r\n");
    const std::vector<std::string> rows = {"C:\\Temp\\Logs,*.log",
                                           "HKEY_CURRENT_USER\\Software\\Example,LastFile",
                                           "%windir%\\Prefetch"};
    ASSERT_TRUE(saveCustomList(m, rows));
    EXPECT_EQ(test::readFile(m.host(kCustomDat)),
              "; my lists\r\n[Other]\r\nDelFile1=C:\\Keep\r\n[<New List>]\r\n"
              "DelFile1=C:\\Temp\\Logs,*.log\r\n"
              "DelRegValue1=HKEY_CURRENT_USER\\Software\\Example,LastFile\r\n"
              "DelFile2=%windir%\\Prefetch\r\n");
    EXPECT_EQ(loadCustomList(m), rows);
    ASSERT_TRUE(saveCustomList(m, {"hkey_users\\S-1-5-18\\Software\\X"}));
    EXPECT_EQ(loadCustomList(m), std::vector<std::string>{"hkey_users\\S-1-5-18\\Software\\X"});
    EXPECT_EQ(readDataFileSection(m, "Custom.dat", "Other"),
              std::vector<std::string>{"DelFile1=C:\\Keep"});
    EXPECT_EQ(readDataFileSection(m, "Custom.dat", "<New List>"),
              std::vector<std::string>{"DelRegValue1=hkey_users\\S-1-5-18\\Software\\X"});
}

TEST(CustomList, MissingFileIsAnEmptyList) {
    auto b = listMachine();
    CleanTestMachine m(b);
    EXPECT_TRUE(loadCustomList(m).empty());
}

// Only what is not a path or key, or lies outside the machine, is refused:
// a drive root and the documents are asked about when the list runs.
TEST(CustomList, RefusedEntries) {
    auto b = listMachine();
    CleanTestMachine m(b);
    for (const char* ok :
         {"C:\\Temp\\Logs", "C:\\Temp\\Logs,*.*", "C:\\Temp\\Logs,*.log", "%windir%\\Temp,*.log",
          "%windir%\\,*.log", "%windir%\\,WindowsUpdate.log", "{Local AppData}\\App\\cache,*.*",
          "{C: Drive}\\Temp", "C:/Temp//Logs/", "HKEY_CURRENT_USER\\Software\\Example",
          "HKEY_CURRENT_USER\\Software\\Example,", "hkey_local_machine\\SOFTWARE\\Vendor\\App,MRU",
          "HKEY_CURRENT_USER\\Software,LastFile",
          // drive roots, documents, whole system and profile folders, top keys
          "C:\\", "C:", "{C: Drive}", "C:\\,*.tmp",
          "C:\\Users\\User\\Documents\\My Web Sites,*.htm", "C:\\USERS\\USER\\DOCUMENTS\\Letters",
          "C:\\Users\\User,*.*", "%windir%", "%windir%\\,*.exe", "C:\\Windows\\System32,*.dll",
          "%ProgramFiles%", "HKEY_CURRENT_USER\\Software", "HKEY_LOCAL_MACHINE\\SOFTWARE,"})
        EXPECT_FALSE(refuseListEntry(m, ok)) << ok << ": " << refuseListEntry(m, ok).value_or("");
    for (const char* refused :
         {"C:\\.", "D:\\Temp", "\\\\server\\share\\x",
          "Temp\\Logs",  // not on this machine
          "C:\\Temp\\..\\..\\etc", "C:\\Windows\\..", "C:\\Temp\\.\\x",
          "%WINDIR%\\Temp\\..\\..",  // dot steps
          "C:\\Temp,sub\\x.log",
          "C:\\Temp,",  // not a mask
          "HKCU\\Software\\Example", "HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\",
          "HKEY_CURRENT_USER\\Software\\\\X", "xHKEY_CURRENT_USER\\Software\\X", ""})
        EXPECT_TRUE(refuseListEntry(m, refused)) << refused;
}

// Every spelling of a root or top-level key is either refused or read as the
// top-level key it names, which the run removes only when the user says Yes
// at the time: a list written by hand, run with the default answer, leaves
// the hives as they were.
TEST(CustomList, NoSpellingOfATopLevelKeyGetsThrough) {
    auto b = listMachine();
    b.addRegText(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control]\r\n\"x\"=\"1\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:00000001\r\n"
        "[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"y\"=\"2\"\r\n");
    CleanTestMachine m(b);
    const std::vector<std::string> spellings = {
        "HKEY_LOCAL_MACHINE\\\\SYSTEM,",
        "hkey_local_machine\\\\system,",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\,",
        "HKEY_LOCAL_MACHINE\\.\\SYSTEM,",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\Select\\..,",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\.\\..\\SYSTEM",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\..\\..\\SYSTEM\\Select",
        "HKEY_CURRENT_USER\\\\Software",
        " HKEY_CURRENT_USER\\Software\\\\, ",
        "HKEY_CURRENT_USER\\Software\\Keep\\..\\",
    };
    for (const auto& e : spellings)
        EXPECT_TRUE(refuseListEntry(m, e) ||
                    normalRegistryEntry(e).path.find('\\') == std::string::npos)
            << e;
    // Each names the same key however it is written.
    EXPECT_EQ(normalRegistryEntry("hkey_local_machine\\\\SYSTEM\\.\\x\\..\\Select,").text(),
              "HKEY_LOCAL_MACHINE\\SYSTEM\\Select,");
    EXPECT_TRUE(normalRegistryEntry("HKEY_USERS\\..\\x").aboveRoot);

    std::string list = "[<New List>]\r\n";
    for (size_t i = 0; i < spellings.size(); ++i)
        list += "DelRegValue" + std::to_string(i + 1) + "=" + spellings[i] + "\r\n";
    test::writeFile(m.host(kCustomDat), list);
    auto before = m.snapshot();
    auto run = test::runRoutine(m, test::cleanSettings(), kRunCleanPass, [](CleanContext& ctx) {
        RunDataFileItem(ctx, "Custom.dat", "Custom Lists - <New List>");
    });
    EXPECT_EQ(run.count, 0);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before);

    // With a Yes the user's own top-level entry runs.
    test::writeFile(m.host(kCustomDat),
                    "[<New List>]\r\nDelRegValue1=HKEY_CURRENT_USER\\Software,\r\n");
    test::ScriptedPrompter yes;
    yes.answers = {IDYES};
    run = test::runRoutine(
        m, test::cleanSettings(), kRunCleanPass,
        [](CleanContext& ctx) { RunDataFileItem(ctx, "Custom.dat", "Custom Lists - <New List>"); },
        &yes);
    ASSERT_EQ(yes.asked.size(), 1u);
    EXPECT_EQ(yes.asked[0],
              "Do you want to delete all keys and values under HKEY_CURRENT_USER\\Software?");
    EXPECT_GT(run.count, 0);
}

// The dialogs only offer what exists: a folder that is there, a file of it,
// a mask longer than "*.".
TEST(CustomList, NewEntriesFollowTheDialogRules) {
    auto b = listMachine();
    CleanTestMachine m(b);
    EXPECT_FALSE(refuseNewListEntry(m, "C:\\Temp\\Logs,x.log"));
    EXPECT_FALSE(refuseNewListEntry(m, "C:\\Temp\\Logs,*.t"));
    EXPECT_FALSE(refuseNewListEntry(m, "HKEY_CURRENT_USER\\Software\\Missing"));
    EXPECT_TRUE(refuseNewListEntry(m, "C:\\Temp\\Missing"));
    EXPECT_TRUE(refuseNewListEntry(m, "C:\\Temp\\Logs,y.log"));
    EXPECT_TRUE(refuseNewListEntry(m, "C:\\Temp\\Logs,*."));
}

}  // namespace
}  // namespace brisko
