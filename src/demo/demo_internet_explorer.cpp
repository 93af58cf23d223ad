// What Internet Explorer 8 on Windows 7 has left on the demo machine: a page
// cache with its files and index, cookies (one host on the keep list), the
// global and daily/weekly history, typed addresses, the last download folder,
// form autocomplete data and saved passwords in Protected Storage. The index
// files are written in the browser's own format.
#include <ctime>
#include <string>
#include <vector>

#include "demo/demo_content.h"
#include "demo/machine_builder.h"
#include "indexdat/index_dat_writer.h"

namespace brisko {

namespace {

using indexdat::fileTimeFromUnix;
using indexdat::NewRecord;
using indexdat::RecordType;
using indexdat::WriterOptions;

// 2026-03-02 09:14 UTC: the browsing of the demo's day.
constexpr int64_t kBrowsedAt = 1772442840;

NewRecord record(std::string url, int64_t at, std::string file = "", uint8_t folder = 0,
                 uint32_t size = 0) {
    NewRecord r;
    r.url = std::move(url);
    r.lastAccess = fileTimeFromUnix(at);
    r.modified = fileTimeFromUnix(at - 3600);
    r.fileName = std::move(file);
    r.folderIndex = folder;
    r.fileSize = size;
    return r;
}

std::string page(std::string_view title, size_t size) {
    std::string s = "<html><head><title>" + std::string(title) + "</title></head><body>";
    while (s.size() + 15 < size) s += "<p>content</p>";
    return s + "</body></html>";
}

std::string yyyymmdd(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

void addCache(MachineBuilder& b, const std::string& local) {
    const std::string content =
        local + "Microsoft\\Windows\\Temporary Internet Files\\Content.IE5\\";
    const std::vector<std::string> folders = {"K3J8Q2ZD", "7PWM1XAC", "B0TRE5YN", "QH4L9VUS"};
    struct Cached {
        const char* url;
        const char* file;
        uint8_t folder;
        size_t size;
    } cached[] = {
        {"http://www.example-news.com/", "index[1].htm", 0, 18230},
        {"http://www.example-news.com/style/main.css", "main[1].css", 1, 6140},
        {"http://www.example-news.com/img/logo.png", "logo[1].png", 2, 4410},
        {"http://mail.example.com/login.aspx", "login[1].htm", 3, 9120},
        {"http://shop.example.org/cart?id=4471", "cart[1].htm", 0, 12050},
        {"http://weather.example.net/berlin", "berlin[1].htm", 1, 7700},
        {"https://bank.example.com/static/app.js", "app[1].js", 2, 23100},
    };
    std::vector<NewRecord> records;
    int64_t at = kBrowsedAt;
    for (const auto& c : cached) {
        std::string body = std::string(c.file).find(".htm") != std::string::npos
                               ? page(c.url, c.size)
                               : std::string(c.size, 'x');
        b.addFile(content + folders[c.folder] + "\\" + c.file, body, fileTimeFromUnix(at));
        records.push_back(record(c.url, at, c.file, c.folder, uint32_t(c.size)));
        at += 97;
    }
    WriterOptions o;
    o.cacheFolders = folders;
    b.addFile(content + "index.dat", indexdat::writeIndexDat(records, o));
    b.addFile(content + "desktop.ini",
              "[.ShellClassInfo]\r\nUICLSID={7BD29E00-76C1-11CF-9DD0-00A0C9034933}\r\n");
}

std::string cookieText(std::string_view name, std::string_view value, std::string_view host) {
    return std::string(name) + "\n" + std::string(value) + "\n" + std::string(host) +
           "\n1536\n3024881664\n30894120\n2591726320\n30878945\n*\n";
}

void addCookies(MachineBuilder& b, const std::string& roaming) {
    const std::string cookies = roaming + "Microsoft\\Windows\\Cookies\\";
    struct Cookie {
        const char* file;
        const char* name;
        const char* value;
        const char* host;
        bool low;
    } list[] = {
        {"alex@example-news[1].txt", "session", "a81f0c", "example-news.com/", false},
        {"alex@mail.example[2].txt", "MSPAuth", "7hQ2ZkLm", "mail.example.com/", false},
        {"alex@ads.example[1].txt", "uid", "99120ab3", "ads.example.net/", false},
        {"alex@bank.example[1].txt", "pref", "lang=en", "bank.example.com/", false},
        {"alex@tracker.example[1].txt", "track", "3321", "tracker.example.org/", true},
        {"alex@weather.example[1].txt", "city", "berlin", "weather.example.net/", true},
    };
    std::vector<NewRecord> main, low;
    int64_t at = kBrowsedAt;
    for (const auto& c : list) {
        const std::string folder = c.low ? cookies + "Low\\" : cookies;
        b.addFile(folder + c.file, cookieText(c.name, c.value, c.host), fileTimeFromUnix(at));
        std::string host = c.host;
        (c.low ? low : main).push_back(record("Cookie:alex@" + host, at, c.file));
        at += 311;
    }
    b.addFile(cookies + "index.dat", indexdat::writeIndexDat(main));
    b.addFile(cookies + "Low\\index.dat", indexdat::writeIndexDat(low));
    // The user keeps the bank's cookie.
    b.addFile("C:\\Program Files\\Brisko Cleaner\\Cookies.ini",
              "[Cookies to Keep]\r\nCount=1\r\n0=bank.example.com\r\n");
}

void addHistory(MachineBuilder& b, const std::string& local) {
    const std::string history = local + "Microsoft\\Windows\\History\\";
    const char* visited[] = {"http://www.example-news.com/", "http://mail.example.com/inbox",
                             "http://shop.example.org/cart?id=4471",
                             "http://weather.example.net/berlin",
                             "http://www.example-news.com/politics/article-2231.html"};
    std::vector<NewRecord> global;
    int64_t at = kBrowsedAt;
    for (const char* v : visited) {
        global.push_back(record(std::string("Visited: Alex@") + v, at));
        at += 420;
    }
    NewRecord moved;
    moved.type = RecordType::Redirect;
    moved.url = "http://example-news.com/";
    global.push_back(moved);
    b.addFile(history + "History.IE5\\index.dat", indexdat::writeIndexDat(global));

    // A weekly container and a daily one, as "MSHist01" + first day + day after the last.
    auto periodic = [&](const std::string& folder, int64_t from, int64_t to,
                        std::vector<const char*> urls) {
        std::vector<NewRecord> r;
        int64_t t = from + 3600;
        for (const char* u : urls) {
            r.push_back(record(":" + yyyymmdd(from) + yyyymmdd(to) + ": Alex@" + u, t));
            t += 600;
        }
        b.addFile(folder + "MSHist01" + yyyymmdd(from) + yyyymmdd(to) + "\\index.dat",
                  indexdat::writeIndexDat(r));
    };
    const int64_t day = 86400;
    periodic(history + "History.IE5\\", kBrowsedAt - 8 * day, kBrowsedAt - day,
             {"http://www.example-news.com/", "http://mail.example.com/inbox"});
    periodic(history + "History.IE5\\", kBrowsedAt, kBrowsedAt + day,
             {"http://shop.example.org/cart?id=4471"});
    // Protected mode: an old day, and today, which a clean leaves in place.
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    b.addFile(history + "Low\\History.IE5\\index.dat",
              indexdat::writeIndexDat({record("Visited: Alex@http://tracker.example.org/", now)}));
    periodic(history + "Low\\History.IE5\\", kBrowsedAt - 2 * day, kBrowsedAt - day,
             {"http://tracker.example.org/pixel"});
    periodic(history + "Low\\History.IE5\\", now, now + day, {"http://weather.example.net/berlin"});
    b.addFile(local +
                  "Microsoft\\Internet Explorer\\Recovery\\Last Active\\"
                  "{6A1E2F3C-9B7D-11F0-8C2A-00155D0A1B2C}.dat",
              std::string(2048, '\x11'));
}

void addStorage(MachineBuilder& b, const std::string& local, const std::string& roaming) {
    b.addFile(local + "Microsoft\\Internet Explorer\\DOMStore\\K3J8Q2ZD\\www.example-news[1].xml",
              "<root><item name=\"lastSeen\" value=\"2231\"/></root>");
    b.addFile(roaming + "Microsoft\\Internet Explorer\\UserData\\Q0B1SXY2\\shop[1].xml",
              "<ROOTSTUB><cart items=\"3\"/></ROOTSTUB>");
}

}  // namespace

void addDemoInternetExplorer(MachineBuilder& b) {
    const std::string profile = "C:\\Users\\" + b.userName() + "\\";
    const std::string local = profile + "AppData\\Local\\";
    const std::string roaming = profile + "AppData\\Roaming\\";
    addCache(b, local);
    addCookies(b, roaming);
    addHistory(b, local);
    addStorage(b, local, roaming);

    const std::string sid = b.userSid();
    const std::string ps =
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Protected Storage System "
        "Provider\\" +
        sid + "\\Data\\{e161255a-37c3-11d2-bcaa-00c04fd929db}";
    const std::string sub = ps + "\\{e161255a-37c3-11d2-bcaa-00c04fd929db}";
    b.addRegText(R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Internet Explorer\Version Vector]
"IE"="8.0000"
"VML"="1.0"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\TypedURLs]
"url1"="http://www.example-news.com/"
"url2"="http://mail.example.com/"
"url3"="shop.example.org"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer]
"Download Directory"="C:\\Users\\)" +
                 b.userName() + R"(\\Downloads"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Explorer Bars\{C4EE31F3-4768-11D2-BE5C-00A0C9A83DA1}\FilesNamedMRU]
"000"="tax*.pdf"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Explorer Bars\{C4EE31F3-4768-11D2-BE5C-00A0C9A83DA1}\ContainingTextMRU]
"000"="landlord"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\IntelliForms\Storage1]
"E3B8A5C1D2F0476B9A1C3D5E7F901234ABCDEF56"=hex:01,02,03,04,05,06,07,08
"9F8E7D6C5B4A39281706F5E4D3C2B1A098765432"=hex:11,12,13,14

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\IntelliForms\Storage2]
"7A6B5C4D3E2F1A0B9C8D7E6F5A4B3C2D1E0F9A8B"=hex:21,22,23,24,25,26

[)" + ps + R"(]
"Display String"="Internet Explorer"
"Behavior"=dword:00000000

[)" + sub + R"(]
"Display String"="AutoComplete"

[)" + sub + R"(\http://mail.example.com/login.aspx:StringData]
"Behavior"=dword:00000000
"Item Data"=hex:01,00,00,00,d0,8c,9d,df,01,15,d1,11

[)" + sub + R"(\http://mail.example.com/login.aspx:StringIndex]
"Behavior"=dword:00000000
"Item Data"=hex:57,49,43,4b,18,00,00,00

[)" + sub + R"(\username:StringData]
"Behavior"=dword:00000000
"Item Data"=hex:01,00,00,00,d0,8c,9d,df,01,15,d1,11,8c

[)" + sub + R"(\username:StringIndex]
"Behavior"=dword:00000000
"Item Data"=hex:57,49,43,4b,18,00,00,00,02
)");
}

}  // namespace brisko
