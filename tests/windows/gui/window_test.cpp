// The desktop program's window on the running Windows (Wine in the tests):
// one window, driven step by step as a user would, each step checked from
// what the program shows, writes or registers. No step waits a fixed time:
// each waits for its condition, with a generous limit.
// Usage: window_test [SCREENSHOT_FOLDER]
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <iostream>
#include <string>

#include "core/machine/win32/win32_machine.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/startup.h"
#include "registry/scan_run.h"
#include "ui/check_tree_view.h"
#include "ui/cleaner_pane.h"
#include "ui/defrag_pane.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/registry_pane.h"
#include "ui/system_point_dialog.h"
#include "ui/tools_pane.h"
#include "ui/windows_messages_win32.h"

// Last: windows.h turns our message names into macros of the same values.
#include <windows.h>

using namespace brisko;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::cout << (ok ? "ok:   " : "FAIL: ") << what << std::endl;
    if (!ok) ++failures;
}

// Runs the event loop until pred holds or limitMs pass.
bool waitFor(const std::function<bool()>& pred, int limitMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

void clickNav(TfrmMain& w, const char* name) {
    if (auto* b = w.findChild<QToolButton*>(QString::fromLatin1(name))) b->click();
    QCoreApplication::processEvents();
}

void shoot(TfrmMain& w, const QString& folder, const char* nav, const char* file) {
    if (folder.isEmpty()) return;
    clickNav(w, nav);
    waitFor([] { return false; }, 300);  // let the pane lay out and paint
    check(w.grab().save(folder + "/" + file), std::string("screenshot ") + file);
}

std::wstring appDataFolder() {
    wchar_t buf[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"APPDATA", buf, MAX_PATH);
    return std::wstring(buf, n);
}

bool anyLineHas(const std::vector<std::string>& lines, std::string_view text) {
    for (const auto& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString shots = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    win32::Win32Machine machine;
    TfrmMain w(machine, parseStartArgs(std::vector<std::string>{}));
    WindowsMessageBridge bridge(w.messageTarget(), machine.hotkeys());
    bool ended = false;
    QObject::connect(&w, &TfrmMain::terminated, [&](int) { ended = true; });

    // The window opens on the running Windows.
    w.show();
    check(waitFor([&] { return w.isVisible() && w.lifecycle().firstActivationDone(); }),
          "the main window opens and is activated");
    w.resize(900, 620);
    HWND classWindow = FindWindowW(L"Brisko Cleaner Made by Brisko Software", nullptr);
    check(classWindow && classWindow == bridge.classWindow(),
          "another program finds the window by its class name");

    // A Test run of the Windows items lists what it would delete.
    {
        wchar_t temp[MAX_PATH] = {};
        DWORD n = GetTempPathW(MAX_PATH, temp);
        QFile planted(QString::fromWCharArray(temp, int(n)) + QStringLiteral("brisko-planted.tmp"));
        check(planted.open(QIODevice::WriteOnly) && planted.write("temporary") == 9,
              "a temporary file is planted in " +
                  QString::fromWCharArray(temp, int(n)).toStdString());
    }
    auto* tv = w.findChild<CheckTreeView*>(QStringLiteral("tvCleanItems"));
    for (auto& g : w.model().cleanTree.topLevel())
        if (g->caption == "Windows" && !g->checked) tv->toggleNode(*g);
    // Fast mode (a saved option) lists counts only; the names are wanted here.
    if (w.cleanerPane()->cbFastMode()->isChecked()) w.cleanerPane()->cbFastMode()->click();
    w.cleanerPane()->bTest()->click();
    check(waitFor([&] { return !w.model().flags.Busy; }, 300000), "the Test run ends");
    std::vector<std::string> log = w.cleanerPane()->logLines();
    check(!log.empty(), "the Test run fills the log (" + std::to_string(log.size()) + " lines)");
    check(anyLineHas(log, "brisko-planted.tmp"), "the log lists the planted temporary file");
    if (!anyLineHas(log, "brisko-planted.tmp"))
        for (const auto& l : log) std::cout << "      log: " << l << "\n";
    shoot(w, shots, "bCleaner", "windows-cleaner.png");

    // A registry scan lists the problems planted in Wine's registry.
    clickNav(w, "bRegistry");
    w.registryPane()->bScanClick();
    check(waitFor([&] { return !w.scanInProgress(); }, 300000), "the registry scan ends");
    bool typedPath = false, emptyKey = false, runEntry = false, classServer = false;
    bool programFiles = false;
    for (const RegistryProblem& r : w.registryPane()->run().rows()) {
        if (r.data == "C:\\brisko-cross" && r.keyPath.find("TypedPaths") != std::string::npos)
            typedPath = true;
        if (r.data == "Empty" && r.keyPath.find("Software\\BriskoCross") != std::string::npos)
            emptyKey = true;
        // Listed by the Startup Programs section or, first, by the walk of HKEY_USERS.
        if (r.data.find("C:\\Brisko Ghost\\ghost.exe") != std::string::npos &&
            r.keyPath.find("CurrentVersion\\Run\\Brisko Ghost Root") != std::string::npos)
            runEntry = true;
        if (r.data == "C:\\Brisko Ghost\\ghost.dll" &&
            r.keyPath.find("CLSID\\{0B5C0DE0-1111-4222-8333-944455557777}\\InprocServer32") !=
                std::string::npos)
            classServer = true;
        if (r.data.find("Program Files") != std::string::npos &&
            r.data.find("Brisko Ghost") != std::string::npos)
            programFiles = true;
    }
    check(typedPath, "the scan lists the typed path of a missing folder");
    check(emptyKey, "the scan lists the empty key");
    check(runEntry, "the scan lists the Run entry of a missing program");
    check(classServer, "the scan lists the class whose server file is missing");
    // A 32-bit program on 64-bit Windows leaves references into Program Files alone.
    if (machine.isWow64())
        check(!programFiles, "the scan leaves the missing programs in Program Files alone");
    if (!runEntry || !classServer || programFiles)
        for (const RegistryProblem& r : w.registryPane()->run().rows())
            std::cout << "      row: " << r.data << "  in  " << r.keyPath << "\n";
    shoot(w, shots, "bRegistry", "windows-registry.png");

    clickNav(w, "bTools");
    w.toolsPane()->bStartupClick();
    shoot(w, shots, "bTools", "windows-tools.png");
    clickNav(w, "bRegistryDefrag");
    shoot(w, shots, "bRegistryDefrag", "windows-defrag.png");
    clickNav(w, "bCleaner");

    // The Options dialog saves to the user's AppData.
    const QString ini = QString::fromStdWString(appDataFolder()) +
                        QStringLiteral("\\Brisko\\Brisko Cleaner\\options.ini");
    const bool fastBefore = w.model().Settings.FastScan;
    QTimer::singleShot(0, [&] {
        waitFor([] { return qobject_cast<TfrmOptions*>(QApplication::activeModalWidget()); },
                30000);
        auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
        if (!d) return;
        if (!shots.isEmpty()) d->grab().save(shots + "/windows-options.png");
        d->cbFastScan->setChecked(!fastBefore);
        d->bOK->click();
    });
    check(w.bOptionsClick(), "the Options dialog ends with OK");
    QFile f(ini);
    bool read = f.open(QIODevice::ReadOnly);
    const QByteArray text = read ? f.readAll() : QByteArray();
    check(read, "options.ini is in the user's AppData: " + ini.toStdString());
    check(text.contains(fastBefore ? "FastScan=0" : "FastScan=1"),
          "options.ini holds the changed option");

    // The tray: minimising hides the window to its icon; WM_SHOW_MAIN brings it back.
    w.handleMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    check(waitFor([&] { return !w.isVisible(); }), "minimising hides the window");
    check(w.hiddenToTray() && w.trayIcon() && w.trayIcon()->isVisible(),
          "the tray icon is shown while the window is hidden");
    PostMessageW(classWindow, 0x5405, 0, 0);
    check(waitFor([&] { return w.isVisible() && !w.hiddenToTray(); }),
          "WM_SHOW_MAIN sent to the class window shows the window again");

    // The restore-point dialog has a caption and no title-bar buttons at all.
    {
        TfrmSystemPoint d(machine, w.prompter(), &w);
        LONG style = GetWindowLongW(reinterpret_cast<HWND>(d.winId()), GWL_STYLE);
        check((style & WS_CAPTION) == WS_CAPTION &&
                  !(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
              "the restore-point dialog has a caption without buttons");
    }

    // The Boss Key: a real registration, then WM_HOTKEY as Windows posts it.
    w.model().Settings.EnableHotkey = true;
    w.model().Settings.Hotkey = TShortcut{true, false, true, "F9", VK_F9};
    w.unregisterHotkey();
    w.registerHotkey();
    bool taken = !RegisterHotKey(nullptr, 0x1234, MOD_CONTROL | MOD_ALT, VK_F9);
    if (!taken) UnregisterHotKey(nullptr, 0x1234);
    check(taken, "Ctrl+Alt+F9 is registered with the system");
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"IEFrame";
    RegisterClassW(&wc);
    HWND browser = CreateWindowExW(0, L"IEFrame", L"A browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                   10, 10, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    ATOM atom = GlobalFindAtomW(L"BriskoCleanerHotKey49153");
    check(atom != 0, "the Boss Key's atom exists");
    PostThreadMessageW(GetCurrentThreadId(), WM_HOTKEY, atom,
                       MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F9));
    check(waitFor([&] { return !IsWindowVisible(browser); }),
          "the Boss Key hides the browser window");
    PostThreadMessageW(GetCurrentThreadId(), WM_HOTKEY, atom,
                       MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F9));
    check(waitFor([&] { return IsWindowVisible(browser); }), "pressed again, it shows it again");
    w.model().Settings.EnableHotkey = false;
    w.unregisterHotkey();
    DestroyWindow(browser);

    w.close();
    check(waitFor([&] { return ended; }), "closing the window ends the program");
    std::cout << (failures ? "FAILED: " : "passed: ") << failures << " failure(s)" << std::endl;
    return failures ? 1 : 0;
}
