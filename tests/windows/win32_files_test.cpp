// Files, folders and drives through kernel32 and the shell on Wine's drive_c.
#include "base/text.h"
#include "core/machine/registry_key.h"
#include "core/machine/win32/wide.h"
#include "win32_test_support.h"

#include <windows.h>

#include <algorithm>

namespace brisko::win32::test {
namespace {

class Win32FilesTest : public Win32Test {};

std::vector<std::string> names(const std::vector<FileEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(Win32FilesTest, FindFilesListsWithDotsSizesAndAttributes) {
    auto& f = m.files();
    makeFile("a.txt", "12345");
    makeFile("b.log", "");
    makeFile("Größe ✓.txt", "xy");
    ASSERT_TRUE(f.forceDirectories(dir + "\\sub"));
    auto all = f.findFiles(dir, "*");
    ASSERT_TRUE(all);
    EXPECT_EQ(names(*all),
              (std::vector<std::string>{".", "..", "Größe ✓.txt", "a.txt", "b.log", "sub"}));
    for (const auto& e : *all) {
        if (e.name == "a.txt") {
            EXPECT_EQ(e.size, 5u);
            EXPECT_FALSE(e.isDirectory());
            EXPECT_GT(e.writeTime, 0);
        }
        if (e.name == "sub") {
            EXPECT_TRUE(e.isDirectory());
        }
    }
    auto txt = f.findFiles(dir, "*.TXT");
    ASSERT_TRUE(txt);
    EXPECT_EQ(names(*txt), (std::vector<std::string>{"Größe ✓.txt", "a.txt"}));
    auto none = f.findFiles(dir, "*.none");
    ASSERT_TRUE(none);  // a folder without a match is an empty listing
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(f.findFiles(dir + "\\missing", "*"));  // one that cannot be listed is none
    // A drive root has no "." and "..".
    auto root = f.findFiles("C:\\", "*");
    ASSERT_TRUE(root);
    EXPECT_EQ(std::count_if(root->begin(), root->end(),
                            [](const FileEntry& e) { return e.name == "." || e.name == ".."; }),
              0);
}

TEST_F(Win32FilesTest, ExistsDeleteCopyMoveAndAttributes) {
    auto& f = m.files();
    std::string a = makeFile("a.txt");
    EXPECT_TRUE(f.fileExists(a));
    EXPECT_FALSE(f.directoryExists(a));
    EXPECT_TRUE(f.directoryExists(dir));
    EXPECT_FALSE(f.fileExists(dir));
    auto info = f.fileInfo(a);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "a.txt");
    EXPECT_EQ(info->size, 4u);

    EXPECT_TRUE(f.copyFile(a, dir + "\\b.txt", true));
    EXPECT_FALSE(f.copyFile(a, dir + "\\b.txt", true));
    EXPECT_TRUE(f.copyFile(a, dir + "\\b.txt", false));
    EXPECT_TRUE(f.moveFile(dir + "\\b.txt", dir + "\\c.txt"));
    EXPECT_FALSE(f.fileExists(dir + "\\b.txt"));
    EXPECT_TRUE(f.fileExists(dir + "\\c.txt"));

    EXPECT_TRUE(f.setAttributes(a, faReadOnly | faHidden));
    EXPECT_EQ(f.fileInfo(a)->attributes & (faReadOnly | faHidden), faReadOnly | faHidden);
    EXPECT_TRUE(f.setAttributes(a, 0));
    EXPECT_TRUE(f.deleteFile(a));
    EXPECT_FALSE(f.deleteFile(a));

    ASSERT_TRUE(f.forceDirectories(dir + "\\x\\y\\z"));
    EXPECT_TRUE(f.directoryExists(dir + "\\x\\y\\z"));
    EXPECT_TRUE(f.forceDirectories(dir + "\\x\\y\\z\\"));  // already there
    EXPECT_FALSE(f.removeDirectory(dir + "\\x"));          // not empty
    EXPECT_TRUE(f.removeDirectory(dir + "\\x\\y\\z"));
    EXPECT_TRUE(f.shellDelete(dir + "\\x"));
    EXPECT_FALSE(f.directoryExists(dir + "\\x"));
}

TEST_F(Win32FilesTest, OverwriteInPlaceAndCreateNew) {
    auto& f = m.files();
    std::string a = makeFile("a.bin", "secretsecret");
    {
        auto h = f.openFile(a, FileMode::ReadWrite);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->size(), 12);
        std::string zeros(12, '\0');
        ASSERT_TRUE(h->seek(0));
        EXPECT_EQ(h->write(zeros.data(), 12), 12);
        EXPECT_TRUE(h->flush());
    }
    {
        auto h = f.openFile(a, FileMode::Read);
        ASSERT_TRUE(h);
        char buf[16] = {1};
        EXPECT_EQ(h->read(buf, 16), 12);
        EXPECT_EQ(std::string(buf, 12), std::string(12, '\0'));
        EXPECT_EQ(h->write("x", 1), -1);  // opened for reading only
    }
    EXPECT_FALSE(f.openFile(dir, FileMode::Read));  // a folder
    EXPECT_FALSE(f.openFile(dir + "\\missing", FileMode::Read));
    EXPECT_FALSE(f.createNewFile(a));
    EXPECT_TRUE(f.createNewFile(dir + "\\new.bin"));
    auto t = f.createFile(a);  // truncates
    ASSERT_TRUE(t);
    EXPECT_EQ(t->size(), 0);
}

TEST_F(Win32FilesTest, LockedFilesAndDeletionAtRestart) {
    auto& f = m.files();
    std::string a = makeFile("locked.txt");
    HANDLE h = CreateFileW(widen(a).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.fileUse(a), FileUse::Locked);
    EXPECT_FALSE(f.deleteFile(a));
    EXPECT_FALSE(f.openFile(a, FileMode::ReadWrite));
    CloseHandle(h);
    EXPECT_EQ(f.fileUse(a), FileUse::Free);

    // Windows keeps deletions at restart in the Session Manager's
    // PendingFileRenameOperations: the NT path, then an empty target.
    ASSERT_TRUE(f.deleteAtRestart(a));
    EXPECT_TRUE(f.fileExists(a));
    RegistryKey sm(m.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(sm.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
    auto v = sm.handle()->value("PendingFileRenameOperations");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, REG_MULTI_SZ);
    std::vector<std::string> ops;
    {
        // Entries are NUL-separated with an empty target after each source.
        std::wstring w(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / 2);
        size_t start = 0;
        for (size_t i = 0; i < w.size(); ++i)
            if (w[i] == L'\0') {
                ops.push_back(narrow(w.substr(start, i - start)));
                start = i + 1;
            }
    }
    auto it = std::find_if(ops.begin(), ops.end(),
                           [&](const std::string& s) { return equalsNoCase(s, "\\??\\" + a); });
    ASSERT_NE(it, ops.end());
    ASSERT_NE(it + 1, ops.end());
    EXPECT_EQ(*(it + 1), "");
}

TEST_F(Win32FilesTest, PlacesShortNamesAndPathSpellings) {
    auto& f = m.files();
    ASSERT_TRUE(f.forceDirectories(dir + "\\Long Folder Name"));
    std::string file = dir + "\\Long Folder Name\\Some Long File.text";
    makeFile("Long Folder Name\\Some Long File.text");
    std::string shortPath = f.shortPathName(file);
    EXPECT_NE(shortPath, file);
    EXPECT_NE(shortPath.find("~"), std::string::npos) << shortPath;
    EXPECT_TRUE(f.fileExists(shortPath));
    auto id = f.placeId(file);
    ASSERT_TRUE(id);
    // Every spelling of one place is that place: case, "." and "..", 8.3 names.
    EXPECT_EQ(f.placeId(shortPath), id);
    EXPECT_EQ(f.placeId(upperCase(file)), id);
    EXPECT_EQ(f.placeId(dir + "\\Long Folder Name\\.\\..\\Long Folder Name\\Some Long File.text"),
              id);
    EXPECT_NE(f.placeId(dir), id);
    EXPECT_FALSE(f.placeId(dir + "\\missing"));
    // No short name: the path as it is.
    EXPECT_EQ(f.shortPathName(dir + "\\missing"), dir + "\\missing");
}

TEST_F(Win32FilesTest, Drives) {
    auto& f = m.files();
    auto drives = f.drives();
    auto c = std::find_if(drives.begin(), drives.end(), [](auto& d) { return d.letter == 'C'; });
    ASSERT_NE(c, drives.end());
    EXPECT_EQ(c->kind, DriveKind::Fixed);
    EXPECT_TRUE(c->device.starts_with("\\Device\\")) << c->device;
    EXPECT_TRUE(c->mediaPresent);
    EXPECT_EQ(f.driveType("C:\\"), DriveKind::Fixed);
    EXPECT_EQ(f.driveType("C:"), DriveKind::Fixed);
    EXPECT_EQ(f.queryDosDevice("C:"), c->device);
    EXPECT_TRUE(f.volumePresent("C:\\"));
    // A letter no drive has.
    char free = 0;
    for (char l = 'Q'; l <= 'Y' && !free; ++l)
        if (std::none_of(drives.begin(), drives.end(), [&](auto& d) { return d.letter == l; }))
            free = l;
    ASSERT_TRUE(free);
    std::string root{free, ':', '\\'};
    EXPECT_EQ(f.driveType(root), DriveKind::NoRootDir);
    EXPECT_FALSE(f.volumePresent(root));
    EXPECT_EQ(f.queryDosDevice(root.substr(0, 2)), "");
}

TEST_F(Win32FilesTest, System32IsRedirectedForA32BitProgram) {
    if (!m.isWow64()) GTEST_SKIP() << "32-bit Windows redirects nothing";
    std::string win = m.windowsDirectory();
    std::string name = "brisko-wow-" + std::to_string(GetCurrentProcessId()) + ".txt";
    // What the program writes to system32 lands in SysWOW64; the 64-bit
    // system32 is reached as Sysnative.
    auto h = m.files().createFile(m.systemDirectory() + "\\" + name);
    ASSERT_TRUE(h);
    h.reset();
    EXPECT_TRUE(m.files().fileExists(win + "\\SysWOW64\\" + name));
    bool sysnative = m.files().directoryExists(win + "\\Sysnative");
    if (sysnative) {
        EXPECT_FALSE(m.files().fileExists(win + "\\Sysnative\\" + name));
    }
    EXPECT_TRUE(m.files().deleteFile(m.systemDirectory() + "\\" + name));
}

}  // namespace
}  // namespace brisko::win32::test
