// What Office, the messengers and Alex's other programs have left on the demo
// machine: Office 2003, 2007, 2010 and Microsoft 365 recent lists and the
// Office recent folder, Windows Live Messenger's conversation logs and received
// files, Yahoo! Messenger's logs and caches, Skype's old chat files, and a
// dozen programs of apls.dat installed with their caches, logs and histories
// beside settings and documents that must stay.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "demo/demo_content.h"
#include "demo/machine_builder.h"

namespace brisko {

namespace {

std::string bytesOf(size_t size, char seed) {
    std::string s(size, '\0');
    uint32_t x = 0x9E3779B9u ^ static_cast<uint8_t>(seed);
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>('a' + x % 26);
    }
    return s;
}

std::string logLines(std::string_view what, int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i)
        s += "2026-03-0" + std::to_string(1 + i % 9) + " 10:2" + std::to_string(i % 10) + ":11 " +
             std::string(what) + " event " + std::to_string(i) + "\r\n";
    return s;
}

std::vector<uint8_t> wide(std::string_view s) {
    return utf8ToUtf16le(s);
}

class Reg {
  public:
    explicit Reg(RegTreeKey& hive) : hive_(hive) {}
    void str(std::string_view path, std::string_view name, std::string_view value) {
        hive_.find(path, true)->setValue(name, REG_SZ, wide(value));
    }
    void bin(std::string_view path, std::string_view name, const std::vector<uint8_t>& data) {
        hive_.find(path, true)->setValue(name, REG_BINARY, data);
    }
    void dword(std::string_view path, std::string_view name, uint32_t v) {
        hive_.find(path, true)
            ->setValue(name, REG_DWORD,
                       {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    }

  private:
    RegTreeKey& hive_;
};

const std::string kOffice = "Software\\Microsoft\\Office\\";

// "Item 1" = "[F00000000][T01DC8A1B2C3D4E50]*C:\...", as Office 2007 and later write them.
void officeMru(Reg& u, const std::string& key, const std::vector<std::string>& paths) {
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        u.str(key, "Item " + n, "[F00000000][T01DC8A1B2C3D4E5" + n + "]*" + paths[i]);
    }
}

void addOffice(MachineBuilder& b, Reg& u, const std::string& profile) {
    const std::string docs = profile + "Documents\\";
    const std::string budget = docs + "Budget 2026.xlsx";
    const std::string letter = docs + "Letter to the landlord.docx";
    const std::string review = docs + "Quarterly review.pptx";
    b.addFile(review, bytesOf(40960, 'p'));

    // Office 2003 left behind: Word's binary list, Excel's and PowerPoint's own lists.
    u.bin(kOffice + "11.0\\Word\\Data", "Settings", std::vector<uint8_t>(512, 0x21));
    u.str(kOffice + "11.0\\Excel\\Recent Files", "File1", budget);
    u.str(kOffice + "11.0\\PowerPoint\\Recent File List", "File1", review);
    u.str(kOffice + "11.0\\Access\\Settings", "MRU1", docs + "Club members.mdb");
    u.dword(kOffice + "11.0\\Access\\Settings", "MRUFlags1", 0);
    // An Access setting beside the list, which stays.
    u.dword(kOffice + "11.0\\Access\\Settings", "Confirm Record Changes", 1);
    b.addFile(docs + "Club members.mdb", bytesOf(65536, 'm'));

    // Office 2007 and 2010.
    officeMru(u, kOffice + "12.0\\Excel\\File MRU", {budget});
    officeMru(u, kOffice + "12.0\\Word\\File MRU", {letter});
    officeMru(u, kOffice + "14.0\\Word\\File MRU", {letter, docs + "CV 2026.docx"});
    officeMru(u, kOffice + "14.0\\Word\\Place MRU", {docs});
    officeMru(u, kOffice + "14.0\\Excel\\File MRU", {budget});
    officeMru(u, kOffice + "14.0\\Excel\\Place MRU", {docs});
    officeMru(u, kOffice + "14.0\\PowerPoint\\File MRU", {review});
    officeMru(u, kOffice + "14.0\\Access\\File MRU", {docs + "Club members.mdb"});
    officeMru(u, kOffice + "14.0\\Publisher\\File MRU", {docs + "Garden party flyer.pub"});
    officeMru(u, kOffice + "14.0\\InfoPath\\Filler File MRU", {docs + "Expense claim.xml"});
    officeMru(u, kOffice + "14.0\\Visio\\File MRU", {docs + "Flat layout.vsd"});
    b.addFile(docs + "CV 2026.docx", bytesOf(20480, 'c'));
    b.addFile(docs + "Garden party flyer.pub", bytesOf(30720, 'g'));
    b.addFile(docs + "Expense claim.xml", "<claim/>\r\n");
    b.addFile(docs + "Flat layout.vsd", bytesOf(12288, 'v'));
    // Word's own options, which stay.
    u.dword(kOffice + "14.0\\Word\\Options", "AutoSaveInterval", 10);

    // Microsoft 365, signed in: the lists live below the identity.
    const std::string m365 = kOffice + "16.0\\Word\\User MRU\\LiveId_8F3A21C7D9E04B15\\";
    officeMru(u, m365 + "File MRU", {letter, docs + "CV 2026.docx"});
    officeMru(u, m365 + "Place MRU", {docs});

    const std::string frontPage = "Software\\Microsoft\\FrontPage\\Explorer\\FrontPage Explorer\\";
    u.str(frontPage + "Recent File List", "File1", docs + "My Web Sites\\index.htm");
    u.str(frontPage + "Recent Web List", "Web1", docs + "My Web Sites");
    b.addFile(docs + "My Web Sites\\index.htm", "<html></html>\r\n");

    // The Office recent folder: a shortcut per document, named after it.
    const std::string recent = profile + "AppData\\Roaming\\Microsoft\\Office\\Recent\\";
    b.addFile(recent + "Budget 2026.xlsx.LNK", bytesOf(612, 'b'));
    b.addFile(recent + "Letter to the landlord.docx.LNK", bytesOf(640, 'l'));
    b.addFile(recent + "Quarterly review.pptx.LNK", bytesOf(628, 'q'));
    b.addFile(recent + "Documents.LNK", bytesOf(420, 'd'));
    b.addFile(recent + "index.dat", "[Folders]\r\nDocuments.LNK=0\r\n");
}

void addMessengers(MachineBuilder& b, Reg& u, const std::string& profile) {
    const std::string docs = profile + "Documents\\";
    // Windows Live Messenger keeps the conversations inside the received files.
    const std::string received = docs + "My Received Files\\";
    const std::string history = received + "alex.k_live1234\\History\\";
    u.str("Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\1402817396", "MessageLogPath",
          history);
    u.dword("Software\\Microsoft\\MSNMessenger\\PerPassportSettings\\1402817396",
            "MessageLogEnabled", 1);
    b.addFile(history + "Sam1402817399.xml", logLines("<Message>", 40));
    b.addFile(history + "Jo2209988123.xml", logLines("<Message>", 25));
    b.addFile(history + "MessageLog.xsl", "<xsl:stylesheet/>\r\n");
    b.addFile(received + "party invite.pdf", bytesOf(14336, 'i'));
    b.addFile(received + "alex.k_live1234\\Sam\\beach.jpg", bytesOf(51200, 'j'));
    u.str("Software\\Microsoft\\MessengerService\\ListCache\\.NET Messenger Service",
          "IdentityNames", "alex.k@live.com");
    b.addFile(profile + "AppData\\Roaming\\Microsoft\\MSN Messenger\\msnmsgr_1.sqm",
              bytesOf(2048, 's'));
    b.addFile(profile + "AppData\\Local\\Microsoft\\Messenger\\alex.k@live.com.uccapilog",
              logLines("SIP", 30));
    b.addFile(profile + "AppData\\Local\\Microsoft\\Messenger\\alex.k@live.com.uccapilog.bak",
              logLines("SIP", 12));
    b.addFile(profile + "Tracing\\WindowsLiveMessenger-uccapi-0.uccapilog", logLines("uccapi", 20));
    b.addFile(profile + "Tracing\\WindowsLiveMessenger-uccapi-0.uccapilog.bak",
              logLines("uccapi", 8));

    const std::string yahoo = "C:\\Program Files\\Yahoo!\\Messenger\\";
    b.addFile(yahoo + "YahooMessenger.exe", "MZ" + bytesOf(8190, 'y'));
    b.addFile(yahoo + "ypager.log", logLines("ypager", 15));
    b.addFile(yahoo + "Cache\\a8b1c2.dat", bytesOf(4096, '1'));
    b.addFile(yahoo + "Cache\\ypager.log", logLines("ypager", 5));
    b.addFile(yahoo + "Logs\\yahoo_messenger.log", logLines("login", 10));
    b.addFile(yahoo + "Games\\checkers_icon.gif", bytesOf(1024, 'g'));
    b.addFile(yahoo + "Games\\games.ini", "[Games]\r\nEnabled=1\r\n");
    b.addFile(yahoo + "Profiles\\alex_k_2026\\Archive\\Messages\\sam_yim\\20260301-alex_k_2026.dat",
              bytesOf(3072, 'a'));
    b.addFile(yahoo + "IMVCache\\Skins\\default.zip", bytesOf(6144, 'z'));

    const std::string skype = profile + "AppData\\Roaming\\Skype\\alex.k.skype\\";
    b.addFile(skype + "chatmsg256.dbb", bytesOf(16384, 'k'));
    b.addFile(skype + "user256.dbb", bytesOf(8192, 'u'));
    b.addFile(skype + "config.xml", "<config/>\r\n");
    b.addFile(profile + "AppData\\Roaming\\Skype\\shared.xml", "<config/>\r\n");
}

// An installed program: its uninstall entry (machine-wide, or the user's own
// for a per-user install) and the program file it names.
void install(MachineBuilder& b, Reg& machine, Reg& user, std::string_view key,
             std::string_view displayName, const std::string& folder, std::string_view exe,
             bool perUser = false) {
    const std::string program = folder + std::string(exe);
    b.addFile(program, "MZ" + bytesOf(4094, exe.empty() ? 'x' : exe[0]));
    b.addFile(folder + "uninstall.exe", "MZ" + bytesOf(2046, 'u'));
    Reg& r = perUser ? user : machine;
    const std::string path = std::string(perUser ? "Software\\" : "") +
                             "Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::string(key);
    r.str(path, "DisplayName", displayName);
    r.str(path, "DisplayIcon", program);
    r.str(path, "InstallLocation", folder);
    r.str(path, "UninstallString", "\"" + folder + "uninstall.exe\"");
}

void addApplications(MachineBuilder& b, Reg& u, const std::string& profile) {
    Reg sw(b.hive("SOFTWARE"));
    const std::string pf = "C:\\Program Files\\";
    const std::string roaming = profile + "AppData\\Roaming\\";
    const std::string local = profile + "AppData\\Local\\";
    const std::string docs = profile + "Documents\\";
    const std::string downloads = profile + "Downloads\\";

    // 7-Zip and VLC are installed already; their traces.
    b.addFile(downloads + "holiday photos.zip", bytesOf(30000, 'h'));
    u.bin("Software\\7-Zip\\Compression", "ArcHistory", wide(downloads + "holiday photos.zip"));
    u.bin("Software\\7-Zip\\Extraction", "PathHistory", wide(downloads + "holiday photos\\"));
    u.bin("Software\\7-Zip\\FM", "FolderHistory", wide(downloads));
    u.dword("Software\\7-Zip\\FM", "ShowDots", 1);  // a setting, which stays
    b.addFile(roaming + "vlc\\art\\artistalbum\\Unknown\\Summer Mix\\art.jpg", bytesOf(24576, 'a'));
    b.addFile(roaming + "vlc\\art\\artistalbum\\Radio\\Jazz\\art.png", bytesOf(9000, 'r'));
    b.addFile(roaming + "vlc\\vlcrc", "[core]\r\nvolume-save=1\r\n");

    install(b, sw, u, "WinRAR archiver", "WinRAR 6.24 (32-bit)", pf + "WinRAR\\", "WinRAR.exe");
    u.str("Software\\WinRAR\\ArcHistory", "0", downloads + "holiday photos.zip");
    u.str("Software\\WinRAR\\DialogEditHistory\\ExtrPath", "0", downloads + "holiday photos");
    b.addFile(downloads + "holiday photos\\beach.jpg", bytesOf(20000, 'b'));
    u.str("Software\\WinRAR\\DialogEditHistory\\ArcName", "0", "Tax papers 2025.rar");
    u.dword("Software\\WinRAR\\General", "ShowComment", 1);

    install(b, sw, u, "{AC76BA86-7AD7-1033-7B44-AB0000000001}", "Adobe Reader XI (11.0.23)",
            pf + "Adobe\\Reader 11.0\\Reader\\", "AcroRd32.exe");
    const std::string acro = "Software\\Adobe\\Acrobat Reader\\11.0\\AVGeneral\\cRecentFiles\\c1";
    u.bin(acro, "tDIText", wide(docs + "Tenancy agreement.pdf"));
    b.addFile(docs + "Tenancy agreement.pdf", "%PDF-1.4\n" + bytesOf(40000, 't'));

    install(b, sw, u, "FileZilla Client", "FileZilla Client 3.66.1", pf + "FileZilla FTP Client\\",
            "filezilla.exe");
    b.addFile(roaming + "FileZilla\\recentservers.xml",
              "<FileZilla3><RecentServers><Server><Host>ftp.example.org</Host></Server>"
              "</RecentServers></FileZilla3>\r\n");
    b.addFile(roaming + "FileZilla\\sitemanager.xml", "<FileZilla3><Servers/></FileZilla3>\r\n");

    install(b, sw, u, "{771FD6B0-FA20-440A-A002-3B3BAC16DC50}_is1", "Microsoft Visual Studio Code",
            local + "Programs\\Microsoft VS Code\\", "Code.exe", true);
    b.addFile(roaming + "Code\\Cache\\data_0", bytesOf(8192, '0'));
    b.addFile(roaming + "Code\\Cache\\f_000012", bytesOf(20480, '2'));
    b.addFile(roaming + "Code\\GPUCache\\data_1", bytesOf(4096, '1'));
    b.addFile(roaming + "Code\\logs\\20260302T091500\\main.log", logLines("main", 50));
    b.addFile(roaming + "Code\\User\\settings.json", "{\r\n  \"editor.fontSize\": 14\r\n}\r\n");

    install(b, sw, u, "Spotify", "Spotify", roaming + "Spotify\\", "Spotify.exe", true);
    b.addFile(local + "Spotify\\Storage\\3f\\3fa1b2c3d4e5.file", bytesOf(65536, 's'));
    b.addFile(local + "Spotify\\Storage\\index.dat", bytesOf(1024, 'i'));
    b.addFile(local + "Spotify\\Browser\\Cache\\data_0", bytesOf(8192, 'c'));
    b.addFile(roaming + "Spotify\\prefs", "autologin.username=\"alexk\"\r\n");

    install(b, sw, u, "Mozilla Thunderbird 115.8.0 (x86 en-GB)", "Mozilla Thunderbird (x86 en-GB)",
            pf + "Mozilla Thunderbird\\", "thunderbird.exe");
    b.addFile(local + "Thunderbird\\Profiles\\k2j4h6g8.default-release\\cache2\\entries\\A1B2C3",
              bytesOf(12288, 'e'));
    b.addFile(local +
                  "Thunderbird\\Profiles\\k2j4h6g8.default-release\\startupCache\\"
                  "startupCache.4.little",
              bytesOf(4096, 'l'));
    b.addFile(
        roaming + "Thunderbird\\Profiles\\k2j4h6g8.default-release\\Mail\\Local Folders\\Inbox",
        "From - Mon Mar 02 2026\r\nSubject: keep me\r\n\r\nMail stays.\r\n");
    b.addFile(roaming + "Thunderbird\\Crash Reports\\pending\\7c1e2d3f.dmp", bytesOf(32768, 'd'));

    install(b, sw, u, "Discord", "Discord", local + "Discord\\", "Update.exe", true);
    b.addFile(roaming + "discord\\Cache\\Cache_Data\\data_0", bytesOf(8192, 'd'));
    b.addFile(roaming + "discord\\Code Cache\\js\\index", bytesOf(2048, 'j'));
    b.addFile(roaming + "discord\\settings.json", "{\"BACKGROUND_COLOR\":\"#202225\"}\r\n");

    install(b, sw, u, "Zoom", "Zoom", roaming + "Zoom\\bin\\", "Zoom.exe", true);
    b.addFile(roaming + "Zoom\\logs\\zoom_stdout_stderr.log", logLines("meeting", 60));
    b.addFile(roaming + "Zoom\\logs\\installer.log", logLines("install", 10));

    install(b, sw, u, "TeamViewer", "TeamViewer 15", pf + "TeamViewer\\", "TeamViewer.exe");
    b.addFile(pf + "TeamViewer\\TeamViewer15_Logfile.log", logLines("TeamViewer", 80));
    b.addFile(pf + "TeamViewer\\Connections_incoming.txt", "1 234 567 890\tSam\t02-03-2026\r\n");
    b.addFile(roaming + "TeamViewer\\Connections.txt", "987 654 321\t02-03-2026 09:12\r\n");

    install(b, sw, u, "HandBrake", "HandBrake 1.7.3", pf + "HandBrake\\", "HandBrake.exe");
    b.addFile(roaming + "HandBrake\\logs\\activity_log_1.txt", logLines("encode", 90));
    b.addFile(roaming + "HandBrake\\settings.json", "{\"DefaultPreset\":\"Fast 1080p30\"}\r\n");

    install(b, sw, u, "Everything", "Everything 1.4.1.1024 (x86)", pf + "Everything\\",
            "Everything.exe");
    b.addFile(roaming + "Everything\\Search History.csv", "Search,Count\r\ntax return,3\r\n");
    b.addFile(roaming + "Everything\\Run History.csv",
              "Filename,Count\r\n" + docs + "Budget 2026.xlsx,2\r\n");
    b.addFile(roaming + "Everything\\Everything.ini", "[Everything]\r\nrun_as_admin=0\r\n");

    install(b, sw, u, "Steam", "Steam", pf + "Steam\\", "steam.exe");
    b.addFile(pf + "Steam\\logs\\content_log.txt", logLines("content", 40));
    b.addFile(pf + "Steam\\logs\\connection_log.txt", logLines("connect", 30));
    b.addFile(pf + "Steam\\appcache\\httpcache\\0a\\0a1b2c3d", bytesOf(8192, 'h'));
    b.addFile(pf + "Steam\\config\\loginusers.vdf", "\"users\"\r\n{\r\n}\r\n");
}

}  // namespace

void addDemoApplications(MachineBuilder& b) {
    const std::string profile = "C:\\Users\\" + b.userName() + "\\";
    Reg user(b.hive("NTUSER"));
    addOffice(b, user, profile);
    addMessengers(b, user, profile);
    addApplications(b, user, profile);
}

}  // namespace brisko
