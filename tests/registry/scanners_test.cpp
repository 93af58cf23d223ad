// Each section on a small machine holding healthy entries beside broken ones:
// only the broken ones may come back, with the row a fix needs.
#include "registry/scanners/scanners.h"

#include <gtest/gtest.h>

#include <thread>

#include "demo/demo_machine.h"
#include "demo/shortcut_file.h"
#include "registry/section_tree.h"
#include "scan_test_machine.h"

namespace brisko {
namespace {

using test::dataOf;
using test::keysOf;
using test::ScanMachine;
using Strings = std::vector<std::string>;

const std::string LM = "HKEY_LOCAL_MACHINE\\";
const std::string CU = "HKEY_CURRENT_USER\\";
const std::string CR = "HKEY_CLASSES_ROOT\\";
const std::string CV = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-1000";

RegistryProblem row(int section, std::string data, std::string key, ProblemKind kind) {
    return {false, std::string(sectionProblemText(section)), std::move(data), std::move(key), kind};
}

TEST(FileReferenceScanners, SharedDlls) {
    ScanMachine sm;
    const std::string key = LM + CV + "SharedDlls";
    sm.file("C:\\Apps\\shared.dll")
        .file("C:\\Apps\\zero.dll")
        .dword(key, "C:\\Apps\\shared.dll", 2)
        .dword(key, "C:\\Apps\\gone.dll", 1)
        .dword(key, "C:\\Apps\\zero.dll", 0)
        .sz(key, "C:\\Apps\\text.dll", "1");
    const std::string keyPath = LM + "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    EXPECT_EQ(sm.scan(kSecSharedDlls),
              (std::vector<RegistryProblem>{
                  row(kSecSharedDlls, "C:\\Apps\\gone.dll", keyPath, pkDataValue),
                  row(kSecSharedDlls, "C:\\Apps\\zero.dll", keyPath, pkDataValue)}));
}

TEST(FileReferenceScanners, SoftwareLocations) {
    ScanMachine sm;
    const std::string key = LM + CV + "App Paths\\";
    sm.file("C:\\Apps\\ok.exe")
        .sz(key + "ok.exe", "", "C:\\Apps\\ok.exe")
        .sz(key + "gone.exe", "", "\"C:\\Gone\\gone.exe\"")
        .sz(key + "renamed.exe", "", "C:\\Apps\\other.exe")  // key name not in the path
        .sz(key + "library.dll", "", "C:\\Gone\\library.dll")
        .key(key + "bare.exe")
        .sz(key + "blank.exe", "", "")
        .sz(key + "blankpath.exe", "", "")
        .sz(key + "blankpath.exe", "Path", "C:\\Apps")
        .dword(key + "number.exe", "", 1)  // holds a value, so not empty
        // Named without ".exe", in a folder of its own name: the folder is not
        // the program.
        .file("C:\\Program Files\\Tool\\Tool.exe")
        .sz(key + "Tool", "", "C:\\Program Files\\Tool\\Tool.exe")
        .sz(key + "Gadget", "", "C:\\Program Files\\Gadget\\Gadget.exe");
    auto rows = sm.scan(kSecSoftwareLocations);
    const std::string keyPath = LM + "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    EXPECT_EQ(keysOf(rows), (Strings{keyPath + "bare.exe", keyPath + "blank.exe",
                                     keyPath + "Gadget", keyPath + "gone.exe"}));
    EXPECT_EQ(dataOf(rows),
              (Strings{"", "", "C:\\Program Files\\Gadget\\Gadget.exe", "\"C:\\Gone\\gone.exe\""}));
    EXPECT_EQ(rows[0].kind, pkKey);
}

TEST(FileReferenceScanners, FontsAndHelpFiles) {
    ScanMachine sm;
    const std::string fonts = LM + "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    sm.file("C:\\Windows\\Fonts\\arial.ttf")
        .file("C:\\Apps\\Help\\app.hlp")
        .sz(fonts, "Arial (TrueType)", "ARIAL.TTF")
        .sz(fonts, "Gone (TrueType)", "gone.ttf")  // a bare name outside the folder
        .sz(fonts, "Full (TrueType)", "C:\\Windows\\Fonts\\arial.ttf")
        .sz(fonts, "Custom (TrueType)", "C:\\MyFonts\\custom.ttf")
        .sz(LM + "SOFTWARE\\Microsoft\\Windows\\Help", "app.hlp", "C:\\Apps\\Help")
        .sz(LM + "SOFTWARE\\Microsoft\\Windows\\Help", "gone.hlp", "C:\\Apps\\Help\\")
        .sz(LM + "SOFTWARE\\Microsoft\\Windows\\Help", "bare.hlp", "")
        .sz(LM + "SOFTWARE\\Microsoft\\Windows\\Html Help", "gone.chm", "C:\\Gone");
    EXPECT_EQ(sm.scan(kSecFonts),
              (std::vector<RegistryProblem>{
                  row(kSecFonts, "C:\\MyFonts\\custom.ttf",
                      LM + "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Custom "
                           "(TrueType)",
                      pkValue)}));
    auto help = sm.scan(kSecHelpFiles);
    EXPECT_EQ(dataOf(help), (Strings{"C:\\Apps\\Help\\gone.hlp", "C:\\Gone\\gone.chm"}));
    EXPECT_EQ(help[1].keyPath, LM + "Software\\Microsoft\\Windows\\Html Help\\gone.chm");
}

TEST(FileReferenceScanners, StartupPrograms) {
    ScanMachine sm;
    sm.file("C:\\Apps\\ok.exe")
        .sz(CU + CV + "Run", "ok", "\"C:\\Apps\\ok.exe\" /tray")
        .sz(CU + CV + "Run", "gone", "C:\\Gone\\gone.exe -s")
        .sz(CU + CV + "Run", "empty", "")
        .sz(CU + CV + "Run", "quotes", "\"\"")
        .dword(CU + CV + "Run", "number", 1)
        .sz(CU + CV + "Run", "relative", "rundll32.exe shell32.dll,Control_RunDLL")
        .expandSz(LM + CV + "RunOnce", "sys", "%SystemRoot%\\gone.exe")
        .sz(LM + "SOFTWARE\\Microsoft\\Shared Tools\\MSConfig\\startupreg\\Old", "command",
            "C:\\Gone\\old.exe")
        .sz(LM + "SOFTWARE\\Microsoft\\Shared Tools\\MSConfig\\startupreg\\Fine", "command",
            "C:\\Apps\\ok.exe");
    auto rows = sm.scan(kSecStartupPrograms);
    const std::string run = CU + "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
    EXPECT_EQ(keysOf(rows),
              (Strings{run + "gone", run + "empty", run + "quotes",
                       LM + "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\sys",
                       LM + "Software\\Microsoft\\Shared Tools\\MSConfig\\startupreg\\Old"}));
    EXPECT_EQ(rows[0].kind, pkValue);
    EXPECT_EQ(rows[4].kind, pkKey);
    EXPECT_EQ(rows[4].data, "C:\\Gone\\old.exe");
}

TEST(FileReferenceScanners, AddRemoveProgramsAndServices) {
    ScanMachine sm;
    const std::string un = LM + CV + "Uninstall\\";
    const std::string svc = LM + "SYSTEM\\CurrentControlSet\\Services\\";
    sm.file("C:\\Windows\\System32\\svchost.exe")
        .sz(un + "Good", "UninstallString", "C:\\Apps\\uninst.exe")
        .sz(un + "Quiet", "QuietUninstallString", "C:\\Apps\\uninst.exe /S")
        .dword(un + "Hidden", "SystemComponent", 1)
        .sz(un + "Broken", "DisplayName", "Broken")
        .sz(un + "Lower", "uninstallstring", "x")  // value names have no case
        .sz(un + "{5A6B7C8D-0000-0000-0000-000000000000}", "DisplayName", "An MSI product")
        .expandSz(svc + "Good", "ImagePath", "%SystemRoot%\\System32\\svchost.exe -k netsvcs")
        .sz(svc + "Gone", "ImagePath", "\"C:\\Gone\\service.exe\" -run")
        .sz(svc + "Driver", "ImagePath", "\\SystemRoot\\System32\\drivers\\gone.sys")
        .sz(svc + "Relative", "ImagePath", "system32\\drivers\\gone.sys")
        .sz(svc + "sppsvc-slsvc", "ImagePath", "C:\\Gone\\licensing.exe");
    auto programs = sm.scan(kSecAddRemovePrograms);
    EXPECT_EQ(dataOf(programs), (Strings{"Broken"}));
    EXPECT_EQ(programs[0].keyPath, LM + "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    EXPECT_EQ(programs[0].kind, pkDataSubkey);
    EXPECT_EQ(sm.scan(kSecWindowsServices),
              (std::vector<RegistryProblem>{
                  row(kSecWindowsServices, "\"C:\\Gone\\service.exe\" -run",
                      LM + "SYSTEM\\CurrentControlSet\\Services\\Gone\\ImagePath", pkValue)}));
}

TEST(FileReferenceScanners, Installer) {
    ScanMachine sm;
    const std::string un = LM + CV + "Uninstall\\";
    const std::string folders = LM + CV + "Installer\\Folders";
    const std::string cache = LM + CV + "App Management\\ARPCache\\";
    sm.file("C:\\Apps\\ok.exe")
        .sz(un + "App", "DisplayIcon", "C:\\Apps\\ok.exe,0")
        .sz(un + "Old", "DisplayIcon", "C:\\Gone\\old.exe,0")
        .sz(un + "Old", "InstallLocation", "C:\\Gone\\")  // mentions no ".exe"
        .sz(folders, "C:\\Apps\\", "")
        .sz(folders, "C:\\Gone\\", "")
        .binary(cache + "App", "SlowInfoCache", {1, 2})
        .binary(cache + "Vanished", "SlowInfoCache", {1, 2});
    auto rows = sm.scan(kSecInstaller);
    EXPECT_EQ(
        keysOf(rows),
        (Strings{LM + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Old\\DisplayIcon",
                 LM + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
                 LM + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache"}));
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\old.exe,0", "C:\\Gone\\", "Vanished"}));
    EXPECT_EQ(rows[1].kind, pkDataValue);
    EXPECT_EQ(rows[2].kind, pkDataSubkey);
}

TEST(ShellScanners, StartMenuOrderKeys) {
    ScanMachine sm;
    const std::string order = CU + CV + "Explorer\\MenuOrder\\Start Menu2\\Programs\\";
    sm.folder(
          "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\"
          "Accessories")
        .folder("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Shared Tool")
        .binary(order + "accessories", "Order", {1})
        .binary(order + "Shared Tool", "Order", {1})
        .binary(order + "Old Game", "Order", {1});
    EXPECT_EQ(sm.scan(kSecStartMenu),
              (std::vector<RegistryProblem>{row(
                  kSecStartMenu, "Old Game",
                  CU + "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
                       "Menu2\\Programs",
                  pkDataSubkey)}));
}

TEST(ShellScanners, Shortcuts) {
    ScanMachine sm;
    const std::string desktop = "C:\\Users\\Alex\\Desktop\\";
    const std::string programs =
        "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
    sm.file("C:\\Apps\\ok.exe")
        .file(desktop + "ok.lnk", shortcutFileBytes("C:\\Apps\\ok.exe"))
        .file(desktop + "folder.lnk", shortcutFileBytes("C:\\Apps", true))
        .file(desktop + "gone.LNK", shortcutFileBytes("C:\\Gone\\gone.exe"))
        .file(desktop + "network.lnk", shortcutFileBytes("\\\\server\\share\\x.exe"))
        .file(desktop + "broken.lnk", "not a shortcut")
        .file(programs + "Old App\\Old App.lnk", shortcutFileBytes("C:\\Program Files\\Old\\a.exe"))
        .file("C:\\Users\\Public\\Desktop\\public.lnk", shortcutFileBytes("C:\\Gone\\public.exe"));
    // A folder link to itself, as a mounted NTFS junction ("Application
    // Data" in a profile) may show: walked once, not until the path is full.
    sm.open();
    std::filesystem::create_directory_symlink(
        ".", sm.host() / "Users" / "Alex" / "Desktop" / "Desktop Loop");
    auto rows = sm.scan(kSecShortcuts);
    // The Start Menu lies in Application Data: its shortcut is reported once.
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.keyPath < b.keyPath; });
    EXPECT_EQ(keysOf(rows), (Strings{programs + "Old App\\Old App.lnk", desktop + "gone.LNK",
                                     "C:\\Users\\Public\\Desktop\\public.lnk"}));
    EXPECT_EQ(rows[1], row(kSecShortcuts, "C:\\Gone\\gone.exe", desktop + "gone.LNK", pkFile));
}

TEST(ShellScanners, Applications) {
    ScanMachine sm;
    const std::string apps = LM + "SOFTWARE\\Classes\\Applications\\";
    sm.file("C:\\Apps\\ok.exe")
        .sz(apps + "ok.exe\\shell\\open\\command", "", "\"C:\\Apps\\ok.exe\" \"%1\"")
        .sz(apps + "gone.exe\\shell\\open\\command", "", "C:\\Gone\\gone.exe %1")
        .sz(apps + "two.exe\\shell\\edit\\command", "", "")
        .sz(apps + "two.exe\\shell\\open\\command", "", "C:\\Apps\\ok.exe %1")
        .key(apps + "nocommand.exe\\shell\\open")
        // A verb run by its COM handler has no command line.
        .sz(apps + "handler.exe\\shell\\open\\command", "", "")
        .sz(apps + "handler.exe\\shell\\open\\command", "DelegateExecute",
            "{11111111-2222-3333-4444-555555555555}");
    auto rows = sm.scan(kSecApplications);
    const std::string base = LM + "Software\\Classes\\Applications\\";
    EXPECT_EQ(keysOf(rows), (Strings{base + "gone.exe\\shell\\open\\command",
                                     base + "two.exe\\shell\\edit\\command"}));
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\gone.exe %1", ""}));
}

TEST(ShellScanners, FindCommandKeyStopsAtEachHit) {
    ScanMachine sm;
    const std::string app = LM + "SOFTWARE\\Classes\\Applications\\a.exe\\";
    sm.sz(app + "shell\\open\\command", "", "a")
        .sz(app + "shell\\open\\command\\command", "", "never reached")
        .dword(app + "shell\\print\\command", "", 1)  // not a string: walked into
        .sz(app + "shell\\print\\command\\deep\\command", "", "deep")
        .key(app + "shell\\edit\\command");
    Machine& m = sm.open();
    auto start = m.registry().openKey(RootKey::LocalMachine,
                                      "SOFTWARE\\Classes\\Applications\\a.exe", KeyAccess::Read);
    ASSERT_TRUE(start);
    ProblemCollector out;
    ScanContext ctx(m, makeScanEnvironment(m, true, 12), {}, out);
    auto hits = FindCommandKey(*start, "X", ctx);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].path, "X\\shell\\edit");
    EXPECT_EQ(hits[0].command, "");
    EXPECT_EQ(hits[1].path, "X\\shell\\open");
    EXPECT_EQ(hits[2].path, "X\\shell\\print\\command\\deep");
    EXPECT_EQ(hits[2].command, "deep");
}

TEST(ShellScanners, MruListsAndUserAssist) {
    ScanMachine sm;
    const std::string mru = CU + CV + "Explorer\\ComDlg32\\OpenSaveMRU";
    const std::string count =
        CU + CV + "Explorer\\UserAssist\\{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";
    auto counted = [](uint32_t n) {
        std::vector<uint8_t> d(16, 0);
        d[4] = uint8_t(n);
        return d;
    };
    sm.file("C:\\Docs\\letter.txt")
        .file("C:\\Apps\\ok.exe")
        .sz(mru + "\\txt", "a", "C:\\Docs\\letter.txt")
        .sz(mru + "\\txt", "b", "C:\\Docs\\gone.txt")
        .sz(mru + "\\txt", "MRUList", "ab")
        .sz(mru + "\\*", "a", "C:\\Docs\\letter.txt")
        .sz(mru, "x", "C:\\Docs\\letter")
        .sz(mru, "y", "C:\\Docs\\gone")
        .binary(count, Rot13("UEME_RUNPATH:C:\\Apps\\ok.exe"), counted(6))
        .binary(count, Rot13("UEME_RUNPATH:C:\\Gone\\gone.exe"), counted(3))
        .binary(count, Rot13("UEME_RUNPATH:C:\\Apps\\ok.exe "), counted(0))
        .binary(count, Rot13("UEME_CTLSESSION"), counted(1))
        .binary(count, Rot13("UEME_RUNPIDL:%csidl2%\\Gone.lnk"), counted(2))
        .binary(count, Rot13("UEME_RUNPATH:C:\\Gone\\short.exe"), {1, 2, 3, 4})
        .binary(count, Rot13("UEME_RUNPATH:C:\\Apps\\ok.exe  "), {1, 2, 3, 4});
    auto rows = sm.scan(kSecMruLists);
    const std::string mruPath =
        CU + "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU";
    const std::string countPath =
        CU +
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{75048700-EF1F-11D0-"
        "9888-006097DEACF9}\\Count";
    EXPECT_EQ(rows,
              (std::vector<RegistryProblem>{
                  row(kSecMruLists, "C:\\Docs\\gone", mruPath + "\\y", pkValue),
                  row(kSecMruLists, "C:\\Docs\\gone.txt", mruPath + "\\txt\\b", pkValue),
                  row(kSecMruLists, "UEME_RUNPATH:C:\\Gone\\gone.exe", countPath, pkRot13Value),
                  row(kSecMruLists, "UEME_RUNPATH:C:\\Apps\\ok.exe ", countPath, pkRot13Value),
                  row(kSecMruLists, "UEME_RUNPATH:C:\\Gone\\short.exe", countPath, pkRot13Value)}));
}

TEST(ComScanners, FileExtensions) {
    ScanMachine sm;
    const std::string classes = LM + "SOFTWARE\\Classes\\";
    const std::string exts = CU + CV + "Explorer\\FileExts\\";
    sm.sz(classes + ".good", "", "goodfile")
        .key(classes + ".bare")
        .sz(classes + ".blank", "", "")
        .dword(classes + ".number", "", 1)
        .key(classes + ".withsub\\ShellNew")
        .sz(classes + ".twovalues", "", "")
        .sz(classes + ".twovalues", "Content Type", "")
        .sz(exts + ".txt\\OpenWithList", "a", "notepad.exe")
        .key(exts + ".old")
        .key(exts + ".");
    auto rows = sm.scan(kSecFileExtensions, 9);  // Windows XP
    EXPECT_EQ(dataOf(rows), (Strings{".bare", ".blank", ".", ".old"}));
    // Windows 7 keeps its own "." entry.
    EXPECT_EQ(dataOf(sm.scan(kSecFileExtensions, 12)), (Strings{".bare", ".blank", ".old"}));
    EXPECT_EQ(rows[0].keyPath, LM + "Software\\Classes");
    EXPECT_EQ(rows[3].keyPath,
              CU + "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts");
}

TEST(ComScanners, FileExtensionsOnSixtyFourBitWindows7) {
    ScanMachine sm;
    sm.ini("[Machine]\r\nIs64Bit=1\r\n")
        .key(LM + "SOFTWARE\\Classes\\.bare")
        .sz(LM + "SOFTWARE\\Classes\\.blank", "", "")
        .key(CU + CV + "Explorer\\FileExts\\.old\\OpenWithList");
    EXPECT_EQ(dataOf(sm.scan(kSecFileExtensions, 12)), (Strings{".bare"}));
}

TEST(ComScanners, CustomControls) {
    ScanMachine sm;
    sm.file("C:\\Apps\\ok.dll")
        .sz(CR + "CLSID\\{A}", "", "A class")
        .sz(CR + "CLSID\\{A}\\InprocServer32", "", "C:\\Apps\\ok.dll")
        .sz(CR + "CLSID\\{B}\\InprocServer32", "", "C:\\Gone\\gone.dll")
        .sz(CR + "Interface\\{I1}", "", "IGood")
        .sz(CR + "Interface\\{I1}\\TypeLib", "", "{t1}")
        .sz(CR + "Interface\\{I2}", "", "IBad")
        .sz(CR + "Interface\\{I2}\\TypeLib", "", "{T9}")
        .sz(CR + "Interface\\{I3}", "", "INoLib")
        .sz(CR + "Interface\\{I4}\\TypeLib", "", "{T9}")  // no name: not judged
        .key(CR + "TypeLib\\{T1}\\1.0");
    EXPECT_EQ(
        sm.scan(kSecCustomControls),
        (std::vector<RegistryProblem>{
            row(kSecCustomControls, "C:\\Gone\\gone.dll", CR + "CLSID\\{B}\\InprocServer32", pkKey),
            row(kSecCustomControls, "{T9} - IBad", CR + "Interface\\{I2}", pkKey)}));
}

TEST(ComScanners, InvalidActiveX) {
    ScanMachine sm;
    sm.file("C:\\Apps\\ok.dll")
        .sz(CR + "TypeLib\\{T1}\\1.0\\0\\win32", "", "C:\\Apps\\ok.dll")
        .sz(CR + "TypeLib\\{T2}\\1.0\\0\\win32", "", "C:\\Gone\\gone.dll")
        .sz(CR + "TypeLib\\{T3}\\1.0\\0\\win32", "", "C:\\Gone\\lib.tlb")
        .key(CR + "AppID\\{AP1}")
        .sz(CR + "CLSID\\{C1}", "AppID", "{ap1}")
        .sz(CR + "CLSID\\{C2}", "AppID", "{AP9}")
        .sz(CR + "CLSID\\{C3}", "AppID", "{AP9}")
        .sz(CR + "CLSID\\{C3}\\InprocServer32", "", "C:\\Windows\\System32\\OLEACC.DLL")
        .sz(CR + "CLSID\\{C4}", "AppID", "{AP9}")
        .dword(CR + "CLSID\\{C4}\\InprocServer32", "", 1)
        .sz(CR + "CLSID\\{C5}", "AppID", "");
    EXPECT_EQ(sm.scan(kSecInvalidActiveX),
              (std::vector<RegistryProblem>{
                  row(kSecInvalidActiveX, "C:\\Gone\\gone.dll",
                      CR + "TypeLib\\{T2}\\1.0\\0\\win32\\", pkValue),
                  row(kSecInvalidActiveX, "{AP9}", CR + "CLSID\\{C2}", pkKey)}));
}

TEST(ComScanners, WithTheMachineWalkOnlyInterfacesAndAppIdsRun) {
    ScanMachine sm;
    sm.sz(CR + "CLSID\\{B}\\InprocServer32", "", "C:\\Gone\\gone.dll")
        .sz(CR + "CLSID\\{C2}", "AppID", "{AP9}")
        .sz(CR + "TypeLib\\{T2}\\1.0\\0\\win32", "", "C:\\Gone\\gone.dll")
        .sz(CR + "Interface\\{I2}", "", "IBad")
        .sz(CR + "Interface\\{I2}\\TypeLib", "", "{T9}");
    auto rows = sm.scan({kSecLocalMachine, kSecCustomControls, kSecInvalidActiveX});
    Strings problems;
    for (const auto& r : rows) problems.push_back(r.problem + ": " + r.data);
    // Windows 7: the machine walk leaves class servers alone, but not type libraries.
    EXPECT_EQ(problems, (Strings{"Non-existent File or Folder: C:\\Gone\\gone.dll",
                                 "Custom Controls Issue: {T9} - IBad", "ActiveX Issue: {AP9}"}));
}

TEST(KeyScanners, SoundEvents) {
    ScanMachine sm;
    const std::string apps = CU + "AppEvents\\Schemes\\Apps\\.Default\\";
    sm.file("C:\\Windows\\Media\\ding.wav")
        .expandSz(apps + "SystemAsterisk\\.Current", "", "%SystemRoot%\\Media\\ding.wav")
        .sz(apps + "MailBeep\\.current", "", "C:\\Gone\\mail.wav")
        .sz(apps + "MailBeep\\.Modified", "", "C:\\Gone\\modified.wav")
        .sz(apps + "MailBeep\\Utopia0", "", "C:\\Gone\\utopia.wav")
        .sz(apps + "Other\\.Default", "", "relative.wav");
    EXPECT_EQ(sm.scan(kSecSoundAppevents),
              (std::vector<RegistryProblem>{row(kSecSoundAppevents, "C:\\Gone\\mail.wav",
                                                apps + "MailBeep\\.current", pkDefaultValue),
                                            row(kSecSoundAppevents, "C:\\Gone\\utopia.wav",
                                                apps + "MailBeep\\Utopia0", pkDefaultValue)}));
}

TEST(KeyScanners, ObsoleteSoftwareAndUninstallerEntries) {
    ScanMachine sm;
    const std::string un = LM + CV + "Uninstall\\";
    sm.sz(CU + "Software\\Classes\\.txt", "", "txtfile")
        .sz(LM + "SOFTWARE\\Classes\\.txt", "", "txtfile")
        .key(CU + "Software\\Empty Vendor")
        .sz(CU + "Software\\Vendor\\App", "x", "1")
        .key(CU + "Software\\Two\\A")
        .key(CU + "Software\\Two\\B")
        .key(LM + "SOFTWARE\\Gone\\Chain\\End")
        .key(un + "Empty")
        .key(un + "Outer\\Inner")
        .sz(un + "Good", "DisplayName", "Good");
    auto obsolete = sm.scan(kSecObsoleteSoftware);
    EXPECT_EQ(obsolete,
              (std::vector<RegistryProblem>{
                  row(kSecObsoleteSoftware, "Empty Vendor", CU + "Software", pkDataSubkey),
                  row(kSecObsoleteSoftware, "Gone", LM + "Software", pkDataSubkey)}));
    // Nested empty keys are reported at each level, the outer one first.
    const std::string uninstall = LM + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    EXPECT_EQ(sm.scan(kSecUninstallerEntry),
              (std::vector<RegistryProblem>{
                  row(kSecUninstallerEntry, "Empty", uninstall, pkDataSubkey),
                  row(kSecUninstallerEntry, "Outer", uninstall, pkDataSubkey),
                  row(kSecUninstallerEntry, "Inner", uninstall + "\\Outer", pkDataSubkey)}));
}

TEST(KeyScanners, EmptyKeysSkipAndProtectionLists) {
    ScanMachine sm;
    const std::string user = "HKEY_USERS\\" + kSid + "\\";
    sm.sz(CU + "Software\\Classes\\.txt", "", "txtfile")
        .key(CU + "Software\\Vendor\\Empty")
        .sz(CU + "Software\\Vendor", "x", "1")
        .key(CU + "Software\\Microsoft\\Empty")  // skip list
        .key(CU + "Printers\\Empty")             // protection list
        .key(CU + "Software\\Two\\A")
        .key(CU + "Software\\Two\\B")
        .key("HKEY_USERS\\.DEFAULT\\Software\\Empty")  // .DEFAULT is left alone
        .key(CU + "Software\\Classes\\Empty Class");   // the user's classes
    auto rows = sm.scan(kSecEmptyKeys);
    Strings found;
    for (const auto& r : rows) found.push_back(r.keyPath + " | " + r.data);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Strings{user + "Software\\Two | A", user + "Software\\Two | B",
                              user + "Software\\Vendor | Empty"}));
    EXPECT_EQ(rows[0].kind, pkDataSubkey);

    EXPECT_FALSE(IsReportableEmptyKey("S-1-5-21-1\\Printers\\x", false, false));
    EXPECT_TRUE(IsReportableEmptyKey("S-1-5-21-1\\printers\\x", false, false));  // exact case
    EXPECT_TRUE(IsReportableEmptyKey("S-1-5-21-1\\Software\\Vendor", false, false));
    EXPECT_FALSE(
        IsReportableEmptyKey("S-1-5-21-1\\Software\\Microsoft\\Cryptography\\x", true, false));
    EXPECT_TRUE(
        IsReportableEmptyKey("S-1-5-21-1\\Software\\Microsoft\\Cryptography\\x", false, false));
    EXPECT_FALSE(IsReportableEmptyKey("S-1-5-21-1\\Software\\Microsoft\\TabletTip\\x", true, true));
    EXPECT_FALSE(IsReportableEmptyKey("S-1-5-21-1_Classes\\CLSID\\{x}\\Implemented Categories\\{y}",
                                      false, false));
    EXPECT_TRUE(inEmptyKeysSkipList("S-1-5-21-1\\control panel\\desktop\\x"));
    EXPECT_TRUE(inEmptyKeysSkipList("S-1-5-21-1\\SOFTWARE\\MICROSOFT\\x"));
    EXPECT_FALSE(inEmptyKeysSkipList("S-1-5-21-1\\Control Panel\\Mouse"));
}

// Every scanner returns as soon as the worker is told to stop.
TEST(KeyScanners, StopEndsTheWalks) {
    ScanMachine sm;
    for (int i = 0; i < 50; ++i)
        sm.sz(LM + "SOFTWARE\\Vendor\\K" + std::to_string(i), "p", "C:\\Gone\\x.exe")
            .sz(CU + CV + "Run", "r" + std::to_string(i), "C:\\Gone\\x.exe");
    Machine& m = sm.open();
    std::stop_source stop;
    stop.request_stop();
    ProblemCollector out;
    std::vector<int> all;
    for (int code = 3; code <= 25; ++code) all.push_back(code);
    ScanContext ctx(m, makeScanEnvironment(m, true, 12), all, out, stop.get_token());
    for (int code : all)
        if (auto* fn = defaultScannerTable().find(code)) (*fn)(ctx);
    EXPECT_TRUE(out.rows.empty());
}

// The demo machine has problems for every section beside healthy entries of
// each kind, which must not be reported.
TEST(DemoMachine, EverySectionFindsItsPlantedProblemsOnly) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "demo");
    ImageMachine m(dir.path() / "demo");
    const Strings healthy = {"Mozilla Firefox",
                             "VideoLAN",
                             "7-Zip",
                             "arial.ttf",
                             "windows.hlp",
                             "mmc.chm",
                             "Windows Ding.wav",
                             "svchost.exe",
                             "tree.jpg",
                             "Accessories",
                             "Pictures.lnk",
                             "notepad",
                             "Software | Classes",
                             "{13709620-C279-11CE-A49E-444553540000}",
                             "{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}",
                             "{50A7E9B0-70EF-11D1-B75A-00A0C90564FE}",
                             "{00020430-0000-0000-C000-000000000046}"};
    for (int code = kSecClassesRoot; code <= kSecEmptyKeys; ++code) {
        ProblemCollector out;
        ScanContext ctx(m, makeScanEnvironment(m, true, 12), {code}, out);
        (*defaultScannerTable().find(code))(ctx);
        EXPECT_FALSE(out.rows.empty()) << "section " << code;
        for (const auto& r : out.rows) {
            std::string text = r.keyPath + " | " + r.data;
            for (const auto& h : healthy)
                EXPECT_EQ(findNoCase(text, h), std::string::npos)
                    << "section " << code << " reports a healthy entry: " << text;
        }
    }
}

}  // namespace
}  // namespace brisko
