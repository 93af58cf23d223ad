// The system services of the running Windows, on what Wine implements of them.
#include "base/text.h"
#include "core/machine/registry_key.h"
#include "core/machine/win32/wide.h"
#include "core/machine/win32/win32_services.h"
#include "win32_test_support.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wininet.h>

#include <algorithm>
#include <thread>

namespace brisko::win32::test {
namespace {

class Win32MachineTest : public Win32Test {};

TEST_F(Win32MachineTest, VersionUserAndPrivileges) {
    auto v = m.version();
    EXPECT_EQ(v.platform, OsVersion::NT);
    EXPECT_GE(v.major, 5);
    EXPECT_GT(v.build, 0);
    EXPECT_FALSE(v.productName.empty());
    auto u = m.currentUser();
    EXPECT_FALSE(u.name.empty());
    EXPECT_TRUE(u.sid.starts_with("S-1-5-")) << u.sid;
    EXPECT_TRUE(m.files().directoryExists(u.profile)) << u.profile;
    EXPECT_EQ(u.profile.back() == '\\', false);
    if (m.isAdministrator()) {
        EXPECT_TRUE(m.enablePrivilege("SeBackupPrivilege"));
        EXPECT_TRUE(m.enablePrivilege("SeShutdownPrivilege"));
    }
    EXPECT_FALSE(m.enablePrivilege("SeNoSuchPrivilege"));
}

TEST_F(Win32MachineTest, FoldersAndEnvironment) {
    std::string win = m.windowsDirectory();
    EXPECT_TRUE(m.files().directoryExists(win));
    EXPECT_NE(win.back(), '\\');
    EXPECT_TRUE(equalsNoCase(m.systemDirectory(), win + "\\system32")) << m.systemDirectory();
    EXPECT_TRUE(equalsNoCase(m.expandEnvironmentStrings("%SystemRoot%\\x"), win + "\\x"));
    EXPECT_EQ(m.expandEnvironmentStrings("%BRISKO_NOT_SET%"), "%BRISKO_NOT_SET%");
    std::string temp = m.tempPath();
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_TRUE(m.files().directoryExists(temp));
    std::string self = selfPath();
    EXPECT_TRUE(equalsNoCase(m.programFolder(), self.substr(0, self.rfind('\\') + 1)));
    for (int csidl : kCsidlList) {
        std::string folder = m.specialFolder(csidl);
        ASSERT_FALSE(folder.empty()) << csidl;
        EXPECT_EQ(folder.back(), '\\') << csidl;
    }
    EXPECT_TRUE(equalsNoCase(m.specialFolder(CSIDL_PROFILE), m.currentUser().profile + "\\"));
    EXPECT_TRUE(equalsNoCase(m.specialFolder(CSIDL_FONTS), win + "\\Fonts\\"));
    // The per-user Shell Folders values agree with the CSIDL answers.
    RegistryKey sf(m.registry(), RootKey::CurrentUser);
    if (sf.openKeyReadOnly(
            "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")) {
        if (auto appData = sf.readString("AppData"))
            EXPECT_TRUE(equalsNoCase(*appData + "\\", m.specialFolder(CSIDL_APPDATA)));
    }
    EXPECT_EQ(m.specialFolder(0x7777), "");
}

TEST_F(Win32MachineTest, ProcessesRunWaitAndStop) {
    auto r = m.runProcess("cmd.exe /c exit 3", true);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(m.runProcess("C:\\no\\such\\program.exe", true).started);

    std::stop_source stop;
    std::jthread stopper([&] {
        Sleep(500);
        stop.request_stop();
    });
    DWORD start = GetTickCount();
    auto s = m.runProcess("\"" + selfPath() + "\" --sleep", true, stop.get_token());
    EXPECT_TRUE(s.started);
    EXPECT_FALSE(s.finished);
    EXPECT_LT(GetTickCount() - start, 20000u);

    // ShellExecute runs the command interpreter with parameters.
    std::string out = dir + "\\shell.txt";
    ASSERT_TRUE(m.shellExecute("open", "cmd.exe", "/c echo shell> \"" + out + "\""));
    for (int i = 0; i < 100 && !m.files().fileExists(out); ++i) Sleep(100);
    EXPECT_TRUE(m.files().fileExists(out));
    EXPECT_FALSE(m.shellExecute("open", dir + "\\no-such-file.xyz", ""));
}

LRESULT CALLBACK plainProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return DefWindowProcW(h, msg, w, l);
}

TEST_F(Win32MachineTest, WindowsAreFoundByClassAndShown) {
    std::wstring cls = L"BriskoTestWindow" + std::to_wstring(GetCurrentProcessId());
    WNDCLASSW wc{};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls.c_str();
    ASSERT_TRUE(RegisterClassW(&wc));
    HWND hwnd = CreateWindowW(cls.c_str(), L"Brisko test ✓", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(hwnd);
    auto found = m.findWindows(narrow(cls));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].title, "Brisko test ✓");
    EXPECT_FALSE(found[0].visible);
    EXPECT_TRUE(m.showWindow(found[0].handle, true));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(m.findWindows(narrow(cls))[0].visible);
    EXPECT_TRUE(m.showWindow(found[0].handle, false));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    DestroyWindow(hwnd);
    EXPECT_FALSE(m.showWindow(found[0].handle, true));
    EXPECT_TRUE(m.findWindows(narrow(cls)).empty());
    UnregisterClassW(cls.c_str(), wc.hInstance);
}

TEST_F(Win32MachineTest, ShortcutTargets) {
    std::string target = makeFile("target.exe");
    std::string lnk = dir + "\\link.lnk";
    {
        ComScope com;
        IShellLinkW* link = nullptr;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IShellLinkW, reinterpret_cast<void**>(&link))));
        link->SetPath(widen(target).c_str());
        IPersistFile* file = nullptr;
        ASSERT_TRUE(
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
        EXPECT_TRUE(SUCCEEDED(file->Save(widen(lnk).c_str(), TRUE)));
        file->Release();
        link->Release();
    }
    EXPECT_TRUE(equalsNoCase(m.shortcutTarget(lnk), target)) << m.shortcutTarget(lnk);
    EXPECT_EQ(m.shortcutTarget(makeFile("broken.lnk", "not a shortcut")), "");
    EXPECT_EQ(m.shortcutTarget(dir + "\\missing.lnk"), "");
    // From a worker thread as well, with COM of its own.
    std::string fromThread;
    std::thread([&] { fromThread = m.shortcutTarget(lnk); }).join();
    EXPECT_TRUE(equalsNoCase(fromThread, target));
}

TEST_F(Win32MachineTest, Clipboard) {
    auto* cb = m.clipboard();
    ASSERT_TRUE(cb);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 8);
    memcpy(GlobalLock(mem), L"abc", 8);
    GlobalUnlock(mem);
    bool set = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
    CloseClipboard();
    if (!set) GTEST_SKIP() << "this Wine has no clipboard to write";
    EXPECT_TRUE(cb->hasData());
    EXPECT_TRUE(cb->empty());
    EXPECT_FALSE(cb->hasData());
}

TEST_F(Win32MachineTest, UrlCacheEntriesAreListedAndDeleted) {
    auto* cache = m.urlCache();
    ASSERT_TRUE(cache);
    std::wstring url =
        L"http://brisko.test/" + std::to_wstring(GetCurrentProcessId()) + L"/page.html";
    wchar_t local[MAX_PATH + 1] = {};
    ASSERT_TRUE(CreateUrlCacheEntryW(url.c_str(), 5, L"html", local, 0));
    {
        HANDLE h = CreateFileW(local, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD put = 0;
        WriteFile(h, "hello", 5, &put, nullptr);
        CloseHandle(h);
    }
    FILETIME zero{};
    ASSERT_TRUE(CommitUrlCacheEntryW(url.c_str(), local, zero, zero, NORMAL_CACHE_ENTRY, nullptr, 0,
                                     nullptr, nullptr));
    auto entries = cache->entries();
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const UrlCacheEntry& e) { return e.url == narrow(url); });
    ASSERT_NE(it, entries.end());
    EXPECT_TRUE(equalsNoCase(it->localFile, narrow(local)));
    EXPECT_EQ(it->size, 5u);
    EXPECT_TRUE(cache->deleteEntry(narrow(url)));
    EXPECT_FALSE(cache->deleteEntry(narrow(url)));
    entries = cache->entries();
    EXPECT_TRUE(std::none_of(entries.begin(), entries.end(),
                             [&](const UrlCacheEntry& e) { return e.url == narrow(url); }));
    cache->endBrowserSession();
}

TEST_F(Win32MachineTest, HotKeys) {
    auto* hk = m.hotkeys();
    ASSERT_TRUE(hk);
    EXPECT_TRUE(hk->registerHotkey(1, MOD_CONTROL | MOD_ALT, VK_F11));
    EXPECT_TRUE(hk->registerHotkey(1, MOD_CONTROL | MOD_ALT, VK_F12));  // replaces the first
    EXPECT_EQ(hk->lastFailure(), HotkeyService::Failure::None);
    // WM_HOTKEY carries the key's atom; it maps back to our id.
    ATOM atom = GlobalFindAtomW(L"BriskoCleanerHotKey1");
    ASSERT_NE(atom, 0);
    EXPECT_EQ(hk->idForNative(atom), 1);
    EXPECT_EQ(hk->idForNative(1), -1);
    // The same combination a second time is taken.
    EXPECT_FALSE(hk->registerHotkey(2, MOD_CONTROL | MOD_ALT, VK_F12));
    EXPECT_EQ(hk->lastFailure(), HotkeyService::Failure::KeyRefused);
    hk->unregisterHotkey(1);
    EXPECT_EQ(hk->idForNative(atom), -1);
    EXPECT_TRUE(hk->registerHotkey(2, MOD_CONTROL | MOD_ALT, VK_F12));
    hk->unregisterHotkey(2);
    hk->unregisterHotkey(3);  // never registered
}

// What Wine has of these depends on its release; each answers as the
// program expects a missing library to: the service is absent or does nothing.
TEST_F(Win32MachineTest, OptionalLibrariesAnswerOrStayAbsent) {
    if (auto* ps = m.protectedStorage()) {
        for (const auto& type : ps->types()) {
            EXPECT_TRUE(type.starts_with("{")) << type;
            for (const auto& subtype : ps->subtypes(type)) {
                EXPECT_TRUE(subtype.starts_with("{")) << subtype;
                ps->items(type, subtype);
            }
            ps->typeName(type);
        }
        EXPECT_FALSE(ps->deleteItem("not a guid", "{}", "x"));
    }
    if (auto* rp = m.restorePoints()) {
        // Wine's System Restore keeps nothing; Windows creates the point.
        rp->createRestorePoint("Brisko Cleaner test");
    }
    if (auto* h = m.urlHistory()) h->urls();
    SUCCEED();
}

}  // namespace
}  // namespace brisko::win32::test
