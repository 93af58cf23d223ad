// "Regedit /s" and "Regedit /e" with the registry editor Windows (or Wine)
// has: a fix's backup goes back into the live registry exactly, a full export
// writes the file, and a missing or hanging editor is reported or stopped.
#include "registry/regedit_process.h"
#include "base/text.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "registry/registry_fix.h"
#include "win32_test_support.h"

#include <windows.h>

#include <map>

namespace brisko::win32::test {
namespace {

// Waits as the progress hint does, for at most a minute.
bool waitFor(RegeditProcess& p) {
    for (int i = 0; i < 600; ++i) {
        if (p.finished()) return true;
        Sleep(100);
    }
    return false;
}

using Values = std::map<std::string, std::pair<uint32_t, std::vector<uint8_t>>>;
Values readValues(KeyHandle& k) {
    Values out;
    for (const auto& name : k.valueNames())
        if (auto v = k.value(name)) out[name] = {v->type, v->data};
    return out;
}

class RegeditProcessTest : public Win32Test {};

TEST_F(RegeditProcessTest, FixBackupGoesBackThroughTheRegistryEditor) {
    // Every value type, the default value, awkward names; the second key's
    // name makes its backup a Unicode file, the first stays REGEDIT4.
    const std::vector<uint8_t> bytes{0, 1, 0x0d, 0x0a, 0xfe, 0xff};
    const Values values{
        {"", {REG_SZ, utf8ToUtf16le("default")}},
        {"sz \"quoted\" \\ back", {REG_SZ, utf8ToUtf16le("C:\\Program Files\\x.exe")}},
        {"expand", {REG_EXPAND_SZ, utf8ToUtf16le("%SystemRoot%\\system32")}},
        {"multi", {REG_MULTI_SZ, encodeMultiString({"eins", "zwei"})}},
        {"binary", {REG_BINARY, bytes}},
        {"big", {REG_BINARY, std::vector<uint8_t>(20000, 0x5a)}},
        {"dword", {REG_DWORD, {0x78, 0x56, 0x34, 0x12}}},
        {"qword", {REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}},
        {"none", {REG_NONE, bytes}},
        {"empty", {REG_SZ, {}}},
    };
    for (std::string victim : {"Victim", "Opfer äöü 日本"}) {
        SCOPED_TRACE(victim);
        const std::string path = key + "\\" + victim;
        {
            auto k = m.registry().openKey(RootKey::CurrentUser, path + "\\Deep\\Deeper",
                                          KeyAccess::Create);
            ASSERT_TRUE(k);
            for (const auto& [name, v] : values) ASSERT_TRUE(k->setValue(name, v.first, v.second));
        }
        std::string shortcut = makeFile(victim + ".lnk", "shortcut bytes");
        std::string backup = dir + "\\" + victim + ".reg";
        {
            RegistryFixer fixer(m, backup, RegistryView::Native);
            ASSERT_EQ(fixer.DeleteKeyWithBackup("HKEY_CURRENT_USER", path), FixOutcome::Fixed);
            ASSERT_EQ(fixer.DeleteFileWithCopy(shortcut), FixOutcome::Fixed);
            ASSERT_TRUE(fixer.finish()) << fixer.error();
        }
        ASSERT_FALSE(m.registry().openKey(RootKey::CurrentUser, path, KeyAccess::Read));
        ASSERT_FALSE(m.files().fileExists(shortcut));

        std::string error;
        auto p = RegeditProcess::start(m, "Regedit /s \"" + backup + "\"", &error);
        ASSERT_TRUE(p) << error;
        ASSERT_TRUE(waitFor(*p));
        EXPECT_EQ(p->exitCode(), 0) << p->errorOutput();
        EXPECT_FALSE(p->stopped());
        auto k =
            m.registry().openKey(RootKey::CurrentUser, path + "\\Deep\\Deeper", KeyAccess::Read);
        ASSERT_TRUE(k);
        EXPECT_EQ(readValues(*k), values);
        EXPECT_TRUE(m.files().fileExists(shortcut));
    }
}

TEST_F(RegeditProcessTest, FullExportWritesTheWholeRegistryOrSaysItDidNot) {
    {
        auto k = m.registry().openKey(RootKey::CurrentUser, key, KeyAccess::Create);
        ASSERT_TRUE(k);
        ASSERT_TRUE(k->setValue("marker", REG_SZ, utf8ToUtf16le("exported")));
    }
    std::string file = dir + "\\full.reg";
    std::string error;
    auto p = RegeditProcess::start(m, "Regedit /e \"" + file + "\"", &error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->command().kind, RegeditCommand::Export);
    ASSERT_TRUE(waitFor(*p));
    EXPECT_EQ(p->exitCode(), 0) << p->errorOutput();
    auto f = m.files().openFile(file, FileMode::Read);
    ASSERT_TRUE(f);
    std::string bytes(size_t(f->size()), '\0');
    ASSERT_EQ(f->read(bytes.data(), int64_t(bytes.size())), int64_t(bytes.size()));
    ASSERT_GT(bytes.size(), 2u);
    std::string text =
        utf16leToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2, false);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\"), std::string::npos);
    // Windows writes the user's keys under HKEY_CURRENT_USER and HKEY_USERS,
    // Wine under HKEY_USERS only.
    EXPECT_NE(text.find("\\" + key + "]\r\n\"marker\"=\"exported\""), std::string::npos);

    // Our own full export (brisko reg export --all) covers the same roots,
    // also where the registry names no hive files, as Wine's does not.
    std::string ours = upperCase(exportWholeRegistry(m.registry(), RegFileFormat::Version5));
    EXPECT_NE(ours.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION]"),
              std::string::npos);
    EXPECT_NE(ours.find(upperCase("\\" + key + "]\r\n\"marker\"=\"exported\"")), std::string::npos);
    EXPECT_EQ(ours.find("[HKEY_LOCAL_MACHINE\\HARDWARE]"), std::string::npos);

    // The editor ends with 0 when it cannot write the file either.
    auto q = RegeditProcess::start(m, "Regedit /e \"" + dir + "\\no\\such\\folder.reg\"");
    ASSERT_TRUE(q);
    ASSERT_TRUE(waitFor(*q));
    EXPECT_NE(q->exitCode(), 0);
    EXPECT_NE(q->errorOutput().find("did not write"), std::string::npos);
}

TEST_F(RegeditProcessTest, MissingEditorOrFileIsReportedAndAHangingOneIsStopped) {
    std::string backup = makeFile("x.reg", "REGEDIT4\r\n");
    std::string error;
    EXPECT_FALSE(
        RegeditProcess::start(m, "C:\\no\\such\\Regedit.exe /s \"" + backup + "\"", &error));
    EXPECT_EQ(error, kRegeditMissingText);
    EXPECT_FALSE(RegeditProcess::start(m, "Regedit /s \"" + dir + "\\gone.reg\"", &error));
    EXPECT_NE(error.find("gone.reg"), std::string::npos);

    // A registry editor that never ends: this test program under that name.
    std::string hanging = dir + "\\Regedit.exe";
    ASSERT_TRUE(m.files().copyFile(selfPath(), hanging, true));
    auto p = RegeditProcess::start(m, "\"" + hanging + "\" /e \"" + dir + "\\never.reg\"", &error);
    ASSERT_TRUE(p) << error;
    Sleep(300);
    EXPECT_FALSE(p->finished());
    DWORD start = GetTickCount();
    p->terminate();
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_TRUE(p->finished());
    EXPECT_TRUE(p->stopped());
    EXPECT_EQ(p->exitCode(), 0);
    // The process is gone: its file can be deleted.
    for (int i = 0; i < 50 && !m.files().deleteFile(hanging); ++i) Sleep(100);
    EXPECT_FALSE(m.files().fileExists(hanging));
}

}  // namespace
}  // namespace brisko::win32::test
