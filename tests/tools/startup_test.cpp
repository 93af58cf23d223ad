// The Startup manager on small machines: every source and its order, what is
// and is not listed, and deletion that always leaves a backup to restore from.
#include <gtest/gtest.h>

#include <map>

#include "base/text.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "core/startup.h"
#include "demo/machine_builder.h"
#include "demo/shortcut_file.h"
#include "registry/backup_store.h"
#include "support/test_machine.h"
#include "tools/startup_delete.h"
#include "tools/startup_list.h"

namespace brisko {
namespace {

const std::string kCV = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kUserStartup =
    "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
const std::string kCommonStartup =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";

const char* kRegText = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"Agent"="\"C:\\Apps\\agent.exe\" /tray"
"Expand"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,5c,00,78,00,2e,00,65,00,78,00,65,00,00,00
"Binary"=hex:01,02
"Number"=dword:00000001
"Blank"=""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Tray"="C:\\Apps\\tray.exe"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer\Run]
"Forced"="C:\\Apps\\forced.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce]
"Once"="C:\\Apps\\once.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunServices]
"Service9x"="C:\\Apps\\svc.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Old32"="C:\\Apps\\old32.exe"
)";

struct StartupMachine {
    test::TempDir dir;
    std::unique_ptr<ImageMachine> machine;

    explicit StartupMachine(const std::string& machineIni = {}) {
        MachineBuilder b;
        b.addRegText(kRegText);
        b.addFile(kUserStartup + "Notes.lnk", shortcutFileBytes("C:\\Apps\\notes.exe"));
        b.addFile(kUserStartup + "UPPER.LNK", shortcutFileBytes("C:\\Apps\\upper.exe"));
        b.addFile(kUserStartup + "broken.lnk", "not a shortcut");
        b.addFile(kUserStartup + "readme.txt", "text");
        b.addFolder(kUserStartup + "folder.lnk");
        b.addFile(kCommonStartup + "Shared.lnk", shortcutFileBytes("C:\\Apps\\shared.exe"));
        b.addFolder("C:\\Backups");
        b.write(dir.path());
        if (!machineIni.empty()) test::writeFile(dir.path() / "machine.ini", machineIni);
        machine = std::make_unique<ImageMachine>(dir.path());
    }
    int code() { return WindowsVersionCode(machine->version()); }
};

std::vector<std::string> names(const std::vector<StartupEntry>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.name);
    return out;
}

TEST(StartupList, EverySourceInOrderWithStringValuesAndShortcutsOnly) {
    StartupMachine sm;
    auto rows = ListStartupEntries(*sm.machine, sm.code());
    // Binary and integer values are not listed, an empty string is; broken
    // shortcuts, other files and a folder named .lnk are not; RunServices is
    // read on the 9x family only, the 32-bit keys on 64-bit Windows only.
    std::vector<std::string> want = {"Agent", "Expand",    "Blank",     "Tray",      "Forced",
                                     "Once",  "Notes.lnk", "UPPER.LNK", "Shared.lnk"};
    auto got = names(rows);
    // Shortcuts come in folder order; compare them as a set.
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 6),
              std::vector<std::string>(want.begin(), want.begin() + 6));
    EXPECT_EQ(rows[1].file, "%SystemRoot%\\x.exe");  // as stored, not expanded
    EXPECT_EQ(rows[0].file, "\"C:\\Apps\\agent.exe\" /tray");
    EXPECT_EQ(rows[0].location, "HKEY_CURRENT_USER\\" + kCV + "Run");
    EXPECT_EQ(rows[3].location, "HKEY_LOCAL_MACHINE\\" + kCV + "Run");
    EXPECT_EQ(rows[4].location, "HKEY_CURRENT_USER\\" + kCV + "Policies\\Explorer\\Run");
    EXPECT_EQ(rows[2].file, "");
    int startup = 0, common = 0;
    for (const auto& r : rows) {
        if (r.location == "Startup") {
            ++startup;
            EXPECT_EQ(r.file,
                      r.name == "Notes.lnk" ? "C:\\Apps\\notes.exe" : "C:\\Apps\\upper.exe");
        }
        if (r.location == "Common Startup") {
            ++common;
            EXPECT_EQ(r.file, "C:\\Apps\\shared.exe");
        }
    }
    EXPECT_EQ(startup, 2);
    EXPECT_EQ(common, 1);
    EXPECT_EQ(rows.back().location, "Common Startup");
}

TEST(StartupList, NineXReadsRunServicesAfterRunOnceAnd64BitReadsThe32BitKeys) {
    StartupMachine nine("[Machine]\nVersion=4.10.2222\nPlatform=9x\n");
    auto rows = ListStartupEntries(*nine.machine, nine.code());
    auto got = names(rows);
    auto once = std::find(got.begin(), got.end(), "Once");
    ASSERT_NE(once, got.end());
    EXPECT_EQ(*(once + 1), "Service9x");

    StartupMachine wide("[Machine]\nIs64Bit=1\n");
    got = names(ListStartupEntries(*wide.machine, wide.code()));
    EXPECT_NE(std::find(got.begin(), got.end(), "Old32"), got.end());
    EXPECT_EQ(std::find(got.begin(), got.end(), "Service9x"), got.end());
}

TEST(StartupList, UnknownRootOrMissingKeyListsNothing) {
    StartupMachine sm;
    std::vector<StartupEntry> rows;
    ListRegistryStartup(*sm.machine, "HKLM", kCV + "Run", rows);
    ListRegistryStartup(*sm.machine, "HKEY_NOWHERE", kCV + "Run", rows);
    ListRegistryStartup(*sm.machine, "HKEY_CURRENT_USER", kCV + "Missing", rows);
    EXPECT_TRUE(rows.empty());
    ListRegistryStartup(*sm.machine, "hkey_local_machine", kCV + "Run", rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].location, "HKEY_LOCAL_MACHINE\\" + kCV + "Run");
}

StartupEntry find(const std::vector<StartupEntry>& rows, const std::string& name) {
    for (const auto& r : rows)
        if (r.name == name) return r;
    ADD_FAILURE() << name;
    return {};
}

TEST(StartupDelete, ValuesAndShortcutsAreBackedUpThenDeletedAndComeBack) {
    StartupMachine sm;
    Machine& m = *sm.machine;
    auto rows = ListStartupEntries(m, sm.code());
    StartupBackup backup(m, "C:\\Backups\\new folder", "2026_12_07_101010");

    auto expandBefore =
        m.registry().openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::Read)->value("Expand");
    for (const char* name : {"Agent", "Expand", "Notes.lnk", "Shared.lnk"}) {
        StartupDeleteResult r = DeleteStartupEntry(m, find(rows, name), backup);
        EXPECT_EQ(r.outcome, StartupDeleteOutcome::Deleted) << name << ": " << r.message;
        EXPECT_FALSE(r.backup.empty());
    }
    EXPECT_EQ(backup.regFile(), "C:\\Backups\\new folder\\2026_12_07_101010_startup.reg");
    auto left = names(ListStartupEntries(m, sm.code()));
    EXPECT_EQ(left, (std::vector<std::string>{"Blank", "Tray", "Forced", "Once", "UPPER.LNK"}));
    ASSERT_TRUE(m.registry().commit());

    // Deleting again: the entry is gone, the row can go, nothing else happens.
    EXPECT_EQ(DeleteStartupEntry(m, find(rows, "Agent"), backup).outcome,
              StartupDeleteOutcome::AlreadyGone);
    EXPECT_EQ(DeleteStartupEntry(m, find(rows, "Notes.lnk"), backup).outcome,
              StartupDeleteOutcome::AlreadyGone);

    // The .reg file brings both values back byte for byte.
    auto f = m.files().openFile(backup.regFile(), FileMode::Read);
    ASSERT_TRUE(f);
    std::string bytes(size_t(f->size()), '\0');
    f->read(bytes.data(), f->size());
    RegFileParse parse = parseRegText(bytes);
    ASSERT_EQ(parse.ops.size(), 4u);  // two keys, two values
    // It names the shortcut copies as well, so that restoring it brings the
    // whole run back.
    auto notes = fileCopyNotes(bytes);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].copy, "Startup shortcuts\\2026_12_07_101010\\Startup\\Notes.lnk");
    EXPECT_EQ(notes[0].original, StartupShortcutPath(m, find(rows, "Notes.lnk")));
    EXPECT_EQ(applyRegOps(m.registry(), parse.ops), 0u);
    auto run = m.registry().openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::Read);
    EXPECT_EQ(run->value("Expand")->type, REG_EXPAND_SZ);
    EXPECT_EQ(run->value("Expand")->data, expandBefore->data);
    EXPECT_EQ(decodeRegString(*run->value("Agent")), "\"C:\\Apps\\agent.exe\" /tray");

    // The shortcut copies go back into their own folders, never over a file.
    std::string copy = "C:\\Backups\\new folder\\Startup shortcuts\\2026_12_07_101010\\";
    EXPECT_EQ(RestoreStartupShortcut(m, copy + "Startup\\Notes.lnk"), "");
    EXPECT_NE(RestoreStartupShortcut(m, copy + "Startup\\Notes.lnk"), "");
    // The run's restore takes what is still missing and leaves what is back.
    std::vector<std::string> problems;
    EXPECT_EQ(restoreBackupFileCopies(m.files(), backup.regFile(), bytes, &problems), 1u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(names(ListStartupEntries(m, sm.code())).size(), 9u);
}

// A name with a line break once cut its backup line in two, and the value
// could not be put back. Such a name, and text no ANSI code page holds, come
// back byte for byte, along with what the file held before.
TEST(StartupDelete, OddNamesAndTextComeBackFromTheBackup) {
    StartupMachine sm;
    Machine& m = *sm.machine;
    const std::string twoLines = "Two\nLines";
    const std::string greek = "\xCE\xB1\xCE\xB2\xCE\xB3";  // alpha beta gamma
    {
        auto run = m.registry().openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::ReadWrite);
        ASSERT_TRUE(run);
        ASSERT_TRUE(run->setValue(twoLines, REG_SZ, utf8ToUtf16le("C:\\Apps\\two.exe")));
        ASSERT_TRUE(run->setValue(greek, REG_SZ, utf8ToUtf16le("C:\\" + greek + "\\g.exe")));
    }
    auto rows = ListStartupEntries(m, sm.code());
    auto run = m.registry().openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::Read);
    std::map<std::string, RegValue> before;
    for (const std::string& name : {std::string("Agent"), twoLines, greek})
        before[name] = *run->value(name);

    StartupBackup backup(m, "C:\\Backups", "2026_12_07_101010");
    for (const auto& [name, value] : before)
        ASSERT_EQ(DeleteStartupEntry(m, find(rows, name), backup).outcome,
                  StartupDeleteOutcome::Deleted)
            << name;
    ASSERT_TRUE(m.registry().commit());

    auto f = m.files().openFile(backup.regFile(), FileMode::Read);
    ASSERT_TRUE(f);
    std::string bytes(size_t(f->size()), '\0');
    f->read(bytes.data(), f->size());
    EXPECT_EQ(applyRegOps(m.registry(), parseRegText(bytes).ops), 0u);
    run = m.registry().openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::Read);
    for (const auto& [name, value] : before) {
        auto now = run->value(name);
        ASSERT_TRUE(now) << name;
        EXPECT_EQ(now->type, value.type) << name;
        EXPECT_EQ(now->data, value.data) << name;
    }
}

TEST(StartupDelete, NoBackupMeansNoDeletion) {
    StartupMachine sm;
    Machine& m = *sm.machine;
    auto rows = ListStartupEntries(m, sm.code());
    // The backup folder cannot be made: a file stands where it would go.
    m.files().createFile("C:\\Backups\\blocked");
    StartupBackup blocked(m, "C:\\Backups\\blocked\\inner", "2026_12_07_101010");
    for (const char* name : {"Tray", "UPPER.LNK"}) {
        StartupDeleteResult r = DeleteStartupEntry(m, find(rows, name), blocked);
        EXPECT_EQ(r.outcome, StartupDeleteOutcome::BackupFailed) << name;
        EXPECT_FALSE(r.rowGone());
        EXPECT_FALSE(r.message.empty());
    }
    StartupBackup unset(m, "", "2026_12_07_101010");
    EXPECT_EQ(DeleteStartupEntry(m, find(rows, "Tray"), unset).outcome,
              StartupDeleteOutcome::BackupFailed);
    EXPECT_EQ(names(ListStartupEntries(m, sm.code())).size(), rows.size());

    // A location that names neither a key nor a folder is left alone.
    StartupBackup ok(m, "C:\\Backups", "2026_12_07_101010");
    EXPECT_EQ(DeleteStartupEntry(m, {"Tray", "x", "NoBackslash"}, ok).outcome,
              StartupDeleteOutcome::BadLocation);
    EXPECT_EQ(DeleteStartupEntry(m, {"Tray", "x", "HKLM\\" + kCV + "Run"}, ok).outcome,
              StartupDeleteOutcome::BadLocation);
}

TEST(StartupDelete, ARefusedDeletionLeavesNoBackup) {
    StartupMachine sm;
    // Another program is writing to the machine and holds its registry.
    ImageMachine other(sm.dir.path());
    ASSERT_TRUE(other.registry()
                    .openKey(RootKey::CurrentUser, kCV + "Run", KeyAccess::ReadWrite)
                    ->setValue("Other", REG_SZ, utf8ToUtf16le("C:\\x.exe")));
    Machine& m = *sm.machine;
    auto rows = ListStartupEntries(m, sm.code());
    StartupBackup backup(m, "C:\\Backups", "2026_12_07_101010");
    StartupDeleteResult r = DeleteStartupEntry(m, find(rows, "Tray"), backup);
    EXPECT_EQ(r.outcome, StartupDeleteOutcome::DeleteFailed);
    EXPECT_FALSE(r.message.empty());
    EXPECT_TRUE(backup.regFile().empty());
    EXPECT_FALSE(m.files().fileExists("C:\\Backups\\2026_12_07_101010_startup.reg"));
    other.registry().discard();
}

TEST(StartupDelete, DeletingTheBackupTakesItsShortcutCopies) {
    StartupMachine sm;
    Machine& m = *sm.machine;
    auto rows = ListStartupEntries(m, sm.code());
    StartupBackup backup(m, "C:\\Backups", "2026_12_07_101010");
    for (const char* name : {"Agent", "Notes.lnk", "Shared.lnk"})
        ASSERT_TRUE(DeleteStartupEntry(m, find(rows, name), backup).rowGone()) << name;
    ASSERT_TRUE(m.files().directoryExists("C:\\Backups\\Startup shortcuts\\2026_12_07_101010"));
    m.files().createFile("C:\\Backups\\Startup shortcuts\\keep.txt");
    EXPECT_TRUE(deleteBackup(m.files(), backup.regFile()));
    EXPECT_FALSE(m.files().fileExists(backup.regFile()));
    EXPECT_FALSE(m.files().directoryExists("C:\\Backups\\Startup shortcuts\\2026_12_07_101010"));
    // A folder still holding something else stays.
    EXPECT_TRUE(m.files().fileExists("C:\\Backups\\Startup shortcuts\\keep.txt"));
}

TEST(StartupDelete, SecondRunInTheSameSecondGetsItsOwnFile) {
    StartupMachine sm;
    Machine& m = *sm.machine;
    auto rows = ListStartupEntries(m, sm.code());
    StartupBackup first(m, "C:\\Backups", "2026_12_07_101010");
    StartupBackup second(m, "C:\\Backups", "2026_12_07_101010");
    ASSERT_TRUE(DeleteStartupEntry(m, find(rows, "Agent"), first).rowGone());
    ASSERT_TRUE(DeleteStartupEntry(m, find(rows, "Tray"), second).rowGone());
    EXPECT_NE(first.regFile(), second.regFile());
    EXPECT_EQ(second.regFile(), "C:\\Backups\\2026_12_07_101010_startup_2.reg");
}

}  // namespace
}  // namespace brisko
