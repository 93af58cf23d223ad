// Drives brisko-cleaner.exe from outside, as another program or the user's
// shell would, and measures it.
//   window_probe show-main GUI_EXE     start it with /Auto (to the tray), bring it
//                                      forward with WM_SHOW_MAIN, close it
//   window_probe bench GUI_EXE CLI_EXE [RUNS]
//                                      time to the first painted main window of the
//                                      program against `CLI_EXE --help`, in ms
// Each wait is for a condition, with a limit; exit code 0 when all held.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kClassName[] = L"Brisko Cleaner Made by Brisko Software";
constexpr UINT kShowMain = 0x5405;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

template <class Pred>
bool waitFor(Pred pred, int limitMs) {
    auto t0 = Clock::now();
    while (!pred()) {
        if (msSince(t0) > limitMs) return false;
        Sleep(5);
    }
    return true;
}

// quiet: the program's output goes to NUL.
PROCESS_INFORMATION start(const std::wstring& commandLine, bool quiet = false) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE nul = INVALID_HANDLE_VALUE;
    if (quiet) {
        nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = si.hStdError = nul;
    }
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    BOOL ok =
        CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, quiet, 0, nullptr, nullptr, &si, &pi);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!ok)
        std::fprintf(stderr, "cannot start %ls (error %lu)\n", commandLine.c_str(), GetLastError());
    return pi;
}

struct FindMain {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK findMain(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<FindMain*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    wchar_t cls[128] = {}, title[128] = {};
    GetClassNameW(h, cls, 128);
    GetWindowTextW(h, title, 128);
    if (owner == f->pid && std::wstring(cls) != kClassName &&
        std::wstring(title).rfind(L"Brisko Cleaner 3", 0) == 0) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

// The program's main window: a top-level window of the process titled
// "Brisko Cleaner ..." that is not the class window.
HWND mainWindowOf(DWORD pid) {
    FindMain find{pid, nullptr};
    EnumWindows(findMain, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// Shown and drawn: visible, nothing left to paint, and its thread answering.
bool painted(HWND h) {
    if (!h || !IsWindowVisible(h)) return false;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r)) return false;
    return !GetUpdateRect(h, nullptr, FALSE);
}

bool closeAndWait(const PROCESS_INFORMATION& pi, HWND main, DWORD* exitCode) {
    PostMessageW(main, WM_CLOSE, 0, 0);
    bool ended = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ended;
}

int failures = 0;
void check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok:  " : "FAIL:", what);
    std::fflush(stdout);
    if (!ok) ++failures;
}

int showMain(const std::wstring& gui) {
    PROCESS_INFORMATION pi = start(L"\"" + gui + L"\" /Auto");
    if (!pi.hProcess) return 1;
    HWND cls = nullptr, main = nullptr;
    check(waitFor([&] { return (cls = FindWindowW(kClassName, nullptr)) != nullptr; }, 120000),
          "the running program is found by its window class");
    DWORD owner = 0;
    GetWindowThreadProcessId(cls, &owner);
    check(owner == pi.dwProcessId, "the class window belongs to the started program");
    check(waitFor([&] { return (main = mainWindowOf(pi.dwProcessId)) != nullptr; }, 120000),
          "the main window exists");
    // "/Auto" starts in the tray: the window shows, is activated, and hides.
    check(waitFor([&] { return IsWindowVisible(main) != FALSE; }, 120000), "the window shows");
    check(waitFor([&] { return !IsWindowVisible(main); }, 60000), "/Auto hides it to the tray");
    PostMessageW(cls, kShowMain, 0, 0);
    check(waitFor([&] { return painted(main); }, 60000), "WM_SHOW_MAIN brings the window forward");
    DWORD code = 0;
    check(closeAndWait(pi, main, &code), "closing the window ends the program");
    check(code == 0, "the program ends with exit code 0");
    return failures ? 1 : 0;
}

int bench(const std::wstring& gui, const std::wstring& cli, int runs) {
    std::vector<double> guiMs, cliMs;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        PROCESS_INFORMATION pi = start(L"\"" + gui + L"\"");
        if (!pi.hProcess) return 1;
        HWND main = nullptr;
        if (!waitFor([&] { return painted(main = mainWindowOf(pi.dwProcessId)); }, 120000)) {
            std::fprintf(stderr, "the window did not appear\n");
            TerminateProcess(pi.hProcess, 99);
            return 1;
        }
        guiMs.push_back(msSince(t0));
        DWORD code = 0;
        closeAndWait(pi, main, &code);

        t0 = Clock::now();
        pi = start(L"\"" + cli + L"\" --help", true);
        if (!pi.hProcess) return 1;
        WaitForSingleObject(pi.hProcess, 60000);
        cliMs.push_back(msSince(t0));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    double g = median(guiMs), c = median(cliMs);
    std::printf("brisko-cleaner.exe first painted window: %.0f ms (median of %d)\n", g, runs);
    std::printf("brisko.exe --help:                      %.0f ms (median of %d)\n", c, runs);
    std::printf("ratio: %.2f\n", g / c);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring cmd = argc > 1 ? argv[1] : L"";
    if (cmd == L"show-main" && argc == 3) return showMain(argv[2]);
    if (cmd == L"bench" && (argc == 4 || argc == 5))
        return bench(argv[2], argv[3], argc == 5 ? std::max(1, _wtoi(argv[4])) : 3);
    std::fprintf(stderr, "usage: window_probe show-main GUI_EXE | bench GUI_EXE CLI_EXE [RUNS]\n");
    return 2;
}
