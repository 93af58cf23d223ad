#include <gtest/gtest.h>

#include <fstream>

#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/registry_key.h"
#include "core/startup.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"

using namespace brisko;
namespace fs = std::filesystem;

namespace {
// One demo machine for the whole suite: building it is the slow part.
class DemoMachine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        createDemoMachine(dir_->path() / "demo");
    }
    static void TearDownTestSuite() { delete dir_; }
    static fs::path folder() { return dir_->path() / "demo"; }
    static test::TempDir* dir_;
};
test::TempDir* DemoMachine::dir_ = nullptr;

std::string readString(Machine& m, RootKey root, std::string_view key, std::string_view name) {
    RegistryKey k(m.registry(), root);
    if (!k.openKeyReadOnly(key)) return "<no key>";
    return k.readString(name).value_or("<no value>");
}
}  // namespace

TEST_F(DemoMachine, OpensAsWindows7WithOneUser) {
    ImageMachine m(folder());
    EXPECT_TRUE(m.warnings().empty());
    auto v = m.version();
    EXPECT_EQ(v.major, 6);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(v.build, 7601);
    EXPECT_EQ(WindowsVersionCode(v), 12);
    EXPECT_FALSE(m.isWow64());
    auto user = m.currentUser();
    EXPECT_EQ(user.name, "Alex");
    EXPECT_EQ(user.sid, "S-1-5-21-1004336348-1177238915-682003330-1000");
    EXPECT_EQ(user.profile, "C:\\Users\\Alex");
    EXPECT_EQ(m.windowsDirectory(), "C:\\Windows");
    EXPECT_EQ(m.tempPath(), "C:\\Users\\Alex\\AppData\\Local\\Temp\\");
    EXPECT_EQ(m.programFolder(), "C:\\Program Files\\Brisko Cleaner\\");
}

TEST_F(DemoMachine, SpecialFoldersComeFromTheUsersShellFolders) {
    ImageMachine m(folder());
    EXPECT_EQ(m.specialFolder(CSIDL_APPDATA), "C:\\Users\\Alex\\AppData\\Roaming\\");
    EXPECT_EQ(m.specialFolder(CSIDL_PROFILE), "C:\\Users\\Alex\\");
    EXPECT_EQ(m.specialFolder(CSIDL_RECENT), "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\");
    EXPECT_EQ(m.specialFolder(CSIDL_COMMON_STARTUP),
              "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\");
    EXPECT_EQ(m.specialFolder(CSIDL_FONTS), "C:\\Windows\\Fonts\\");
    for (int csidl : kCsidlList) {
        auto path = m.specialFolder(csidl);
        ASSERT_FALSE(path.empty()) << csidl;
        EXPECT_EQ(path.back(), '\\') << csidl;
    }
    EXPECT_EQ(m.specialFolder(999), "");
    EXPECT_EQ(m.expandEnvironmentStrings("%SystemRoot%\\x;%TEMP%;%nope%;100%"),
              "C:\\Windows\\x;C:\\Users\\Alex\\AppData\\Local\\Temp;%nope%;100%");
}

TEST_F(DemoMachine, RegistryRootsAndHiveList) {
    ImageMachine m(folder());
    EXPECT_EQ(readString(m, RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                         "ProductName"),
              "Windows 7 Professional");
    EXPECT_EQ(readString(m, RootKey::CurrentUser, "Control Panel\\Desktop", "Wallpaper"),
              "C:\\Windows\\Web\\Wallpaper\\Windows\\img0.jpg");
    EXPECT_EQ(readString(m, RootKey::LocalMachine,
                         "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                         "ComputerName"),
              "ALEX-PC");
    auto hives = m.registry().hiveList();
    std::vector<std::string> names;
    for (const auto& h : hives) names.push_back(h.keyPath);
    for (const char* expected :
         {"\\REGISTRY\\MACHINE\\SYSTEM", "\\REGISTRY\\MACHINE\\SOFTWARE", "\\REGISTRY\\MACHINE\\SAM",
          "\\REGISTRY\\MACHINE\\SECURITY", "\\REGISTRY\\USER\\.DEFAULT",
          "\\REGISTRY\\USER\\S-1-5-21-1004336348-1177238915-682003330-1000",
          "\\REGISTRY\\USER\\S-1-5-21-1004336348-1177238915-682003330-1000_Classes"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    RegistryKey hl(m.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(hl.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\hivelist"));
    EXPECT_EQ(hl.readString("\\REGISTRY\\MACHINE\\SOFTWARE").value_or(""),
              "\\Device\\HarddiskVolume2\\Windows\\System32\\config\\SOFTWARE");
}

TEST(ImageMachineOpen, ExplainsWhatIsWrong) {
    test::TempDir dir;
    try {
        ImageMachine m(dir.path() / "missing");
        FAIL();
    } catch (const MachineOpenError& e) {
        EXPECT_NE(e.message.find("does not exist"), std::string::npos);
    }
    try {
        ImageMachine m(dir.path());
        FAIL();
    } catch (const MachineOpenError& e) {
        EXPECT_NE(e.message.find("no Windows installation"), std::string::npos);
    }
}

TEST(ImageMachineOpen, BrokenUserHiveIsAWarningNotAFailure) {
    test::TempDir dir;
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.write(dir.path());
    test::writeFile(dir.path() / "Users" / "Sam" / "NTUSER.DAT", "this is not a hive");
    ImageMachine m(dir.path());
    EXPECT_FALSE(m.warnings().empty());
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    EXPECT_FALSE(k.openKeyReadOnly("Software"));
}

TEST(ImageMachineOpen, MachineIniDrivesAndUser) {
    test::TempDir dir;
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.write(dir.path() / "c");
    fs::create_directories(dir.path() / "usb");
    test::writeFile(dir.path() / "machine.ini",
                    "[Machine]\nIs64Bit=1\nAdministrator=0\n"
                    "[Drive C]\nPath=c\n[Drive E]\nPath=usb\nKind=removable\n"
                    "[Drive F]\nKind=cdrom\nPath=usb\nMedia=0\n");
    ImageMachine m(dir.path());
    EXPECT_TRUE(m.isWow64());
    EXPECT_FALSE(m.isAdministrator());
    auto drives = m.files().drives();
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(drives[1].kind, DriveKind::Removable);
    EXPECT_FALSE(drives[2].mediaPresent);
    EXPECT_EQ(m.currentUser().name, "Sam");

    test::writeFile(dir.path() / "machine.ini", "[Drive C]\nPath=../..\n");
    EXPECT_THROW(ImageMachine{dir.path()}, MachineOpenError);
    test::writeFile(dir.path() / "machine.ini", "[Drive C]\nPath=c\n[Machine]\nUser=Nobody\n");
    EXPECT_THROW(ImageMachine{dir.path()}, MachineOpenError);
}

TEST(ImageMachineRestart, CarriesOutPendingDeletionsAndHiveReplacements) {
    test::TempDir dir;
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.addFile("C:\\Windows\\Temp\\locked.tmp", "x");
    b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Old]\n\"a\"=\"1\"\n");
    b.write(dir.path());
    {
        ImageMachine m(dir.path());
        ASSERT_TRUE(m.files().deleteAtRestart("C:\\Windows\\Temp\\locked.tmp"));
        auto& reg = m.registry();
        auto hive = reg.hiveList();
        std::string ntuser;
        for (const auto& h : hive)
            if (h.keyPath == "\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001") ntuser = h.filePath;
        ASSERT_FALSE(ntuser.empty());
        // A compact copy made after a change, put in place at the next start.
        RegistryKey k(reg, RootKey::CurrentUser);
        ASSERT_TRUE(k.openKey("Software\\New", true));
        ASSERT_TRUE(k.writeString("b", "2"));
        ASSERT_TRUE(reg.saveHive("\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001", ntuser + ".fdc"));
        ASSERT_TRUE(k.deleteKey("\\Software\\Old"));
        ASSERT_TRUE(reg.replaceHive("\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001", ntuser + ".fdc",
                                    ntuser + ".bak"));
        ASSERT_TRUE(m.restart());
        EXPECT_FALSE(m.files().fileExists("C:\\Windows\\Temp\\locked.tmp"));
        EXPECT_TRUE(m.files().fileExists(ntuser + ".bak"));
        EXPECT_FALSE(m.files().fileExists(ntuser + ".fdc"));
        RegistryKey after(m.registry(), RootKey::CurrentUser);
        EXPECT_TRUE(after.openKeyReadOnly("Software\\New"));
        // The copy was taken before Old was deleted: the hive changed after it
        // was copied, so it was copied again and the deletion is not lost.
        EXPECT_FALSE(after.openKeyReadOnly("\\Software\\Old"));
    }
    ImageMachine again(dir.path());
    EXPECT_TRUE(again.imageRegistry().pendingReplacements().empty());
    RegistryKey sm(again.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(sm.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
    auto pending = sm.readBinary("PendingFileRenameOperations");
    EXPECT_TRUE(!pending || pending->size() <= 2);
}
