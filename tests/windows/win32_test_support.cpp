#include "win32_test_support.h"
#include "core/machine/win32/wide.h"

#include <windows.h>

namespace brisko::win32::test {

std::string selfPath() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH + 1);
    return narrow(std::wstring_view(buf, n));
}

bool runningOnWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

void Win32Test::SetUp() {
    static int serial = 0;
    std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    dir = "C:\\brisko-tests\\" + id;
    key = "Software\\BriskoTests\\" + id;
    ASSERT_TRUE(m.files().forceDirectories(dir));
}

void Win32Test::TearDown() {
    m.files().shellDelete(dir);
    if (auto root = m.registry().openKey(RootKey::CurrentUser, "", KeyAccess::ReadWrite))
        root->deleteSubkey(key);
}

std::string Win32Test::makeFile(const std::string& name, const std::string& content) {
    std::string path = dir + "\\" + name;
    auto f = m.files().createFile(path);
    EXPECT_TRUE(f) << path;
    if (f) EXPECT_EQ(f->write(content.data(), int64_t(content.size())), int64_t(content.size()));
    return path;
}

}  // namespace brisko::win32::test

int main(int argc, char** argv) {
    // A child the process tests start and stop; under the name Regedit.exe
    // it stands for a registry editor that never ends.
    std::string self = brisko::win32::test::selfPath();
    bool regedit = _stricmp(self.substr(self.find_last_of('\\') + 1).c_str(), "regedit.exe") == 0;
    if (regedit || (argc > 1 && std::string(argv[1]) == "--sleep")) {
        Sleep(60000);
        return 7;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
