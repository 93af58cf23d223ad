#include "cleaner/removal.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "cleaner/clean_test_machine.h"
#include "core/machine/registry_key.h"

namespace brisko {
namespace {

using test::cleanSettings;
using test::CleanTestMachine;
using test::runRoutine;
using test::ScriptedPrompter;

const char* kTemp = "C:\\Users\\User\\AppData\\Local\\Temp";

MachineBuilder tempTree() {
    MachineBuilder b;
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp", std::string(1500, 'a'));
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\INDEX.DAT", "keep");
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\sub\\b.log", "bb");
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\sub\\index.dat", "keep too");
    b.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\sub\\deep\\c.bin", std::string(2048, 'c'));
    b.addFolder("C:\\Users\\User\\AppData\\Local\\Temp\\empty");
    b.addFile("C:\\Windows\\MEMORY.DMP", "dump");
    b.addFile("C:\\Windows\\Minidump\\Mini070111-01.dmp", "mini");
    b.addFile("C:\\Windows\\system32\\FILE0001.CHK", "frag");
    b.addFile("C:\\Windows\\system32\\aba", "x");
    b.addFile("C:\\Users\\User\\Documents\\letter.doc", "dear");
    b.addRegText(
        "REGEDIT4\r\n"
        "[HKEY_CURRENT_USER\\Software\\Empty]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Five]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Five\\Sub]\r\n\"d\"=\"4\"\r\n\"e\"=\"5\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Six]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Six\\Sub]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n"
        "\"d\"=\"4\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n");
    return b;
}

bool keyExists(Machine& m, std::string_view path) {
    return m.registry().openKey(RootKey::CurrentUser, path, KeyAccess::Read) != nullptr;
}

TEST(FormatKB, RoundsUpAndGroupsDigits) {
    EXPECT_EQ(FormatKB(0), "0");
    EXPECT_EQ(FormatKB(1), "1");
    EXPECT_EQ(FormatKB(1023), "1");
    EXPECT_EQ(FormatKB(1024), "1");
    EXPECT_EQ(FormatKB(1025), "2");
    EXPECT_EQ(FormatKB(1024 * 999), "999");
    EXPECT_EQ(FormatKB(1024 * 1000), "1,000");
    EXPECT_EQ(FormatKB(1234567890), "1,205,633");
    EXPECT_EQ(FormatKB(UINT64_MAX), "18,014,398,509,481,984");
}

TEST(WipeFolder, TestCountsWhatCleanRemovesAndChangesNothing) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto before = m.snapshot();
    auto routine = [](CleanContext& ctx) {
        ctx.addItemBytes(WipeFolder(ctx, kTemp, false, true, "", ctx.ItemCount));
    };
    auto t = runRoutine(m, cleanSettings(), kRunTest, routine);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before);
    EXPECT_EQ(t.count, 5);
    EXPECT_EQ(t.bytes, 1500 + 4 + 2 + 8 + 2048);
    EXPECT_EQ(t.sizeText, "4");
    EXPECT_EQ(t.log.front(), "Test: deleting C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp");

    auto c = runRoutine(m, cleanSettings(), kRunCleanPass, routine);
    EXPECT_EQ(c.count, t.count);
    EXPECT_EQ(c.bytes, t.bytes);
    ASSERT_EQ(c.log.size(), t.log.size());
    EXPECT_EQ(c.log.front(), "Clean: deleting C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp");
    // Emptied subfolders go, the start folder stays.
    EXPECT_TRUE(std::filesystem::is_directory(m.host(kTemp)));
    EXPECT_TRUE(std::filesystem::is_empty(m.host(kTemp)));
}

// A Test run counts a file once however it is reached: the walk takes each
// file's place from its folder's listing, a single delete looks it up, and a
// second hard link is the same file.
TEST(WipeFolder, TestCountsEachFileOnceWhateverTheWay) {
    auto b = tempTree();
    CleanTestMachine m(b);
    std::filesystem::create_hard_link(m.host(std::string(kTemp) + "\\a.tmp"),
                                      m.host(std::string(kTemp) + "\\sub\\a-link.tmp"));
    auto t = runRoutine(m, cleanSettings(true), kRunTest, [](CleanContext& ctx) {
        ctx.addItemBytes(WipeFolder(ctx, kTemp, false, true, "", ctx.ItemCount));
        EXPECT_FALSE(
            DeleteOneFile(ctx, "C:\\USERS\\user\\appdata\\local\\temp\\SUB\\B.LOG", false));
        EXPECT_EQ(WipeFolder(ctx, "c:\\users\\USER\\AppData\\Local\\Temp\\sub\\", false, true, "",
                             ctx.ItemCount),
                  0);
    });
    EXPECT_EQ(t.count, 5);
    EXPECT_EQ(t.bytes, 1500 + 4 + 2 + 8 + 2048);
}

TEST(WipeFolder, SkipsTheNamedFileInEveryFolderWithoutRegardToCase) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto r = runRoutine(m, cleanSettings(true), kRunCleanPass, [](CleanContext& ctx) {
        ctx.addItemBytes(WipeFolder(ctx, kTemp, false, true, "index.dat", ctx.ItemCount));
    });
    EXPECT_EQ(r.count, 3);
    EXPECT_TRUE(r.log.empty());  // Fast Mode: no entry lines
    EXPECT_TRUE(std::filesystem::exists(m.host(std::string(kTemp) + "\\INDEX.DAT")));
    EXPECT_TRUE(std::filesystem::exists(m.host(std::string(kTemp) + "\\sub\\index.dat")));
    EXPECT_FALSE(std::filesystem::exists(m.host(std::string(kTemp) + "\\sub\\deep")));
    EXPECT_FALSE(std::filesystem::exists(m.host(std::string(kTemp) + "\\a.tmp")));
}

TEST(WipeFolder, AsksBeforeADriveRootOrTheDocumentsOnlyInACleanRun) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto before = m.snapshot();
    ScriptedPrompter no;
    no.answers = {IDNO};
    auto root = [](CleanContext& ctx) { WipeFolder(ctx, "C:\\", false, true, "", ctx.ItemCount); };
    auto c = runRoutine(m, cleanSettings(), kRunCleanPass, root, &no);
    EXPECT_EQ(no.asked,
              std::vector<std::string>{"Do you want to delete all files and folders under C:\\?"});
    EXPECT_EQ(c.count, 0);
    EXPECT_TRUE(c.log.empty());
    EXPECT_EQ(m.snapshot(), before);

    ScriptedPrompter none;
    auto t = runRoutine(m, cleanSettings(true), kRunTest, root, &none);
    EXPECT_TRUE(none.asked.empty());
    EXPECT_EQ(t.count, 10);  // every file but the mounted hives

    ScriptedPrompter docs;
    docs.answers = {IDNO};
    runRoutine(
        m, cleanSettings(), kRunCleanPass,
        [](CleanContext& ctx) {
            WipeFolder(ctx, "c:\\users\\user\\documents", true, true, "", ctx.ItemCount);
        },
        &docs);
    ASSERT_EQ(docs.asked.size(), 1u);
    EXPECT_EQ(docs.asked[0],
              "Do you want to delete all files and folders under c:\\users\\user\\documents\\?");
    EXPECT_TRUE(std::filesystem::exists(m.host("C:\\Users\\User\\Documents\\letter.doc")));

    ScriptedPrompter mask;
    mask.answers = {IDNO};
    runRoutine(
        m, cleanSettings(), kRunCleanPass,
        [](CleanContext& ctx) {
            DeleteMatchingFiles(ctx, "C:\\Users\\User\\Documents\\", "*.doc", ctx.ItemCount, false);
            // A drive root with an exact name is not asked about.
            DeleteMatchingFiles(ctx, "C:\\", "nothing.txt", ctx.ItemCount, false);
        },
        &mask);
    EXPECT_EQ(mask.asked, std::vector<std::string>{
                              "Do you want to delete the files on C:\\Users\\User\\Documents\\?"});
    EXPECT_EQ(m.snapshot(), before);
}

TEST(DeleteMatchingFiles, MasksMatchAsTheCleanerHasAlwaysMatchedThem) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto count = [&](std::string folder, std::string mask, bool recurse = false) {
        return runRoutine(m, cleanSettings(), kRunTest,
                          [&](CleanContext& ctx) {
                              DeleteMatchingFiles(ctx, folder, mask, ctx.ItemCount, recurse);
                          })
            .count;
    };
    EXPECT_EQ(count("C:\\Windows", "memory.dmp"), 0);  // exact and case-sensitive
    EXPECT_EQ(count("C:\\Windows", "MEMORY.DMP"), 1);
    EXPECT_EQ(count("C:\\Windows\\Minidump", "*.dmp"), 1);
    EXPECT_EQ(count("C:\\Windows\\system32", "File*.chk"), 1);
    EXPECT_EQ(count("C:\\Windows\\system32", "ab*ba"), 0);  // prefix and suffix may not overlap
    EXPECT_EQ(count("C:\\Windows\\system32", "*.*"), 2);
    EXPECT_EQ(count("C:\\Windows\\system32", ""), 0);
    EXPECT_EQ(count(kTemp, "*.dat"), 1);
    EXPECT_EQ(count(kTemp, "*.dat", true), 2);
    EXPECT_EQ(count("C:\\NoSuchFolder", "*.*"), 0);

    auto r = runRoutine(m, cleanSettings(), kRunCleanPass, [](CleanContext& ctx) {
        ctx.addItemBytes(DeleteMatchingFiles(ctx, kTemp, "*.*", ctx.ItemCount, true));
    });
    EXPECT_EQ(r.count, 5);
    // No folder is removed.
    EXPECT_TRUE(std::filesystem::is_directory(m.host(std::string(kTemp) + "\\sub\\deep")));
}

TEST(DeleteOneFile, OverwritesEveryByteBeforeTheDelete) {
    auto b = tempTree();
    CleanTestMachine m(b);
    const std::string file = std::string(kTemp) + "\\sub\\deep\\c.bin";
    auto original = test::readFile(m.host(file));
    std::string seen;
    m.spy().onDelete = [&](std::string_view, const std::string& bytes) { seen = bytes; };
    auto s = cleanSettings();
    s.IsWipeFile = true;
    s.WipeNumber = 3;
    auto r = runRoutine(m, s, kRunCleanPass, [&](CleanContext& ctx) {
        ctx.ItemCount += DeleteOneFile(ctx, file, true);
    });
    EXPECT_EQ(r.count, 1);
    ASSERT_EQ(seen.size(), original.size());
    EXPECT_NE(seen, original);
    EXPECT_EQ(seen.find_first_not_of(seen[0]), std::string::npos);  // one byte value throughout
    EXPECT_NE(static_cast<unsigned char>(seen[0]), 255);
    EXPECT_FALSE(std::filesystem::exists(m.host(file)));
}

TEST(DeleteOneFile, ALockedFileIsNotOverwrittenNorCountedAndGoesAtRestart) {
    auto b = tempTree();
    CleanTestMachine m(b);
    const std::string file = std::string(kTemp) + "\\a.tmp";
    m.imageFiles().lockFile(file);
    auto s = cleanSettings();
    s.IsWipeFile = true;
    auto r = runRoutine(m, s, kRunCleanPass, [&](CleanContext& ctx) {
        ctx.ItemCount += DeleteOneFile(ctx, file, true);
    });
    // It is still there: no "deleting" line, only what happens to it.
    EXPECT_EQ(
        r.log,
        (std::vector<std::string>{"Clean: in use, to be deleted at the next restart: " + file}));
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(test::readFile(m.host(file)), std::string(1500, 'a'));
    RegistryKey k(m.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(k.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
    auto pending = k.readMultiString("PendingFileRenameOperations");
    ASSERT_TRUE(pending);
    EXPECT_NE(std::find(pending->begin(), pending->end(), "\\??\\" + file), pending->end());

    // A file that cannot go at all is not counted, its line stays.
    auto gone = runRoutine(m, s, kRunCleanPass, [&](CleanContext& ctx) {
        ctx.ItemCount += DeleteOneFile(ctx, "C:\\NoSuch\\x.tmp", true);
    });
    EXPECT_EQ(gone.count, 0);
    EXPECT_EQ(gone.log.size(), 1u);
}

TEST(RegistryDelete, KeyCountsAndWhatStays) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto keyCount = [&](int mode, std::string path) {
        return runRoutine(m, cleanSettings(), mode,
                          [&](CleanContext& ctx) { ctx.ItemCount = DeleteUserKey(ctx, path); });
    };
    auto t = keyCount(kRunTest, "Software\\Five");
    EXPECT_EQ(t.count, 5);
    EXPECT_EQ(t.log, std::vector<std::string>{
                         "Test: deleting registry key HKEY_CURRENT_USER\\Software\\Five"});
    EXPECT_TRUE(keyExists(m, "Software\\Five\\Sub"));
    EXPECT_EQ(keyCount(kRunCleanPass, "Software\\Five").count, 5);
    EXPECT_FALSE(keyExists(m, "Software\\Five"));
    EXPECT_EQ(keyCount(kRunCleanPass, "Software\\Empty").count, 1);
    EXPECT_EQ(keyCount(kRunCleanPass, "Software\\Empty").count, 0);  // gone now
    // The root itself is never deleted through an empty path.
    EXPECT_EQ(keyCount(kRunCleanPass, "").count, 0);
    EXPECT_EQ(keyCount(kRunCleanPass, "\\").count, 0);
    EXPECT_TRUE(keyExists(m, "Software\\Six"));

    auto values = runRoutine(m, cleanSettings(), kRunCleanPass, [](CleanContext& ctx) {
        ctx.ItemCount = DeleteUserValues(ctx, "Software\\Six", "");
    });
    EXPECT_EQ(values.count, 6);
    EXPECT_EQ(values.log[0], "Clean: deleting registry value HKEY_CURRENT_USER\\Software\\Six\\a");
    EXPECT_EQ(values.log[2], "Clean: deleting registry key HKEY_CURRENT_USER\\Software\\Six\\Sub");
    RegistryKey six(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(six.openKeyReadOnly("Software\\Six"));
    EXPECT_TRUE(six.valueNames().empty());
    EXPECT_TRUE(six.subkeyNames().empty());
}

TEST(RegistryDelete, RootNamesAndSingleValues) {
    auto b = tempTree();
    CleanTestMachine m(b);
    auto r = runRoutine(m, cleanSettings(), kRunCleanPass, [](CleanContext& ctx) {
        EXPECT_EQ(DeleteKeyByName(ctx, "HKCU", "Software\\Five"), 0);
        EXPECT_EQ(DeleteValuesByName(ctx, "HKEY_NOWHERE", "Software\\Six", ""), 0);
        EXPECT_EQ(DeleteValuesByName(ctx, "hkey_current_user", "Software\\Six", "b"), 1);
        EXPECT_EQ(DeleteValuesByName(ctx, "HKEY_CURRENT_USER", "Software\\Six", "b"), 0);
        EXPECT_EQ(DeleteValuesByName(ctx, "HKEY_CURRENT_USER", "Software\\None", ""), 0);
    });
    EXPECT_EQ(r.log, std::vector<std::string>{
                         "Clean: deleting registry value HKEY_CURRENT_USER\\Software\\Six\\b"});
    EXPECT_TRUE(keyExists(m, "Software\\Five"));
    EXPECT_EQ(CountKeyValues(m.registry(), RootKey::CurrentUser, "Software\\Six"), 5);
    EXPECT_EQ(CountKeyValues(m.registry(), RootKey::CurrentUser, "Software\\Nope"), 0);
    EXPECT_EQ(ReadRegString(m.registry(), RootKey::LocalMachine,
                            "\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"),
              "C:\\Program Files");
    EXPECT_EQ(ProgramFilesFolder(m), "C:\\Program Files\\");
    EXPECT_EQ(MyDocumentsFolder(m), "C:\\Users\\User\\Documents\\");
}

TEST(AddWininitRenames, InsertsBelowTheHeaderOrAppendsOne) {
    MachineBuilder b;
    b.addFile("C:\\Windows\\Wininit.ini", "[Other]\r\nx=1\r\n[Rename]\r\nNUL=C:\\old.txt\r\n");
    b.addFile("C:\\Other\\Windows\\placeholder", "");
    CleanTestMachine m(b);
    ASSERT_TRUE(AddWininitRenames(m, {"NUL=C:\\A.TMP", "NUL=C:\\B.TMP"}));
    EXPECT_EQ(test::readFile(m.host("C:\\Windows\\Wininit.ini")),
              "[Other]\r\nx=1\r\n[Rename]\r\nNUL=C:\\B.TMP\r\nNUL=C:\\A.TMP\r\n"
              "NUL=C:\\old.txt\r\n");

    std::filesystem::remove(m.host("C:\\Windows\\Wininit.ini"));
    ASSERT_TRUE(AddWininitRenames(m, {"NUL=C:\\A.TMP", "NUL=C:\\B.TMP"}));
    EXPECT_EQ(test::readFile(m.host("C:\\Windows\\Wininit.ini")),
              "[rename]\r\nNUL=C:\\A.TMP\r\nNUL=C:\\B.TMP\r\n");

    test::writeFile(m.host("C:\\Windows\\Wininit.ini"), "[boot]\nshell=x\n");
    ASSERT_TRUE(AddWininitRenames(m, {"NUL=C:\\C.TMP"}));
    EXPECT_EQ(test::readFile(m.host("C:\\Windows\\Wininit.ini")),
              "[boot]\r\nshell=x\r\n[rename]\r\nNUL=C:\\C.TMP\r\n");
}

TEST(FileHelpers, InUseSizeAndShortPath) {
    auto b = tempTree();
    b.addFile("C:\\Program Files\\Long File Name.txt", "long");
    CleanTestMachine m(b);
    const std::string file = std::string(kTemp) + "\\a.tmp";
    EXPECT_FALSE(IsFileInUse(m.files(), file));
    EXPECT_FALSE(IsFileInUse(m.files(), "C:\\missing.txt"));
    m.imageFiles().lockFile(file);
    EXPECT_TRUE(IsFileInUse(m.files(), file));
    EXPECT_EQ(FileSizeOf(m.files(), file), 1500u);
    EXPECT_EQ(FileSizeOf(m.files(), kTemp), 0u);
    EXPECT_EQ(ShortPathOf(m.files(), "C:\\missing.txt"), "");
    EXPECT_EQ(ShortPathOf(m.files(), "c:\\program files\\long file name.txt"),
              "C:\\PROGRA~1\\LONGFI~1.TXT");
    EXPECT_EQ(ShortPathOf(m.files(), file), file);  // already 8.3 throughout
}

// A mounted hive and its logs are in use, as on Windows, and unlike a locked
// file they must not go at the next start either: that would take the
// user's profile or the system with them.
TEST(DeleteOneFile, ALoadedHiveIsSkippedNeverOverwrittenOrScheduled) {
    auto b = tempTree();
    b.addFile("C:\\Users\\User\\NTUSER.DAT.LOG1", "log");
    b.addFile("C:\\Users\\User\\old.dat", "old");
    CleanTestMachine m(b);
    const std::string ntuser = test::readFile(m.host("C:\\Users\\User\\NTUSER.DAT"));
    auto s = cleanSettings();
    s.IsWipeFile = true;
    auto wipeProfileDats = [](CleanContext& ctx) {
        for (const char* mask : {"*.dat", "*.log1"})
            ctx.addItemBytes(
                DeleteMatchingFiles(ctx, "c:\\users\\user\\", mask, ctx.ItemCount, false));
    };
    auto t = runRoutine(m, s, kRunTest, wipeProfileDats);
    auto c = runRoutine(m, s, kRunCleanPass, wipeProfileDats);
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(c.count, 1);  // old.dat only
    EXPECT_NE(std::find(c.log.begin(), c.log.end(),
                        "Clean: skipping c:\\users\\user\\NTUSER.DAT: a registry hive in use"),
              c.log.end());
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\NTUSER.DAT")), ntuser);
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\NTUSER.DAT.LOG1")), "log");
    EXPECT_FALSE(std::filesystem::exists(m.host("C:\\Users\\User\\old.dat")));
    // A shell delete of the folder holding them leaves them too.
    EXPECT_FALSE(m.files().shellDelete("C:\\Users\\User\\AppData\\Local\\Microsoft"));
    EXPECT_TRUE(
        m.files().fileExists("C:\\Users\\User\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"));
    RegistryKey k(m.registry(), RootKey::LocalMachine);
    if (k.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager")) {
        EXPECT_FALSE(k.readMultiString("PendingFileRenameOperations"));
    }
    EXPECT_TRUE(m.registry().commit());
}

// A file that cannot be deleted although nobody holds it open (an immutable
// file here) would fail at the next start as well: it is not removed.
TEST(DeleteOneFile, AFileThatCannotGoForGoodIsNotCountedOrScheduled) {
    auto b = tempTree();
    CleanTestMachine m(b);
    const std::string file = std::string(kTemp) + "\\a.tmp";
    test::ImmutableFile immutable(m.host(file));
    if (!immutable.set()) GTEST_SKIP() << "no immutable files here";
    auto r = runRoutine(m, cleanSettings(), kRunCleanPass, [&](CleanContext& ctx) {
        ctx.ItemCount += DeleteOneFile(ctx, file, true);
    });
    EXPECT_EQ(r.count, 0);
    // The file stays: its line does not say "deleting".
    EXPECT_EQ(r.log, std::vector<std::string>{"Clean: cannot delete " + file});
    RegistryKey k(m.registry(), RootKey::LocalMachine);
    if (k.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager")) {
        EXPECT_FALSE(k.readMultiString("PendingFileRenameOperations"));
    }
}

}  // namespace
}  // namespace brisko
