// The Office and messenger items on small machines: what each finds, that a
// Test run counts what a Clean run removes, and what must stay.
#include <gtest/gtest.h>

#include "base/text.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/items/office_items.h"
#include "core/machine/registry_key.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;

const std::string kProfile = "C:\\Users\\User\\";
const std::string kRecent = kProfile + "AppData\\Roaming\\Microsoft\\Office\\Recent\\";
const std::string kOffice = "Software\\Microsoft\\Office\\";

ItemRun runItem(Machine& m, std::string_view caption, int mode) {
    const ItemTable& table = builtinItemTable();
    Dispatch d = dispatchCaption(table, caption);
    return test::runRoutine(m, cleanSettings(), mode, [&](CleanContext& ctx) {
        if (d.kind == Dispatch::Routine)
            (*d.routine)(ctx);
        else
            table.dataFileRoutine()(ctx, d.fileName, caption);
    });
}

// A Test run that changes nothing, then a Clean run that removes what it counted.
ItemRun testThenClean(CleanTestMachine& m, std::string_view caption) {
    auto before = m.snapshot();
    auto t = runItem(m, caption, kRunTest);
    EXPECT_TRUE(m.registry().commit());
    EXPECT_EQ(m.snapshot(), before) << caption;
    auto c = runItem(m, caption, kRunCleanPass);
    EXPECT_EQ(c.count, t.count) << caption;
    EXPECT_EQ(c.bytes, t.bytes) << caption;
    EXPECT_TRUE(m.registry().commit());
    EXPECT_EQ(runItem(m, caption, kRunTest).count, 0) << caption;
    return c;
}

bool userKey(Machine& m, std::string_view path) {
    return m.registry().openKey(RootKey::CurrentUser, path, KeyAccess::Read) != nullptr;
}

bool userValue(Machine& m, std::string_view path, std::string_view name) {
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    return k.openKeyReadOnly(path) && k.valueExists(name);
}

std::string key(int version, std::string_view rest) {
    return kOffice + std::to_string(version) + ".0\\" + std::string(rest);
}

// Shell folders and Program Files as Windows 7 has them for the user "User".
MachineBuilder userMachine(bool withAppData = true) {
    MachineBuilder b;
    std::string reg =
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        "Shell Folders]\r\n"
        "\"Personal\"=\"C:\\\\Users\\\\User\\\\Documents\"\r\n"
        "\"Local AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\"\r\n";
    if (withAppData) reg += "\"AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\"\r\n";
    b.addRegText(reg);
    if (withAppData) b.addFolder(kProfile + "AppData\\Roaming");
    b.addFolder(kProfile + "Documents");
    return b;
}

void setString(MachineBuilder& b, std::string_view path, std::string_view name,
               std::string_view value) {
    b.hive("NTUSER").find(path, true)->setValue(name, REG_SZ, utf8ToUtf16le(value));
}

// Excel's lists in every version layout: Office 97 (8), 2003 (11), 2007 (12)
// and 2013 (15), none for 16; both versions' lists go, and the absent ones
// count nothing.
TEST(OfficeItems, ExcelWalksEveryVersion) {
    auto b = userMachine();
    setString(b, key(8, "Excel\\Recent Files"), "File1", "C:\\a.xls");
    setString(b, key(11, "Excel\\Recent Files"), "File1", "C:\\b.xls");
    setString(b, key(11, "Excel\\Recent Files"), "File2", "C:\\c.xls");
    setString(b, key(12, "Excel\\File MRU"), "Item 1", "[F00000000]*C:\\d.xlsx");
    setString(b, key(15, "Excel\\Place MRU"), "Item 1", "[F00000000]*C:\\Docs\\");
    setString(b, key(15, "Excel\\Recent Templates"), "Item 1", "C:\\t.xltx");
    setString(b, key(15, "Excel\\Options"), "Options", "keep");
    b.addFile(kRecent + "Budget.xls", std::string(100, 'x'));
    b.addFile(kRecent + "Budget.xlsx.LNK", std::string(50, 'l'));
    b.addFile(kRecent + "Letter.doc.LNK", std::string(60, 'w'));
    CleanTestMachine m(b);
    auto c = testThenClean(m, "Microsoft Office - Excel");
    EXPECT_EQ(c.count, 1 + 2 + 1 + 1 + 1 + 2);
    EXPECT_EQ(c.bytes, 150);
    EXPECT_FALSE(userKey(m, key(11, "Excel\\Recent Files")));
    EXPECT_FALSE(userKey(m, key(15, "Excel\\Place MRU")));
    EXPECT_TRUE(userValue(m, key(15, "Excel\\Options"), "Options"));
    EXPECT_TRUE(fs::exists(m.host(kRecent + "Letter.doc.LNK")));
}

// Word 2007 and later keep the list in Word\File MRU and Word\Place MRU, and a
// signed-in Office 2013 or later below User MRU\<identity>; Word 2003 in the
// "Settings" value of Word\Data. The item finds all of them.
TEST(OfficeItems, WordFindsEveryLayout) {
    auto b = userMachine();
    b.hive("NTUSER").find(key(11, "Word\\Data"), true)->setValue("Settings", REG_BINARY, {1, 2, 3});
    setString(b, key(12, "Word\\File MRU"), "Item 1", "[F00000000]*C:\\a.docx");
    setString(b, key(14, "Word\\File MRU"), "Item 1", "[F00000000]*C:\\b.docx");
    setString(b, key(14, "Word\\File MRU"), "Item 2", "[F00000000]*C:\\c.docx");
    setString(b, key(14, "Word\\Place MRU"), "Item 1", "[F00000000]*C:\\Docs\\");
    setString(b, key(16, "Word\\User MRU\\LiveId_1234\\File MRU"), "Item 1",
              "[F00000000]*C:\\d.docx");
    setString(b, key(16, "Word\\User MRU\\ADAL_5678\\Place MRU"), "Item 1", "[F00000000]*C:\\e\\");
    setString(b, key(14, "Word\\Options"), "AutoSaveInterval", "10");
    CleanTestMachine m(b);
    auto c = testThenClean(m, "Microsoft Office - Word");
    EXPECT_EQ(c.count, 7);
    EXPECT_TRUE(userKey(m, key(16, "Word\\User MRU\\LiveId_1234")));  // only its lists go
    EXPECT_TRUE(userValue(m, key(14, "Word\\Options"), "AutoSaveInterval"));
}

// Access 2003 keeps its recent databases among its settings: only the list goes.
TEST(OfficeItems, AccessKeepsItsOtherSettings) {
    auto b = userMachine();
    setString(b, key(11, "Access\\Settings"), "MRU1", "C:\\a.mdb");
    setString(b, key(11, "Access\\Settings"), "MRUFlags1", "0");
    setString(b, key(11, "Access\\Settings"), "Confirm Record Changes", "1");
    setString(b, key(14, "Access\\File MRU"), "Item 1", "[F00000000]*C:\\b.accdb");
    b.addFile(kRecent + "Club.mdb", "m");
    CleanTestMachine m(b);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - Access").count, 4);
    EXPECT_TRUE(userValue(m, key(11, "Access\\Settings"), "Confirm Record Changes"));
}

// The FrontPage count holds the recent files and the three lists; Visio's
// LastFile values go before its versions; the shortcut-only recent folder
// loses nothing to Word and everything to "Recent Files".
TEST(OfficeItems, FrontPageVisioAndRecentFiles) {
    auto b = userMachine();
    const std::string fp = "Software\\Microsoft\\FrontPage\\Explorer\\FrontPage Explorer\\";
    setString(b, fp + "Recent File List", "File1", "C:\\w\\index.htm");
    setString(b, fp + "Recent Page List", "Page1", "C:\\w\\a.htm");
    setString(b, fp + "Recent Web List", "Web1", "C:\\w");
    b.addFile(kRecent + "index.htm", "h");
    b.addFile(kRecent + "page.HTML", "h");
    setString(b, key(11, "Visio\\Application"), "LastFile1", "C:\\a.vsd");
    setString(b, key(11, "Visio\\Application"), "LastFile9", "C:\\b.vsd");
    setString(b, key(11, "Visio\\Application"), "LastFile10", "not a list entry");
    setString(b, key(14, "Visio\\File MRU"), "Item 1", "[F00000000]*C:\\c.vsd");
    b.addFile(kRecent + "Letter.lnk", "l");
    b.addFile(kRecent + "Budget.lnk", "l");
    CleanTestMachine m(b);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - FrontPage").count, 2 + 3);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - Visio").count, 3);
    EXPECT_TRUE(userValue(m, key(11, "Visio\\Application"), "LastFile10"));
    EXPECT_EQ(testThenClean(m, "Microsoft Office - Word").count, 0);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - Recent Files").count, 2);
}

// Without an Application Data folder the items with a recent-folder mask do
// nothing at all, their registry lists included; InfoPath and Publisher have
// no mask and still run.
TEST(OfficeItems, NoAppDataMeansNothingForTheMaskedItems) {
    auto b = userMachine(false);
    setString(b, key(14, "Excel\\File MRU"), "Item 1", "x");
    setString(b, key(14, "InfoPath\\Designer File MRU"), "Item 1", "x");
    setString(b, key(14, "Publisher\\Recent File List"), "File1", "x");
    CleanTestMachine m(b);
    EXPECT_EQ(runItem(m, "Microsoft Office - Excel", kRunTest).count, 0);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - InfoPath").count, 1);
    EXPECT_EQ(testThenClean(m, "Microsoft Office - Publisher").count, 1);
}

// A message log folder inside "My Received Files" (not the folder itself) is
// wiped and the received files as well; each file counts once.
TEST(MessengerItems, MsnLogsInsideTheReceivedFiles) {
    auto b = userMachine();
    const std::string received = kProfile + "Documents\\My Received Files\\";
    const std::string logs = received + "alex_live\\History\\";
    setString(b, "Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\0001", "Other", "x");
    setString(b, "Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\0002", "MessageLogPath",
              "C:\\Missing\\");
    setString(b, "Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\0003", "MessageLogPath",
              logs);
    b.addFile(logs + "Sam.xml", std::string(100, 's'));
    b.addFile(received + "photo.jpg", std::string(200, 'p'));
    setString(b, "Software\\Microsoft\\MessengerService\\ListCache\\.NET Messenger Service", "A",
              "x");
    b.addFile(kProfile + "AppData\\Roaming\\Microsoft\\MSN Messenger\\m.sqm", "q");
    b.addFile(kProfile + "AppData\\Roaming\\Microsoft\\MSN Messenger\\keep.xml", "k");
    b.addFile(kProfile + "AppData\\Local\\Microsoft\\Messenger\\a.uccapilog", "u");
    b.addFile(kProfile + "AppData\\Local\\Microsoft\\Messenger\\a.bak", "b");
    b.addFile(kProfile + "Tracing\\WindowsLiveMessenger-1.uccapilog", "t");
    b.addFile(kProfile + "Tracing\\WindowsLiveMessenger-1.uccapilog.bak", "t");
    b.addFile(kProfile + "Tracing\\Other.uccapilog", "o");
    CleanTestMachine m(b);
    auto c = testThenClean(m, "Instant Messengers - MSN Messenger");
    EXPECT_EQ(c.count, 2 + 1 + 1 + 2 + 2);
    EXPECT_EQ(c.bytes, 300 + 5);
    EXPECT_TRUE(fs::is_directory(m.host(received)));
    EXPECT_TRUE(fs::exists(m.host(kProfile + "Tracing\\Other.uccapilog")));
    EXPECT_TRUE(
        fs::exists(m.host(kProfile + "AppData\\Roaming\\Microsoft\\MSN Messenger\\keep.xml")));
}

// The received files folder as the log folder is wiped once.
TEST(MessengerItems, MsnLogFolderThatIsTheReceivedFolder) {
    auto b = userMachine();
    const std::string received = kProfile + "Documents\\My Received Files";
    setString(b, "Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\0001", "MessageLogPath",
              received);
    b.addFile(received + "\\a.xml", "a");
    b.addFile(received + "\\b.jpg", "b");
    CleanTestMachine m(b);
    EXPECT_EQ(testThenClean(m, "Instant Messengers - MSN Messenger").count, 2);
}

TEST(MessengerItems, YahooAndSkype) {
    auto b = userMachine();
    const std::string y = "C:\\Program Files\\Yahoo!\\Messenger\\";
    b.addFile(y + "ypager.log", "1");
    b.addFile(y + "YPager.exe", "keep");
    b.addFile(y + "IMVCache\\a\\b.dat", "2");
    b.addFile(y + "Profiles\\alex\\Archive\\m.dat", "3");
    b.addFile(y + "Cache\\c.dat", "4");
    b.addFile(y + "Cache\\ypager.log", "5");
    b.addFile(y + "Cache\\sub\\keep.dat", "keep");
    b.addFile(y + "Logs\\l.txt", "6");
    b.addFile(y + "Games\\g.gif", "7");
    b.addFile(y + "Games\\games.ini", "keep");
    const std::string s = kProfile + "AppData\\Roaming\\Skype\\";
    b.addFile(s + "alex\\chatmsg256.dbb", "a");
    b.addFile(s + "alex\\deep\\user256.DBB", "b");
    b.addFile(s + "alex\\config.xml", "keep");
    CleanTestMachine m(b);
    // The Cache folder's ypager.log counts once.
    EXPECT_EQ(testThenClean(m, "Instant Messengers - Yahoo! Messenger").count, 7);
    EXPECT_TRUE(fs::exists(m.host(y + "Cache\\sub\\keep.dat")));
    EXPECT_TRUE(fs::exists(m.host(y + "Games\\games.ini")));
    EXPECT_TRUE(fs::exists(m.host(y + "YPager.exe")));
    EXPECT_EQ(testThenClean(m, "Instant Messengers - Skype").count, 2);
    EXPECT_TRUE(fs::exists(m.host(s + "alex\\config.xml")));
}

}  // namespace
}  // namespace brisko
