#include "core/machine/win32/win32_machine.h"

#include <windows.h>

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <mutex>

#include "core/machine/win32/wide.h"
#include "core/machine/win32/win32_files.h"
#include "core/machine/win32/win32_registry.h"
#include "core/machine/win32/win32_services.h"

namespace brisko::win32 {

namespace {

// A buffer-filling call that returns the length it needs when the buffer is
// too small (GetWindowsDirectoryW, GetTempPathW, ...).
template <class Fn>
std::string fill(Fn fn) {
    std::wstring buf(MAX_PATH + 1, L'\0');
    UINT n = fn(buf.data(), UINT(buf.size()));
    if (n >= buf.size()) {
        buf.assign(n + 1, L'\0');
        n = fn(buf.data(), UINT(buf.size()));
    }
    if (n == 0 || n >= buf.size()) return {};
    buf.resize(n);
    return narrow(buf);
}

bool isWow64Process() {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow = FALSE;
    return fn && fn(GetCurrentProcess(), &wow) && wow;
}

class Handle {
  public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE* out() { return &h_; }

  private:
    HANDLE h_;
};

std::vector<unsigned char> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls) {
    DWORD size = 0;
    GetTokenInformation(token, cls, nullptr, 0, &size);
    std::vector<unsigned char> buf(size);
    if (size == 0 || !GetTokenInformation(token, cls, buf.data(), size, &size)) return {};
    return buf;
}

// The thread's token when it impersonates, else the process token.
bool openQueryToken(Handle& token) {
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.out())) return true;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()) != 0;
}

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM param) {
    auto* out = reinterpret_cast<std::vector<WindowRef>*>(param);
    WindowRef w;
    w.handle = uint64_t(reinterpret_cast<uintptr_t>(hwnd));
    wchar_t buf[512];
    int n = GetClassNameW(hwnd, buf, 512);
    w.className = narrow(std::wstring_view(buf, size_t(n > 0 ? n : 0)));
    n = GetWindowTextW(hwnd, buf, 512);
    w.title = narrow(std::wstring_view(buf, size_t(n > 0 ? n : 0)));
    w.visible = IsWindowVisible(hwnd) != 0;
    out->push_back(std::move(w));
    return TRUE;
}

}  // namespace

struct Win32Machine::Services {
    std::once_flag clipboardOnce, pstoreOnce, cacheOnce, historyOnce, restoreOnce, hotkeyOnce;
    std::unique_ptr<ClipboardService> clipboard;
    std::unique_ptr<ProtectedStorageService> pstore;
    std::unique_ptr<UrlCacheService> cache;
    std::unique_ptr<UrlHistoryService> history;
    std::unique_ptr<RestorePointService> restore;
    std::unique_ptr<HotkeyService> hotkeys;
};

Win32Machine::Win32Machine() : wow64_(isWow64Process()), services_(std::make_unique<Services>()) {
    // A drive without a medium answers "not ready" instead of asking the user.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    registry_ = std::make_unique<Win32Registry>(
        [this](std::string_view p) { return enablePrivilege(p); }, wow64_);
    files_ = std::make_unique<Win32FileApi>([this] {
        std::vector<std::string> out;
        for (const auto& h : registry_->hiveList()) out.push_back(h.filePath);
        return out;
    });
}

Win32Machine::~Win32Machine() = default;

RegistryApi& Win32Machine::registry() {
    return *registry_;
}

FileApi& Win32Machine::files() {
    return *files_;
}

OsVersion Win32Machine::version() {
    OsVersion v;
    // The manifest lists the Windows releases the program knows, so that
    // GetVersionEx tells the truth on Windows 8 and later as well.
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    }
    v.platform = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? OsVersion::NT : OsVersion::Win9x;
    v.major = int(info.dwMajorVersion);
    v.minor = int(info.dwMinorVersion);
    v.build = int(info.dwBuildNumber & 0xffff);
    v.servicePack = narrow(info.szCSDVersion);
    if (auto key = registry_->openKey(RootKey::LocalMachine,
                                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                      KeyAccess::Read)) {
        if (auto name = key->value("ProductName");
            name && (name->type == REG_SZ || name->type == REG_EXPAND_SZ)) {
            std::wstring w(reinterpret_cast<const wchar_t*>(name->data.data()),
                           name->data.size() / 2);
            while (!w.empty() && w.back() == L'\0') w.pop_back();
            v.productName = narrow(w);
        }
    }
    return v;
}

bool Win32Machine::isWow64() {
    return wow64_;
}

UserAccount Win32Machine::currentUser() {
    UserAccount u;
    wchar_t name[257];
    DWORD len = 257;
    if (GetUserNameW(name, &len) && len > 0) u.name = narrow(std::wstring_view(name, len - 1));
    Handle token;
    if (openQueryToken(token)) {
        auto buf = tokenInformation(token.get(), TokenUser);
        if (!buf.empty()) {
            LPWSTR sid = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) {
                u.sid = narrow(sid);
                LocalFree(sid);
            }
        }
    }
    u.profile = specialFolder(CSIDL_PROFILE);
    while (u.profile.size() > 3 && u.profile.back() == '\\') u.profile.pop_back();
    return u;
}

bool Win32Machine::isAdministrator() {
    Handle token;
    if (!openQueryToken(token)) return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
        return false;
    // The whole group list, however long; a group that only denies access
    // (a limited token under UAC) does not make the user an administrator.
    bool result = false;
    auto buf = tokenInformation(token.get(), TokenGroups);
    if (!buf.empty()) {
        auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
        for (DWORD i = 0; i < groups->GroupCount && !result; ++i)
            result = EqualSid(groups->Groups[i].Sid, admins) &&
                     !(groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
    }
    FreeSid(admins);
    return result;
}

bool Win32Machine::enablePrivilege(std::string_view name) {
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.out()))
        return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, widen(name).c_str(), &tp.Privileges[0].Luid)) return false;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &tp, sizeof(tp), nullptr, nullptr)) return false;
    return GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
}

std::string Win32Machine::expandEnvironmentStrings(std::string_view s) {
    std::wstring in = widen(s);
    DWORD n = ExpandEnvironmentStringsW(in.c_str(), nullptr, 0);
    if (n == 0) return std::string(s);
    std::wstring out(n, L'\0');
    n = ExpandEnvironmentStringsW(in.c_str(), out.data(), n);
    if (n == 0 || n > out.size()) return std::string(s);
    out.resize(n - 1);
    return narrow(out);
}

std::string Win32Machine::windowsDirectory() {
    auto d = fill([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); });
    while (d.size() > 3 && d.back() == '\\') d.pop_back();
    return d;
}

std::string Win32Machine::systemDirectory() {
    auto d = fill([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); });
    while (d.size() > 3 && d.back() == '\\') d.pop_back();
    return d;
}

std::string Win32Machine::tempPath() {
    return withBackslash(fill([](wchar_t* b, UINT n) { return UINT(GetTempPathW(n, b)); }));
}

std::string Win32Machine::specialFolder(int csidl) {
    wchar_t buf[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
    return withBackslash(narrow(buf));
}

std::string Win32Machine::programFile() {
    std::wstring buf(MAX_PATH + 1, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

std::string Win32Machine::programFolder() {
    std::string file = programFile();
    if (file.empty()) return {};
    size_t cut = file.find_last_of("\\/");
    return withBackslash(file.substr(0, cut == std::string::npos ? 0 : cut));
}

bool Win32Machine::shellExecute(std::string_view verb, std::string_view file,
                                std::string_view params) {
    ComScope com;  // some shell extensions need COM on the calling thread
    std::wstring v = widen(verb), f = widen(file), p = widen(params);
    auto r = ShellExecuteW(nullptr, v.empty() ? nullptr : v.c_str(), f.c_str(),
                           p.empty() ? nullptr : p.c_str(), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(r) > 32;
}

ProcessResult Win32Machine::runProcess(std::string_view commandLine, bool wait,
                                       std::stop_token stop) {
    ProcessResult result;
    std::wstring cmd = widen(commandLine);
    cmd.push_back(L'\0');  // CreateProcessW may write into the command line
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return result;
    Handle process(pi.hProcess), thread(pi.hThread);
    result.started = true;
    if (!wait) return result;
    for (;;) {
        DWORD w = WaitForSingleObject(process.get(), 100);
        if (w == WAIT_OBJECT_0) break;
        if (w == WAIT_FAILED) return result;
        if (stop.stop_requested()) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 5000);
            return result;
        }
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) {
        result.finished = true;
        result.exitCode = int(code);
    }
    return result;
}

std::vector<WindowRef> Win32Machine::topLevelWindows() {
    std::vector<WindowRef> out;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool Win32Machine::showWindow(uint64_t handle, bool show) {
    HWND hwnd = reinterpret_cast<HWND>(uintptr_t(handle));
    if (!IsWindow(hwnd)) return false;
    ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
    return true;
}

std::string Win32Machine::shortcutTarget(std::string_view lnkPath) {
    ComScope com;
    if (!com.ok()) return {};
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return {};
    std::string target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(widen(lnkPath).c_str(), STGM_READ))) {
            wchar_t buf[MAX_PATH + 1] = {};
            if (link->GetPath(buf, MAX_PATH + 1, nullptr, 0) == S_OK) target = narrow(buf);
        }
        file->Release();
    }
    link->Release();
    return target;
}

bool Win32Machine::restart() {
    enablePrivilege("SeShutdownPrivilege");
    return ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION |
                                         SHTDN_REASON_MINOR_MAINTENANCE |
                                         SHTDN_REASON_FLAG_PLANNED) != 0;
}

ClipboardService* Win32Machine::clipboard() {
    std::call_once(services_->clipboardOnce, [&] { services_->clipboard = makeClipboard(); });
    return services_->clipboard.get();
}

ProtectedStorageService* Win32Machine::protectedStorage() {
    std::call_once(services_->pstoreOnce, [&] { services_->pstore = makeProtectedStorage(); });
    return services_->pstore.get();
}

UrlCacheService* Win32Machine::urlCache() {
    std::call_once(services_->cacheOnce, [&] { services_->cache = makeUrlCache(); });
    return services_->cache.get();
}

UrlHistoryService* Win32Machine::urlHistory() {
    std::call_once(services_->historyOnce, [&] { services_->history = makeUrlHistory(); });
    return services_->history.get();
}

RestorePointService* Win32Machine::restorePoints() {
    std::call_once(services_->restoreOnce, [&] { services_->restore = makeRestorePoints(); });
    return services_->restore.get();
}

HotkeyService* Win32Machine::hotkeys() {
    std::call_once(services_->hotkeyOnce, [&] { services_->hotkeys = makeHotkeys(); });
    return services_->hotkeys.get();
}

}  // namespace brisko::win32
