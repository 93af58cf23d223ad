#include "demo/machine_builder.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <chrono>
#include <cstdlib>

#include "base/text.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;

namespace brisko {
namespace {

const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-1000";

std::vector<uint8_t> wide(std::string_view s) {
    return utf8ToUtf16le(s);
}

std::string errorOf(MachineBuilder& b, std::string_view text) {
    try {
        b.addRegText(text);
    } catch (const RegFileError& e) {
        return e.message;
    }
    return "(no error)";
}

// Reads one value straight from a hive file, as an independent check of what
// the builder wrote.
std::optional<std::vector<uint8_t>> hiveValue(const fs::path& file, std::string_view keyPath,
                                              const char* name, hive_type* typeOut = nullptr) {
    hive_h* h = hivex_open(file.c_str(), 0);
    if (!h) return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    hive_node_h node = hivex_root(h);
    for (const auto& part : split(keyPath, '\\')) {
        if (!node || part.empty()) continue;
        node = hivex_node_get_child(h, node, part.c_str());
    }
    if (node) {
        if (hive_value_h v = hivex_node_get_value(h, node, name)) {
            hive_type type;
            size_t len;
            if (char* data = hivex_value_value(h, v, &type, &len)) {
                result.emplace(data, data + len);
                if (typeOut) *typeOut = type;
                std::free(data);
            }
        }
    }
    hivex_close(h);
    return result;
}

TEST(MachineBuilder, RoutesEveryRootToItsHive) {
    MachineBuilder b("Alex", kSid);
    b.addRegText(
        "REGEDIT4\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:00000002\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"a\"=\"1\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\x]\r\n"
        "[HKEY_LOCAL_MACHINE\\SAM\\SAM]\r\n[HKEY_LOCAL_MACHINE\\SECURITY\\Policy]\r\n"
        "[HKEY_USERS\\.DEFAULT\\Control Panel]\r\n"
        "[HKEY_CURRENT_USER\\Software\\App]\r\n"
        "[HKEY_USERS\\" +
        kSid +
        "\\Environment]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Classes\\.txt]\r\n"
        "[HKEY_USERS\\" +
        kSid +
        "_Classes\\CLSID]\r\n"
        "[HKEY_USERS\\" +
        kSid +
        "\\Software\\Classes\\.doc]\r\n"
        "[HKEY_CLASSES_ROOT\\.exe]\r\n"
        "[HKEY_CURRENT_CONFIG\\Software\\Fonts]\r\n");
    EXPECT_TRUE(b.hive("SOFTWARE").find("Vendor")->findValue("a"));
    EXPECT_TRUE(b.hive("SYSTEM").find("ControlSet002\\Services\\x"));
    EXPECT_TRUE(b.hive("sam").find("SAM"));
    EXPECT_TRUE(b.hive("SECURITY").find("Policy"));
    EXPECT_TRUE(b.hive("DEFAULT").find("Control Panel"));
    EXPECT_TRUE(b.hive("NTUSER").find("Software\\App"));
    EXPECT_TRUE(b.hive("NTUSER").find("Environment"));
    EXPECT_FALSE(b.hive("NTUSER").find("Software\\Classes"));
    EXPECT_TRUE(b.hive("USRCLASS").find(".txt"));
    EXPECT_TRUE(b.hive("USRCLASS").find("CLSID"));
    EXPECT_TRUE(b.hive("USRCLASS").find(".doc"));
    EXPECT_TRUE(b.hive("SOFTWARE").find("Classes\\.exe"));
    EXPECT_TRUE(b.hive("SYSTEM").find("ControlSet002\\Hardware Profiles\\0001\\Software\\Fonts"));
    EXPECT_THROW(b.hive("HARDWARE"), std::invalid_argument);
}

TEST(MachineBuilder, DeletesAndRejectsAsAWhole) {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\A\\B]\r\n\"v\"=\"x\"\r\n\"w\"=\"y\"\r\n"
        "[HKEY_CURRENT_USER\\A\\B]\r\n\"w\"=-\r\n[-HKEY_CURRENT_USER\\A\\B\\C]\r\n");
    b.addRegText("REGEDIT4\r\n[-HKEY_CURRENT_USER\\A\\B]\r\n");
    EXPECT_TRUE(b.hive("NTUSER").find("A"));
    EXPECT_FALSE(b.hive("NTUSER").find("A\\B"));

    // A key no hive holds stops the whole text, with the line that names it.
    const std::string bad =
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Kept]\r\n[HKEY_LOCAL_MACHINE\\HARDWARE\\X]\r\n";
    EXPECT_EQ(errorOf(b, bad),
              "line 3: HKEY_LOCAL_MACHINE\\HARDWARE\\X is not kept in any hive of the machine");
    EXPECT_FALSE(b.hive("NTUSER").find("Kept"));
    EXPECT_EQ(errorOf(b, "REGEDIT4\r\n[HKEY_USERS\\S-1-5-18\\X]\r\n"),
              "line 2: HKEY_USERS\\S-1-5-18\\X is not kept in any hive of the machine");
    EXPECT_EQ(errorOf(b, "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"),
              "line 2: the root key of a hive cannot be deleted");
    EXPECT_EQ(errorOf(b, "hello"), "not a registry file (no REGEDIT4 header)");
}

TEST(MachineBuilder, RefusesPathsOffTheDriveAndBadNames) {
    MachineBuilder b;
    EXPECT_THROW(b.addFile("D:\\a.txt", "x"), std::invalid_argument);
    EXPECT_THROW(b.addFile("C:\\Users\\..\\..\\etc\\passwd", "x"), std::invalid_argument);
    EXPECT_THROW(b.addFile("C:\\", "x"), std::invalid_argument);
    EXPECT_THROW(b.addFolder("C:\\a\\file.txt:stream"), std::invalid_argument);
    EXPECT_THROW(b.addFolder("relative\\path"), std::invalid_argument);
    EXPECT_THROW(MachineBuilder("..", kSid), std::invalid_argument);
    EXPECT_THROW(MachineBuilder("a/b", kSid), std::invalid_argument);
}

TEST(MachineBuilder, WritesHivesFilesAndFolders) {
    test::TempDir dir;
    MachineBuilder b("Alex", kSid);
    b.addRegText(
        "Windows Registry Editor Version 5.00\r\n"
        "[HKEY_CURRENT_USER\\Software\\Brisko]\r\n\"Name\"=\"caf\xC3\xA9\"\r\n"
        "[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n");
    const int64_t fileTime = 130000000000000000LL;  // 2012-12-13
    b.addFile("C:\\Users\\Alex\\AppData\\Local\\Temp\\a.tmp", "temp", fileTime);
    b.addFile("c:/users/alex/Desktop/notes.txt", "hi");  // same folder, other case
    b.addFolder("C:\\Windows\\Prefetch\\");
    b.write(dir.path());

    const fs::path config = dir.path() / "Windows" / "System32" / "config";
    for (const char* h : {"SOFTWARE", "SYSTEM", "SAM", "SECURITY", "DEFAULT"})
        EXPECT_TRUE(fs::is_regular_file(config / h)) << h;
    const fs::path user = dir.path() / "Users" / "Alex";
    EXPECT_EQ(test::readFile(user / "AppData" / "Local" / "Temp" / "a.tmp"), "temp");
    EXPECT_EQ(test::readFile(user / "Desktop" / "notes.txt"), "hi");
    EXPECT_FALSE(fs::exists(dir.path() / "users"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "Windows" / "Prefetch"));
    auto written = fs::last_write_time(user / "AppData" / "Local" / "Temp" / "a.tmp");
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(written).time_since_epoch());
    EXPECT_EQ(seconds.count(), fileTime / 10000000 - 11644473600LL);

    // Read back with hivex: the user's value, the base keys, the Classes view.
    hive_type type{};
    EXPECT_EQ(hiveValue(user / "NTUSER.DAT", "Software\\Brisko", "Name", &type),
              wide("caf\xC3\xA9"));
    EXPECT_EQ(type, hive_t_REG_SZ);
    EXPECT_EQ(hiveValue(config / "SYSTEM", "Select", "Current"),
              (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(hiveValue(config / "SYSTEM", "Select", "Failed"), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(hiveValue(config / "SOFTWARE",
                        "Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + kSid,
                        "ProfileImagePath", &type),
              wide("C:\\Users\\Alex"));
    EXPECT_EQ(type, hive_t_REG_EXPAND_SZ);
    EXPECT_EQ(hiveValue(config / "SOFTWARE", "Classes\\.txt", ""), wide("txtfile"));
    EXPECT_TRUE(hiveValue(user / "AppData" / "Local" / "Microsoft" / "Windows" / "UsrClass.dat", "",
                          "nothing") == std::nullopt);
    EXPECT_TRUE(fs::is_regular_file(user / "AppData/Local/Microsoft/Windows/UsrClass.dat"));
}

// The folder opens as a machine, and every root shows what the text put there.
TEST(MachineBuilder, OpensAsAnImageMachine) {
    test::TempDir dir;
    MachineBuilder b("Alex", kSid);
    b.addRegText(
        "REGEDIT4\r\n"
        "[HKEY_CURRENT_USER\\Software\\Brisko]\r\n\"Count\"=dword:0000002a\r\n"
        "[HKEY_CURRENT_USER\\Software\\Classes\\.log]\r\n@=\"logfile\"\r\n"
        "[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Beep]\r\n"
        "\"Start\"=dword:00000001\r\n"
        "[HKEY_CURRENT_CONFIG\\System\\Display]\r\n\"Mode\"=\"x\"\r\n");
    b.write(dir.path());

    ImageMachine m(dir.path());
    EXPECT_EQ(m.currentUser().name, "Alex");
    auto read = [&](RootKey root, std::string_view path, std::string_view name) {
        RegistryKey k(m.registry(), root);
        if (!k.openKeyReadOnly(path)) return std::optional<RegValue>();
        return k.handle()->value(name);
    };
    EXPECT_EQ(read(RootKey::CurrentUser, "Software\\Brisko", "Count")->data,
              (std::vector<uint8_t>{42, 0, 0, 0}));
    EXPECT_EQ(read(RootKey::ClassesRoot, ".log", "")->data, wide("logfile"));
    EXPECT_EQ(read(RootKey::ClassesRoot, ".txt", "")->data, wide("txtfile"));
    EXPECT_TRUE(read(RootKey::LocalMachine, "SYSTEM\\ControlSet001\\Services\\Beep", "Start"));
    EXPECT_TRUE(read(RootKey::CurrentConfig, "System\\Display", "Mode"));

    // Exported from the hive-backed registry, the key reads as it was written.
    auto text = exportRegText(m.registry(), "HKEY_CURRENT_USER\\Software\\Brisko");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Brisko]\r\n\"Count\"=dword:0000002a\r\n\r\n");
}

TEST(MachineBuilder, NeverWritesThroughASymbolicLink) {
    test::TempDir dir, outside;
    fs::create_directories(dir.path() / "m");
    fs::create_directory_symlink(outside.path(), dir.path() / "m" / "Users");
    MachineBuilder b;
    EXPECT_THROW(b.write(dir.path() / "m"), std::runtime_error);
    EXPECT_TRUE(fs::is_empty(outside.path()));
}

}  // namespace
}  // namespace brisko
