// One place written several ways: 8.3 aliases, a bare drive, root names. A
// whole section runs on a machine holding the place under its long name, and
// only the spellings of places that are really gone may come back.
#include <gtest/gtest.h>

#include "core/machine/machine.h"
#include "core/machine/registry_key.h"
#include "core/settings.h"
#include "demo/shortcut_file.h"
#include "registry/path_checks.h"
#include "registry/scan_fake_machine.h"
#include "registry/scan_run.h"
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
const std::string HU = "HKEY_USERS\\" + kSid + "\\";
const std::string UC = "HKEY_USERS\\" + kSid + "_Classes\\";

// A whole scan as the Registry pane runs it: the worker, then the filter.
std::vector<RegistryProblem> paneScan(ScanMachine& sm, std::vector<int> sections,
                                      std::vector<std::string> ignoreKeys = {},
                                      std::vector<std::string> ignoreValues = {}) {
    Machine& m = sm.open();
    TOptionsSetting settings;
    settings.IncludeRemoveMedia = true;
    settings.IgnoreKeyList = std::move(ignoreKeys);
    settings.IgnoreValueList = std::move(ignoreValues);
    test::MessageLog log;
    DefaultPrompter prompter;
    ScanRun run(m, settings, 12, log, prompter);
    run.start(sections);
    while (run.scanning()) run.handleMessage(log.wait());
    return run.rows();
}

// Programs under their long names. Aliases Windows would give: PROGRA~1
// (Program Files), MOZILL~1 (Mozilla Firefox), FIREFO~1.EXE (Firefox Setup.exe).
void addPrograms(ScanMachine& sm) {
    sm.file("C:\\Program Files\\7-Zip\\7zFM.exe")
        .file("C:\\Program Files\\7-Zip\\7-zip.dll")
        .file("C:\\Program Files\\Mozilla Firefox\\Firefox Setup.exe")
        .folder("C:\\Program Files\\Common Files");
}

TEST(ShortNames, PathTestAgreesWithTheFileLayer) {
    ScanMachine sm;
    addPrograms(sm);
    Machine& m = sm.open();
    ProblemCollector out;
    ScanContext ctx(m, makeScanEnvironment(m, true, 12), {}, out);
    PathChecks checks(ctx);
    for (std::string path :
         {"C:\\PROGRA~1\\7-Zip\\7zFM.exe", "c:\\progra~1\\7-zip\\7ZFM.EXE",
          "C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE", "C:\\Program Files\\MOZILL~1\\Firefox Setup.exe",
          "C:\\PROGRA~1\\7-Zip\\gone.exe", "C:\\PROGRA~2\\7-Zip\\7zFM.exe",
          "C:\\PROGRA~1\\MOZILL~2\\FIREFO~1.EXE", "C:\\PROGRA~1\\7-Zip\\7ZFM~1.EXE"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(checks.probe().fileExists(path), m.files().fileExists(path));
    }
    for (std::string path : {"C:\\PROGRA~1", "C:\\PROGRA~1\\", "C:\\PROGRA~1\\COMMON~1",
                             "C:\\PROGRA~1\\MOZILL~1\\", "C:\\PROGRA~3"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(checks.probe().folderExists(path),
                  m.files().directoryExists(excludeTrailingBackslash(path)));
    }
    EXPECT_TRUE(checks.probe().fileExists("C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE"));
    EXPECT_EQ(checks.probe().longPath("c:\\progra~1\\MOZILL~1\\FIREFO~1.EXE -osint"),
              "C:\\PROGRAM FILES\\MOZILLA FIREFOX\\FIREFO~1.EXE -OSINT");
    EXPECT_EQ(checks.probe().longPath("C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE"),
              "C:\\PROGRAM FILES\\MOZILLA FIREFOX\\FIREFOX SETUP.EXE");
}

// Every section that tests a reference, fed the same places in short form.
// A folder of files keeps no 8.3 names: an alias there is only a guess, so a
// reference through one is never reported, whether it resolves or not.
TEST(ShortNames, NoSectionReportsAPlaceThroughAGuessedAlias) {
    ScanMachine sm;
    addPrograms(sm);
    const std::string fm = "C:\\PROGRA~1\\7-Zip\\7zFM.exe";
    const std::string dll = "C:\\PROGRA~1\\7-Zip\\7-zip.dll";
    const std::string fox = "C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE -osint";
    const std::string desktop = "C:\\Users\\Alex\\Desktop\\";
    const std::string mru = CU + CV + "Explorer\\ComDlg32\\OpenSaveMRU";
    sm.sz(CU + CV + "Run", "7-Zip", fm)
        .sz(CU + CV + "Run", "Firefox", "\"C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE\" -osint")
        .sz(CU + CV + "Run", "Fox", fox)
        .sz(CU + CV + "Run", "Gone", "C:\\PROGRA~1\\7-Zip\\gone.exe")
        .sz(CU + CV + "Run", "Long", "C:\\Program Files\\7-Zip\\gone.exe")
        .sz(LM + "SYSTEM\\CurrentControlSet\\Services\\Zip", "ImagePath", fm + " -service")
        .sz(LM + "SYSTEM\\CurrentControlSet\\Services\\Gone", "ImagePath", "C:\\PROGRA~1\\Gone\\")
        .sz(CR + "CLSID\\{23170F69-40C1-278A-1000-000100020000}\\InprocServer32", "", dll)
        .sz(CR + "CLSID\\{00000000-0000-0000-0000-0000000000AA}\\InprocServer32", "",
            "C:\\PROGRA~1\\7-Zip\\gone.dll")
        .dword(LM + CV + "SharedDlls", dll, 1)
        .dword(LM + CV + "SharedDlls", "C:\\PROGRA~2\\7-Zip\\7-zip.dll", 1)
        .sz(LM + CV + "Installer\\Folders", "C:\\PROGRA~1\\7-Zip\\", "")
        .sz(LM + CV + "Installer\\Folders", "C:\\PROGRA~1\\COMMON~1\\", "")
        .sz(LM + CV + "Installer\\Folders", "C:\\PROGRA~1\\COMMON~2\\", "")
        .sz(mru, "a", "C:\\PROGRA~1\\7-Zip\\7zFM")
        .key(mru + "\\exe")
        .sz(mru + "\\exe", "a", fm)
        .sz(mru + "\\exe", "b", "C:\\PROGRA~1\\7-Zip\\7zG.exe")
        .file(desktop + "7-Zip.lnk", shortcutFileBytes(fm))
        .file(desktop + "Fox.lnk", shortcutFileBytes("C:\\PROGRA~1\\MOZILL~1\\FIREFO~1.EXE"))
        .file(desktop + "Gone.lnk", shortcutFileBytes("C:\\PROGRA~1\\7-Zip\\7zG.exe"));
    auto rows = sm.scan({kSecStartupPrograms, kSecWindowsServices, kSecCustomControls,
                         kSecSharedDlls, kSecInstaller, kSecMruLists, kSecShortcuts});
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Program Files\\7-Zip\\gone.exe"}));
}

// On 64-bit Windows both Program Files folders are left alone, whatever
// their alias; a reference elsewhere is still judged.
TEST(ShortNames, SixtyFourBitSkipSeesThroughAliases) {
    ScanMachine sm;
    sm.ini("[Machine]\r\nIs64Bit=1\r\n")
        .folder("C:\\Program Files")
        .folder("C:\\Program Files (x86)")
        .folder("C:\\Windows\\SysWOW64")
        .folder("C:\\Some Tools")
        .sz(CU + CV + "Run", "A", "C:\\PROGRA~1\\Gone\\gone.exe")
        .sz(CU + CV + "Run", "B", "\"C:\\PROGRA~2\\Gone\\gone.exe\" /x")
        .sz(CU + CV + "Run", "C", "C:\\Some Tools\\gone.exe");
    auto rows = sm.scan(kSecStartupPrograms);
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Some Tools\\gone.exe"}));
}

// "%SystemDrive%" expands to "C:", which is the drive's root folder.
TEST(DriveVariables, BareDriveIsAnExistingFolder) {
    ScanMachine sm;
    sm.file("C:\\Tools\\tool.exe")
        .sz(CU + CV + "Run", "Gone", "%SystemDrive%\\Missing\\x.exe")
        .sz(CU + CV + "Run", "Home", "%HOMEDRIVE%\\Missing\\y.exe")
        .sz(CU + CV + "Run", "Here", "%SystemDrive%\\Tools\\tool.exe /q");
    auto rows = sm.scan(kSecStartupPrograms);
    EXPECT_EQ(dataOf(rows),
              (Strings{"%SystemDrive%\\Missing\\x.exe", "%HOMEDRIVE%\\Missing\\y.exe"}));
}

// ---------------------------------------------------------------- roots

// The current user's hive is walked twice, as HKEY_CURRENT_USER and within
// HKEY_USERS; each problem is listed once, under the first name met.
TEST(RootNames, EachProblemOfTheCurrentUserIsListedOnce) {
    ScanMachine sm;
    sm.sz(CU + "Software\\App", "Path", "C:\\Gone\\app.exe")
        .sz(CU + "Software\\App\\Sub", "Icon", "C:\\Gone\\app.ico")
        .sz("HKEY_USERS\\.DEFAULT\\Software\\App", "Path", "C:\\Gone\\app.exe");
    auto rows = paneScan(sm, {kSecCurrentUser, kSecUsers});
    EXPECT_EQ(keysOf(rows), (Strings{CU + "Software\\App\\Path", CU + "Software\\App\\Sub\\Icon",
                                     "HKEY_USERS\\.DEFAULT\\Software\\App\\Path"}));
    // The Run key has a section of its own; the HKEY_USERS walk finds it too.
    ScanMachine run;
    run.sz(CU + CV + "Run", "Gone", "C:\\Gone\\run.exe");
    EXPECT_EQ(keysOf(paneScan(run, {kSecStartupPrograms, kSecUsers})),
              (Strings{CU + "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Gone"}));
}

// An ignore entry, a built-in one included, covers the key under every root
// name that leads to it.
TEST(RootNames, IgnoreListsSeeThroughRootNames) {
    ScanMachine sm;
    sm.sz(CU + "Software\\Ignored\\Deep", "Path", "C:\\Gone\\a.exe")
        .sz(CU + "Software\\Kept", "Path", "C:\\Gone\\b.exe")
        .sz(CU + "Software\\Lexmark\\Printer", "Driver", "C:\\Gone\\lex.dll")
        .sz(CU + "Software\\Classes\\Ignored.File", "Icon", "C:\\Gone\\c.ico")
        .key(CU + "Software\\Empty\\Inner\\Leaf1")
        .key(CU + "Software\\Empty\\Inner\\Leaf2");
    auto rows = paneScan(sm, {kSecUsers, kSecEmptyKeys},
                         {"HKEY_CURRENT_USER\\Software\\Ignored",
                          "HKEY_CURRENT_USER\\Software\\Empty", "HKEY_CLASSES_ROOT\\Ignored.File"});
    EXPECT_EQ(keysOf(rows), (Strings{HU + "Software\\Kept\\Path"}));
    // Written the other way round: an HKEY_USERS entry covers HKEY_CURRENT_USER.
    ScanMachine other;
    other.sz(CU + "Software\\Ignored", "Path", "C:\\Gone\\a.exe");
    EXPECT_TRUE(paneScan(other, {kSecCurrentUser}, {HU + "Software\\Ignored"}).empty());
    EXPECT_TRUE(paneScan(other, {kSecCurrentUser}, {}, {HU + "Software\\Ignored\\Path"}).empty());
}

// HKEY_CLASSES_ROOT\X is the machine's or the user's Classes\X: an entry
// under one name covers rows under the other, for the Classes they came from.
TEST(RootNames, ClassesRootIsTheClassesItCameFrom) {
    const std::string lib = "TypeLib\\{8E27C92B-1264-101C-8A2F-040224009C02}\\7.0\\0\\win32";
    const std::string userOnly = "Software\\Classes\\UserType\\DefaultIcon";
    ScanMachine sm;
    sm.sz(LM + "SOFTWARE\\Classes\\" + lib, "", "C:\\Gone\\lib.tlb")
        .sz(CU + userOnly, "", "C:\\Gone\\user.ico")
        .key(CU + "Software\\Acme")  // the user's Classes hang below Software
        .sz(LM + "SOFTWARE\\Classes\\MachineType\\DefaultIcon", "", "C:\\Gone\\machine.ico");
    auto rows = paneScan(sm, {kSecLocalMachine, kSecCurrentUser},
                         {"HKEY_CLASSES_ROOT\\TypeLib\\{8E27C92B-1264-101C-8A2F-040224009C02}",
                          "HKEY_CLASSES_ROOT\\UserType", UC + "MachineType"});
    // The user's entry for MachineType names a key the machine's row is not.
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\machine.ico"}));
    // From the other side: rows under HKEY_CLASSES_ROOT against entries
    // naming one Classes; only the one the key lies in counts.
    rows = paneScan(sm, {kSecClassesRoot}, {LM + "Software\\Classes\\TypeLib", UC + "MachineType"});
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\user.ico", "C:\\Gone\\machine.ico"}));
}

// ---------------------------------------------------------------- views

// A 64-bit machine: the program is a 32-bit program, so its scanners see the
// registry as Windows shows it to one. HKLM\\Software is the Wow6432Node
// tree but for the keys the views share (App Paths on Windows 7); the
// redirected classes (CLSID, Interface, ...) are those below Wow6432Node.
class SixtyFourBit : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string wow = LM + "SOFTWARE\\Wow6432Node\\";
        const std::string wcv = wow + "Microsoft\\Windows\\CurrentVersion\\";
        sm.ini("[Machine]\r\nIs64Bit=1\r\n")
            .folder("C:\\Windows\\SysWOW64")
            .sz(wcv + "Run", "Gone32", "C:\\Gone\\run32.exe")
            .sz(LM + CV + "Run", "Gone64", "C:\\Gone\\run64.exe")
            .dword(wcv + "SharedDlls", "C:\\Gone\\shared32.dll", 1)
            .dword(LM + CV + "SharedDlls", "C:\\Gone\\shared64.dll", 1)
            .sz(wcv + "Uninstall\\Broken32", "DisplayName", "x")
            .sz(LM + CV + "Uninstall\\Broken64", "DisplayName", "x")
            .sz(LM + CV + "App Paths\\shared.exe", "", "C:\\Gone\\shared.exe")
            .sz(wcv + "App Paths\\hidden.exe", "", "C:\\Gone\\hidden.exe")
            .sz(LM + "SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{00000000-0000-0000-0000-000000000032}"
                     "\\InprocServer32",
                "", "C:\\Gone\\com32.dll")
            .sz(LM + "SOFTWARE\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000064}"
                     "\\InprocServer32",
                "", "C:\\Gone\\com64.dll")
            .sz(LM + "SOFTWARE\\Classes\\.gone\\DefaultIcon", "", "C:\\Gone\\shared.ico")
            .sz(wow + "Acme", "Path", "C:\\Gone\\acme32.exe")
            .sz(LM + "SOFTWARE\\Acme64", "Path", "C:\\Gone\\acme64.exe");
    }
    ScanMachine sm;
};

TEST_F(SixtyFourBit, SectionsSeeTheThirtyTwoBitView) {
    const std::string cv = LM + "Software\\Microsoft\\Windows\\CurrentVersion\\";
    auto rows = sm.scan({kSecStartupPrograms, kSecSharedDlls, kSecAddRemovePrograms,
                         kSecSoftwareLocations, kSecCustomControls});
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\run32.exe", "C:\\Gone\\shared32.dll", "Broken32",
                                     "C:\\Gone\\shared.exe", "C:\\Gone\\com32.dll"}));
    // Rows name the keys as the program sees them.
    EXPECT_EQ(rows[0].keyPath, cv + "Run\\Gone32");
    EXPECT_EQ(rows[4].keyPath,
              CR + "CLSID\\{00000000-0000-0000-0000-000000000032}\\InprocServer32");
}

// The hive walk of HKEY_LOCAL_MACHINE walks the view: the 32-bit keys once,
// under the names the program knows them by, and the shared Classes.
TEST_F(SixtyFourBit, HiveWalkSeesEachKeyOnce) {
    auto rows = sm.scan(kSecLocalMachine);
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.data < b.data; });
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\Gone\\acme32.exe", "C:\\Gone\\shared.ico"}));
    EXPECT_EQ(rows[0].keyPath, LM + "Software\\Acme\\Path");
}

// The system's own view is still there for whoever asks for it, and a key
// opened in the view stays in it.
TEST_F(SixtyFourBit, ExplicitViewsAndHandles) {
    Machine& m = sm.open();
    RegistryApi& reg = m.registry();
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    auto names = [](std::unique_ptr<KeyHandle> k) {
        return k ? k->valueNames() : std::vector<std::string>{"(absent)"};
    };
    EXPECT_EQ(names(reg.openKeyInView(RegistryView::Wow64_32, RootKey::LocalMachine, run,
                                      KeyAccess::Read)),
              Strings{"Gone32"});
    EXPECT_EQ(names(reg.openKeyInView(RegistryView::Wow64_64, RootKey::LocalMachine, run,
                                      KeyAccess::Read)),
              Strings{"Gone64"});
    EXPECT_EQ(names(reg.openKey(RootKey::LocalMachine, run, KeyAccess::Read)), Strings{"Gone64"});
    auto software = reg.openKeyInView(RegistryView::Wow64_32, RootKey::LocalMachine, "SOFTWARE",
                                      KeyAccess::Read);
    ASSERT_TRUE(software);
    EXPECT_EQ(
        names(software->openSubkey("Microsoft\\Windows\\CurrentVersion\\Run", KeyAccess::Read)),
        Strings{"Gone32"});
    auto cls = reg.openKeyInView(RegistryView::Wow64_32, RootKey::ClassesRoot, "", KeyAccess::Read);
    ASSERT_TRUE(cls);
    auto clsid = cls->openSubkey("CLSID", KeyAccess::Read);
    ASSERT_TRUE(clsid);
    EXPECT_EQ(clsid->subkeyNames(), Strings{"{00000000-0000-0000-0000-000000000032}"});
    auto top = cls->subkeyNames();
    EXPECT_EQ(std::count(top.begin(), top.end(), "Wow6432Node"), 0);
    EXPECT_EQ(std::count(top.begin(), top.end(), ".gone"), 1);
    // What a row of the scan names is what a key object in the view deletes.
    RegistryKey key(reg, RootKey::LocalMachine);
    key.setView(RegistryView::Wow64_32);
    ASSERT_TRUE(key.openKeyReadOnly(run));
    EXPECT_EQ(key.valueNames(), Strings{"Gone32"});
    key.closeKey();
    EXPECT_TRUE(key.deleteKey(run));
    EXPECT_FALSE(key.keyExists(run));
    EXPECT_EQ(names(reg.openKey(RootKey::LocalMachine, run, KeyAccess::Read)), Strings{"Gone64"});
    EXPECT_FALSE(reg.openKey(RootKey::LocalMachine, "SOFTWARE\\Wow6432Node\\" + run.substr(9),
                             KeyAccess::Read));
}

// A 64-bit machine whose hives hold no 32-bit tree: the keys are what there is.
TEST(SixtyFourBitWithoutWow6432Node, NativeKeysServe) {
    ScanMachine sm;
    sm.ini("[Machine]\r\nIs64Bit=1\r\n")
        .folder("C:\\Windows\\SysWOW64")
        .sz(LM + CV + "Run", "Gone", "C:\\Gone\\run.exe");
    EXPECT_EQ(dataOf(sm.scan(kSecStartupPrograms)), Strings{"C:\\Gone\\run.exe"});
}

}  // namespace
}  // namespace brisko
