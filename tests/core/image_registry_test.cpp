#include "core/machine/image/image_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "base/text.h"
#include "core/machine/registry_key.h"
#include "hive/hive.h"
#include "hive/regf_writer.h"
#include "support/test_machine.h"

namespace brisko {

using namespace hive;
namespace {

namespace fs = std::filesystem;

const std::string kSid = "S-1-5-21-1111-2222-3333-1001";

std::vector<uint8_t> sz(std::string_view s) {
    return utf8ToUtf16le(s);
}
std::vector<uint8_t> dword(uint32_t v) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}
std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

void put(RegTreeKey& root, std::string_view path, std::string_view name, uint32_t type,
         std::vector<uint8_t> data) {
    root.find(path, true)->setValue(name, type, std::move(data));
}

std::string keyText(RegistryApi& reg, RootKey root, std::string_view path, std::string_view name) {
    RegistryKey key(reg, root);
    if (!key.openKeyReadOnly(path)) return "<no key>";
    return key.readString(name).value_or("<no value>");
}

bool runQuiet(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A small Windows 7 machine: the config hives, one user with NTUSER.DAT and
// UsrClass.dat, and a resolver that maps C:\ onto the folder.
class ImageRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        put(system, "Select", "Current", REG_DWORD, dword(2));
        put(system, "ControlSet001\\Control", "Marker", REG_SZ, sz("one"));
        put(system, "ControlSet002\\Control", "Marker", REG_SZ, sz("two"));
        put(system, "ControlSet002\\Control\\IDConfigDB", "CurrentConfig", REG_DWORD, dword(1));
        put(system, "ControlSet002\\Hardware Profiles\\0001\\Software\\Fonts", "LogPixels",
            REG_DWORD, dword(96));
        put(software, "Classes\\.txt", "", REG_SZ, sz("txtfile"));
        put(software, "Classes\\txtfile", "", REG_SZ, sz("Text Document"));
        put(software, "Classes\\Shared", "", REG_SZ, sz("machine"));
        put(software, "Classes\\Shared", "MachineOnly", REG_SZ, sz("m"));
        put(software, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", REG_SZ,
            sz("C:\\Program Files"));
        put(user, "Software\\Vendor", "Setting", REG_SZ, sz("user value"));
        put(user, "Environment", "TEMP", REG_EXPAND_SZ, sz("%USERPROFILE%\\Temp"));
        put(classes, ".user", "", REG_SZ, sz("userfile"));
        put(classes, "Shared", "", REG_SZ, sz("user"));
        put(classes, "Shared", "UserOnly", REG_SZ, sz("u"));
        put(defaultUser, "Control Panel\\Desktop", "Wallpaper", REG_SZ, sz(""));
    }

    fs::path host(std::string_view winPath) const {
        fs::path p = dir.path() / "C";
        for (const auto& part : split(winPath.substr(3), '\\'))
            if (!part.empty()) p /= part;
        return p;
    }

    HiveSpec hiveSpec(std::string mount, std::string winFile, const RegTreeKey* tree) {
        fs::path file = host(winFile);
        if (tree) {
            fs::create_directories(file.parent_path());
            EXPECT_TRUE(writeHiveFile(*tree, file));
        }
        std::string device = "\\Device\\HarddiskVolume2" + winFile.substr(2);
        return HiveSpec{std::move(mount), file, std::move(winFile), std::move(device)};
    }

    std::vector<HiveSpec> specs(bool withUserClasses = true) {
        const std::string config = "C:\\Windows\\System32\\config\\";
        const std::string profile = "C:\\Users\\Ann\\";
        std::vector<HiveSpec> s{
            hiveSpec("\\REGISTRY\\MACHINE\\SYSTEM", config + "SYSTEM", &system),
            hiveSpec("\\REGISTRY\\MACHINE\\SOFTWARE", config + "SOFTWARE", &software),
            hiveSpec("\\REGISTRY\\USER\\.DEFAULT", config + "DEFAULT", &defaultUser),
            hiveSpec("\\REGISTRY\\USER\\" + kSid, profile + "NTUSER.DAT", &user),
        };
        if (withUserClasses)
            s.push_back(hiveSpec("\\REGISTRY\\USER\\" + kSid + "_Classes",
                                 profile + "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
                                 &classes));
        return s;
    }

    std::unique_ptr<ImageRegistry> open(std::vector<HiveSpec> s) {
        auto root = dir.path();
        auto resolver = [this](std::string_view w) -> std::optional<fs::path> {
            if (w.size() < 3 || !startsWithNoCase(w, "C:\\") || w.find("..") != w.npos)
                return std::nullopt;
            return host(w);
        };
        return std::make_unique<ImageRegistry>(std::move(s), kSid, resolver, root / "pending.txt");
    }
    std::unique_ptr<ImageRegistry> open() { return open(specs()); }

    test::TempDir dir;
    RegTreeKey system, software, user, classes, defaultUser;
};

TEST_F(ImageRegistryTest, ValuesKeepTheirKindAndBytes) {
    std::vector<uint8_t> big(40000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    std::vector<uint8_t> qword{1, 2, 3, 4, 5, 6, 7, 8};
    auto multi = encodeMultiString({"one", "two"});
    put(software, "Kinds", "Sz", REG_SZ, sz("text"));
    put(software, "Kinds", "Expand", REG_EXPAND_SZ, sz("%SystemRoot%\\x"));
    put(software, "Kinds", "Dword", REG_DWORD, dword(0xDEADBEEF));
    put(software, "Kinds", "Binary", REG_BINARY, {0, 1, 2});
    put(software, "Kinds", "Multi", REG_MULTI_SZ, multi);
    put(software, "Kinds", "Qword", REG_QWORD, qword);
    put(software, "Kinds", "None", REG_NONE, {});
    put(software, "Kinds", "Big", REG_BINARY, big);
    put(software, "Kinds", "Odd", 0x12345, bytes("x"));
    put(software, "Kinds", "", REG_SZ, sz("default"));
    software.find("Kinds")->className = "KindClass";
    auto reg = open();

    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly("SOFTWARE\\Kinds"));
    EXPECT_EQ(key.valueNames(),
              (std::vector<std::string>{"Sz", "Expand", "Dword", "Binary", "Multi", "Qword", "None",
                                        "Big", "Odd", ""}));
    EXPECT_EQ(key.readString("sZ"), "text");
    EXPECT_EQ(key.readString("Expand"), "%SystemRoot%\\x");
    EXPECT_EQ(key.dataType("Expand"), REG_EXPAND_SZ);
    EXPECT_EQ(uint32_t(*key.readInteger("Dword")), 0xDEADBEEF);
    EXPECT_EQ(key.readBinary("Binary"), (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(key.readMultiString("Multi"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(key.readBinary("Multi"), multi);
    EXPECT_EQ(key.readBinary("Qword"), qword);
    EXPECT_EQ(key.dataType("Qword"), REG_QWORD);
    EXPECT_EQ(key.dataType("None"), REG_NONE);
    EXPECT_EQ(key.dataSize("None"), 0u);
    EXPECT_EQ(key.readBinary("Big"), big);
    EXPECT_EQ(key.dataType("Odd"), 0x12345u);
    EXPECT_EQ(key.readString(""), "default");
    EXPECT_FALSE(key.readInteger("Sz"));
    EXPECT_FALSE(key.valueExists("Missing"));

    auto info = key.keyInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->values, 10u);
    EXPECT_EQ(info->subkeys, 0u);
    EXPECT_EQ(info->maxValueNameLen, 6u);
    EXPECT_EQ(info->maxValueLen, 40000u);
    EXPECT_EQ(info->className, "KindClass");
    EXPECT_GT(info->lastWrite, 0);
}

TEST_F(ImageRegistryTest, SubkeysComeInRegistryOrderAndOpenWithoutRegardToCase) {
    for (const char* n : {"zeta", "Alpha", "\xC3\x84rger", "beta", "_under"})
        software.find(std::string("Order\\") + n, true);
    auto reg = open();
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly("software\\ORDER"));
    EXPECT_EQ(key.subkeyNames(),
              (std::vector<std::string>{"Alpha", "beta", "zeta", "_under", "\xC3\x84rger"}));
    EXPECT_TRUE(key.keyExists("\xC3\xA4RGER"));  // "ärger" finds "Ärger"
    EXPECT_TRUE(key.keyExists("ZETA"));
    EXPECT_FALSE(key.keyExists("eta"));
    EXPECT_TRUE(key.hasSubKeys());
}

TEST_F(ImageRegistryTest, ChangesPersistAfterCommitAndReopen) {
    auto files = specs();
    {
        auto reg = open(files);
        RegistryKey key(*reg, RootKey::LocalMachine);
        ASSERT_TRUE(key.openKey("SOFTWARE\\New\\Deep\\Key", true));
        EXPECT_TRUE(key.writeString("Name", "value"));
        EXPECT_TRUE(key.writeInteger("Count", 7));
        EXPECT_TRUE(key.writeExpandString("Path", "%TEMP%"));
        key.closeKey();
        ASSERT_TRUE(key.openKey("SOFTWARE\\Classes\\Shared"));
        EXPECT_TRUE(key.writeString("machineonly", "replaced"));  // same value, other case
        EXPECT_TRUE(key.deleteValue(""));
        EXPECT_FALSE(key.deleteValue("absent"));
        key.closeKey();
        EXPECT_TRUE(key.deleteKey("SOFTWARE\\Microsoft"));
        EXPECT_FALSE(key.deleteKey("SOFTWARE\\Microsoft"));
        EXPECT_TRUE(reg->commit());
        EXPECT_FALSE(fs::exists(files[1].hostFile.string() + ".tmp"));
    }
    EXPECT_TRUE(runQuiet("hivexml '" + files[1].hostFile.string() + "'"));
    auto reg = open(files);
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly("SOFTWARE\\New\\Deep\\Key"));
    EXPECT_EQ(key.readString("Name"), "value");
    EXPECT_EQ(key.readInteger("Count"), 7);
    EXPECT_EQ(key.dataType("Path"), REG_EXPAND_SZ);
    ASSERT_TRUE(key.openKeyReadOnly("\\SOFTWARE\\Classes\\Shared"));
    EXPECT_EQ(key.valueNames(), std::vector<std::string>{"MachineOnly"});
    EXPECT_EQ(key.readString("MachineOnly"), "replaced");
    EXPECT_FALSE(key.keyExists("\\SOFTWARE\\Microsoft"));
    EXPECT_FALSE(key.keyExists("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"));
}

TEST_F(ImageRegistryTest, DeletedKeysVanishForEveryHandle) {
    put(software, "Gone\\A\\B", "v", REG_SZ, sz("x"));
    auto reg = open();
    auto inner = reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Gone\\A", KeyAccess::ReadWrite);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->subkeyNames(), std::vector<std::string>{"B"});
    EXPECT_TRUE(deleteFullPath(*reg, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone"));
    EXPECT_TRUE(inner->subkeyNames().empty());
    EXPECT_FALSE(inner->openSubkey("B", KeyAccess::Read));
    EXPECT_FALSE(inner->setValue("x", REG_SZ, sz("y")));
    EXPECT_FALSE(inner->openSubkey("C", KeyAccess::Create));
    EXPECT_FALSE(reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Gone", KeyAccess::Read));
}

TEST_F(ImageRegistryTest, EditsWindowsCannotHoldAreRefused) {
    auto reg = open();
    auto key =
        reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Classes\\Shared", KeyAccess::ReadWrite);
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->setValue("bad\xFF name", REG_SZ, sz("x")));
    EXPECT_FALSE(key->openSubkey("bad\xC3", KeyAccess::Create));
    EXPECT_FALSE(key->openSubkey(std::string(256, 'k'), KeyAccess::Create));
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"", "MachineOnly"}));
    EXPECT_TRUE(key->setValue("Large", REG_BINARY, std::vector<uint8_t>(2'000'000, 1)));
    EXPECT_EQ(key->value("Large")->data.size(), 2'000'000u);
    auto readOnly = reg->openKey(RootKey::LocalMachine, "SOFTWARE", KeyAccess::Read);
    EXPECT_FALSE(readOnly->setValue("x", REG_SZ, sz("y")));
    EXPECT_FALSE(readOnly->deleteSubkey("Classes"));
    EXPECT_FALSE(readOnly->writable());
}

TEST_F(ImageRegistryTest, MachineAndUsersRootsListTheMountedHives) {
    auto reg = open();
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly(""));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"HARDWARE", "SOFTWARE", "SYSTEM"}));
    key.setRoot(RootKey::Users);
    ASSERT_TRUE(key.openKeyReadOnly(""));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{".DEFAULT", kSid, kSid + "_Classes"}));
    EXPECT_EQ(keyText(*reg, RootKey::Users, ".DEFAULT\\Control Panel\\Desktop", "Wallpaper"), "");
    EXPECT_EQ(keyText(*reg, RootKey::CurrentUser, "Software\\Vendor", "Setting"), "user value");

    auto hklm = reg->openKey(RootKey::LocalMachine, "", KeyAccess::ReadWrite);
    ASSERT_TRUE(hklm);
    EXPECT_FALSE(hklm->setValue("x", REG_SZ, sz("y")));
    EXPECT_FALSE(hklm->deleteSubkey("SOFTWARE"));
    EXPECT_FALSE(hklm->openSubkey("NEWHIVE", KeyAccess::Create));
    EXPECT_TRUE(hklm->openSubkey("hardware", KeyAccess::Read));
    EXPECT_TRUE(hklm->deleteSubkey("SOFTWARE\\Classes\\txtfile"));  // through to the hive
}

TEST_F(ImageRegistryTest, CurrentControlSetFollowsSelectCurrent) {
    auto reg = open();
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SYSTEM\\CurrentControlSet\\Control", "Marker"),
              "two");
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly("SYSTEM"));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"ControlSet001", "ControlSet002",
                                                           "CurrentControlSet", "Select"}));
    EXPECT_EQ(key.keyInfo()->subkeys, 4u);

    ASSERT_TRUE(key.openKey("\\SYSTEM\\Select"));
    EXPECT_TRUE(key.writeInteger("Current", 1));
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SYSTEM\\CurrentControlSet\\Control", "Marker"),
              "one");
    ASSERT_TRUE(key.openKey("\\SYSTEM\\CurrentControlSet\\Services\\New", true));
    EXPECT_TRUE(key.writeString("Start", "3"));
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SYSTEM\\ControlSet001\\Services\\New", "Start"),
              "3");
    key.closeKey();
    EXPECT_FALSE(key.deleteKey("\\SYSTEM\\CurrentControlSet"));  // a link, not a key
}

TEST_F(ImageRegistryTest, CurrentConfigIsTheCurrentHardwareProfile) {
    auto reg = open();
    RegistryKey key(*reg, RootKey::CurrentConfig);
    ASSERT_TRUE(key.openKeyReadOnly("Software\\Fonts"));
    EXPECT_EQ(key.readInteger("LogPixels"), 96);
    key.setRoot(RootKey::LocalMachine);
    ASSERT_TRUE(key.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Hardware Profiles"));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"0001", "Current"}));

    // A stored "Current" key is the profile itself.
    put(system, "ControlSet002\\Hardware Profiles\\Current\\Software\\Fonts", "LogPixels",
        REG_DWORD, dword(120));
    reg.reset();
    reg = open();
    RegistryKey cc(*reg, RootKey::CurrentConfig);
    ASSERT_TRUE(cc.openKeyReadOnly("Software\\Fonts"));
    EXPECT_EQ(cc.readInteger("LogPixels"), 120);
}

TEST_F(ImageRegistryTest, HiveListIsSynthesisedFromTheMounts) {
    auto reg = open();
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKey("SYSTEM\\CurrentControlSet\\Control\\hivelist"));
    auto names = key.valueNames();
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names[0], "\\REGISTRY\\MACHINE\\HARDWARE");
    EXPECT_EQ(key.readString(names[0]), "");
    EXPECT_EQ(key.readString("\\REGISTRY\\MACHINE\\SOFTWARE"),
              "\\Device\\HarddiskVolume2\\Windows\\System32\\config\\SOFTWARE");
    EXPECT_EQ(key.readString("\\REGISTRY\\USER\\" + kSid),
              "\\Device\\HarddiskVolume2\\Users\\Ann\\NTUSER.DAT");
    EXPECT_FALSE(key.writeString("x", "y"));
    EXPECT_TRUE(key.keyExists("\\SYSTEM\\ControlSet002\\Control\\hivelist"));
    ASSERT_TRUE(key.openKeyReadOnly("\\SYSTEM\\CurrentControlSet\\Control"));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"hivelist", "IDConfigDB"}));

    auto list = reg->hiveList();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[1].keyPath, "\\REGISTRY\\MACHINE\\SOFTWARE");
    EXPECT_EQ(list[1].filePath, "C:\\Windows\\System32\\config\\SOFTWARE");
}

TEST_F(ImageRegistryTest, ClassesRootMergesUserAndMachineClasses) {
    auto reg = open();
    RegistryKey key(*reg, RootKey::ClassesRoot);
    ASSERT_TRUE(key.openKeyReadOnly(""));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{".user", "Shared", ".txt", "txtfile"}));
    EXPECT_EQ(keyText(*reg, RootKey::ClassesRoot, "Shared", ""), "user");
    EXPECT_EQ(keyText(*reg, RootKey::ClassesRoot, ".txt", ""), "txtfile");
    EXPECT_EQ(keyText(*reg, RootKey::ClassesRoot, ".user", ""), "userfile");
    ASSERT_TRUE(key.openKeyReadOnly("Shared"));
    EXPECT_EQ(key.valueNames(), (std::vector<std::string>{"", "UserOnly", "MachineOnly"}));
    EXPECT_EQ(key.keyInfo()->values, 3u);
    // The user's classes appear at HKCU\Software\Classes and HKU\<SID>_Classes too.
    EXPECT_EQ(keyText(*reg, RootKey::CurrentUser, "Software\\Classes\\.user", ""), "userfile");
    EXPECT_EQ(keyText(*reg, RootKey::Users, kSid + "_Classes\\.user", ""), "userfile");
    key.setRoot(RootKey::CurrentUser);
    ASSERT_TRUE(key.openKeyReadOnly("Software"));
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"Classes", "Vendor"}));

    // Writes: to the user's key where it exists, else to the machine's; new
    // keys among the machine's classes.
    key.setRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(key.openKey("Shared"));
    EXPECT_TRUE(key.writeString("Written", "w"));
    ASSERT_TRUE(key.openKey("\\txtfile"));
    EXPECT_TRUE(key.writeString("Written", "w"));
    ASSERT_TRUE(key.openKey("\\.new", true));
    EXPECT_EQ(keyText(*reg, RootKey::CurrentUser, "Software\\Classes\\Shared", "Written"), "w");
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SOFTWARE\\Classes\\Shared", "Written"),
              "<no value>");
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SOFTWARE\\Classes\\txtfile", "Written"), "w");
    RegistryKey hklm(*reg, RootKey::LocalMachine);
    EXPECT_TRUE(hklm.keyExists("SOFTWARE\\Classes\\.new"));

    // Deleting removes the key from both.
    key.closeKey();
    EXPECT_TRUE(key.deleteKey("Shared"));
    EXPECT_FALSE(key.keyExists("Shared"));
    EXPECT_FALSE(hklm.keyExists("SOFTWARE\\Classes\\Shared"));
    EXPECT_FALSE(reg->openKey(RootKey::Users, kSid + "_Classes\\Shared", KeyAccess::Read));
}

TEST_F(ImageRegistryTest, MissingHivesLeaveTheirKeysAbsent) {
    auto s = specs(false);
    s[3].hostFile = dir.path() / "nowhere" / "NTUSER.DAT";  // the user's hive is missing
    auto reg = open(s);
    ASSERT_EQ(reg->errors().size(), 1u);
    EXPECT_NE(reg->errors()[0].find("NTUSER.DAT"), std::string::npos);
    EXPECT_FALSE(reg->openKey(RootKey::CurrentUser, "", KeyAccess::Read));
    EXPECT_FALSE(reg->openKey(RootKey::Users, kSid, KeyAccess::Read));
    EXPECT_EQ(keyText(*reg, RootKey::ClassesRoot, "Shared", ""), "machine");
    EXPECT_EQ(reg->hiveList().size(), 3u);
}

TEST_F(ImageRegistryTest, DamagedHiveFilesAreReportedNotFatal) {
    auto s = specs();
    std::string good = test::readFile(s[1].hostFile);
    std::mt19937 rng(7);
    auto noise = [&](size_t n) {
        std::string r(n, '\0');
        for (auto& c : r) c = char(rng());
        return r;
    };
    test::writeFile(s[0].hostFile, good.substr(0, 4096 + 100));          // truncated
    test::writeFile(s[2].hostFile, "regf" + noise(20000));               // random bytes
    test::writeFile(s[3].hostFile, good.substr(0, 4096) + noise(8192));  // header, then garbage
    test::writeFile(s[4].hostFile, "");                                  // empty
    auto reg = open(s);
    EXPECT_EQ(reg->errors().size(), 4u);
    EXPECT_FALSE(reg->openKey(RootKey::CurrentUser, "", KeyAccess::Read));
    EXPECT_EQ(keyText(*reg, RootKey::LocalMachine, "SOFTWARE\\Classes\\.txt", ""), "txtfile");
}

// Walks every key and reads every value below `key`, both by name and with
// what the handles lend in turn; returns the keys seen by name.
size_t walkByName(KeyHandle& key, size_t depth) {
    size_t n = 1;
    for (const auto& name : key.valueNames()) key.value(name);
    key.info();
    if (depth > 600) return n;
    for (const auto& name : key.subkeyNames())
        if (auto sub = key.openSubkey(name, KeyAccess::Read)) n += walkByName(*sub, depth + 1);
    return n;
}
void walkLent(KeyHandle& key, size_t depth) {
    key.forEachValue([](const RegValue& v) { return v.name.size() < 100000; });
    if (depth > 600) return;
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view, KeyHandle& sub) {
        walkLent(sub, depth + 1);
        return true;
    });
}
size_t walk(KeyHandle& key) {
    walkLent(key, 0);
    return walkByName(key, 0);
}

// What a key lends in turn is what its lists and lookups give, for keys as
// the file holds them, keys changed in memory, added keys, keys with links
// and the merged classes.
TEST_F(ImageRegistryTest, WalksSeeWhatListsAndLookupsSee) {
    for (int i = 0; i < 80; ++i)  // long enough for the hive to keep the list
        put(software, "Wide\\K" + std::to_string(i), "v" + std::to_string(i % 3), REG_SZ,
            sz(std::string(size_t(i) * 7, 'x')));
    put(software, "Wide", "big", REG_BINARY, std::vector<uint8_t>(20000, 7));
    for (const char* name : {"one", "two", "three"}) put(software, "Wide", name, REG_SZ, sz(name));
    // Classes both sides hold, one side alone, and names spelt in other case.
    put(classes, "Shared", "common", REG_SZ, sz("user's"));
    put(software, "Classes\\Shared", "COMMON", REG_SZ, sz("machine's"));
    put(classes, "Shared\\both", "u", REG_SZ, sz("u"));
    put(software, "Classes\\Shared\\Both\\Deeper", "d", REG_SZ, sz("d"));
    put(software, "Classes\\Shared\\MachineSub\\Deep", "x", REG_SZ, sz("x"));
    put(classes, "Shared\\UserSub", "y", REG_SZ, sz("y"));
    auto reg = open();
    auto wide = reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Wide", KeyAccess::ReadWrite);
    ASSERT_TRUE(wide);
    ASSERT_TRUE(wide->setValue("added", REG_DWORD, dword(5)));
    ASSERT_TRUE(wide->deleteValue("big"));
    ASSERT_TRUE(wide->deleteSubkey("K3"));
    auto added = wide->openSubkey("New\\Deeper", KeyAccess::Create);
    ASSERT_TRUE(added && added->setValue("n", REG_SZ, sz("new")));

    // Down to every key below, as a walk goes on from what it is lent.
    std::function<void(KeyHandle&)> same = [&](KeyHandle& key) {
        std::vector<std::string> names;
        key.forEachValue([&](const RegValue& v) {
            auto byName = key.value(v.name);
            EXPECT_TRUE(byName && byName->type == v.type && byName->data == v.data) << v.name;
            names.push_back(v.name);
            return true;
        });
        EXPECT_EQ(names, key.valueNames());
        names.clear();
        key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
            auto byName = key.openSubkey(name, KeyAccess::Read);
            EXPECT_TRUE(byName && byName->valueNames() == sub.valueNames() &&
                        byName->subkeyNames() == sub.subkeyNames() &&
                        byName->info().className == sub.info().className)
                << name;
            names.emplace_back(name);
            same(sub);
            return true;
        });
        EXPECT_EQ(names, key.subkeyNames());
    };
    for (auto [root, path] : {std::pair{RootKey::LocalMachine, "SOFTWARE\\Wide"},
                              {RootKey::LocalMachine, "SOFTWARE\\Wide\\New"},
                              {RootKey::LocalMachine, "SYSTEM"},  // CurrentControlSet
                              {RootKey::LocalMachine, "SYSTEM\\ControlSet002\\Control"},
                              {RootKey::CurrentUser, "Software"},  // the user's Classes
                              {RootKey::ClassesRoot, ""},
                              {RootKey::ClassesRoot, "Shared"},
                              {RootKey::LocalMachine, ""}}) {
        SCOPED_TRACE(path);
        auto key = reg->openKey(root, path, KeyAccess::Read);
        ASSERT_TRUE(key);
        same(*key);
    }
    auto shared = reg->openKey(RootKey::ClassesRoot, "Shared", KeyAccess::Read);
    std::vector<std::string> data;
    shared->forEachValue([&](const RegValue& v) {
        data.push_back(v.name + "=" + utf16leToUtf8(v.data));
        return true;
    });
    EXPECT_EQ(data,
              (std::vector<std::string>{"=user", "UserOnly=u", "common=user's", "MachineOnly=m"}));

    // A walk stops where it is told to, and a key deleted by the walk itself
    // is not lent afterwards.
    std::vector<std::string> seen;
    wide->forEachSubkey(KeyAccess::ReadWrite, [&](std::string_view name, KeyHandle&) {
        seen.emplace_back(name);
        if (name == "K0") wide->deleteSubkey("K1");
        return seen.size() < 4;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"K0", "K10", "K11", "K12"}));
    size_t values = 0;
    wide->forEachValue([&](const RegValue&) { return ++values < 2; });
    EXPECT_EQ(values, 2u);
}

TEST_F(ImageRegistryTest, DamagedCellsReadAsNothingAndEditsStaySafe) {
    for (int i = 0; i < 40; ++i)
        put(software, "Bulk\\Key" + std::to_string(i) + "\\Sub", "V" + std::to_string(i),
            REG_BINARY, std::vector<uint8_t>(size_t(i) * 900, uint8_t(i)));
    auto s = specs();
    std::string good = test::readFile(s[1].hostFile);
    std::mt19937 rng(11);
    for (int round = 0; round < 150; ++round) {
        std::string bad = good;
        int flips = 1 + int(rng() % 40);
        for (int f = 0; f < flips; ++f) bad[4096 + 32 + rng() % (bad.size() - 4128)] = char(rng());
        test::writeFile(s[1].hostFile, bad);
        auto reg = open({s[1]});
        auto root = reg->openKey(RootKey::LocalMachine, "SOFTWARE", KeyAccess::ReadWrite);
        if (!root) continue;
        walk(*root);
        root->deleteSubkey("Bulk\\Key" + std::to_string(round % 40));
        root->setValue("after", REG_SZ, sz("edit"));
        walk(*root);
        reg->commit();  // what could be done must still load
        reg.reset();
        std::string why;
        if (auto hive = Hive::open(s[1].hostFile, &why)) hive->snapshot(&why);
    }
}

TEST_F(ImageRegistryTest, FailedCommitKeepsTheOldFileAndTheChanges) {
    auto s = specs();
    const fs::path file = s[1].hostFile;
    auto leftovers = [&] {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(file.parent_path()))
            n += e.path().filename().string().find(".tmp") != std::string::npos;
        return n;
    };
    std::string before = test::readFile(file);
    auto reg = open(s);
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKey("SOFTWARE\\Committed", true));
    reg->setCommitProbe([](CommitStep, size_t) { return false; });  // fails after the new copy
    EXPECT_FALSE(reg->commit());
    EXPECT_NE(reg->lastCommitError(), "");
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_EQ(leftovers(), 0u);
    EXPECT_TRUE(key.keyExists("\\SOFTWARE\\Committed"));
    reg->setCommitProbe({});

    if (::geteuid() != 0) {  // permissions do not stop root
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_FALSE(reg->commit());
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(test::readFile(file), before);
    }
    EXPECT_TRUE(reg->commit());
    EXPECT_EQ(reg->lastCommitError(), "");
    EXPECT_EQ(leftovers(), 0u);
    EXPECT_NE(test::readFile(file), before);
    EXPECT_TRUE(key.keyExists("\\SOFTWARE\\Committed"));  // the handle stays valid
    EXPECT_TRUE(key.openKey("\\SOFTWARE\\Committed\\Later", true));
}

TEST_F(ImageRegistryTest, SaveHiveWritesACompactCopyWithUncommittedChanges) {
    software.find("Classes\\.txt")->className = "TxtClass";
    auto reg = open();
    RegistryKey key(*reg, RootKey::LocalMachine);
    ASSERT_TRUE(key.openKey("SOFTWARE\\Unsaved", true));
    EXPECT_TRUE(key.writeString("v", "1"));
    const std::string target = "C:\\Windows\\System32\\config\\SOFTWARE.fdc";
    EXPECT_TRUE(reg->saveHive("\\REGISTRY\\MACHINE\\SOFTWARE", target));
    EXPECT_FALSE(reg->saveHive("\\REGISTRY\\MACHINE\\SOFTWARE", target));  // never overwrites
    EXPECT_FALSE(reg->saveHive("\\REGISTRY\\MACHINE\\NOSUCH", "C:\\x.fdc"));
    EXPECT_FALSE(reg->saveHive("\\REGISTRY\\MACHINE\\SOFTWARE", "C:\\..\\outside.fdc"));
    EXPECT_TRUE(reg->saveHive("HKEY_USERS\\" + kSid, "C:\\Users\\Ann\\NTUSER.DAT.fdc"));
    EXPECT_TRUE(runQuiet("hivexml '" + host(target).string() + "'"));

    std::string why;
    auto original = Hive::open(host("C:\\Windows\\System32\\config\\SOFTWARE"), &why);
    auto copy = Hive::open(host(target), &why);
    ASSERT_TRUE(original && copy) << why;
    auto a = original->snapshot(&why);
    auto b = copy->snapshot(&why);
    EXPECT_EQ(b->countKeys(), a->countKeys() + 1);
    ASSERT_TRUE(b->find("Unsaved"));
    EXPECT_EQ(b->find("Unsaved")->values.size(), 1u);
    EXPECT_EQ(b->find("Classes\\.txt")->className, "TxtClass");
    EXPECT_FALSE(a->securityDescriptor.empty());
    EXPECT_EQ(b->securityDescriptor, a->securityDescriptor);
    EXPECT_EQ(b->find("Unsaved")->securityDescriptor, a->securityDescriptor);
    EXPECT_EQ(b->find("Classes\\.txt")->lastWrite, a->find("Classes\\.txt")->lastWrite);
}

TEST_F(ImageRegistryTest, ReplaceHiveRecordsThePendingReplacement) {
    auto reg = open();
    const std::string hive = "C:\\Windows\\System32\\config\\SOFTWARE";
    EXPECT_FALSE(reg->replaceHive("\\REGISTRY\\MACHINE\\SOFTWARE", hive + ".fdc", hive + ".bak"));
    test::writeFile(host(hive + ".fdc"), "not a hive");
    EXPECT_FALSE(reg->replaceHive("\\REGISTRY\\MACHINE\\SOFTWARE", hive + ".fdc", hive + ".bak"));
    fs::remove(host(hive + ".fdc"));
    ASSERT_TRUE(reg->saveHive("\\REGISTRY\\MACHINE\\SOFTWARE", hive + ".fdc"));
    EXPECT_FALSE(reg->replaceHive("\\REGISTRY\\MACHINE\\NOSUCH", hive + ".fdc", hive + ".bak"));
    EXPECT_TRUE(reg->pendingReplacements().empty());

    EXPECT_TRUE(reg->replaceHive("\\REGISTRY\\MACHINE\\SOFTWARE", hive + ".fdc", hive + ".old"));
    EXPECT_TRUE(reg->replaceHive("\\REGISTRY\\MACHINE\\SOFTWARE", hive + ".fdc", hive + ".bak"));
    auto pending = reg->pendingReplacements();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].hiveFile, hive);
    EXPECT_EQ(pending[0].newFile, hive + ".fdc");
    EXPECT_EQ(pending[0].oldFile, hive + ".bak");
    reg->clearPendingReplacements();
    EXPECT_TRUE(reg->pendingReplacements().empty());
}

TEST_F(ImageRegistryTest, WorkersWalkAndWriteTheSameHiveAtOnce) {
    for (int i = 0; i < 300; ++i)
        put(software, "Walk\\K" + std::to_string(i % 30) + "\\S" + std::to_string(i), "v",
            REG_DWORD, dword(uint32_t(i)));
    auto reg = open();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            auto k = reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Walk\\New" + std::to_string(i),
                                  KeyAccess::Create);
            if (k) k->setValue("n", REG_DWORD, dword(uint32_t(i)));
            if (i % 3 == 0)
                deleteFullPath(*reg, "HKLM\\SOFTWARE\\Walk\\K" + std::to_string(i % 30));
        }
        done = true;
    });
    size_t walks = 0;
    while (!done || walks == 0) {
        auto root = reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Walk", KeyAccess::Read);
        ASSERT_TRUE(root);
        EXPECT_GE(walk(*root), 1u);
        ++walks;
    }
    writer.join();
    auto root = reg->openKey(RootKey::LocalMachine, "SOFTWARE\\Walk", KeyAccess::Read);
    auto names = root->subkeyNames();
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.rfind("New", 0) == 0; }),
              200);
    EXPECT_TRUE(reg->commit());
}

}  // namespace
}  // namespace brisko
