#include "registry/path_checks.h"

#include <gtest/gtest.h>

#include "core/machine/registry_key.h"
#include "registry/scan_context.h"
#include "scan_test_machine.h"

namespace brisko {
namespace {

using test::ScanMachine;

// A machine with a few programs, and the path test over it.
class PathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sm.file("C:\\Windows\\notepad.exe")
            .file("C:\\Windows\\System32\\shell32.dll")
            .file("C:\\Tools\\tool.exe")
            .file("C:\\Tools\\readme.txt")
            .file("C:\\Program Files\\App\\app.exe")
            .file("C:\\Données\\café.txt")
            .folder("C:\\Empty Folder")
            .sz("HKEY_CURRENT_USER\\Environment", "EDITOR", "C:\\Windows\\notepad.exe")
            .sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                "ProgramFilesDir", "C:\\Program Files");
    }

    PathChecks& checks(bool ignoreRemovable = true) {
        if (!ctx) {
            Machine& m = sm.open();
            ctx = std::make_unique<ScanContext>(m, makeScanEnvironment(m, ignoreRemovable, 12),
                                                std::vector<int>{}, out);
            pc = std::make_unique<PathChecks>(*ctx);
        }
        return *pc;
    }
    bool missing(std::string_view ref, std::string_view hint = "", bool folders = false) {
        return checks().IsMissingFile(ref, hint, folders);
    }

    ScanMachine sm;
    ProblemCollector out;
    std::unique_ptr<ScanContext> ctx;
    std::unique_ptr<PathChecks> pc;
};

TEST_F(PathTest, PlainReferences) {
    EXPECT_FALSE(missing("C:\\Windows\\notepad.exe"));
    EXPECT_FALSE(missing("c:\\WINDOWS\\NOTEPAD.EXE"));
    EXPECT_TRUE(missing("C:\\Windows\\gone.exe"));
    EXPECT_TRUE(missing("C:\\Gone\\gone.exe"));
    EXPECT_FALSE(missing("C:\\Données\\café.txt"));
    EXPECT_TRUE(missing("C:\\Données\\thé.txt"));
    // Never judged: nothing, wildcards, HP's odd paths, names without a drive.
    EXPECT_FALSE(missing(""));
    EXPECT_FALSE(missing("C:\\Gone\\?.exe"));
    EXPECT_FALSE(missing("C:\\hp\\gone.exe"));
    EXPECT_FALSE(missing("gone.exe"));
    EXPECT_FALSE(missing("\\\\server\\share\\gone.exe"));
    EXPECT_FALSE(missing("\\SystemRoot\\gone.sys"));
    EXPECT_FALSE(missing("C:gone.exe"));
    // Two paths on one line cannot be told apart.
    EXPECT_FALSE(missing("C:\\Gone\\a.exe C:\\Gone\\b.exe"));
}

TEST_F(PathTest, QuotesArgumentsAndExtensions) {
    EXPECT_FALSE(missing("\"C:\\Program Files\\App\\app.exe\" /background"));
    EXPECT_TRUE(missing("\"C:\\Program Files\\App\\gone.exe\" /background"));
    EXPECT_FALSE(missing("\""));
    EXPECT_FALSE(missing("\"\""));
    // The blank before a switch ends the name; so do commas and slashes.
    EXPECT_FALSE(missing("C:\\Program Files\\App\\app.exe -minimized"));
    EXPECT_FALSE(missing("C:\\Windows\\System32\\shell32.dll,-153"));
    EXPECT_FALSE(missing("C:\\Tools\\tool.exe/s"));
    // A program named without its extension.
    EXPECT_FALSE(missing("C:\\Tools\\tool"));
    EXPECT_FALSE(missing("C:\\Tools\\tool /s"));
    EXPECT_TRUE(missing("C:\\Tools\\other /s"));
    // Arguments with backslashes while the folder part does not exist.
    EXPECT_FALSE(missing("C:\\Tools\\tool.exe /log \\logs\\today\\"));
    EXPECT_TRUE(missing("C:\\Gone\\tool.exe /log \\logs\\today\\"));
}

// When the folder part is missing, the search for an existing program goes
// along the path as Windows resolves names: any case, trailing blanks and
// dots dropped from the last name, "." and ".." applied.
TEST_F(PathTest, ProgramSearchAlongAMissingFolder) {
    EXPECT_FALSE(missing("C:\\TOOLS\\TOOL /x \\y\\"));
    EXPECT_TRUE(missing("C:\\Tools \\tool.exe /log \\x\\"));  // a blank ends no folder name
    EXPECT_FALSE(missing("C:\\Tools\\tool.exe. /log \\x\\"));
    EXPECT_FALSE(missing("C:\\DONNÉES\\CAFÉ.TXT /x \\y\\"));
    EXPECT_FALSE(missing("C:\\Gone\\..\\Tools\\tool.exe /x \\y\\"));
    EXPECT_FALSE(missing("C:\\Tools\\\\tool.exe /x \\y\\"));
    EXPECT_TRUE(missing("C:\\Tools\\Gone\\tool.exe /x \\y\\"));
    EXPECT_TRUE(missing("C:\\Tool\\x /y \\z\\"));
}

// The one-pass search agrees with testing every prefix on its own.
TEST_F(PathTest, ProgramSearchMatchesThePrefixByPrefixTest) {
    FileProbe probe(sm.open().files());
    auto prefixByPrefix = [&](const std::string& p) {
        std::string c;
        for (char ch : p) {
            if (std::string_view(" *,/:;<>?|").find(ch) != std::string_view::npos)
                for (const char* ext : {".exe", ".com", ".bat"})
                    if (probe.fileExists(c + ext)) return true;
            c.push_back(ch);
            if (probe.fileExists(c)) return true;
        }
        return false;
    };
    const char* parts[] = {"Tools",   "TOOL",    "tool.exe", "Program Files", "App",  "app",
                           "Windows", "notepad", "Données",  "café.txt",      "gone", " /s",
                           "x y",     ",1",      ";",        "-k a",          "é",    "readme.txt"};
    uint32_t seed = 7;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) % 18; };
    int compared = 0, found = 0;
    for (int i = 0; i < 3000; ++i) {
        // Half of them start with a program, then any tail.
        const char* starts[] = {"C:",
                                "C:\\Tools\\tool",
                                "C:\\TOOLS\\tool.exe",
                                "C:\\Windows\\notepad",
                                "C:\\Données\\café.txt",
                                "C:\\Program Files\\App\\app"};
        std::string p = starts[next() % 2 ? next() % 6 : 0];
        for (uint32_t n = 1 + next() % 4; n > 0; --n)
            p += std::string(next() % 3 ? "\\" : " ") + parts[next()];
        if (p.find("\\.") != std::string::npos || p.find(".\\") != std::string::npos ||
            p.find(" \\") != std::string::npos || p.find('/') != std::string::npos)
            continue;
        ++compared;
        bool expected = prefixByPrefix(p);
        found += expected;
        EXPECT_EQ(probe.programPrefixExists(p), expected) << p;
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(found, 100);
}

TEST_F(PathTest, TrailingSemicolons) {
    EXPECT_FALSE(missing("C:\\Tools\\readme.txt;"));
    EXPECT_FALSE(missing("C:\\Tools\\readme.txt;;"));
    EXPECT_TRUE(missing("C:\\Tools\\gone.txt;"));
    EXPECT_TRUE(missing("C:\\Gone\\gone.txt;"));
}

TEST_F(PathTest, Folders) {
    EXPECT_FALSE(missing("C:\\Empty Folder\\"));
    EXPECT_FALSE(missing("C:\\Empty Folder", "", true));
    EXPECT_TRUE(missing("C:\\Empty Folder", "", false));
    EXPECT_TRUE(missing("C:\\Gone Folder\\", "", true));
    EXPECT_FALSE(missing("C:\\", "", true));
}

TEST_F(PathTest, Variables) {
    EXPECT_EQ(checks().ExpandIfFolder("%SystemRoot%"), "C:\\Windows");
    EXPECT_EQ(checks().ExpandIfFolder("%windir%"), "C:\\Windows");
    EXPECT_EQ(checks().ExpandIfFolder("%Undefined%"), "%Undefined%");
    EXPECT_EQ(ExpandIfFolder(sm.open(), "%ProgramFiles%"), "C:\\Program Files");

    EXPECT_FALSE(missing("%SystemRoot%\\notepad.exe"));
    EXPECT_FALSE(missing("%systemroot%\\System32\\shell32.dll,-153"));
    EXPECT_TRUE(missing("%SystemRoot%\\gone.exe"));
    EXPECT_TRUE(missing("\"%ProgramFiles%\\Gone\\gone.exe\" -s"));
    // Undefined variables, lone or unclosed percent signs: nothing to test.
    EXPECT_FALSE(missing("%Undefined%\\gone.exe"));
    EXPECT_FALSE(missing("%"));
    EXPECT_FALSE(missing("%Unclosed\\gone.exe"));
    // A variable naming a file stays unexpanded, and so is not judged.
    EXPECT_EQ(checks().ExpandIfFolder("%EDITOR%"), "%EDITOR%");
    EXPECT_FALSE(missing("%EDITOR% /x"));
}

TEST_F(PathTest, Hints) {
    EXPECT_FALSE(missing("C:\\Tools\\tool.exe", "tool.exe"));
    EXPECT_FALSE(missing("\"C:\\Tools\\TOOL.EXE\" /x", "tool.exe"));
    EXPECT_TRUE(missing("C:\\Gone\\tool.exe /x", "tool.exe"));
    // A key name the path does not mention: not judged.
    EXPECT_FALSE(missing("C:\\Gone\\other.exe", "tool.exe"));
    // Only what mentions the extension is tested, cut right after it.
    EXPECT_FALSE(missing("C:\\Windows\\System32\\shell32.dll,1", ".dll"));
    EXPECT_TRUE(missing("C:\\Windows\\System32\\gone.dll\\1", ".dll"));
    EXPECT_FALSE(missing("C:\\Gone\\gone.ocx", ".dll"));
    // Folders do not satisfy a hinted reference.
    EXPECT_TRUE(missing("C:\\Empty Folder", "Folder", true));
    // An App Paths key named without ".exe" still finds its program.
    EXPECT_FALSE(missing("C:\\Program Files\\App\\app.exe", "APP.EXE"));
    EXPECT_FALSE(missing("C:\\Windows\\notepad.exe", "notepad"));
    EXPECT_TRUE(missing("C:\\Program Files\\App\\gone.exe", "gone"));
}

TEST_F(PathTest, LongAndOddReferencesEndQuickly) {
    std::string lengthy = "C:\\Gone\\" + std::string(200000, 'a') + ".exe";
    EXPECT_TRUE(missing(lengthy));
    std::string blanks = "C:\\Tools\\" + std::string(100000, ' ');
    EXPECT_TRUE(missing(blanks));
    EXPECT_FALSE(missing("C:\\Tools\\..\\Tools\\tool.exe"));
    EXPECT_TRUE(missing("C:\\Tools\\..\\Gone\\tool.exe"));
    EXPECT_FALSE(missing("C:\\Tools\\\\tool.exe"));
    // Never outside the machine: the host's own files are not found.
    EXPECT_TRUE(missing("C:\\..\\..\\..\\..\\etc\\passwd"));
}

// Removable and absent drives, with the setting both ways.
TEST(PathDrives, RemovableMediaAndTheNoMediaRule) {
    ScanMachine sm;
    sm.ini(
        "[Drive A]\r\nKind=removable\r\nPath=\r\n"
        "[Drive D]\r\nKind=removable\r\nPath=D\r\n"
        "[Drive E]\r\nKind=cdrom\r\nPath=E\r\n");
    test::writeFile(sm.host() / "D" / "Setup" / "setup.exe", "x");
    test::writeFile(sm.host() / "E" / "autorun.inf", "x");
    Machine& m = sm.open();
    ProblemCollector out;

    ScanContext ignoring(m, makeScanEnvironment(m, true, 12), {}, out);
    EXPECT_EQ(ignoring.CheckedDrives, "c");
    EXPECT_FALSE(IsMissingFile(ignoring, "D:\\Setup\\gone.exe", "", false));
    EXPECT_FALSE(IsMissingFile(ignoring, "A:\\gone.exe", "", false));
    EXPECT_FALSE(IsMissingFile(ignoring, "E:\\gone.exe", "", false));

    ScanContext testing(m, makeScanEnvironment(m, false, 12), {}, out);
    EXPECT_FALSE(IsMissingFile(testing, "D:\\Setup\\setup.exe", "", false));
    EXPECT_TRUE(IsMissingFile(testing, "D:\\Setup\\gone.exe", "", false));
    EXPECT_FALSE(IsMissingFile(testing, "E:\\autorun.inf", "", false));
    // No disk in A: is a problem whatever the path, hinted or not.
    EXPECT_FALSE(testing.floppyAReady);
    EXPECT_TRUE(IsMissingFile(testing, "A:\\setup.exe", "", false));
    EXPECT_TRUE(IsMissingFile(testing, "a:\\setup.exe", "setup.exe", false));
}

TEST(PathDrives, SixtyFourBitWindowsLeavesSystemAndProgramFoldersAlone) {
    ScanMachine sm;
    sm.ini("[Machine]\r\nIs64Bit=1\r\n").file("C:\\Windows\\notepad.exe");
    Machine& m = sm.open();
    ProblemCollector out;
    ScanContext ctx(m, makeScanEnvironment(m, true, 12), {}, out);
    ASSERT_TRUE(ctx.IsWow64);
    EXPECT_FALSE(IsMissingFile(ctx, "C:\\Windows\\System32\\gone.dll", "", false));
    EXPECT_FALSE(IsMissingFile(ctx, "C:\\Windows\\SysWOW64\\gone.dll", "", false));
    EXPECT_FALSE(IsMissingFile(ctx, "C:\\Program Files\\Gone\\gone.exe", "", false));
    EXPECT_FALSE(IsMissingFile(ctx, "C:\\ProgramFiles\\gone.exe", "", false));
    // Found only once the variable is expanded.
    EXPECT_FALSE(IsMissingFile(ctx, "%ProgramFiles%\\Gone\\gone.exe", "", false));
    EXPECT_TRUE(IsMissingFile(ctx, "C:\\Other\\gone.exe", "", false));
    EXPECT_TRUE(IsMissingFile(ctx, "%SystemRoot%\\gone.exe", "", false));
}

// Sysnative is no folder of any listing, yet names the 64-bit System32.
TEST(PathDrives, SysnativeNamesTheSystemFolderOfASixtyFourBitMachine) {
    ScanMachine sm;
    sm.ini("[Machine]\r\nIs64Bit=1\r\n").file("C:\\Windows\\System32\\notepad.exe");
    Machine& m = sm.open();
    ProblemCollector out;
    ScanContext ctx(m, makeScanEnvironment(m, true, 12), {}, out);
    EXPECT_FALSE(IsMissingFile(ctx, "C:\\Windows\\Sysnative\\notepad.exe", "", false));
    EXPECT_FALSE(IsMissingFile(ctx, "c:\\windows\\SYSNATIVE\\notepad.exe /a", "", false));
    EXPECT_TRUE(IsMissingFile(ctx, "C:\\Windows\\Sysnative\\gone.exe", "", false));
}

// ------------------------------------------------------------ CountValues

TEST(CountValues, EmptinessFollowsSingleSubkeyChains) {
    ScanMachine sm;
    const std::string base = "HKEY_CURRENT_USER\\Software\\T\\";
    sm.dword(base + "Valued", "x", 1)
        .key(base + "Bare")
        .key(base + "Chain\\A\\B\\C")
        .sz(base + "ChainValue\\A\\B", "v", "1")
        .key(base + "Two\\A")
        .key(base + "Two\\B")
        .sz(base + "EmptyDefault", "", "")
        .sz(base + "Deep", "a", "1")
        .sz(base + "Deep", "b", "2")
        .sz(base + "Deep\\Sub", "", "")
        .sz(base + "Deep\\Sub2", "c", "3");
    Machine& m = sm.open();
    auto count = [&](std::string_view path, bool emptyDefault = true, bool stop = true,
                     int limit = 1) {
        return CountValues(m.registry(), RootKey::CurrentUser, "Software\\T\\" + std::string(path),
                           emptyDefault, stop, limit);
    };
    EXPECT_EQ(count("Valued"), 1);
    EXPECT_EQ(count("Bare"), 0);
    EXPECT_EQ(count("Chain"), 0);
    EXPECT_EQ(count("ChainValue"), 1);
    EXPECT_EQ(count("Two"), 2);  // two empty subkeys: not empty itself
    EXPECT_EQ(count("Two\\A"), 0);
    EXPECT_EQ(count("Missing"), 0);
    // An empty default value counts, unless told otherwise.
    EXPECT_EQ(count("EmptyDefault"), 1);
    EXPECT_EQ(count("EmptyDefault", false), 0);
    // Without a limit every value below is counted.
    EXPECT_EQ(count("Deep", true, false, 0), 4);
    EXPECT_EQ(count("Deep", false, false, 0), 3);

    auto key = m.registry().openKey(RootKey::CurrentUser, "Software\\T\\Chain", KeyAccess::Read);
    ASSERT_TRUE(key);
    EXPECT_TRUE(isEmptyKey(*key));
}

// ------------------------------------------------------------ ScanKeyTree

TEST(ScanKeyTree, ReportsStringValuesAndSkipsWhatOtherSectionsOwn) {
    ScanMachine sm;
    sm.file("C:\\Apps\\ok.exe");
    const std::string sw = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    sm.sz(sw + "Vendor\\App", "Path", "C:\\Apps\\ok.exe")
        .sz(sw + "Vendor\\App", "Old", "C:\\Apps\\gone.exe")
        .expandSz(sw + "Vendor\\App", "Expanded", "%SystemRoot%\\gone.dll")
        .dword(sw + "Vendor\\App", "Number", 7)
        .sz(sw + "Vendor\\App", "C:\\Apps\\gone.dll", "C:\\Apps\\gone.dll")
        .sz(sw + "Vendor\\App\\Ime", "Dict", "C:\\Windows\\System32\\IME\\gone.dic")
        .sz(sw + "Microsoft\\Windows\\CurrentVersion\\App Paths\\x.exe", "", "C:\\Gone\\x.exe")
        .sz(sw + "Classes\\CLSID\\{1}\\InprocServer32", "", "C:\\Gone\\server.dll")
        .sz(sw + "Wow6432Node\\Wow6432Node\\X", "a", "C:\\Gone\\reflected.exe");
    auto rows = sm.scan(5);
    ASSERT_EQ(rows.size(), 3u) << testing::PrintToString(test::dataOf(rows));
    EXPECT_EQ(rows[0],
              (RegistryProblem{false, "Non-existent File or Folder", "C:\\Apps\\gone.exe",
                               "HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Old", pkValue}));
    EXPECT_EQ(rows[1].data, "%SystemRoot%\\gone.dll");
    // A value name holding a backslash cannot end a path: the row names it.
    EXPECT_EQ(rows[2], (RegistryProblem{false, "Non-existent File or Folder", "C:\\Apps\\gone.dll",
                                        "HKEY_LOCAL_MACHINE\\Software\\Vendor\\App", pkDataValue}));

    // Before Windows 7 the class servers are walked too; App Paths never.
    auto xp = sm.scan(std::vector<int>{5}, 9);
    EXPECT_EQ(xp.size(), 4u);
    auto keys = test::keysOf(xp);
    EXPECT_NE(std::find(keys.begin(), keys.end(),
                        "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{1}\\InprocServer32\\"),
              keys.end());
}

TEST(ScanKeyTree, UserHiveWalkLeavesRunAndSoundsToTheirSections) {
    ScanMachine sm;
    const std::string cu = "HKEY_CURRENT_USER\\";
    sm.sz(cu + "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "x", "C:\\Gone\\run.exe")
        .sz(cu + "AppEvents\\Schemes\\Apps\\.Default\\X\\.Current", "", "C:\\Gone\\x.wav")
        .sz(cu + "Software\\Vendor", "Last", "C:\\Gone\\doc.txt");
    auto rows = sm.scan(4);
    EXPECT_EQ(test::keysOf(rows),
              std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Vendor\\Last"});
    // The same keys are found by a walk of HKEY_USERS, which has no exclusions.
    EXPECT_EQ(sm.scan(6).size(), 3u);
}

TEST(ScanKeyTree, Windows8LeavesMoreAlone) {
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\ImmersiveShell\\X", "a",
          "C:\\Gone\\a.exe")
        .sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Tool", "b", "C:\\Gone\\b.exe");
    EXPECT_EQ(sm.scan(4, 12).size(), 1u);
    EXPECT_EQ(sm.scan(4, 13).size(), 0u);
    EXPECT_EQ(sm.scan(5, 12).size(), 1u);
    EXPECT_EQ(sm.scan(5, 13).size(), 0u);
}

}  // namespace
}  // namespace brisko
