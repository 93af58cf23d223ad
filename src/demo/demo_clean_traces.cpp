// What Alex's daily use has left on the demo machine for the Windows and
// Advanced clean items: Run box and search history, recent documents with
// their shortcuts, temporary files, crash dumps, check-disk fragments, a full
// recycle bin, Windows' own log files, open/save lists, the Start menu order,
// tray icon streams, program-usage records, Paint's recent files and toolbar
// search histories. The program's list file apls.dat is installed beside it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "core/builtin_lists.h"
#include "demo/demo_content.h"
#include "demo/machine_builder.h"

namespace brisko {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr std::string_view kWindows = "C:\\Windows\\";

// 2026-03-02 09:14 UTC and a few days around it, as FILETIME.
constexpr int64_t kUnixToFileTime = 11644473600LL;
constexpr int64_t fileTime(int64_t unixSeconds) {
    return (unixSeconds + kUnixToFileTime) * 10000000LL;
}
constexpr int64_t kDeletedAt = fileTime(1772442840);

std::string explorer(std::string_view sub) {
    return std::string(kExplorer) + "\\" + std::string(sub);
}

std::string rot13(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
    return out;
}

void put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}
void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xffff));
    put16(out, static_cast<uint16_t>(v >> 16));
}
void put64(std::string& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v & 0xffffffffu));
    put32(out, static_cast<uint32_t>(v >> 32));
}

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// A shell link to a local file: header, LinkInfo with the volume and the path,
// and the terminal block.
std::string shortcut(std::string_view target, uint32_t targetSize, bool folder) {
    std::string lnk;
    put32(lnk, 0x4C);
    lnk += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    put32(lnk, 0x02);                  // HasLinkInfo
    put32(lnk, folder ? 0x10 : 0x20);  // directory or archive
    for (int i = 0; i < 3; ++i) put64(lnk, static_cast<uint64_t>(kDeletedAt));
    put32(lnk, targetSize);
    put32(lnk, 0);  // icon index
    put32(lnk, 1);  // SW_SHOWNORMAL
    put16(lnk, 0);
    put16(lnk, 0);
    put32(lnk, 0);
    put32(lnk, 0);

    std::string volume;
    put32(volume, 0x11);        // size: 16 bytes and an empty label
    put32(volume, 3);           // DRIVE_FIXED
    put32(volume, 0x5A3C19E2);  // serial number
    put32(volume, 0x10);        // label offset
    volume += '\0';
    const uint32_t headerSize = 0x1C;
    const uint32_t basePathOffset = headerSize + static_cast<uint32_t>(volume.size());
    const uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(target.size()) + 1;
    const uint32_t infoSize = suffixOffset + 1;
    put32(lnk, infoSize);
    put32(lnk, headerSize);
    put32(lnk, 1);  // VolumeIDAndLocalBasePath
    put32(lnk, headerSize);
    put32(lnk, basePathOffset);
    put32(lnk, 0);
    put32(lnk, suffixOffset);
    lnk += volume;
    lnk += std::string(target) + '\0';
    lnk += '\0';
    put32(lnk, 0);  // no extra data
    return lnk;
}

// The $I record Windows Vista and 7 keep beside each deleted item ($R...):
// version 1, the item's size, when it was deleted, where it was.
std::string recycleRecord(std::string_view originalPath, uint64_t size) {
    std::string rec;
    put64(rec, 1);
    put64(rec, size);
    put64(rec, static_cast<uint64_t>(kDeletedAt));
    auto wide = utf8ToUtf16le(originalPath, false);
    wide.resize(520, 0);
    rec.append(wide.begin(), wide.end());
    return rec;
}

// Some bytes that look like what the program keeps there; their content does
// not matter to anything that reads the demo machine.
std::string filler(std::string_view head, size_t size) {
    std::string s(head);
    s.reserve(size);
    uint32_t x = 0x2545F491u;
    while (s.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s += static_cast<char>('a' + x % 26);
    }
    s.resize(size);
    return s;
}

std::string logText(std::string_view source, int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i)
        s += "2026-03-0" + std::to_string(1 + i % 9) + " 09:1" + std::to_string(i % 10) +
             ":02, Info " + std::string(source) + " operation " + std::to_string(i) +
             " completed\r\n";
    return s;
}

class UserRegistry {
  public:
    explicit UserRegistry(RegTreeKey& hive) : hive_(hive) {}
    void str(std::string_view path, std::string_view name, std::string_view value) {
        hive_.find(path, true)->setValue(name, REG_SZ, utf8ToUtf16le(value));
    }
    void bin(std::string_view path, std::string_view name, std::string_view data) {
        hive_.find(path, true)->setValue(name, REG_BINARY, bytes(data));
    }
    void dword(std::string_view path, std::string_view name, uint32_t v) {
        std::string d;
        put32(d, v);
        hive_.find(path, true)->setValue(name, REG_DWORD, bytes(d));
    }
    // An MRU list of strings named "a", "b", ... with its MRUList, newest first.
    void mruList(std::string_view path, const std::vector<std::string>& items) {
        std::string order;
        for (size_t i = 0; i < items.size(); ++i) {
            std::string name(1, static_cast<char>('a' + i));
            str(path, name, items[i]);
            order.insert(order.begin(), name[0]);
        }
        str(path, "MRUList", order);
    }
    // RecentDocs style: values "0", "1", ... holding the name as UTF-16 and a
    // shell item, with the binary MRUListEx.
    void mruListEx(std::string_view path, const std::vector<std::string>& names) {
        std::string order;
        for (size_t i = 0; i < names.size(); ++i) {
            auto wide = utf8ToUtf16le(names[i]);
            std::string data(wide.begin(), wide.end());
            put16(data, 0x14);
            data += filler("\x1f\x50", 0x12);
            bin(path, std::to_string(i), data);
            put32(order, static_cast<uint32_t>(names.size() - 1 - i));
        }
        put32(order, 0xffffffffu);
        bin(path, "MRUListEx", order);
    }
    // XP-style usage record: session, run count, last run.
    void userAssist(std::string_view guid, std::string_view name, uint32_t runs) {
        std::string d;
        put32(d, 1);
        put32(d, runs + 5);
        put64(d, static_cast<uint64_t>(kDeletedAt));
        bin(explorer("UserAssist\\" + std::string(guid) + "\\Count"), rot13(name), d);
    }

  private:
    RegTreeKey& hive_;
};

void addRegistryTraces(MachineBuilder& b, const std::string& profile) {
    UserRegistry u(b.hive("NTUSER"));

    u.mruList(explorer("RunMRU"),
              {"notepad\\1", "cmd\\1", "regedit\\1", "\\\\fileserver\\scans\\1", "msconfig\\1"});

    u.mruListEx(explorer("RecentDocs"),
                {"Budget 2026.xlsx", "Letter to the landlord.docx", "notes.txt", "Documents"});
    u.mruListEx(explorer("RecentDocs\\.xlsx"), {"Budget 2026.xlsx"});
    u.mruListEx(explorer("RecentDocs\\.docx"), {"Letter to the landlord.docx"});
    u.mruListEx(explorer("RecentDocs\\Folder"), {"Documents"});

    const std::string acMru = "Software\\Microsoft\\Search Assistant\\ACMru";
    u.str(acMru + "\\5603", "000", "budget*.xlsx");
    u.str(acMru + "\\5603", "001", "landlord");
    u.str(acMru + "\\5604", "000", "tax return 2025");
    u.str(acMru + "\\5647", "000", "FILESERVER");

    const std::string docs = profile + "Documents\\";
    const std::string openSave = explorer("ComDlg32\\OpenSaveMRU");
    u.mruList(openSave + "\\*", {docs + "Budget 2026.xlsx", docs + "Letter to the landlord.docx",
                                 profile + "Desktop\\notes.txt"});
    u.mruList(openSave + "\\docx", {docs + "Letter to the landlord.docx", docs + "CV 2026.docx"});
    u.mruList(openSave + "\\xlsx", {docs + "Budget 2026.xlsx"});

    const std::string menuOrder = explorer("MenuOrder");
    u.bin(menuOrder + "\\Start Menu2\\Programs", "Order", filler("\x08\x00\x00\x00\x02"sv, 220));
    u.bin(menuOrder + "\\Start Menu2\\Programs\\Accessories", "Order",
          filler("\x08\x00\x00\x00\x02"sv, 180));
    u.bin(menuOrder + "\\Favorites", "Order", filler("\x08\x00\x00\x00\x02"sv, 96));

    const std::string tray = explorer("TrayNotify");
    u.bin(tray, "IconStreams", filler("\x14\x00\x00\x00\x07\x00\x00\x00"sv, 1640));
    u.bin(tray, "PastIconsStream", filler("\x14\x00\x00\x00\x03\x00\x00\x00"sv, 712));
    u.str(tray, "BalloonTip", "");

    constexpr std::string_view kActiveDesktop = "{75048700-EF1F-11D0-9888-006097DEACF9}";
    constexpr std::string_view kShellFolder = "{5E6AB780-7743-11CF-A12B-00AA004AE837}";
    u.userAssist(kShellFolder, "UEME_CTLSESSION", 12);
    u.userAssist(kShellFolder, "UEME_RUNPATH:C:\\Program Files\\Mozilla Firefox\\firefox.exe", 41);
    u.userAssist(kShellFolder, "UEME_RUNPATH:C:\\Windows\\system32\\notepad.exe", 9);
    u.userAssist(kActiveDesktop, "UEME_CTLSESSION", 12);
    u.userAssist(kActiveDesktop, "UEME_RUNPIDL:%csidl2%\\Accessories\\Paint.lnk", 3);
    u.userAssist(kActiveDesktop, "UEME_UITOOLBAR:0x1,120", 2);

    const std::string paint =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List";
    u.str(paint, "File1", profile + "Pictures\\scan of passport.png");
    u.str(paint, "File2", profile + "Pictures\\holiday crop.jpg");
    u.str(paint, "File3", profile + "Desktop\\screenshot.png");

    const std::string google = "Software\\Google\\NavClient\\1.1\\History";
    u.dword(google, "cheap flights to lisbon", 0x67c41a10);
    u.dword(google, "tenant rights deposit", 0x67c52b44);
    const std::string msn = "Software\\Microsoft\\MSN Apps\\MSN Toolbar Suite\\SearchHistory";
    u.str(msn, "0", "hotmail sign in");
    u.str(msn, "1", "bus timetable");
    const std::string yahoo = "Software\\Yahoo\\Companion\\SearchHistory";
    u.str(yahoo, "0", "used cars under 5000");
    u.str(yahoo, "1", "weather berlin");
    u.str(yahoo, "2", "pharmacy open sunday");
}

void addRecentDocuments(MachineBuilder& b, const std::string& profile) {
    const std::string recent = profile + "AppData\\Roaming\\Microsoft\\Windows\\Recent\\";
    const std::string docs = profile + "Documents\\";
    b.addFile(recent + "Budget 2026.lnk", shortcut(docs + "Budget 2026.xlsx", 18432, false));
    b.addFile(recent + "Letter to the landlord.lnk",
              shortcut(docs + "Letter to the landlord.docx", 24576, false));
    b.addFile(recent + "notes.lnk", shortcut(profile + "Desktop\\notes.txt", 11, false));
    b.addFile(recent + "Documents.lnk", shortcut(profile + "Documents", 0, true));
}

void addTemporaryFiles(MachineBuilder& b, const std::string& profile) {
    const std::string temp = profile + "AppData\\Local\\Temp\\";
    b.addFile(temp + "~DF3A1B7C2E.tmp", filler("", 16384));
    b.addFile(temp + "dd_vcredist_x86_20260301091502.log", logText("vcredist", 40));
    b.addFile(temp + "jusched.log", logText("jusched", 12));
    b.addFile(temp + "7zS4C1D\\setup.exe", filler("MZ", 65536));
    b.addFile(temp + "7zS4C1D\\setup.ini", "[Setup]\r\nProduct=PhotoFix 3\r\n");
    b.addFile(temp + "7zS4C1D\\res\\strings.dat", filler("", 3072));
    b.addFile(temp + "7zS4C1D\\res\\img\\logo.bmp", filler("BM", 12342));
    b.addFile(temp + "Low\\chrome_installer.log", logText("installer", 25));
    b.addFile(temp + "{5D3E9F2A-61C4-4B7E-9A0D-3C8F21B7E640}\\~WRL0001.tmp", filler("", 8192));

    const std::string wtemp = std::string(kWindows) + "Temp\\";
    b.addFile(wtemp + "MpCmdRun.log", logText("MpCmdRun", 30));
    b.addFile(wtemp + "MSI3f2a1.LOG", logText("MSI", 60));
    b.addFile(wtemp + "TMP00000A2B\\update.cab", filler("MSCF", 24576));
    b.addFile(wtemp + "cab_1188_3\\wu\\pkgmgr.tmp", filler("", 4096));
}

void addDumpsAndFragments(MachineBuilder& b) {
    const std::string windows(kWindows);
    b.addFile(windows + "MEMORY.DMP", filler("PAGEDUMP\x0f\x00\x00\x00"sv, 131072));
    b.addFile(windows + "Minidump\\030126-15234-01.dmp", filler("MDMP\x93\xa7", 65536));
    b.addFile(windows + "Minidump\\031526-18720-01.dmp", filler("MDMP\x93\xa7", 65536));
    b.addFile("C:\\FOUND.000\\FILE0000.CHK", filler("", 4096));
    b.addFile("C:\\FOUND.000\\FILE0001.CHK", filler("", 8192));
    b.addFile("C:\\FOUND.000\\FILE0002.CHK", filler("", 512));
}

void addRecycleBin(MachineBuilder& b, const std::string& profile) {
    const std::string bin = "C:\\$Recycle.Bin\\" + b.userSid() + "\\";
    b.addFile(bin + "desktop.ini",
              "[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n"
              "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-8964\r\n");
    const std::string docs = profile + "Documents\\";
    b.addFile(bin + "$IR4K2L9.docx", recycleRecord(docs + "CV 2025 old.docx", 31744));
    b.addFile(bin + "$RR4K2L9.docx", filler("PK\x03\x04", 31744));
    b.addFile(bin + "$IB81QZD.jpg", recycleRecord(profile + "Pictures\\IMG_0412.jpg", 40960));
    b.addFile(bin + "$RB81QZD.jpg", filler("\xff\xd8\xff\xe0", 40960));
    b.addFile(bin + "$I7TQ0XA", recycleRecord(docs + "Old tax papers", 0));
    b.addFile(bin + "$R7TQ0XA\\tax 2023.pdf", filler("%PDF-1.4\n", 20480));
    b.addFile(bin + "$R7TQ0XA\\receipts\\pharmacy.pdf", filler("%PDF-1.4\n", 6144));
}

// The logs Windows 7 keeps below its folder, one for each line of the
// "Windows Log Files" list, beside files the list must leave alone.
void addWindowsLogs(MachineBuilder& b) {
    const std::string w(kWindows);
    b.addFile(w + "WindowsUpdate.log", logText("AU", 120));
    b.addFile(w + "setupact.log", logText("Setup", 30));
    b.addFile(w + "setuperr.log", "");
    b.addFile(w + "PFRO.log", logText("PFRO", 6));
    b.addFile(w + "DtcInstall.log", logText("DTC", 4));
    b.addFile(w + "inf\\setupapi.dev.log", logText("Device install", 200));
    b.addFile(w + "inf\\setupapi.app.log", logText("App install", 20));
    b.addFile(w + "inf\\usbstor.inf", "; keep: a driver description\r\n[Version]\r\n");
    b.addFile(w + "Debug\\PASSWD.LOG", logText("NetpValidatePasswordPolicy", 8));
    b.addFile(w + "Debug\\mrt.log", logText("Microsoft Windows Malicious Software Removal", 15));
    b.addFile(w + "Panther\\setupact.log", logText("Panther", 80));
    b.addFile(w + "Panther\\setuperr.log", logText("Panther", 3));
    b.addFile(w + "Panther\\UnattendGC\\setupact.log", logText("UnattendGC", 10));
    b.addFile(w + "Logs\\CBS\\CBS.log", logText("CBS", 150));
    b.addFile(w + "Logs\\CBS\\CbsPersist_20260214101522.cab", filler("MSCF", 32768));
    b.addFile(w + "Logs\\DISM\\dism.log", logText("DISM", 40));
    b.addFile(w + "Performance\\WinSAT\\winsat.log", logText("WinSAT", 50));
    b.addFile(w + "Performance\\WinSAT\\DataStore\\2026-02-14 10.13.05.245 Formal.Assessment.xml",
              "<WinSAT/>\r\n");
    b.addFile(w + "SoftwareDistribution\\ReportingEvents.log", logText("Reporting", 35));
    // The update database's transaction log: deleting it would break Windows Update.
    b.addFile(w + "SoftwareDistribution\\DataStore\\Logs\\edb.log", filler("", 4096));
    b.addFile(w + "System32\\wbem\\Logs\\wmiprov.log", logText("WMI", 20));
    b.addFile(w + "System32\\catroot2\\dberr.txt", logText("CatalogDB", 5));
}

// The user has run the program once and kept its common items checked, so a
// Test or Clean without naming items has something to do.
void addSavedSelection(MachineBuilder& b, const std::string& profile) {
    constexpr const char* kItems[] = {
        "Internet Explorer - Temporary Internet Files",
        "Internet Explorer - Visited URL History",
        "Internet Explorer - Recently Typed URLs",
        "Mozilla Firefox - Temporary Internet Files",
        "Google Chrome - Temporary Internet Files",
        "Windows - Recent Documents",
        "Windows - Empty Recycle Bin",
        "Windows - Temporary Files",
        "Windows - Memory Dumps",
        "Windows - Chkdsk File Fragments",
    };
    std::string ini = "[NodeSelected]\r\n";
    int n = 0;
    for (const char* item : kItems) ini += std::to_string(++n) + "=" + item + "\r\n";
    ini += "SelectedCount=" + std::to_string(n) + "\r\n";
    b.addFile(profile + "AppData\\Roaming\\Brisko\\Brisko Cleaner\\options.ini", ini);
}

}  // namespace

void addDemoCleanTraces(MachineBuilder& b) {
    const std::string profile = "C:\\Users\\" + b.userName() + "\\";
    addRegistryTraces(b, profile);
    addRecentDocuments(b, profile);
    addTemporaryFiles(b, profile);
    addDumpsAndFragments(b);
    addRecycleBin(b, profile);
    addWindowsLogs(b);
    addSavedSelection(b, profile);
    b.addFile("C:\\Program Files\\Brisko Cleaner\\apls.dat", std::string(builtInAplsDat()));
}

}  // namespace brisko
