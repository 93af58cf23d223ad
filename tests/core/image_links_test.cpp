// The image file layer against links, second hard links, special files and
// races: nothing outside the machine folder is ever read, written or deleted,
// and inside it nothing is written through a link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/machine/image/beneath_open.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/machine_ini.h"
#include "core/settings.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"

using namespace brisko;
namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

namespace {

class ImageLinksTest : public ::testing::Test {
  protected:
    ImageLinksTest()
        : machine(tmp.path() / "machine"),
          outside(tmp.path() / "outside"),
          files(machine, {{'C', DriveKind::Fixed, "\\Device\\HarddiskVolume2", "."}}) {}

    void SetUp() override {
        writeFile(machine / "Temp" / "a.tmp", "aaaa");
        writeFile(machine / "Docs" / "letter.doc", "dear");
        writeFile(outside / "secret.txt", "outside");
    }

    test::TempDir tmp;
    fs::path machine, outside;
    ImageFileApi files;
};

TEST_F(ImageLinksTest, ListingsShowLinksAsReparsePointsWithoutData) {
    fs::create_directory_symlink("../Docs", machine / "Temp" / "docs");
    fs::create_symlink("../Docs/letter.doc", machine / "Temp" / "letter.lnk");
    auto list = files.findFiles("C:\\Temp", "*");
    ASSERT_TRUE(list);
    std::map<std::string, FileEntry> byName;
    for (auto& e : *list) byName[e.name] = e;
    EXPECT_FALSE(byName["a.tmp"].isLink());
    EXPECT_EQ(byName["a.tmp"].size, 4u);
    EXPECT_TRUE(byName["docs"].isLink());
    EXPECT_TRUE(byName["docs"].isDirectory());
    EXPECT_TRUE(byName["letter.lnk"].isLink());
    EXPECT_FALSE(byName["letter.lnk"].isDirectory());
    EXPECT_EQ(byName["letter.lnk"].size, 0u);
    // Every spelling of one place has one id; a link has its target's.
    auto docs = files.placeId("C:\\Docs");
    ASSERT_TRUE(docs);
    for (const char* p : {"c:\\docs\\", "C:\\Temp\\..\\Docs\\.", "C:/Docs", "C:\\Temp\\docs"})
        EXPECT_EQ(files.placeId(p), docs) << p;
    EXPECT_NE(files.placeId("C:\\Temp"), docs);
    EXPECT_FALSE(files.placeId("C:\\Nowhere"));
}

TEST_F(ImageLinksTest, NothingIsWrittenThroughALinkOrIntoAFileWithASecondName) {
    fs::create_symlink("../Docs/letter.doc", machine / "Temp" / "letter.lnk");
    ASSERT_EQ(::link((machine / "Docs" / "letter.doc").c_str(),
                     (machine / "Temp" / "letter.hard").c_str()),
              0);
    bool outsideLink =
        ::link((outside / "secret.txt").c_str(), (machine / "Temp" / "secret.hard").c_str()) == 0;
    std::vector<std::string> names = {"letter.lnk", "letter.hard"};
    if (outsideLink) names.push_back("secret.hard");
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const std::string win = "C:\\Temp\\" + name;
        EXPECT_FALSE(files.openFile(win, FileMode::ReadWrite));
        EXPECT_TRUE(files.openFile(win, FileMode::Read));
        // Creating, copying over: the name gets a file of its own.
        auto h = files.createFile(win);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->write("new", 3), 3);
        h.reset();
        EXPECT_EQ(readFile(machine / "Temp" / name), "new");
        EXPECT_EQ(fs::hard_link_count(machine / "Temp" / name), 1u);
        EXPECT_FALSE(fs::is_symlink(machine / "Temp" / name));
    }
    EXPECT_EQ(readFile(machine / "Docs" / "letter.doc"), "dear");
    EXPECT_EQ(readFile(outside / "secret.txt"), "outside");

    if (outsideLink) {
        ASSERT_EQ(::link((outside / "secret.txt").c_str(), (machine / "Temp" / "again").c_str()),
                  0);
        EXPECT_TRUE(files.copyFile("C:\\Temp\\a.tmp", "C:\\Temp\\again", false));
        EXPECT_EQ(readFile(machine / "Temp" / "again"), "aaaa");
        EXPECT_EQ(readFile(outside / "secret.txt"), "outside");
    }
    // A file made new never takes an existing name.
    EXPECT_FALSE(files.createNewFile("C:\\Temp\\a.tmp"));
    EXPECT_TRUE(files.createNewFile("C:\\Temp\\fresh.tmp"));
    EXPECT_FALSE(files.createNewFile("C:\\Temp\\fresh.tmp"));
}

// A folder swapped for a link to an outside folder while the cleaner works in
// it: whatever the timing, no operation reaches the outside folder.
TEST_F(ImageLinksTest, AFolderSwappedForALinkNeverCarriesAnOperationOut) {
    constexpr int kFiles = 400;
    fs::create_directories(outside / "tree");
    fs::create_directories(machine / "Temp" / "real");
    for (int i = 0; i < kFiles; ++i) {
        writeFile(outside / "tree" / ("f" + std::to_string(i)), "outside");
        writeFile(machine / "Temp" / "real" / ("f" + std::to_string(i)), "inside");
    }
    fs::create_directory_symlink(outside / "tree", machine / "Temp" / "link");
    const fs::path race = machine / "Temp" / "race", real = machine / "Temp" / "real",
                   link = machine / "Temp" / "link";
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            ::rename(real.c_str(), race.c_str());
            ::rename(race.c_str(), real.c_str());
            ::rename(link.c_str(), race.c_str());
            ::rename(race.c_str(), link.c_str());
        }
    });
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string f = "C:\\Temp\\race\\f" + std::to_string(i);
            files.deleteFile(f);
            files.shellDelete(f);
            if (auto h = files.createFile(f)) h->write("x", 1);
            files.setAttributes(f, faReadOnly);
            files.moveFile(f, "C:\\Temp\\moved" + std::to_string(i));
            files.findFiles("C:\\Temp\\race", "*");
        }
        files.shellDelete("C:\\Temp\\race");
    }
    stop = true;
    swapper.join();
    for (int i = 0; i < kFiles; ++i) {
        const fs::path f = outside / "tree" / ("f" + std::to_string(i));
        ASSERT_TRUE(fs::exists(f)) << f;
        ASSERT_EQ(readFile(f), "outside") << f;
        ASSERT_NE(fs::status(f).permissions() & fs::perms::owner_write, fs::perms::none) << f;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(outside / "tree"), fs::directory_iterator()),
              kFiles);
}

TEST_F(ImageLinksTest, OpeningBelowTheMachineRefusesEveryLinkOnTheWay) {
    fs::create_directory_symlink("Docs", machine / "DocsLink");
    UniqueFd root(::open(machine.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd ok(image::openBeneath(root.fd, "Docs/letter.doc", O_RDONLY));
    EXPECT_GE(ok.fd, 0);
    UniqueFd viaLink(image::openBeneath(root.fd, "DocsLink/letter.doc", O_RDONLY));
    EXPECT_LT(viaLink.fd, 0);
    UniqueFd up(image::openBeneath(root.fd, "../outside/secret.txt", O_RDONLY));
    EXPECT_LT(up.fd, 0);
}

// machine.ini, read before anything else, is only ever a regular file inside
// the machine: a pipe would block every command, a device would be read
// without end, and a link out would show outside text in messages.
TEST(MachineIni, SpecialFilesAndLinksOutAreRefusedWithoutBeingRead) {
    test::TempDir tmp;
    const fs::path m = tmp.path();
    writeFile(m / "outside.ini", "[Machine]\r\nUser=Outsider\r\n");
    fs::create_directories(m / "machine");
    auto refused = [&](const char* what) {
        try {
            readMachineIni(m / "machine");
        } catch (const std::runtime_error& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find("machine.ini"), std::string::npos) << what << ": " << msg;
            EXPECT_EQ(msg.find("Outsider"), std::string::npos) << what;
            return true;
        }
        return false;
    };
    const fs::path ini = m / "machine" / "machine.ini";
    ASSERT_EQ(::mkfifo(ini.c_str(), 0644), 0);
    EXPECT_TRUE(refused("a pipe"));
    fs::remove(ini);
    fs::create_symlink("/dev/zero", ini);
    EXPECT_TRUE(refused("a device"));
    fs::remove(ini);
    fs::create_symlink("../outside.ini", ini);
    EXPECT_TRUE(refused("a link out"));
    fs::remove(ini);
    writeFile(ini, std::string(2 << 20, ';'));
    EXPECT_TRUE(refused("a huge file"));
    fs::remove(ini);
    writeFile(m / "machine" / "real.ini", "[Machine]\r\nUser=Inside\r\n");
    fs::create_symlink("real.ini", ini);
    EXPECT_EQ(readMachineIni(m / "machine").user, "Inside");
}

MachineBuilder smallMachine(bool is64) {
    MachineBuilder b;
    b.addFile("C:\\Windows\\System32\\drivers\\etc\\hosts", "127.0.0.1");
    if (is64) b.addFolder("C:\\Windows\\SysWOW64");
    b.addFolder("C:\\Users\\User\\Documents");
    return b;
}

TEST(ImageMachineFiles, SysnativeIsTheSystemFolderOnlyOnA64BitMachine) {
    for (bool is64 : {true, false}) {
        SCOPED_TRACE(is64);
        test::TempDir dir;
        smallMachine(is64).write(dir.path());
        ImageMachine m(dir.path());
        auto& f = m.files();
        EXPECT_EQ(f.fileExists("C:\\Windows\\Sysnative\\drivers\\etc\\hosts"), is64);
        EXPECT_EQ(f.fileExists("c:\\windows\\SYSNATIVE\\drivers\\etc\\hosts"), is64);
        EXPECT_TRUE(f.fileExists("C:\\Windows\\System32\\drivers\\etc\\hosts"));
        EXPECT_FALSE(f.fileExists("C:\\Sysnative\\drivers\\etc\\hosts"));
    }
}

TEST(ImageMachineFiles, LoadedHivesAndTheirLogsAreInUse) {
    test::TempDir dir;
    smallMachine(false).write(dir.path());
    writeFile(dir.path() / "Users" / "User" / "NTUSER.DAT.LOG1", "log");
    writeFile(dir.path() / "Users" / "User" / "other.dat", "other");
    ImageMachine m(dir.path());
    auto& f = m.files();
    for (const char* hive :
         {"C:\\Users\\User\\NTUSER.DAT", "c:\\users\\user\\ntuser.dat",
          "C:\\Users\\..\\Users\\User\\NTUSER.DAT", "C:\\Users\\User\\NTUSER.DAT.LOG1",
          "C:\\Windows\\System32\\config\\SYSTEM", "C:\\WINDOWS\\system32\\CONFIG\\software"}) {
        SCOPED_TRACE(hive);
        EXPECT_EQ(f.fileUse(hive), FileUse::LoadedHive);
        EXPECT_FALSE(f.deleteFile(hive));
        EXPECT_FALSE(f.shellDelete(hive));
        EXPECT_FALSE(f.deleteAtRestart(hive));
        EXPECT_FALSE(f.openFile(hive, FileMode::ReadWrite));
        EXPECT_FALSE(f.createFile(hive));
        EXPECT_FALSE(f.copyFile("C:\\Users\\User\\other.dat", hive, false));
        EXPECT_TRUE(f.openFile(hive, FileMode::Read));
        EXPECT_TRUE(f.fileExists(hive));
    }
    EXPECT_EQ(f.fileUse("C:\\Users\\User\\other.dat"), FileUse::Free);
    m.imageFiles().lockFile("C:\\Users\\User\\other.dat");
    EXPECT_EQ(f.fileUse("C:\\Users\\User\\other.dat"), FileUse::Locked);
    EXPECT_FALSE(f.shellDelete("C:\\Users\\User"));
    EXPECT_EQ(readFile(dir.path() / "Users" / "User" / "NTUSER.DAT.LOG1"), "log");
    EXPECT_TRUE(m.registry().commit());
}

// The settings file and its temporary file never write into a file that has
// a second name outside the machine.
TEST(ImageMachineFiles, SavingTheSettingsNeverTruncatesAPlantedHardLink) {
    test::TempDir dir, outside;
    smallMachine(false).write(dir.path());
    writeFile(outside.path() / "victim.txt", "victim");
    ImageMachine m(dir.path());
    SettingsLocation loc = LocateSettings(m);
    auto host = m.imageFiles().resolve(loc.fileName, false);
    ASSERT_TRUE(host);
    for (const char* name : {"options.ini", "options.ini.new"}) {
        fs::path planted = host->parent_path() / name;
        if (::link((outside.path() / "victim.txt").c_str(), planted.c_str()) != 0)
            GTEST_SKIP() << "the temporary folders are on different file systems";
    }
    TOptionsSetting s;
    EXPECT_TRUE(SaveSettings(m, s, nullptr, nullptr, nullptr));
    EXPECT_EQ(readFile(outside.path() / "victim.txt"), "victim");
    EXPECT_NE(readFile(*host).find("[Options]"), std::string::npos);
}

}  // namespace
