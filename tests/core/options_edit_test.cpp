// What the Options dialog edits outside the settings record, and the checks
// both it and `brisko options` apply.
#include "core/options_edit.h"

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

const std::string kCookies = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Cookies\\";

std::string cookie(const std::string& host) {
    return "id\n42\n" + host + "\n1536\n";
}

struct OptionsMachine {
    test::TempDir dir;
    std::unique_ptr<ImageMachine> machine;
    explicit OptionsMachine(bool lowOnly = false) {
        MachineBuilder b;
        b.addRegText(
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
            "Folders]\n\"Cookies\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\\\\Microsoft\\\\"
            "Windows\\\\Cookies\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n"
            "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n");
        std::string folder = lowOnly ? kCookies + "Low\\" : kCookies;
        b.addFile(folder + "user@example[1].txt", cookie("example.com/"));
        b.addFile(folder + "user@news[2].txt", cookie("news.example.org/sport"));
        b.addFile(folder + "user@short[1].txt", "id\n42\n");
        b.addFile(folder + "user@again[1].txt", cookie("example.com/"));
        b.addFile(folder + "index.dat", "x");
        if (lowOnly) b.addFolder(kCookies);
        b.addFolder("C:\\Program Files\\Brisko Cleaner");
        b.write(dir.path());
        machine = std::make_unique<ImageMachine>(dir.path());
    }
};

// The machine the program runs on, installed where Windows would find it.
struct InstalledMachine : ImageMachine {
    using ImageMachine::ImageMachine;
    std::string programFile() override { return "C:\\Program Files\\Brisko\\brisko-cleaner.exe"; }
};

TEST(OptionsEdit, AutoStartIsRefusedWhereNoProgramIsInstalled) {
    OptionsMachine om;
    Machine& m = *om.machine;
    EXPECT_FALSE(AutoStartUnavailableReason(m).empty());
    EXPECT_FALSE(SetAutoStart(m, true));
    RegistryKey key(m.registry(), RootKey::CurrentUser);
    EXPECT_FALSE(key.openKeyReadOnly(kAutoStartKey));
    EXPECT_TRUE(SetAutoStart(m, false));  // turning it off is always possible
}

TEST(OptionsEdit, AutoStartValueIsWrittenReadAndRemoved) {
    OptionsMachine om;
    om.machine.reset();
    InstalledMachine m(om.dir.path());
    EXPECT_TRUE(AutoStartUnavailableReason(m).empty());
    EXPECT_FALSE(AutoStartEnabled(m));
    ASSERT_TRUE(SetAutoStart(m, true));
    RegistryKey key(m.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(key.openKeyReadOnly(kAutoStartKey));
    EXPECT_EQ(key.readString(kAutoStartValue),
              "\"C:\\Program Files\\Brisko\\brisko-cleaner.exe\" /Auto");
    EXPECT_TRUE(AutoStartEnabled(m));
    // A value without the switch does not count as the program's auto start.
    key.closeKey();
    ASSERT_TRUE(key.openKey(kAutoStartKey));
    key.writeString(kAutoStartValue, "C:\\x.exe");
    EXPECT_FALSE(AutoStartEnabled(m));
    ASSERT_TRUE(SetAutoStart(m, false));
    EXPECT_FALSE(key.valueExists(kAutoStartValue));
    EXPECT_TRUE(SetAutoStart(m, false));  // nothing to remove is no failure
}

TEST(OptionsEdit, HotkeyNamesFollowTheKeyTable) {
    EXPECT_EQ(HotkeyKeyName(116), "F5");
    EXPECT_EQ(HotkeyKeyName(124), "F13");
    EXPECT_EQ(HotkeyKeyName(103), "Num 7");
    EXPECT_EQ(HotkeyKeyName(46), "Del");
    EXPECT_EQ(HotkeyKeyName(65), "A");
    EXPECT_EQ(HotkeyKeyName(48), "0");
    EXPECT_EQ(HotkeyKeyName(17), "");
    EXPECT_EQ(HotkeyKeyName(186), "");  // the semicolon key has no name
    EXPECT_EQ(HotkeyKeyName(108), "Separator");
    TShortcut k{true, false, true, "F5", 116};
    EXPECT_EQ(HotkeyText(k), "Ctrl  Alt  F5");
}

TEST(OptionsEdit, CookieKeepListRoundTripAndHostListing) {
    OptionsMachine om;
    Machine& m = *om.machine;
    EXPECT_TRUE(ReadCookieKeepList(m).empty());
    // Third lines, one trailing slash removed; short files skipped; duplicates stay.
    auto hosts = ListCookieHosts(m, {});
    std::sort(hosts.begin(), hosts.end());
    EXPECT_EQ(hosts,
              (std::vector<std::string>{"example.com", "example.com", "news.example.org/sport"}));
    // A host entry keeps every cookie of that host, a file entry that file.
    ASSERT_TRUE(WriteCookieKeepList(m, {"example.com", "user@news[2].txt"}));
    EXPECT_EQ(ReadCookieKeepList(m), (std::vector<std::string>{"example.com", "user@news[2].txt"}));
    EXPECT_TRUE(ListCookieHosts(m, ReadCookieKeepList(m)).empty());
    // A shorter list leaves old keys behind the count; they are not read.
    ASSERT_TRUE(WriteCookieKeepList(m, {"a.org"}));
    EXPECT_EQ(ReadCookieKeepList(m), (std::vector<std::string>{"a.org"}));
}

TEST(OptionsEdit, CookiesOnlyInLowAreListedFromLow) {
    OptionsMachine om(true);
    EXPECT_EQ(CookieFolder(*om.machine), kCookies + "Low\\");
    EXPECT_EQ(ListCookieHosts(*om.machine, {}).size(), 3u);
}

TEST(OptionsEdit, ChecksRefuseWhatTheDialogRefuses) {
    OptionsMachine om;
    Machine& m = *om.machine;
    TOptionsSetting s;
    s.OutputDirectory = "C:\\Program Files\\Brisko Cleaner";
    s.WipeNumber = 3;
    EXPECT_EQ(CheckOptions(m, s), "");
    s.OutputDirectory = "C:\\Nowhere";
    EXPECT_EQ(CheckOptions(m, s), "C:\\Nowhere,can not find the backup folder.");
    s.OutputDirectory = "C:\\Program Files\\Brisko Cleaner";
    s.WipeNumber = 11;
    EXPECT_NE(CheckOptions(m, s), "");
    s.WipeNumber = 1;
    s.CleanInterval = 5;
    EXPECT_NE(CheckOptions(m, s), "");
    s.CleanInterval = 4;
    s.EnableHotkey = true;
    EXPECT_EQ(CheckOptions(m, s), "The hotkey setting cannot be blank.");
    s.Hotkey = {true, false, false, "F5", 117};
    EXPECT_NE(CheckOptions(m, s), "");
    s.Hotkey.CharAscII = 116;
    EXPECT_EQ(CheckOptions(m, s), "");
}

}  // namespace
}  // namespace brisko
