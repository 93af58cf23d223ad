// One place written several ways: 8.3 aliases, a bare drive, root names. A
// whole section runs on a machine holding the place under its long name, and
// only the spellings of places that are really gone may come back.
#include <gtest/gtest.h>

#include "core/machine/image/demo/shortcut_file.h"
#include "core/machine/machine.h"
#include "registry/path_checks.h"
#include "registry/section_tree.h"
#include "scan_test_machine.h"

namespace brisko {
namespace {

using test::dataOf;
using test::ScanMachine;
using Strings = std::vector<std::string>;

const std::string LM = "HKEY_LOCAL_MACHINE\\";
const std::string CU = "HKEY_CURRENT_USER\\";
const std::string CR = "HKEY_CLASSES_ROOT\\";
const std::string CV = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

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
TEST(ShortNames, NoSectionReportsAnExistingPlace) {
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
    EXPECT_EQ(dataOf(rows),
              (Strings{"C:\\PROGRA~1\\7-Zip\\gone.exe", "C:\\PROGRA~1\\Gone\\",
                       "C:\\PROGRA~1\\7-Zip\\gone.dll", "C:\\PROGRA~2\\7-Zip\\7-zip.dll",
                       "C:\\PROGRA~1\\COMMON~2\\", "C:\\PROGRA~1\\7-Zip\\7zG.exe",
                       "C:\\PROGRA~1\\7-Zip\\7zG.exe"}));
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
        .sz(CU + CV + "Run", "C", "C:\\SOMETO~1\\gone.exe");
    auto rows = sm.scan(kSecStartupPrograms);
    EXPECT_EQ(dataOf(rows), (Strings{"C:\\SOMETO~1\\gone.exe"}));
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

}  // namespace
}  // namespace brisko
