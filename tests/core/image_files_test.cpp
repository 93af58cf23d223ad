#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "base/reg_tree.h"
#include "base/text.h"
#include "core/machine/image/image_files.h"
#include "core/machine/registry_key.h"
#include "support/test_machine.h"

using namespace brisko;
namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

namespace {

// Just enough of a registry for the restart list: HKLM as an in-memory tree.
class TreeKey : public KeyHandle {
  public:
    explicit TreeKey(RegTreeKey* k) : k_(k) {}
    std::vector<std::string> subkeyNames() override { return {}; }
    std::vector<std::string> valueNames() override { return {}; }
    std::optional<RegValue> value(std::string_view name) override {
        auto* v = k_->findValue(name);
        return v ? std::optional<RegValue>(*v) : std::nullopt;
    }
    bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) override {
        k_->setValue(name, type, {data.begin(), data.end()});
        return true;
    }
    bool deleteValue(std::string_view name) override { return k_->removeValue(name); }
    std::unique_ptr<KeyHandle> openSubkey(std::string_view rel, KeyAccess access) override {
        auto* k = k_->find(rel, access == KeyAccess::Create);
        return k ? std::make_unique<TreeKey>(k) : nullptr;
    }
    bool deleteSubkey(std::string_view) override { return false; }
    KeyInfo info() override {
        return KeyInfo{uint32_t(k_->subkeys.size()), uint32_t(k_->values.size())};
    }
    bool writable() const override { return true; }

  private:
    RegTreeKey* k_;
};

class TreeRegistry : public RegistryApi {
  public:
    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view sub,
                                       KeyAccess access) override {
        if (root != RootKey::LocalMachine) return nullptr;
        auto* k = hklm.find(sub, access == KeyAccess::Create);
        return k ? std::make_unique<TreeKey>(k) : nullptr;
    }
    bool commit() override { return true; }
    std::vector<HiveMount> hiveList() override { return {}; }
    bool saveHive(std::string_view, std::string_view) override { return false; }
    bool replaceHive(std::string_view, std::string_view, std::string_view) override {
        return false;
    }
    RegTreeKey hklm;
};

constexpr std::string_view kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<uint8_t> utf16(std::string_view s) {
    return utf8ToUtf16le(s, false);
}

class ImageFilesTest : public ::testing::Test {
  protected:
    ImageFilesTest()
        : machine(tmp.path() / "machine"),
          c(machine / "C"),
          outside(tmp.path() / "outside"),
          files(machine, {{'C', DriveKind::Fixed, "\\Device\\HarddiskVolume2", "C"},
                          {'D', DriveKind::Removable, "\\Device\\Floppy0", "D", false},
                          {'E', DriveKind::NoRootDir, "", "E"},
                          {'F', DriveKind::CdRom, "\\Device\\CdRom0", "F"}}) {}

    void SetUp() override {
        fs::create_directories(c);
        fs::create_directories(machine / "D");
        fs::create_directories(machine / "E");
        fs::create_directories(machine / "F");
        writeFile(outside / "canary.txt", "canary");
        writeFile(c / "Users" / "Bob" / "Notes.TXT", "hello");
        writeFile(c / "Temp" / "a.tmp", "aaaa");
    }

    bool canaryIntact() const {
        return fs::exists(outside / "canary.txt") && readFile(outside / "canary.txt") == "canary";
    }
    std::vector<std::string> names(std::string_view folder, std::string_view mask = "*") {
        std::vector<std::string> n;
        if (auto list = files.findFiles(folder, mask))
            for (auto& e : *list) n.push_back(e.name);
        return n;
    }

    test::TempDir tmp;
    fs::path machine, c, outside;
    ImageFileApi files;
};

using Names = std::vector<std::string>;

TEST_F(ImageFilesTest, ResolvesWindowsPathsCaseInsensitively) {
    auto notes = fs::canonical(c / "Users" / "Bob" / "Notes.TXT");
    for (auto p :
         {"C:\\Users\\Bob\\Notes.TXT", "c:\\USERS\\bob\\notes.txt", "C:/users/BOB/notes.txt",
          "\\\\?\\C:\\Users\\Bob\\Notes.TXT", "\\??\\C:\\Users\\Bob\\Notes.TXT",
          "C:\\\\Users\\\\.\\Bob\\\\Notes.TXT", "C:\\Users\\Nobody\\..\\Bob\\Notes.TXT"}) {
        auto r = files.resolve(p);
        ASSERT_TRUE(r) << p;
        EXPECT_EQ(*r, notes) << p;
    }
    EXPECT_EQ(files.resolve("C:\\users\\BOB\\"), fs::canonical(c / "Users" / "Bob"));
    EXPECT_EQ(files.resolve("C:"), fs::canonical(c));
    EXPECT_EQ(files.toWindowsPath(notes), "C:\\Users\\Bob\\Notes.TXT");
    EXPECT_FALSE(files.toWindowsPath(outside / "canary.txt"));

    // An exact match wins over a case-insensitive one.
    writeFile(c / "Temp" / "A.TMP", "other");
    EXPECT_EQ(files.resolve("C:\\Temp\\A.TMP")->filename(), "A.TMP");
    EXPECT_EQ(files.resolve("C:\\Temp\\a.tmp")->filename(), "a.tmp");
    EXPECT_EQ(files.resolve("C:\\Temp\\a.TMP")->filename(), "A.TMP");  // first in name order

    // Non-ASCII names fold too.
    writeFile(c / "Users" / "Bob" / "Ärger.txt", "x");
    EXPECT_TRUE(files.fileExists("C:\\users\\bob\\äRGER.TXT"));

    // Missing last component, missing parents.
    EXPECT_FALSE(files.resolve("C:\\Temp\\new.txt"));
    EXPECT_EQ(files.resolve("C:\\temp\\new.txt", false), fs::canonical(c / "Temp") / "new.txt");
    EXPECT_FALSE(files.resolve("C:\\Temp\\x\\new.txt", false));
    EXPECT_EQ(files.resolve("C:\\temp\\x\\new.txt", false, true),
              fs::canonical(c / "Temp") / "x" / "new.txt");
    // A file cannot hold further components.
    EXPECT_FALSE(files.resolve("C:\\Temp\\a.tmp\\x", false, true));
}

TEST_F(ImageFilesTest, RefusesMalformedAndForeignPaths) {
    for (std::string p :
         {"", "Temp\\a.tmp", "\\Temp\\a.tmp", "C:Temp\\a.tmp", "\\\\server\\share\\a.tmp",
          "\\\\?\\UNC\\server\\share\\a", "\\\\.\\PhysicalDrive0", "Z:\\Temp\\a.tmp",
          "C:\\Temp\\a?.tmp", "C:\\Temp\\a*.tmp", "C:\\Temp\\a<b", "C:\\Temp\\a|b",
          "C:\\Temp\\a\"b", "C:\\Temp\\a.tmp:stream", "C:\\Temp\\a\x01", "C:\\..",
          "C:\\..\\outside\\canary.txt", "C:\\Users\\..\\..\\..\\outside\\canary.txt"}) {
        EXPECT_FALSE(files.resolve(p, false, true)) << p;
        EXPECT_FALSE(files.fileExists(p)) << p;
    }
    EXPECT_FALSE(files.resolve(std::string("C:\\Temp\\a.tmp\0.txt", 18)));
    EXPECT_FALSE(files.fileExists(std::string("C:\\Temp\\a.tmp\0", 14)));
    EXPECT_TRUE(canaryIntact());
}

TEST_F(ImageFilesTest, SeesChangesMadeBehindItsBack) {
    EXPECT_TRUE(files.directoryExists("C:\\USERS\\BOB"));  // fills the listing cache
    fs::rename(c / "Users" / "Bob", c / "Users" / "bOB2");
    EXPECT_FALSE(files.directoryExists("C:\\USERS\\BOB"));
    EXPECT_TRUE(files.directoryExists("C:\\USERS\\BOB2"));
    // And changes made through the API, at once.
    ASSERT_TRUE(files.moveFile("C:\\users\\bob2", "C:\\Users\\Carol"));
    EXPECT_TRUE(files.fileExists("C:\\USERS\\CAROL\\NOTES.TXT"));
    EXPECT_FALSE(files.directoryExists("C:\\USERS\\BOB2"));
}

TEST_F(ImageFilesTest, ListsLikeFindFirst) {
    writeFile(c / "Temp" / "b.txt", "12345");
    writeFile(c / "Temp" / "C.txt", "");
    fs::create_directories(c / "Temp" / "sub");
    EXPECT_EQ(names("C:\\Temp"), (Names{".", "..", "a.tmp", "b.txt", "C.txt", "sub"}));
    EXPECT_EQ(names("c:\\temp\\", "?.T*"), (Names{"a.tmp", "b.txt", "C.txt"}));
    EXPECT_EQ(names("C:\\Temp", "nothing*"), Names{});
    // The drive root has no "." and "..".
    EXPECT_EQ(names("C:\\"), (Names{"Temp", "Users"}));
    // Not listable: missing, a file, a bad mask, a drive without medium.
    EXPECT_FALSE(files.findFiles("C:\\Nowhere", "*"));
    EXPECT_FALSE(files.findFiles("C:\\Temp\\a.tmp", "*"));
    EXPECT_FALSE(files.findFiles("C:\\Temp", "sub\\*"));
    EXPECT_FALSE(files.findFiles("D:\\", "*"));

    // Names Windows could not spell and pipes are left out.
    writeFile(c / "Temp" / "x:y", "");
    writeFile(c / "Temp" / "a\\..\\b", "");
    ASSERT_EQ(::mkfifo((c / "Temp" / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(names("C:\\Temp", "*"), (Names{".", "..", "a.tmp", "b.txt", "C.txt", "sub"}));
    EXPECT_FALSE(files.openFile("C:\\Temp\\pipe", FileMode::Read));  // and do not hang
}

TEST_F(ImageFilesTest, ReportsSizeTimeAndAttributes) {
    auto host = c / "Temp" / "a.tmp";
    struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 5'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
    auto e = files.fileInfo("C:\\TEMP\\A.TMP");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->name, "a.tmp");
    EXPECT_EQ(e->size, 4u);
    EXPECT_EQ(e->writeTime, 126444736000000000LL + 50'000);
    EXPECT_EQ(e->attributes, faArchive);

    auto dir = files.fileInfo("C:\\Temp");
    ASSERT_TRUE(dir);
    EXPECT_EQ(dir->attributes, faDirectory);
    EXPECT_EQ(dir->size, 0u);

    fs::permissions(host, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(files.fileInfo("C:\\Temp\\a.tmp")->attributes, faArchive | faReadOnly);
    // setAttributes writes read-only through to the host and keeps the rest.
    ASSERT_TRUE(files.setAttributes("C:\\Temp\\a.tmp", faHidden | faSysFile));
    EXPECT_EQ(files.fileInfo("C:\\Temp\\a.tmp")->attributes, faHidden | faSysFile);
    EXPECT_NE(fs::status(host).permissions() & fs::perms::owner_write, fs::perms::none);
    ASSERT_TRUE(files.setAttributes("C:\\Temp\\a.tmp", faReadOnly | faArchive));
    EXPECT_EQ(fs::status(host).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ((*files.findFiles("C:\\Temp", "a.tmp"))[0].attributes, faReadOnly | faArchive);
    ASSERT_TRUE(files.setAttributes("C:\\Temp", faHidden));
    EXPECT_EQ(files.fileInfo("C:\\Temp")->attributes, faDirectory | faHidden);
    // Attributes travel with a move.
    ASSERT_TRUE(files.setAttributes("C:\\Temp\\a.tmp", faHidden));
    ASSERT_TRUE(files.moveFile("C:\\Temp\\a.tmp", "C:\\Temp\\moved.tmp"));
    EXPECT_EQ(files.fileInfo("C:\\Temp\\moved.tmp")->attributes, faHidden);
}

TEST_F(ImageFilesTest, DeletesAsWindowsDoes) {
    EXPECT_FALSE(files.deleteFile("C:\\Temp"));  // a folder
    EXPECT_FALSE(files.deleteFile("C:\\Temp\\missing.tmp"));

    fs::permissions(c / "Temp" / "a.tmp", fs::perms::owner_read);
    EXPECT_FALSE(files.deleteFile("C:\\Temp\\a.tmp"));  // read-only, even for root
    EXPECT_FALSE(files.openFile("C:\\Temp\\a.tmp", FileMode::ReadWrite));
    EXPECT_TRUE(files.openFile("C:\\Temp\\a.tmp", FileMode::Read));
    ASSERT_TRUE(files.setAttributes("C:\\Temp\\a.tmp", 0));

    files.lockFile("C:\\TEMP\\A.TMP");
    EXPECT_FALSE(files.deleteFile("C:\\Temp\\a.tmp"));
    EXPECT_FALSE(files.openFile("C:\\Temp\\a.tmp", FileMode::Read));
    EXPECT_FALSE(files.moveFile("C:\\Temp\\a.tmp", "C:\\Temp\\b.tmp"));
    EXPECT_FALSE(files.moveFile("C:\\Temp", "C:\\Temp2"));  // holds a locked file
    EXPECT_FALSE(files.shellDelete("C:\\Temp\\a.tmp"));
    EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Temp\\b.tmp", false));
    files.unlockFile("C:\\Temp\\a.tmp");
    EXPECT_TRUE(files.deleteFile("C:\\Temp\\a.tmp"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "a.tmp"));

    writeFile(c / "Temp" / "sub" / "x", "x");
    EXPECT_FALSE(files.removeDirectory("C:\\Temp"));
    EXPECT_TRUE(fs::exists(c / "Temp" / "sub" / "x"));
    EXPECT_FALSE(files.removeDirectory("C:\\Temp\\sub\\x"));  // a file
    ASSERT_TRUE(files.deleteFile("C:\\temp\\SUB\\X"));
    EXPECT_TRUE(files.removeDirectory("C:\\temp\\sub"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "sub"));

    // A drive root is never removed, whatever asks.
    EXPECT_FALSE(files.removeDirectory("C:\\"));
    EXPECT_FALSE(files.shellDelete("C:\\"));
    EXPECT_FALSE(files.moveFile("C:\\", "C:\\Temp\\root"));
    EXPECT_TRUE(fs::exists(c / "Users"));
}

TEST_F(ImageFilesTest, ShellDeleteRemovesWhatItCan) {
    writeFile(c / "Temp" / "deep" / "one" / "locked.dat", "L");
    writeFile(c / "Temp" / "deep" / "one" / "free.dat", "F");
    writeFile(c / "Temp" / "deep" / "two" / "free.dat", "F");
    writeFile(c / "Temp" / "deep" / "ro.dat", "R");
    fs::permissions(c / "Temp" / "deep" / "ro.dat", fs::perms::owner_read);
    files.lockFile("C:\\Temp\\deep\\one\\locked.dat");

    EXPECT_FALSE(files.shellDelete("C:\\Temp\\Deep"));
    EXPECT_TRUE(fs::exists(c / "Temp" / "deep" / "one" / "locked.dat"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "deep" / "one" / "free.dat"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "deep" / "two"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "deep" / "ro.dat"));  // the shell ignores read-only

    files.unlockFile("C:\\Temp\\deep\\one\\locked.dat");
    EXPECT_TRUE(files.shellDelete("C:\\Temp\\Deep"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "deep"));
    EXPECT_TRUE(files.shellDelete("C:\\Temp\\a.tmp"));
    EXPECT_FALSE(files.shellDelete("C:\\Temp\\a.tmp"));
}

TEST_F(ImageFilesTest, CreatesFoldersCopiesAndMoves) {
    EXPECT_TRUE(files.forceDirectories("C:\\users\\BOB\\AppData\\Local\\Temp"));
    EXPECT_TRUE(fs::is_directory(c / "Users" / "Bob" / "AppData" / "Local" / "Temp"));
    EXPECT_FALSE(fs::exists(c / "users"));
    EXPECT_TRUE(files.forceDirectories("C:\\Users"));  // already there
    EXPECT_FALSE(files.forceDirectories("C:\\Temp\\a.tmp\\sub"));
    EXPECT_FALSE(files.forceDirectories("D:\\Folder"));  // no medium
    EXPECT_TRUE(fs::is_empty(machine / "D"));
    // Created through the API, found at once in any case.
    EXPECT_TRUE(files.directoryExists("C:\\USERS\\BOB\\APPDATA\\LOCAL"));

    ASSERT_TRUE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Temp\\copy.tmp", true));
    EXPECT_EQ(readFile(c / "Temp" / "copy.tmp"), "aaaa");
    EXPECT_EQ(files.fileInfo("C:\\Temp\\copy.tmp")->writeTime,
              files.fileInfo("C:\\Temp\\a.tmp")->writeTime);
    EXPECT_FALSE(files.copyFile("C:\\Users\\Bob\\Notes.TXT", "C:\\Temp\\COPY.TMP", true));
    EXPECT_TRUE(files.copyFile("C:\\Users\\Bob\\Notes.TXT", "C:\\Temp\\COPY.TMP", false));
    EXPECT_EQ(readFile(c / "Temp" / "copy.tmp"), "hello");
    EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Temp\\a.tmp", false));
    EXPECT_FALSE(files.copyFile("C:\\Temp", "C:\\Temp2", false));
    EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Users", false));
    ASSERT_TRUE(files.setAttributes("C:\\Temp\\copy.tmp", faReadOnly));
    EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Temp\\copy.tmp", false));

    EXPECT_FALSE(files.moveFile("C:\\Temp\\a.tmp", "C:\\Temp\\copy.tmp"));  // target exists
    EXPECT_TRUE(files.moveFile("C:\\Temp\\a.tmp", "C:\\Temp\\A.TMP"));      // case only
    EXPECT_EQ(names("C:\\Temp", "a.*"), Names{"A.TMP"});
    EXPECT_TRUE(files.moveFile("C:\\Temp", "C:\\Users\\Bob\\Old"));
    EXPECT_TRUE(fs::exists(c / "Users" / "Bob" / "Old" / "A.TMP"));
    EXPECT_FALSE(files.moveFile("C:\\Users", "C:\\Users\\Bob\\Inside"));
}

TEST_F(ImageFilesTest, FileHandlesReadWriteAndSeek) {
    auto w = files.createFile("C:\\Temp\\new.bin");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->write("0123456789", 10), 10);
    EXPECT_TRUE(w->seek(2) && w->write("ab", 2) == 2 && w->flush());
    EXPECT_EQ(readFile(c / "Temp" / "new.bin"), "01ab456789");
    auto r = files.openFile("c:\\temp\\NEW.BIN", FileMode::Read);
    ASSERT_TRUE(r);
    char buf[16] = {};
    EXPECT_TRUE(r->seek(8));
    EXPECT_EQ(r->read(buf, 16), 2);
    EXPECT_LT(r->write("x", 1), 1);  // opened for reading only
    // Creating again truncates the file found case-insensitively.
    EXPECT_EQ(files.createFile("C:\\Temp\\NEW.bin")->size(), 0);
    EXPECT_FALSE(fs::exists(c / "Temp" / "NEW.bin"));
    EXPECT_FALSE(files.createFile("C:\\Temp"));
    EXPECT_FALSE(files.createFile("C:\\Nowhere\\x.bin"));
    EXPECT_FALSE(files.openFile("C:\\Temp", FileMode::Read));
}

TEST_F(ImageFilesTest, ShortNamesFollowWindows) {
    fs::create_directories(c / "Program Files" / "Common Files");
    fs::create_directories(c / "Program Files (x86)");
    writeFile(c / "Users" / "Bob" / "Temporary Internet Files" / "Content.IE5" / "index.dat", "");
    writeFile(c / "Users" / "Bob" / "archive.tar.gz", "");
    writeFile(c / "Users" / "Bob" / "a+b;c.txt", "");
    EXPECT_EQ(files.shortPathName("C:\\Program Files\\Common Files\\missing file.txt"),
              "C:\\PROGRA~1\\COMMON~1\\missing file.txt");
    EXPECT_EQ(files.shortPathName("c:\\program files (x86)\\"), "C:\\PROGRA~2\\");
    // Mixed case does not matter: "Content.IE5" is an 8.3 name already.
    EXPECT_EQ(files.shortPathName("C:\\users\\bob\\temporary internet files\\content.ie5"),
              "C:\\Users\\Bob\\TEMPOR~1\\Content.IE5");
    EXPECT_EQ(files.shortPathName("C:\\Users\\Bob\\archive.tar.gz"), "C:\\Users\\Bob\\ARCHIV~1.GZ");
    EXPECT_EQ(files.shortPathName("C:\\Users\\Bob\\a+b;c.txt"), "C:\\Users\\Bob\\A_B_C~1.TXT");
    EXPECT_EQ(files.shortPathName("C:\\Users\\Bob\\Notes.TXT"), "C:\\Users\\Bob\\Notes.TXT");
    EXPECT_EQ(files.shortPathName("Q:\\Long Name\\x"), "Q:\\Long Name\\x");
    // An 8.3 name already taken is skipped.
    writeFile(c / "Temp" / "LONGNA~1.TXT", "");
    writeFile(c / "Temp" / "Long Name.txt", "");
    EXPECT_EQ(files.shortPathName("C:\\Temp\\Long Name.txt"), "C:\\Temp\\LONGNA~2.TXT");
}

TEST_F(ImageFilesTest, DrivesOfEveryKind) {
    EXPECT_EQ(files.drives().size(), 3u);  // E: is absent
    EXPECT_EQ(files.driveType("d:\\"), DriveKind::Removable);
    EXPECT_EQ(files.driveType("E:\\"), DriveKind::NoRootDir);
    EXPECT_EQ(files.driveType("Z:\\"), DriveKind::NoRootDir);
    EXPECT_EQ(files.queryDosDevice("f:"), "\\Device\\CdRom0");
    EXPECT_EQ(files.queryDosDevice("E:"), "");
    EXPECT_TRUE(files.volumePresent("F:\\"));
    EXPECT_FALSE(files.volumePresent("D:\\"));
    EXPECT_FALSE(files.volumePresent("E:\\"));
    // No medium, no files, even when the host folder holds some.
    writeFile(machine / "D" / "file.txt", "x");
    writeFile(machine / "E" / "file.txt", "x");
    EXPECT_FALSE(files.fileExists("D:\\file.txt"));
    EXPECT_FALSE(files.fileExists("E:\\file.txt"));
    EXPECT_FALSE(files.deleteFile("D:\\file.txt"));
    writeFile(machine / "F" / "setup.exe", "x");
    EXPECT_TRUE(files.fileExists("F:\\SETUP.EXE"));

    // A drive whose folder lies outside the machine has no files either.
    fs::create_directory_symlink(outside, machine / "G");
    ImageFileApi other(
        machine, {{'G', DriveKind::Fixed, "", "G"}, {'H', DriveKind::Fixed, "", outside.string()}});
    EXPECT_FALSE(other.fileExists("G:\\canary.txt"));
    EXPECT_FALSE(other.fileExists("H:\\canary.txt"));
    EXPECT_FALSE(other.volumePresent("H:\\"));
}

// Every operation refuses links that lead out of the machine.
TEST_F(ImageFilesTest, LinksOutOfTheMachineAreRefusedEverywhere) {
    fs::create_directory_symlink("/etc", c / "etc");
    fs::create_directory_symlink(outside, c / "Users" / "Out");
    fs::create_directory_symlink("../../../outside", c / "Users" / "Rel");  // relative
    fs::create_symlink(outside / "canary.txt", c / "Temp" / "canary.lnk");
    fs::create_symlink(outside / "made.txt", c / "Temp" / "dangling");
    EXPECT_EQ(names("C:\\Users"), (Names{".", "..", "Bob"}));
    EXPECT_EQ(names("C:\\Temp"), (Names{".", "..", "a.tmp"}));
    EXPECT_EQ(names("C:\\"), (Names{"Temp", "Users"}));

    for (std::string dir : {"C:\\etc", "C:\\Users\\Out", "C:\\users\\rel"}) {
        std::string inner = dir + "\\canary.txt";
        SCOPED_TRACE(dir);
        EXPECT_FALSE(files.resolve(dir));
        EXPECT_FALSE(files.resolve(inner, false, true));
        EXPECT_FALSE(files.findFiles(dir, "*"));
        EXPECT_FALSE(files.fileInfo(inner));
        EXPECT_FALSE(files.fileExists(inner));
        EXPECT_FALSE(files.directoryExists(dir));
        EXPECT_FALSE(files.openFile(inner, FileMode::Read));
        EXPECT_FALSE(files.openFile(inner, FileMode::ReadWrite));
        EXPECT_FALSE(files.createFile(dir + "\\new.txt"));
        EXPECT_FALSE(files.deleteFile(inner));
        EXPECT_FALSE(files.shellDelete(inner));
        EXPECT_FALSE(files.shellDelete(dir));
        EXPECT_FALSE(files.deleteFile(dir));
        EXPECT_FALSE(files.removeDirectory(dir));
        EXPECT_FALSE(files.forceDirectories(dir + "\\sub\\sub"));
        EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", dir + "\\copy.txt", false));
        EXPECT_FALSE(files.copyFile(inner, "C:\\Temp\\stolen.txt", false));
        EXPECT_FALSE(files.moveFile("C:\\Temp\\a.tmp", dir + "\\moved.txt"));
        EXPECT_FALSE(files.moveFile(inner, "C:\\Temp\\stolen.txt"));
        EXPECT_FALSE(files.moveFile(dir, "C:\\Temp\\stolen"));
        EXPECT_FALSE(files.setAttributes(inner, faReadOnly));
        EXPECT_FALSE(files.deleteAtRestart(inner));
        EXPECT_EQ(files.shortPathName(inner + "\\Long Name Here"), inner + "\\Long Name Here");
    }
    for (std::string link : {"C:\\Temp\\canary.lnk", "C:\\Temp\\dangling"}) {
        SCOPED_TRACE(link);
        EXPECT_FALSE(files.openFile(link, FileMode::ReadWrite));
        EXPECT_FALSE(files.createFile(link));
        EXPECT_FALSE(files.deleteFile(link));
        EXPECT_FALSE(files.shellDelete(link));
        EXPECT_FALSE(files.copyFile("C:\\Temp\\a.tmp", link, false));
        EXPECT_FALSE(files.setAttributes(link, faReadOnly));
    }
    EXPECT_TRUE(fs::is_symlink(c / "etc"));
    EXPECT_TRUE(fs::is_symlink(c / "Temp" / "canary.lnk"));
    EXPECT_FALSE(fs::exists(outside / "made.txt"));
    EXPECT_FALSE(fs::exists(outside / "new.txt"));
    EXPECT_FALSE(fs::exists(outside / "sub"));
    EXPECT_FALSE(fs::exists(outside / "copy.txt"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "stolen.txt"));
    EXPECT_NE(fs::status(outside / "canary.txt").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_TRUE(canaryIntact());
    EXPECT_TRUE(fs::exists(c / "Temp" / "a.tmp"));
}

TEST_F(ImageFilesTest, LinksInsideTheMachineAreFollowedButNeverDeletedThrough) {
    writeFile(c / "Data" / "keep.txt", "keep");
    fs::create_directory_symlink(c / "Data", c / "Users" / "Bob" / "Docs");
    fs::create_symlink("../../Data/keep.txt", c / "Users" / "Bob" / "keep.lnk");
    EXPECT_TRUE(files.fileExists("C:\\Users\\Bob\\docs\\KEEP.TXT"));
    EXPECT_EQ(files.fileInfo("C:\\Users\\Bob\\keep.lnk")->size, 4u);
    EXPECT_EQ(names("C:\\Users\\Bob\\Docs"), (Names{".", "..", "keep.txt"}));
    {
        auto h = files.openFile("C:\\Users\\Bob\\keep.lnk", FileMode::Read);
        ASSERT_TRUE(h);
        char buf[4];
        EXPECT_EQ(h->read(buf, 4), 4);
    }

    // A shell delete of a tree holding links removes the links, not their targets,
    // inside the machine or out.
    fs::create_directories(outside / "tree");
    writeFile(outside / "tree" / "deep.txt", "deep");
    fs::create_directory_symlink(outside, c / "Users" / "Bob" / "Trap");
    fs::create_directories(c / "Users" / "Bob" / "Sub");
    fs::create_symlink(outside / "canary.txt", c / "Users" / "Bob" / "Sub" / "canary");
    EXPECT_TRUE(files.shellDelete("C:\\Users\\Bob"));
    EXPECT_FALSE(fs::exists(c / "Users" / "Bob"));
    EXPECT_EQ(readFile(c / "Data" / "keep.txt"), "keep");
    EXPECT_TRUE(canaryIntact());
    EXPECT_EQ(readFile(outside / "tree" / "deep.txt"), "deep");

    // Deleting a link to a file removes the link only.
    fs::create_symlink(c / "Data" / "keep.txt", c / "Temp" / "keep.lnk");
    EXPECT_TRUE(files.deleteFile("C:\\Temp\\keep.lnk"));
    EXPECT_TRUE(fs::exists(c / "Data" / "keep.txt"));
    fs::create_directory_symlink(c / "Data", c / "Temp" / "DataLink");
    EXPECT_FALSE(files.deleteFile("C:\\Temp\\DataLink"));
    EXPECT_TRUE(files.removeDirectory("C:\\Temp\\DataLink"));
    EXPECT_TRUE(fs::exists(c / "Data" / "keep.txt"));
}

TEST(PendingRenames, ParseAndEncode) {
    auto bytes = [](std::initializer_list<std::string_view> parts) {
        std::vector<uint8_t> out;
        for (auto p : parts) {
            auto b = utf16(p);
            out.insert(out.end(), b.begin(), b.end());
            out.push_back(0);
            out.push_back(0);
        }
        return out;
    };
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    auto raw = bytes({"\\??\\C:\\a", "", "\\??\\C:\\b", "!\\??\\C:\\c", ""});
    Pairs expected{{"\\??\\C:\\a", ""}, {"\\??\\C:\\b", "!\\??\\C:\\c"}};
    EXPECT_EQ(ImageFileApi::parsePendingRenames(raw), expected);
    EXPECT_EQ(ImageFileApi::encodePendingRenames(expected), raw);
    // Without the final terminator, with an odd trailing byte, and empty.
    raw = bytes({"\\??\\C:\\a", ""});
    EXPECT_EQ(ImageFileApi::parsePendingRenames(raw), (Pairs{{"\\??\\C:\\a", ""}}));
    raw.push_back(0x41);
    EXPECT_EQ(ImageFileApi::parsePendingRenames(raw), (Pairs{{"\\??\\C:\\a", ""}}));
    auto unterminated = utf16("\\??\\C:\\a");
    EXPECT_EQ(ImageFileApi::parsePendingRenames(unterminated), (Pairs{{"\\??\\C:\\a", ""}}));
    EXPECT_TRUE(ImageFileApi::parsePendingRenames({}).empty());
    EXPECT_TRUE(ImageFileApi::parsePendingRenames({0, 0, 0, 0}).empty());
    EXPECT_EQ(ImageFileApi::encodePendingRenames({}), (std::vector<uint8_t>{0, 0}));
}

TEST_F(ImageFilesTest, DeleteAtRestartRecordsAndCarriesOut) {
    EXPECT_FALSE(files.deleteAtRestart("C:\\Temp\\a.tmp"));  // no registry yet
    TreeRegistry reg;
    files.setRegistry(&reg);
    writeFile(c / "Temp" / "b.tmp", "b");
    files.lockFile("C:\\Temp\\a.tmp");
    EXPECT_TRUE(files.deleteAtRestart("C:/temp/./a.tmp"));
    EXPECT_TRUE(files.deleteAtRestart("C:\\Temp\\b.tmp"));
    EXPECT_TRUE(files.deleteAtRestart("C:\\Temp\\a.tmp"));  // already pending: once only
    EXPECT_FALSE(files.deleteAtRestart("C:\\Temp\\missing.tmp"));
    EXPECT_FALSE(files.deleteAtRestart("C:\\..\\outside\\canary.txt"));

    auto* v = reg.hklm.find(kSessionManager)->findValue("PendingFileRenameOperations");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, REG_MULTI_SZ);
    std::vector<uint8_t> expected = utf16("\\??\\C:\\temp\\a.tmp");
    for (int i = 0; i < 4; ++i) expected.push_back(0);  // end of name, empty target
    auto b = utf16("\\??\\C:\\Temp\\b.tmp");
    expected.insert(expected.end(), b.begin(), b.end());
    for (int i = 0; i < 6; ++i) expected.push_back(0);  // ... and the end of the list
    EXPECT_EQ(v->data, expected);
    EXPECT_TRUE(fs::exists(c / "Temp" / "a.tmp"));

    // Entries another program added: a rename, one replacing a file, one that
    // tries to leave the machine.
    writeFile(c / "Temp" / "new.dll", "new");
    writeFile(c / "Temp" / "old.dll", "old");
    writeFile(c / "Temp" / "x.txt", "x");
    writeFile(c / "Temp" / "c.tmp", "c");
    auto pairs = ImageFileApi::parsePendingRenames(v->data);
    pairs.push_back({"\\??\\C:\\Temp\\new.dll", "!\\??\\C:\\Temp\\OLD.dll"});
    pairs.push_back({"\\??\\C:\\Temp\\x.txt", "\\??\\C:\\Temp\\y.txt"});
    pairs.push_back({"\\??\\C:\\..\\outside\\canary.txt", ""});
    pairs.push_back({"\\??\\C:\\Temp\\c.tmp", "\\??\\C:\\Temp\\..\\..\\outside\\c.tmp"});
    v->data = ImageFileApi::encodePendingRenames(pairs);

    EXPECT_FALSE(files.carryOutPendingRenames());  // the two escapes fail
    EXPECT_FALSE(fs::exists(c / "Temp" / "a.tmp"));
    EXPECT_FALSE(fs::exists(c / "Temp" / "b.tmp"));
    EXPECT_EQ(readFile(c / "Temp" / "old.dll"), "new");
    EXPECT_FALSE(fs::exists(c / "Temp" / "new.dll"));
    EXPECT_TRUE(fs::exists(c / "Temp" / "y.txt"));
    EXPECT_TRUE(canaryIntact());
    EXPECT_FALSE(fs::exists(outside / "c.tmp"));
    EXPECT_TRUE(fs::exists(c / "Temp" / "c.tmp"));
    EXPECT_FALSE(reg.hklm.find(kSessionManager)->findValue("PendingFileRenameOperations"));
    EXPECT_TRUE(files.carryOutPendingRenames());  // nothing left to do
}

TEST_F(ImageFilesTest, TwoWorkersShareOneApi) {
    for (int i = 0; i < 20; ++i) writeFile(c / "Shared" / ("File" + std::to_string(i)), "x");
    auto worker = [&](int id) {
        std::string own = "C:\\Work" + std::to_string(id);
        for (int round = 0; round < 50; ++round) {
            EXPECT_TRUE(files.forceDirectories(own + "\\Sub"));
            EXPECT_TRUE(files.createFile(own + "\\SUB\\f.txt"));
            EXPECT_TRUE(files.fileExists("c:\\shared\\FILE" + std::to_string(round % 20)));
            EXPECT_EQ(files.findFiles("C:\\SHARED", "*")->size(), 22u);
            EXPECT_TRUE(files.shellDelete(lowerCase(own)));
        }
    };
    std::jthread a(worker, 1), b(worker, 2);
}

}  // namespace

TEST(ImageFilesShortNames, EightDotThreeAliasesFindTheLongNames) {
    brisko::test::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.path() / "Program Files" / "Old Photo Editor");
    fs::create_directories(dir.path() / "Program Files (x86)");
    brisko::test::writeFile(dir.path() / "Program Files" / "Old Photo Editor" / "photoed.exe", "x");
    brisko::DriveInfo c;
    c.letter = 'C';
    c.hostPath = fs::canonical(dir.path()).string();
    brisko::ImageFileApi files(fs::canonical(dir.path()), {c});
    EXPECT_TRUE(files.fileExists("C:\\PROGRA~1\\OLDPHO~1\\photoed.exe"));
    EXPECT_TRUE(files.fileExists("c:\\progra~1\\oldpho~1\\PHOTOED.EXE"));
    EXPECT_TRUE(files.directoryExists("C:\\PROGRA~2"));
    EXPECT_FALSE(files.directoryExists("C:\\PROGRA~3"));
    EXPECT_EQ(files.shortPathName("C:\\Program Files (x86)"), "C:\\PROGRA~2");
}
