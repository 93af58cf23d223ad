// The Defrag pane's hive list: hivelist device paths mapped to files on
// drive letters, and entries without a usable file left out.
#include <gtest/gtest.h>

#include "core/fake_machine.h"
#include "core/memory_registry.h"
#include "defrag/hive_list.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;

// Fixed drives C: and D: whose device names share a prefix, and a CD drive.
class DriveFiles : public test::FakeFileApi {
  public:
    using FakeFileApi::FakeFileApi;
    std::vector<DriveInfo> drives() override {
        return {{'C', DriveKind::Fixed, "\\Device\\HarddiskVolume1"},
                {'D', DriveKind::Fixed, "\\Device\\HarddiskVolume10"},
                {'E', DriveKind::CdRom, "\\Device\\CdRom0"}};
    }
    DriveKind driveType(std::string_view root) override {
        for (const auto& d : drives())
            if (!root.empty() && std::toupper(static_cast<unsigned char>(root[0])) == d.letter)
                return d.kind;
        return DriveKind::NoRootDir;
    }
    std::string queryDosDevice(std::string_view drive) override {
        for (const auto& d : drives())
            if (!drive.empty() && std::toupper(static_cast<unsigned char>(drive[0])) == d.letter)
                return d.device;
        return {};
    }
    // File names compare without regard to case, as on Windows.
    bool fileExists(std::string_view win) override { return fs::is_regular_file(host(lower(win))); }
    void touch(std::string_view win) {
        fs::create_directories(host(lower(win)).parent_path());
        test::writeFile(host(lower(win)), "regf");
    }

  private:
    static std::string lower(std::string_view s) {
        std::string out(s);
        for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
        return out;
    }
};

class HiveListMachine : public test::StubMachine {
  public:
    HiveListMachine() : files_(dir_.path()) {}
    RegistryApi& registry() override { return registry_; }
    FileApi& files() override { return files_; }

    test::TempDir dir_;
    DriveFiles files_;
    test::MemoryRegistry registry_;
};

}  // namespace

TEST(HiveList, DeviceNamesMatchWholeVolumesWhateverTheirCase) {
    HiveListMachine m;
    auto& files = m.files_;
    files.touch("D:\\Windows\\System32\\config\\SYSTEM");
    files.touch("C:\\Windows\\System32\\config\\SAM");
    // What \Device\HarddiskVolume1 inside ...Volume10 would make of the path.
    files.touch("C:0\\Windows\\System32\\config\\SYSTEM");
    EXPECT_EQ(MapHiveFilePath(
                  files, "\\Device\\HarddiskVolume10\\Windows\\System32\\config\\SYSTEM", false),
              "D:\\Windows\\System32\\config\\SYSTEM");
    EXPECT_EQ(
        MapHiveFilePath(files, "\\Device\\HarddiskVolume1\\Windows\\System32\\config\\SAM", false),
        "C:\\Windows\\System32\\config\\SAM");
    EXPECT_EQ(
        MapHiveFilePath(files, "\\DEVICE\\harddiskvolume1\\WINDOWS\\system32\\CONFIG\\sam", false),
        "C:\\WINDOWS\\system32\\CONFIG\\sam");
    // Without the leading backslash the exact match finds it, by a lower-case letter.
    EXPECT_EQ(
        MapHiveFilePath(files, "Device\\HarddiskVolume1\\Windows\\System32\\config\\SAM", false),
        "c:\\Windows\\System32\\config\\SAM");
    // A volume without a drive letter, one not fixed, a file that is not there.
    EXPECT_EQ(
        MapHiveFilePath(files, "\\Device\\HarddiskVolume7\\Windows\\System32\\config\\SAM", false),
        "");
    EXPECT_EQ(MapHiveFilePath(files, "\\Device\\CdRom0\\config\\SAM", false), "");
    EXPECT_EQ(MapHiveFilePath(files, "\\Device\\HarddiskVolume1\\Windows\\nothing", false), "");
}

TEST(HiveList, A32BitProgramOn64BitWindowsSeesSystem32AsSysnative) {
    HiveListMachine m;
    auto& files = m.files_;
    files.touch("C:\\Windows\\System32\\config\\SOFTWARE");
    files.touch("C:\\Windows\\sysnative\\config\\SOFTWARE");
    files.touch("C:\\Windows\\System32\\config\\SYSTEM");
    const char* software = "\\Device\\HarddiskVolume1\\Windows\\System32\\config\\SOFTWARE";
    EXPECT_EQ(MapHiveFilePath(files, software, true), "C:\\Windows\\sysnative\\config\\SOFTWARE");
    EXPECT_EQ(MapHiveFilePath(files, software, false), "C:\\Windows\\System32\\config\\SOFTWARE");
    // No sysnative file: the path stays as listed.
    EXPECT_EQ(MapHiveFilePath(files, "\\Device\\HarddiskVolume1\\Windows\\System32\\config\\SYSTEM",
                              true),
              "C:\\Windows\\System32\\config\\SYSTEM");
    EXPECT_EQ(HiveCopyFile(MapHiveFilePath(files, software, true)),
              "C:\\Windows\\sysnative\\config\\SOFTWARE.fdc");
}

TEST(HiveList, OnlyHivesWithAFileAreListedInRegistryOrder) {
    HiveListMachine m;
    m.files_.touch("C:\\Windows\\System32\\config\\SYSTEM");
    m.files_.touch("D:\\Users\\Ann\\NTUSER.DAT");
    RegTreeKey* list = m.registry_.root(RootKey::LocalMachine)
                           .find("SYSTEM\\CurrentControlSet\\Control\\hivelist", true);
    auto sz = [](const char* s) { return utf8ToUtf16le(s); };
    list->setValue("\\REGISTRY\\MACHINE\\HARDWARE", REG_SZ, sz(""));
    list->setValue("\\REGISTRY\\USER\\S-1-5-21-1", REG_EXPAND_SZ,
                   sz("\\Device\\HarddiskVolume10\\Users\\Ann\\NTUSER.DAT"));
    list->setValue("\\REGISTRY\\MACHINE\\BCD00000000", REG_SZ,
                   sz("\\Device\\HarddiskVolume3\\Boot\\BCD"));
    list->setValue("\\REGISTRY\\MACHINE\\SYSTEM", REG_SZ,
                   sz("\\Device\\HarddiskVolume1\\Windows\\System32\\config\\SYSTEM"));
    list->setValue("\\REGISTRY\\MACHINE\\ODD", REG_BINARY, {1, 2, 3});
    auto hives = BuildHiveList(m, false);
    ASSERT_EQ(hives.size(), 2u);
    EXPECT_EQ(hives[0].name, "\\REGISTRY\\USER\\S-1-5-21-1");
    EXPECT_EQ(hives[0].file, "D:\\Users\\Ann\\NTUSER.DAT");
    EXPECT_EQ(hives[1].name, "\\REGISTRY\\MACHINE\\SYSTEM");
}

}  // namespace brisko
