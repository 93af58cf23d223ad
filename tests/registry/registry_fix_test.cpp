// Fixing rows with a backup, and the backup bringing back exactly what went.
#include <gtest/gtest.h>

#include <regex>

#include "base/text.h"
#include "core/fake_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "core/memory_registry.h"
#include "registry/backup_store.h"
#include "registry/problem_report.h"
#include "registry/regedit_process.h"
#include "registry/registry_fix.h"
#include "scan_test_machine.h"
#include "support/shell_command.h"

namespace brisko {
namespace {

using test::ScanMachine;

constexpr const char* kBackupDir = "C:\\Program Files\\Brisko\\Backup";
constexpr const char* kBackup = "C:\\Program Files\\Brisko\\Backup\\2013_07_04_093005.reg";

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

RegValue val(std::string name, uint32_t type, std::vector<uint8_t> data) {
    return {std::move(name), type, std::move(data)};
}

std::string readMachineFile(Machine& m, std::string_view path) {
    auto h = m.files().openFile(path, FileMode::Read);
    if (!h) return {};
    std::string out(size_t(h->size()), '\0');
    h->read(out.data(), int64_t(out.size()));
    return out;
}

// The hive as hivexml sees it, without what a delete and re-create changes
// by nature (times and cell offsets).
std::string hiveXml(ImageMachine& m, std::string_view mount) {
    std::filesystem::path file;
    for (const auto& h : m.imageRegistry().hiveStatus())
        if (h.mount.mountPath == mount) file = h.mount.hostFile;
    auto run = test::runShell("hivexml " + test::shellQuote(file.string()) + " 2>&1");
    EXPECT_EQ(run.code, 0) << run.out.substr(0, 300);
    std::string xml = std::move(run.out);
    xml = std::regex_replace(xml, std::regex("<mtime>[^<]*</mtime>"), "");
    return std::regex_replace(xml, std::regex("<byte_runs>.*?</byte_runs>"), "");
}

TEST(RegBackupLine, EscapesBackslashBeforeQuoteAndWritesTypesAsStored) {
    EXPECT_EQ(renderValueLine(val("a\"b\\c", REG_SZ, utf8ToUtf16le("x\\\"y")), false),
              "\"a\\\"b\\\\c\"=\"x\\\\\\\"y\"\r\n");
    EXPECT_EQ(renderValueLine(val("", REG_DWORD, {0x1a, 0, 0, 0}), false), "@=dword:0000001A\r\n");
    EXPECT_EQ(renderValueLine(val("q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}), false),
              "\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n");
    EXPECT_EQ(renderValueLine(val("n", REG_NONE, {}), false), "\"n\"=hex(0):\r\n");
    EXPECT_EQ(renderValueLine(val("b", REG_BINARY, {}), false), "\"b\"=hex:\r\n");
    // REGEDIT4 keeps expandable and multi strings as ANSI bytes; Version 5 as stored.
    auto expand = utf8ToUtf16le("%SystemRoot%\\é");
    EXPECT_EQ(renderValueLine(val("e", REG_EXPAND_SZ, expand), false),
              "\"e\"=hex(2):25,53,79,73,74,65,6D,52,6F,6F,74,25,5C,E9,00\r\n");
    auto multi = encodeMultiString({"a", "b"});
    EXPECT_EQ(renderValueLine(val("m", REG_MULTI_SZ, multi), false),
              "\"m\"=hex(7):61,00,62,00,00\r\n");
    EXPECT_EQ(renderValueLine(val("m", REG_MULTI_SZ, multi), true),
              "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n");
    // A REG_SZ that a quoted string would change (no NUL at the end) stays raw.
    EXPECT_EQ(renderValueLine(val("s", REG_SZ, {0x41, 0}), false), "\"s\"=hex(1):41,00\r\n");
}

TEST(RegBackupLine, BinaryBreaksAfterTheTwentySixthByteThenEveryTwentyFifth) {
    auto line = [](size_t n) {
        return renderValueLine(val("b", REG_BINARY, std::vector<uint8_t>(n, 0xab)), false);
    };
    EXPECT_EQ(line(26).find('\\'), std::string::npos);
    std::string l27 = line(27);
    EXPECT_EQ(
        l27, "\"b\"=hex:" + [] {
            std::string s;
            for (int i = 0; i < 26; ++i) s += "AB,";
            return s;
        }() + "\\\r\nAB\r\n");
    std::string l52 = line(52);  // 26 + 25 + 1
    EXPECT_EQ(std::count(l52.begin(), l52.end(), '\n'), 3);
}

TEST(RegBackupLine, NamesAnsiCannotCarryAskForUnicode) {
    bool unicode = false;
    renderValueLine(val("名前", REG_SZ, utf8ToUtf16le("x")), false, &unicode);
    EXPECT_TRUE(unicode);
    unicode = false;
    renderValueLine(val("café", REG_SZ, utf8ToUtf16le("ü")), false, &unicode);
    EXPECT_FALSE(unicode);
    // ANSI bytes that would also read as UTF-8 ("Ã©") cannot go in an ANSI file safely.
    renderValueLine(val("x", REG_SZ, utf8ToUtf16le("Ã©")), false, &unicode);
    EXPECT_TRUE(unicode);
}

// Every value type, odd names, empty and default values, big data and a deep tree.
void plantOddKey(Machine& m, const std::string& path, bool unicodeNames) {
    auto k = openFullPath(m.registry(), path, KeyAccess::Create);
    ASSERT_TRUE(k);
    auto set = [&](std::string_view n, uint32_t t, std::vector<uint8_t> d) {
        EXPECT_TRUE(k->setValue(n, t, d)) << n;
    };
    set("", REG_SZ, utf8ToUtf16le("default"));
    set("quote\"and\\backslash", REG_SZ, utf8ToUtf16le("C:\\a \"b\""));
    set("empty", REG_SZ, std::vector<uint8_t>{});
    set("no nul", REG_SZ, bytes("AB"));
    set("odd length", REG_SZ, bytes("ABC"));
    set("line\r\nbreak", REG_SZ, utf8ToUtf16le("one\r\ntwo"));
    set("expand", REG_EXPAND_SZ, utf8ToUtf16le("%SystemRoot%\\system32"));
    set("multi", REG_MULTI_SZ, encodeMultiString({"one", "", "three"}));
    set("qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    set("none", REG_NONE, {});
    set("none data", REG_NONE, {0, 1});
    set("dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
    set("short dword", REG_DWORD, {1, 2});
    set("big endian", REG_DWORD_BIG_ENDIAN, {1, 2, 3, 4});
    set("resources", REG_RESOURCE_LIST, {9, 8, 7});
    set("odd type", 0x12345, {1});
    std::vector<uint8_t> big(20000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    set("big", REG_BINARY, big);
    if (unicodeNames) {
        set("名前 Ünï", REG_SZ, utf8ToUtf16le("値 ✓"));
        set("multi名", REG_MULTI_SZ, encodeMultiString({"α", "β"}));
        ASSERT_TRUE(k->openSubkey("キー", KeyAccess::Create));
    }
    ASSERT_TRUE(k->openSubkey("Empty", KeyAccess::Create));
    std::string deep = "Deep";
    for (int i = 0; i < 30; ++i) deep += "\\L" + std::to_string(i);
    auto d = k->openSubkey(deep, KeyAccess::Create);
    ASSERT_TRUE(d);
    d->setValue("leaf", REG_DWORD, std::vector<uint8_t>{1, 0, 0, 0});
}

void restoreBackup(ImageMachine& m, std::string_view file) {
    auto parsed = parseRegText(readMachineFile(m, file));
    EXPECT_EQ(applyRegOps(m.registry(), parsed.ops), 0u);
    ASSERT_TRUE(m.registry().commit());
}

class RoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(RoundTrip, FixThenRestoreGivesBackTheSameHive) {
    const bool unicode = GetParam();
    ScanMachine sm;
    sm.sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep", "v", "x");
    auto& m = static_cast<ImageMachine&>(sm.open());
    plantOddKey(m, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd", unicode);
    plantOddKey(m, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Plain", false);
    ASSERT_TRUE(
        openFullPath(m.registry(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep", KeyAccess::ReadWrite)
            ->setValue("gone", REG_EXPAND_SZ, utf8ToUtf16le("%TEMP%")));
    ASSERT_TRUE(m.registry().commit());
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    const std::string before = hiveXml(m, "\\REGISTRY\\MACHINE\\SOFTWARE");

    // Visited from the last row: the plain key opens the file as REGEDIT4,
    // the Unicode names of the first row then turn it into a Version 5 file.
    std::vector<RegistryProblem> rows{
        {true, "p", "", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd", pkKey},
        {true, "p", "", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\\gone", pkValue},
        {true, "p", "", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Plain", pkKey},
    };
    auto report = fixProblems(m, rows, kBackup, false);
    EXPECT_EQ(report.fixed, 3u);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_FALSE(openFullPath(m.registry(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd", KeyAccess::Read));
    EXPECT_NE(hiveXml(m, "\\REGISTRY\\MACHINE\\SOFTWARE"), before);

    std::string file = readMachineFile(m, kBackup);
    if (unicode)
        EXPECT_TRUE(file.starts_with("\xFF\xFE")) << file.substr(0, 40);
    else
        EXPECT_TRUE(file.starts_with("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Plain]\r\n"));
    restoreBackup(m, kBackup);
    EXPECT_EQ(hiveXml(m, "\\REGISTRY\\MACHINE\\SOFTWARE"), before);
}

INSTANTIATE_TEST_SUITE_P(Names, RoundTrip, ::testing::Bool());

TEST(RegistryFix, AncestorFirstSubkeyRowFindsItGoneAndUncheckedRowsStay) {
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\A\\B", "x", "1")
        .sz("HKEY_CURRENT_USER\\Software\\A", "y", "2")
        .sz("HKEY_CURRENT_USER\\Software\\C", "z", "3");
    Machine& m = sm.open();
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    std::vector<RegistryProblem> rows{
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\A\\B", pkKey},
        {false, "p", "", "HKEY_CURRENT_USER\\Software\\C", pkKey},
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\A", pkKey},
        {true, "p", "gone", "HKEY_CURRENT_USER\\Software", pkDataValue},
        {true, "p", "", "NoBackslash", pkKey},
    };
    auto report = fixProblems(m, rows, kBackup);
    EXPECT_EQ(report.outcomes, (std::vector<FixOutcome>{
                                   FixOutcome::AlreadyGone, FixOutcome::Skipped, FixOutcome::Fixed,
                                   FixOutcome::AlreadyGone, FixOutcome::Skipped}));
    std::string file = readMachineFile(m, kBackup);
    EXPECT_EQ(file,
              "REGEDIT4\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"y\"=\"2\"\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\A\\B]\r\n\"x\"=\"1\"\r\n");
    removeFixedRows(rows, report);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].keyPath, "HKEY_CURRENT_USER\\Software\\C");
    EXPECT_EQ(rows[1].keyPath, "NoBackslash");
}

TEST(RegistryFix, LeftoversAtOrAboveWhatTheRunChangedAreListedNotDeleted) {
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\P\\shell\\open\\command", "", "gone.exe")
        .sz("HKEY_CURRENT_USER\\Software\\Kept", "k", "1");
    Machine& m = sm.open();
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    const std::string user = "HKEY_USERS\\" + m.currentUser().sid;
    std::vector<RegistryProblem> rows{
        {true, "missing", "gone.exe", "HKEY_CURRENT_USER\\Software\\P\\shell\\open\\command",
         pkDefaultValue},
        {false, "unchecked", "k", "HKEY_CURRENT_USER\\Software\\Kept", pkDataValue},
    };
    // What a second scan finds: the command key left empty (under another
    // spelling of the same key), the row the user left unchecked, and an
    // empty key elsewhere that the run did not make.
    int scans = 0;
    auto rescan = [&] {
        ++scans;
        return std::vector<RegistryProblem>{
            {true, "empty", "command", user + "\\Software\\P\\shell\\open", pkDataSubkey},
            rows[1],
            {true, "empty", "", "HKEY_CURRENT_USER\\Software\\Elsewhere", pkKey},
        };
    };
    auto report = fixProblems(m, rows, kBackup, true, rescan);
    EXPECT_EQ(report.fixed, 1u);
    EXPECT_EQ(scans, 1);
    ASSERT_EQ(report.leftovers.size(), 1u);
    EXPECT_EQ(report.leftovers[0].data, "command");
    EXPECT_FALSE(report.leftovers[0].checked);

    // The command key stays, without its value; the backup holds that value only.
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(k.openKeyReadOnly("Software\\P\\shell\\open\\command"));
    EXPECT_FALSE(k.readString(""));
    RegistryKey kept(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(kept.openKeyReadOnly("Software\\Kept"));
    EXPECT_EQ(kept.readString("k").value_or(""), "1");
    EXPECT_EQ(readMachineFile(m, kBackup),
              "REGEDIT4\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\P\\shell\\open\\command]\r\n"
              "@=\"gone.exe\"\r\n");

    // A run that deleted nothing does not scan again.
    rows[0].checked = false;
    EXPECT_TRUE(fixProblems(m, rows, kBackup, true, rescan).leftovers.empty());
    EXPECT_EQ(scans, 1);
}

TEST(RegistryFix, ClassesRootKeyComesBackToEachClassesItLivedIn) {
    const std::string sid = "S-1-5-21-1004336348-1177238915-682003330-1000";
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\Classes\\.xyz", "", "UserType")
        .sz("HKEY_CURRENT_USER\\Software\\Classes\\.xyz\\OnlyUser", "u", "1")
        .sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.xyz", "", "MachineType")
        .sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.xyz", "m", "2");
    auto& m = static_cast<ImageMachine&>(sm.open());
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    const std::string user = "\\REGISTRY\\USER\\" + sid + "_Classes";
    const std::string userBefore = hiveXml(m, user);
    const std::string machineBefore = hiveXml(m, "\\REGISTRY\\MACHINE\\SOFTWARE");
    std::vector<RegistryProblem> rows{{true, "p", "", "HKEY_CLASSES_ROOT\\.xyz", pkKey}};
    EXPECT_EQ(fixProblems(m, rows, kBackup).fixed, 1u);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_FALSE(openFullPath(m.registry(), "HKEY_CLASSES_ROOT\\.xyz", KeyAccess::Read));
    std::string file = readMachineFile(m, kBackup);
    EXPECT_NE(file.find("[HKEY_USERS\\" + sid + "_Classes\\.xyz\\OnlyUser]"), std::string::npos);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.xyz]"), std::string::npos);
    restoreBackup(m, kBackup);
    EXPECT_EQ(hiveXml(m, user), userBefore);
    EXPECT_EQ(hiveXml(m, "\\REGISTRY\\MACHINE\\SOFTWARE"), machineBefore);
}

TEST(RegistryFix, ValueKindsDeleteTheValueTheyName) {
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\K", "", "default")
        .sz("HKEY_CURRENT_USER\\Software\\K", "HRZR_EHACNGU:P:\\k.rkr", "rot")
        .sz("HKEY_CURRENT_USER\\Software\\K", "C:\\dir\\file.exe", "named by data")
        .sz("HKEY_CURRENT_USER\\Software\\K", "plain", "p")
        .key("HKEY_CURRENT_USER\\Software\\K\\Sub");
    Machine& m = sm.open();
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    std::vector<RegistryProblem> rows{
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\K", pkDefaultValue},
        {true, "p", "UEME_RUNPATH:C:\\x.exe", "HKEY_CURRENT_USER\\Software\\K", pkRot13Value},
        {true, "p", "C:\\dir\\file.exe", "HKEY_CURRENT_USER\\Software\\K", pkDataValue},
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\K\\plain", pkValue},
        {true, "p", "Sub", "HKEY_CURRENT_USER\\Software\\K", pkDataSubkey},
    };
    auto report = fixProblems(m, rows, kBackup);
    EXPECT_EQ(report.fixed, 5u);
    auto k = openFullPath(m.registry(), "HKEY_CURRENT_USER\\Software\\K", KeyAccess::Read);
    ASSERT_TRUE(k);
    EXPECT_TRUE(k->valueNames().empty());
    EXPECT_TRUE(k->subkeyNames().empty());
}

TEST(RegistryFix, NoDeletionWhenTheBackupCannotBeWritten) {
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\A", "x", "1")
        .sz("HKEY_CURRENT_USER\\Software\\B", "y", "2");
    auto& m = static_cast<ImageMachine&>(sm.open());
    const std::string before =
        hiveXml(m, "\\REGISTRY\\USER\\S-1-5-21-1004336348-1177238915-682003330-1000");
    // The backup folder does not exist: the file cannot be created.
    std::vector<RegistryProblem> rows{
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\A", pkKey},
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\B\\y", pkValue},
    };
    auto report = fixProblems(m, rows, "C:\\Missing\\2013_07_04_093005.reg");
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.outcomes,
              (std::vector<FixOutcome>{FixOutcome::Skipped, FixOutcome::NotBackedUp}));
    ASSERT_FALSE(report.messages.empty());
    EXPECT_NE(report.messages[0].find("Cannot create the backup file"), std::string::npos);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(hiveXml(m, "\\REGISTRY\\USER\\S-1-5-21-1004336348-1177238915-682003330-1000"),
              before);
    removeFixedRows(rows, report);
    EXPECT_EQ(rows.size(), 2u);
}

// Deletions that land at once (the running Windows), and a disk that fills
// up after the backup's first line.
class LiveRegistryMachine : public test::FakeMachine {
  public:
    class FillingFiles : public test::FakeFileApi {
      public:
        using FakeFileApi::FakeFileApi;
        std::unique_ptr<FileHandle> createFile(std::string_view p) override {
            auto h = FakeFileApi::createFile(p);
            return h ? std::make_unique<Filling>(std::move(h)) : nullptr;
        }

      private:
        class Filling : public FileHandle {
          public:
            explicit Filling(std::unique_ptr<FileHandle> h) : h_(std::move(h)) {}
            int64_t size() override { return h_->size(); }
            bool seek(int64_t o) override { return h_->seek(o); }
            int64_t read(void* b, int64_t n) override { return h_->read(b, n); }
            int64_t write(const void* b, int64_t n) override {
                return writes_++ ? 0 : h_->write(b, n);
            }
            bool flush() override { return h_->flush(); }

          private:
            std::unique_ptr<FileHandle> h_;
            int writes_ = 0;
        };
    };
    test::MemoryRegistry reg;
    FillingFiles filling{dir_.path()};
    RegistryApi& registry() override { return reg; }
    FileApi& files() override { return filling; }
};

TEST(RegistryFix, DeletionsThatLandAtOnceWaitForTheirFlushedBackup) {
    LiveRegistryMachine m;
    RegistryKey k(m.reg, RootKey::CurrentUser);
    ASSERT_TRUE(k.openKey("Software\\A", true) && k.writeString("x", "1"));
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    std::vector<RegistryProblem> rows{
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\A\\x", pkValue},
        {true, "p", "", "HKEY_CURRENT_USER\\Software\\A", pkKey},
    };
    // As Fix Errors asks: no flush per block, since the commit comes after.
    auto report = fixProblems(m, rows, kBackup, false);
    EXPECT_EQ(report.notBackedUp, 1u);
    EXPECT_EQ(report.fixed, 0u);
    RegistryKey check(m.reg, RootKey::CurrentUser);
    ASSERT_TRUE(check.openKeyReadOnly("Software\\A"));
    EXPECT_EQ(check.readString("x").value_or(""), "1");
}

TEST(RegistryFix, ShortcutIsCopiedBesideTheBackupAndComesBack) {
    ScanMachine sm;
    sm.file("C:\\Users\\Alex\\Desktop\\Gone.lnk", std::string("L\0\0\0shortcut", 12));
    Machine& m = sm.open();
    ASSERT_TRUE(m.files().forceDirectories(kBackupDir));
    std::vector<RegistryProblem> rows{
        {true, "p", "C:\\nowhere.exe", "C:\\Users\\Alex\\Desktop\\Gone.lnk", pkFile}};
    auto report = fixProblems(m, rows, kBackup);
    EXPECT_EQ(report.fixed, 1u);
    EXPECT_FALSE(m.files().fileExists("C:\\Users\\Alex\\Desktop\\Gone.lnk"));
    std::string file = readMachineFile(m, kBackup);
    auto notes = fileCopyNotes(file);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].copy, "2013_07_04_093005_files\\1_Gone.lnk.bak");
    EXPECT_EQ(notes[0].original, "C:\\Users\\Alex\\Desktop\\Gone.lnk");
    size_t back = restoreFileCopies(m.files(), notes, [&](const std::string& copy) {
        return std::optional<std::string>(
            readMachineFile(m, std::string(kBackupDir) + "\\" + copy));
    });
    EXPECT_EQ(back, 1u);
    EXPECT_EQ(readMachineFile(m, "C:\\Users\\Alex\\Desktop\\Gone.lnk"),
              std::string("L\0\0\0shortcut", 12));
    // Deleting the backup takes its copies along.
    EXPECT_TRUE(deleteBackup(m.files(), kBackup));
    EXPECT_FALSE(m.files().directoryExists(std::string(kBackupDir) + "\\2013_07_04_093005_files"));
}

TEST(BackupStore, ListsRegFilesOfAnyCaseNewestFirstAndSizesInKilobytes) {
    ScanMachine sm;
    sm.file("C:\\B\\2013_07_04_093005.reg", std::string(1536, 'x'))
        .file("C:\\B\\2014_01_01_000000.REG", "x")
        .file("C:\\B\\notes.txt", "x")
        .folder("C:\\B\\folder.reg");
    Machine& m = sm.open();
    auto rows = listBackups(m.files(), "C:\\B");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0].name, "2014_01_01_000000.REG");
    EXPECT_EQ((*rows)[1].name, "2013_07_04_093005.reg");
    EXPECT_EQ(backupSizeText((*rows)[1].size), "2 KB");
    EXPECT_EQ(backupSizeText(uint64_t(1000000) * 1024), "1,000,000 KB");
    EXPECT_EQ(backupSizeText(0), "0 KB");
    EXPECT_FALSE(listBackups(m.files(), "C:\\Nope"));
}

TEST(BackupStore, FileCopyNotesNeverPointOutsideTheBackupFolder) {
    std::string text =
        "REGEDIT4\r\n\r\n;BriskoFileCopy|x_files\\1_a.lnk|C:\\a.lnk\r\n"
        "\r\n;BriskoFileCopy|..\\..\\etc\\passwd|C:\\b.lnk\r\n"
        "\r\n;BriskoFileCopy|C:\\abs|C:\\c.lnk\r\n";
    auto notes = fileCopyNotes(text);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].original, "C:\\a.lnk");
}

TEST(ProblemReport, TextLinesNamesAndRegeditTargets) {
    std::vector<RegistryProblem> rows{{true, "P", "D", "HKEY_CURRENT_USER\\K\\v", pkValue},
                                      {false, "Q", "sub", "HKEY_CURRENT_USER\\K", pkDataSubkey},
                                      {true, "F", "t", "C:\\x.lnk", pkFile}};
    EXPECT_EQ(problemReportText(rows),
              "P  ^^^  D  ^^^  HKEY_CURRENT_USER\\K\\v\r\n"
              "Q  ^^^  sub  ^^^  HKEY_CURRENT_USER\\K\r\n"
              "F  ^^^  t  ^^^  C:\\x.lnk\r\n");
    EXPECT_EQ(saveAsTextName("REPORT.TXT"), "REPORT.TXT.txt");
    EXPECT_EQ(saveAsTextName("report.txt"), "report.txt");
    EXPECT_EQ(fullBackupName("full.REG"), "full.REG");
    EXPECT_EQ(fullBackupName("full"), "full.reg");
    EXPECT_EQ(regeditTargetPath(rows[0]), "HKEY_CURRENT_USER\\K");
    EXPECT_EQ(regeditTargetPath(rows[1]), "HKEY_CURRENT_USER\\K\\sub");
    EXPECT_EQ(regeditTargetPath(rows[2]), "");
    EXPECT_EQ(rowValueName(rows[0]), "v");

    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\K", "v", "1");
    Machine& m = sm.open();
    auto key = findRegeditTarget(m.registry(), RegistryView::Native, "hkcu\\Software\\K");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->key, "HKEY_CURRENT_USER\\Software\\K");
    auto value = findRegeditTarget(m.registry(), RegistryView::Native, "HKCU\\Software\\K\\v");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->value, "v");
    EXPECT_FALSE(findRegeditTarget(m.registry(), RegistryView::Native, "HKCU\\Software\\K\\w"));
    EXPECT_FALSE(findRegeditTarget(m.registry(), RegistryView::Native, "C:\\x.lnk"));
}

TEST(BackupHint, BarCreepsAndStopsAtTheEnd) {
    int p = 0;
    for (int i = 0; i < 30; ++i) p = backupHintStep(p);
    EXPECT_EQ(p, 300);
    for (int i = 30; i < 49; ++i) p = backupHintStep(p);
    EXPECT_EQ(p, 400);
    for (int i = 0; i < 1000; ++i) p = backupHintStep(p);
    EXPECT_EQ(p, 500);
    EXPECT_EQ(parseRegeditCommand("Regedit /s \"C:\\a b\\x.reg\"")->file, "C:\\a b\\x.reg");
    EXPECT_EQ(parseRegeditCommand("regedit.exe /E \"/tmp/full.reg\"")->kind,
              RegeditCommand::Export);
    EXPECT_FALSE(parseRegeditCommand("notepad /s \"x\""));
}

TEST(BackupName, FourDigitYearAndTwoDigitFields) {
    std::tm t{};
    t.tm_year = 113;
    t.tm_mon = 6;
    t.tm_mday = 4;
    t.tm_hour = 9;
    t.tm_min = 30;
    t.tm_sec = 5;
    EXPECT_EQ(backupFileName(t), "2013_07_04_093005.reg");
}

}  // namespace
}  // namespace brisko
