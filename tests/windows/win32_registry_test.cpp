// The registry through advapi32 on the registry Wine (or Windows) keeps.
#include "core/machine/win32/win32_registry.h"
#include "base/text.h"
#include "core/machine/registry_key.h"
#include "win32_test_support.h"

#include <windows.h>

#include <algorithm>

namespace brisko::win32::test {
namespace {

class Win32RegistryTest : public Win32Test {};

TEST_F(Win32RegistryTest, ValuesOfEveryTypeComeBackAsStored) {
    auto k = m.registry().openKey(RootKey::CurrentUser, key, KeyAccess::Create);
    ASSERT_TRUE(k);
    const std::vector<uint8_t> bytes{0, 1, 2, 0xfe, 0xff};
    const std::vector<uint8_t> qword{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<uint8_t> dword{0x78, 0x56, 0x34, 0x12};
    const std::vector<uint8_t> multi = encodeMultiString({"eins", "zwei", "drei"});
    struct Case {
        const char* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } cases[] = {
        {"sz", REG_SZ, utf8ToUtf16le("C:\\Program Files\\x.exe")},
        {"expand", REG_EXPAND_SZ, utf8ToUtf16le("%SystemRoot%\\system32")},
        {"binary", REG_BINARY, bytes},
        {"dword", REG_DWORD, dword},
        {"big", REG_DWORD_BIG_ENDIAN, dword},
        {"multi", REG_MULTI_SZ, multi},
        {"qword", REG_QWORD, qword},
        {"none", REG_NONE, bytes},
        {"empty", REG_BINARY, {}},
        {"", REG_SZ, utf8ToUtf16le("default")},
        {"Wert äöü 日本", REG_SZ, utf8ToUtf16le("Straße ✓")},
    };
    for (const auto& c : cases) ASSERT_TRUE(k->setValue(c.name, c.type, c.data)) << c.name;
    for (const auto& c : cases) {
        auto v = k->value(c.name);
        ASSERT_TRUE(v) << c.name;
        EXPECT_EQ(v->type, c.type) << c.name;
        EXPECT_EQ(v->data, c.data) << c.name;
    }
    // The program's key object on top decodes them.
    RegistryKey rk(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(rk.openKeyReadOnly(key));
    EXPECT_EQ(rk.readString("expand"), "%SystemRoot%\\system32");  // unexpanded
    EXPECT_EQ(rk.readString("Wert äöü 日本"), "Straße ✓");
    EXPECT_EQ(rk.readInteger("dword"), 0x12345678);
    EXPECT_FALSE(rk.readInteger("big"));
    EXPECT_FALSE(rk.readString("binary"));
    EXPECT_EQ(rk.readMultiString("multi"), (std::vector<std::string>{"eins", "zwei", "drei"}));
    EXPECT_FALSE(rk.readString("missing"));
    EXPECT_EQ(rk.dataSize("qword"), 8u);
}

TEST_F(Win32RegistryTest, EnumerationOrderIsTheRegistrys) {
    auto k = m.registry().openKey(RootKey::CurrentUser, key, KeyAccess::Create);
    ASSERT_TRUE(k);
    // Subkeys come back sorted without regard to case; values in the order
    // they were written on Windows, sorted as well on Wine.
    for (const char* name : {"zeta", "Alpha", "beta", "Gamma", "delta"})
        ASSERT_TRUE(k->openSubkey(name, KeyAccess::Create));
    for (const char* name : {"zeta", "Alpha", "beta"})
        ASSERT_TRUE(k->setValue(name, REG_DWORD, std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(k->subkeyNames(),
              (std::vector<std::string>{"Alpha", "beta", "delta", "Gamma", "zeta"}));
    EXPECT_EQ(k->valueNames(), runningOnWine()
                                   ? (std::vector<std::string>{"Alpha", "beta", "zeta"})
                                   : (std::vector<std::string>{"zeta", "Alpha", "beta"}));
    auto info = k->info();
    EXPECT_EQ(info.subkeys, 5u);
    EXPECT_EQ(info.values, 3u);
    EXPECT_GT(info.lastWrite, 0);

    auto empty = k->openSubkey("delta", KeyAccess::Read);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->subkeyNames().empty());
    EXPECT_TRUE(empty->valueNames().empty());
}

TEST_F(Win32RegistryTest, AccessCreateAndDeleteWithSubtree) {
    auto& reg = m.registry();
    EXPECT_FALSE(reg.openKey(RootKey::CurrentUser, key + "\\a\\b", KeyAccess::ReadWrite));
    auto deep = reg.openKey(RootKey::CurrentUser, key + "\\a\\b\\c", KeyAccess::Create);
    ASSERT_TRUE(deep);
    ASSERT_TRUE(deep->setValue("v", REG_SZ, utf8ToUtf16le("x")));
    deep.reset();

    auto ro = reg.openKey(RootKey::CurrentUser, key + "\\a", KeyAccess::Read);
    ASSERT_TRUE(ro);
    EXPECT_FALSE(ro->writable());
    EXPECT_FALSE(ro->setValue("v", REG_SZ, utf8ToUtf16le("x")));
    EXPECT_FALSE(ro->deleteSubkey("b"));

    auto rw = reg.openKey(RootKey::CurrentUser, key, KeyAccess::ReadWrite);
    ASSERT_TRUE(rw);
    EXPECT_TRUE(rw->openSubkey("a\\b\\c", KeyAccess::Read));
    EXPECT_TRUE(rw->deleteSubkey("a"));
    EXPECT_FALSE(rw->openSubkey("a", KeyAccess::Read));
    EXPECT_FALSE(rw->deleteSubkey("a"));  // already gone
    EXPECT_FALSE(rw->deleteValue("never-there"));

    // Full key paths as lists and backups name them.
    EXPECT_TRUE(openFullPath(reg, "HKEY_CURRENT_USER\\" + key, KeyAccess::Read));
    EXPECT_TRUE(openFullPath(reg, "HKCU\\" + upperCase(key), KeyAccess::Read));
    EXPECT_FALSE(openFullPath(reg, "HKEY_NOWHERE\\" + key, KeyAccess::Read));

    // A root itself opens and lists.
    auto root = reg.openKey(RootKey::LocalMachine, "", KeyAccess::Read);
    ASSERT_TRUE(root);
    auto names = root->subkeyNames();
    EXPECT_NE(std::find_if(names.begin(), names.end(),
                           [](const std::string& n) { return equalsNoCase(n, "SOFTWARE"); }),
              names.end());
}

TEST_F(Win32RegistryTest, TheViewsOfA32BitProgramOn64BitWindows) {
    if (!m.isWow64()) GTEST_SKIP() << "32-bit Windows has one registry view";
    auto& reg = m.registry();
    std::string sub = "SOFTWARE\\BriskoTests-" + std::to_string(GetCurrentProcessId());
    auto k32 =
        reg.openKeyInView(RegistryView::Wow64_32, RootKey::LocalMachine, sub, KeyAccess::Create);
    ASSERT_TRUE(k32) << "HKLM needs an administrator";
    ASSERT_TRUE(k32->setValue("view", REG_SZ, utf8ToUtf16le("32")));
    k32.reset();
    // The 32-bit view's Software is Software\Wow6432Node of the system's own keys.
    std::string redirected = "SOFTWARE\\Wow6432Node\\" + sub.substr(9);
    EXPECT_TRUE(reg.openKey(RootKey::LocalMachine, redirected, KeyAccess::Read));
    EXPECT_FALSE(reg.openKey(RootKey::LocalMachine, sub, KeyAccess::Read));
    EXPECT_FALSE(
        reg.openKeyInView(RegistryView::Wow64_64, RootKey::LocalMachine, sub, KeyAccess::Read));
    EXPECT_TRUE(
        reg.openKeyInView(RegistryView::Wow64_32, RootKey::LocalMachine, sub, KeyAccess::Read));
    // Keys opened below a view stay in it, deletion included.
    auto software = reg.openKeyInView(RegistryView::Wow64_32, RootKey::LocalMachine, "SOFTWARE",
                                      KeyAccess::ReadWrite);
    ASSERT_TRUE(software);
    EXPECT_TRUE(software->openSubkey(sub.substr(9), KeyAccess::Read));
    EXPECT_TRUE(software->deleteSubkey(sub.substr(9)));
    EXPECT_FALSE(reg.openKey(RootKey::LocalMachine, redirected, KeyAccess::Read));
}

TEST_F(Win32RegistryTest, DevicePathsMapToDrives) {
    std::string device = m.files().queryDosDevice("C:");
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(Win32Registry::devicePathToDrivePath(device + "\\Windows\\System32\\config\\SYSTEM"),
              "C:\\Windows\\System32\\config\\SYSTEM");
    EXPECT_EQ(Win32Registry::devicePathToDrivePath(device), "C:");
    // A device name that only begins like C:'s is another device.
    EXPECT_EQ(Win32Registry::devicePathToDrivePath(device + "7\\x"), "");
    EXPECT_EQ(Win32Registry::devicePathToDrivePath("\\Device\\Nowhere\\x"), "");
    // Every hive the list names is a file on a drive.
    for (const auto& h : m.registry().hiveList()) {
        EXPECT_TRUE(h.keyPath.starts_with("\\REGISTRY\\")) << h.keyPath;
        EXPECT_TRUE(m.files().fileExists(h.filePath)) << h.filePath;
    }
}

TEST_F(Win32RegistryTest, HiveSaveWritesAFileOrFailsCleanly) {
    std::string target = dir + "\\user.hiv";
    auto user = m.currentUser();
    ASSERT_FALSE(user.sid.empty());
    bool saved = m.registry().saveHive("\\REGISTRY\\USER\\" + user.sid, target);
    EXPECT_EQ(saved, m.files().fileExists(target));
    if (saved) EXPECT_GT(m.files().fileInfo(target)->size, 0u);
    // Only the machine's and the users' hives can be named.
    EXPECT_FALSE(m.registry().saveHive("\\REGISTRY\\NOWHERE\\X", dir + "\\x.hiv"));
    EXPECT_FALSE(m.registry().replaceHive("SOFTWARE", dir + "\\a", dir + "\\b"));
}

}  // namespace
}  // namespace brisko::win32::test
