// The cleaner's guards see places, not spellings: every way of writing a drive
// root, the documents or pictures folder, or a system folder taken for TEMP
// meets the same guard as the plain spelling.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "cleaner/clean_test_machine.h"
#include "cleaner/items/data_file_items.h"
#include "cleaner/removal.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::runRoutine;
using test::ScriptedPrompter;

constexpr std::string_view kRootQuestion = "Do you want to delete all files and folders under ";
constexpr std::string_view kFilesQuestion = "Do you want to delete the files on ";

MachineBuilder userFiles(std::string_view extraReg = "") {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n" +
        std::string(extraReg));
    b.addFolder("C:\\Program Files\\Brisko Cleaner");
    b.addFile("C:\\Program Files\\App\\app.exe", "MZ");
    b.addFile("C:\\Users\\User\\Documents\\letter.doc", "dear");
    b.addFile("C:\\Users\\User\\Documents\\My Pictures\\old.jpg", "jpg");
    b.addFile("C:\\Users\\User\\Pictures\\cat.jpg", "meow");
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp", "tmp");
    b.addFile("C:\\Windows\\win.ini", "[fonts]");
    b.addFile("C:\\Windows\\system32\\kernel32.dll", "MZ");
    return b;
}

// Every file and folder but the list itself, contents as short digests.
std::map<std::string, size_t> files(CleanTestMachine& m) {
    std::map<std::string, size_t> out;
    for (const auto& [path, bytes] : m.snapshot())
        if (!path.ends_with("Custom.dat")) out[path] = std::hash<std::string>{}(bytes);
    return out;
}

// A Clean run of one Custom.dat entry; the prompter answers every question
// with its default, No.
std::vector<std::string> cleanEntry(CleanTestMachine& m, const std::string& entry) {
    test::writeFile(m.host("C:\\Program Files\\Brisko Cleaner\\Custom.dat"),
                    "[<New List>]\r\nDelFile1=" + entry + "\r\n");
    ScriptedPrompter prompter;
    runRoutine(
        m, cleanSettings(), kRunCleanPass,
        [](CleanContext& ctx) { RunDataFileItem(ctx, "Custom.dat", "Custom Lists - <New List>"); },
        &prompter);
    return prompter.asked;
}

TEST(PlaceIdentity, EverySpellingOfADriveRootIsAskedAbout) {
    auto b = userFiles();
    b.addFile("C:\\machine.ini", "[Drive E]\r\nPath=usb\r\nKind=removable\r\n");
    b.addFile("C:\\usb\\stick.txt", "on the stick");
    CleanTestMachine m(b);
    const auto before = files(m);
    for (const std::string folder : {"C:\\.", "C:\\\\", "C:\\Users/..", "C:\\Windows\\..",
                                     "C:\\.\\.", "C:\\USERS\\..", "C:\\usb"}) {
        for (const std::string mask : {",*.*", "", ",*.ini"}) {
            SCOPED_TRACE(folder + mask);
            auto asked = cleanEntry(m, folder + mask);
            ASSERT_EQ(asked.size(), 1u);
            EXPECT_TRUE(asked[0].starts_with(kRootQuestion)) << asked[0];
            EXPECT_EQ(files(m), before);
        }
    }
    // Exact names at a root are not asked about, whatever the spelling.
    EXPECT_TRUE(cleanEntry(m, "C:\\.,nothing.txt").empty());
}

TEST(PlaceIdentity, EverySpellingOfTheDocumentsAndPicturesIsAskedAbout) {
    auto b = userFiles();
    CleanTestMachine m(b);
    fs::create_directory_symlink(m.host("C:\\Users\\User\\Documents"), m.host("C:\\DocsLink"));
    const auto before = files(m);
    for (const std::string folder :
         {"C:\\Users\\User\\Documents\\.", "C:\\Users\\User\\..\\User\\Documents",
          "C:\\Users\\User\\DOCUME~1", "C:\\Users\\User\\Documents/", "c:\\USERS\\user\\documents",
          "C:\\Users\\User\\\\Documents", "C:\\DocsLink", "C:\\Users\\User\\Pictures",
          "C:\\Users\\User\\DOCUME~1\\MYPICT~1\\.",
          "C:\\Users\\User\\Documents\\My Pictures\\.."
          "\\My Pictures"}) {
        SCOPED_TRACE(folder);
        auto all = cleanEntry(m, folder + ",*.*");
        ASSERT_EQ(all.size(), 1u);
        EXPECT_TRUE(all[0].starts_with(kRootQuestion)) << all[0];
        auto mask = cleanEntry(m, folder + ",*.jpg");
        ASSERT_EQ(mask.size(), 1u);
        EXPECT_TRUE(mask[0].starts_with(kFilesQuestion)) << mask[0];
        EXPECT_EQ(files(m), before);
    }
    // A folder beside them is not asked about.
    EXPECT_TRUE(cleanEntry(m, "C:\\Users\\User\\AppData\\Local\\Temp,*.*").empty());
    EXPECT_FALSE(fs::exists(m.host("C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp")));
}

TEST(PlaceIdentity, ASystemFolderTakenForTempIsNeverEmptiedWhateverItsSpelling) {
    for (const char* temp :
         {"C:\\\\Users\\\\User\\\\.", "C:\\\\USERS\\\\USER\\\\", "C:\\\\Users\\\\Public\\\\..",
          "C:\\\\Users", "C:\\\\Windows\\\\System32\\\\..", "C:\\\\WINDOWS\\\\SYSTEM32",
          "C:\\\\PROGRA~1", "C:\\\\Program Files/", "C:\\\\."}) {
        SCOPED_TRACE(temp);
        auto b = userFiles("[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"" + std::string(temp) +
                           "\"\r\n\"TMP\"=\"\"\r\n");
        b.addFolder("C:\\Users\\Public");
        CleanTestMachine m(b);
        const auto before = files(m);
        const auto* routine = builtinItemTable().find("Windows - Temporary Files");
        ASSERT_TRUE(routine);
        for (int mode : {kRunTest, kRunCleanPass}) {
            ScriptedPrompter prompter;
            prompter.answers = {IDYES, IDYES};
            auto r = runRoutine(m, cleanSettings(), mode, *routine, &prompter);
            EXPECT_EQ(r.count, 0);
            EXPECT_TRUE(prompter.asked.empty());
        }
        EXPECT_EQ(files(m), before);
    }
}

}  // namespace
}  // namespace brisko
