// What Alex's browsing has left on the demo machine: two Firefox profiles (the
// default one with databases of the Firefox 3.6 days, a second one made by a
// current Firefox, its places in write-ahead-log mode), Chrome's "Default"
// profile, an Opera profile and a Netscape profile. The SQLite databases are
// built here with the tables those browsers create, in memory, and written out
// as files.
#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "demo/demo_content.h"
#include "demo/machine_builder.h"

namespace brisko {

namespace {

const std::string kRoaming = "C:\\Users\\Alex\\AppData\\Roaming\\";
const std::string kLocal = "C:\\Users\\Alex\\AppData\\Local\\";
const std::string kFirefoxOld = "Mozilla\\Firefox\\Profiles\\k3x9f2ab.default\\";
const std::string kFirefoxNew = "Mozilla\\Firefox\\Profiles\\p7q2m4zt.work\\";
const std::string kChrome = kLocal + "Google\\Chrome\\User Data\\Default\\";

// 2026-03-01 and the weeks before it, in the clocks the browsers use.
constexpr int64_t kNowUnix = 1772323200;
int64_t prTime(int i) {  // Firefox: microseconds since 1970
    return (kNowUnix - 3600LL * 7 * i) * 1000000LL;
}
int64_t chromeTime(int i) {  // Chrome: microseconds since 1601
    return (kNowUnix + 11644473600LL - 3600LL * 7 * i) * 1000000LL;
}

struct Site {
    const char* url;
    const char* title;
};

// Visited pages; the first three are bookmarked in Firefox.
constexpr Site kSites[] = {
    {"http://www.bbc.co.uk/news/", "BBC News - Home"},
    {"http://en.wikipedia.org/wiki/Main_Page", "Wikipedia, the free encyclopedia"},
    {"https://mail.google.com/mail/", "Gmail"},
    {"http://www.amazon.co.uk/gp/cart/view.html", "Amazon.co.uk Shopping Basket"},
    {"http://www.rightmove.co.uk/property-to-rent/Leeds.html", "Flats to rent in Leeds"},
    {"http://www.nhs.uk/Conditions/Back-pain/Pages/Introduction.aspx", "Back pain - NHS Choices"},
    {"https://www.paypal.com/uk/cgi-bin/webscr?cmd=_login-run", "PayPal - Log in"},
    {"http://www.youtube.com/watch?v=dQw4w9WgXcQ", "YouTube - Never Gonna Give You Up"},
    {"http://www.google.co.uk/search?q=cheap+flights+to+malaga", "cheap flights to malaga"},
    {"http://www.ebay.co.uk/itm/Canon-EOS-550D-Body-/170645123456", "Canon EOS 550D | eBay"},
    {"http://www.facebook.com/alex.turner.1985", "Alex Turner | Facebook"},
    {"http://www.jobsite.co.uk/jobs/leeds/accountant", "Accountant jobs in Leeds"},
};
constexpr int kBookmarked = 3;

std::string sqlText(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string revHost(std::string_view url) {
    auto start = url.find("://");
    start = start == std::string_view::npos ? 0 : start + 3;
    auto end = url.find('/', start);
    std::string host(
        url.substr(start, end == std::string_view::npos ? url.size() - start : end - start));
    return std::string(host.rbegin(), host.rend()) + ".";
}

// An in-memory database made by sql, as the bytes of its file. wal marks the
// file as one in write-ahead-log mode, as a current Firefox leaves it.
std::string database(const std::string& sql, bool wal = false) {
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("Cannot create a demo database.");
    }
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        sqlite3_close(db);
        throw std::runtime_error("Cannot fill a demo database: " + message);
    }
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
    std::string out(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
    sqlite3_free(bytes);
    sqlite3_close(db);
    if (wal && out.size() > 19) out[18] = out[19] = 2;  // file format read/write versions
    return out;
}

// --- Firefox ---------------------------------------------------------------

std::string placesOld() {
    std::string sql = R"(PRAGMA user_version = 10;
CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER, lastModified INTEGER);
CREATE TABLE moz_bookmarks_roots (root_name VARCHAR(16) UNIQUE, folder_id INTEGER);
CREATE TABLE moz_keywords (id INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT UNIQUE);
CREATE TABLE moz_favicons (id INTEGER PRIMARY KEY, url LONGVARCHAR UNIQUE, data BLOB, mime_type VARCHAR(32), expiration LONG);
CREATE TABLE moz_annos (id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, anno_attribute_id INTEGER, mime_type VARCHAR(32) DEFAULT NULL, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
CREATE TABLE moz_anno_attributes (id INTEGER PRIMARY KEY, name VARCHAR(32) UNIQUE NOT NULL);
CREATE TABLE moz_items_annos (id INTEGER PRIMARY KEY, item_id INTEGER NOT NULL, anno_attribute_id INTEGER, mime_type VARCHAR(32) DEFAULT NULL, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, favicon_id INTEGER, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER);
CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER);
CREATE TABLE moz_inputhistory (place_id INTEGER NOT NULL, input LONGVARCHAR NOT NULL, use_count INTEGER, PRIMARY KEY (place_id, input));
CREATE UNIQUE INDEX moz_places_url_uniqueindex ON moz_places (url);
CREATE INDEX moz_places_hostindex ON moz_places (rev_host);
CREATE INDEX moz_places_visitcount ON moz_places (visit_count);
CREATE INDEX moz_places_frecencyindex ON moz_places (frecency);
CREATE INDEX moz_places_lastvisitdateindex ON moz_places (last_visit_date);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE INDEX moz_historyvisits_fromindex ON moz_historyvisits (from_visit);
CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, '', NULL, NULL, 1267000000000000, 1267000000000000);
INSERT INTO moz_bookmarks VALUES (2, 2, NULL, 1, 0, 'Bookmarks Menu', NULL, NULL, 1267000000000000, 1267000000000000);
INSERT INTO moz_bookmarks_roots VALUES ('places', 1), ('menu', 2);
)";
    int visit = 0;
    for (int i = 0; i < static_cast<int>(std::size(kSites)); ++i) {
        const Site& s = kSites[i];
        const int visits = 1 + i % 4;
        sql += "INSERT INTO moz_places VALUES (" + std::to_string(i + 1) + ", " + sqlText(s.url) +
               ", " + sqlText(s.title) + ", " + sqlText(revHost(s.url)) + ", " +
               std::to_string(visits) + ", 0, " + std::to_string(i % 2) + ", NULL, " +
               std::to_string(100 * visits) + ", " + std::to_string(prTime(i)) + ");\n";
        for (int v = 0; v < visits; ++v) {
            const int id = ++visit;
            sql += "INSERT INTO moz_historyvisits VALUES (" + std::to_string(id) + ", 0, " +
                   std::to_string(i + 1) + ", " + std::to_string(prTime(i) - v * 86400000000LL) +
                   ", 1, " + std::to_string(id) + ");\n";
        }
        if (i < kBookmarked)
            sql += "INSERT INTO moz_bookmarks VALUES (" + std::to_string(10 + i) + ", 1, " +
                   std::to_string(i + 1) + ", 2, " + std::to_string(i) + ", " + sqlText(s.title) +
                   ", NULL, NULL, " + std::to_string(prTime(i)) + ", " + std::to_string(prTime(i)) +
                   ");\n";
    }
    sql += "INSERT INTO moz_inputhistory VALUES (5, 'rightm', 2);\n";
    return database(sql);
}

std::string placesCurrent() {
    std::string sql = R"(PRAGMA user_version = 77;
CREATE TABLE moz_origins ( id INTEGER PRIMARY KEY, prefix TEXT NOT NULL, host TEXT NOT NULL, frecency INTEGER NOT NULL, recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER, recalc_alt_frecency INTEGER NOT NULL DEFAULT 1, UNIQUE (prefix, host) );
CREATE TABLE moz_places (   id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER , guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, url_hash INTEGER DEFAULT 0 NOT NULL , description TEXT, preview_image_url TEXT, site_name TEXT, origin_id INTEGER REFERENCES moz_origins(id), recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER, recalc_alt_frecency INTEGER NOT NULL DEFAULT 1);
CREATE TABLE moz_historyvisits (  id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER, source INTEGER DEFAULT 0 NOT NULL, triggeringPlaceId INTEGER);
CREATE TABLE moz_inputhistory (  place_id INTEGER NOT NULL, input LONGVARCHAR NOT NULL, use_count INTEGER, PRIMARY KEY (place_id, input));
CREATE TABLE moz_bookmarks (  id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER, lastModified INTEGER, guid TEXT, syncStatus INTEGER NOT NULL DEFAULT 0, syncChangeCounter INTEGER NOT NULL DEFAULT 1);
CREATE TABLE moz_keywords (  id INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT UNIQUE, place_id INTEGER, post_data TEXT);
CREATE TABLE moz_anno_attributes (  id INTEGER PRIMARY KEY, name VARCHAR(32) UNIQUE NOT NULL);
CREATE TABLE moz_annos (  id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, anno_attribute_id INTEGER, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
CREATE TABLE moz_meta (key TEXT PRIMARY KEY, value NOT NULL) WITHOUT ROWID;
CREATE UNIQUE INDEX moz_places_guid_uniqueindex ON moz_places (guid);
CREATE INDEX moz_places_url_hashindex ON moz_places (url_hash);
CREATE INDEX moz_places_hostindex ON moz_places (rev_host);
CREATE INDEX moz_places_frecencyindex ON moz_places (frecency);
CREATE INDEX moz_places_lastvisitdateindex ON moz_places (last_visit_date);
CREATE INDEX moz_places_originidindex ON moz_places (origin_id);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE INDEX moz_historyvisits_fromindex ON moz_historyvisits (from_visit);
CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);
INSERT INTO moz_meta VALUES ('origin_frecency_count', 9);
INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, '', NULL, NULL, 1767225600000000, 1767225600000000, 'root________', 1, 1);
INSERT INTO moz_bookmarks VALUES (2, 2, NULL, 1, 0, 'menu', NULL, NULL, 1767225600000000, 1767225600000000, 'menu________', 1, 1);
INSERT INTO moz_bookmarks VALUES (3, 2, NULL, 1, 1, 'toolbar', NULL, NULL, 1767225600000000, 1767225600000000, 'toolbar_____', 1, 1);
)";
    int visit = 0;
    for (int i = 0; i < static_cast<int>(std::size(kSites)); ++i) {
        const Site& s = kSites[(i + 5) % std::size(kSites)];
        const std::string id = std::to_string(i + 1);
        std::string url = s.url;
        if (url.starts_with("http://")) url.insert(4, "s");  // the sites have moved to https
        sql += "INSERT INTO moz_origins VALUES (" + id + ", 'https://', " +
               sqlText(revHost(url).substr(1)) + ", 100, 0, NULL, 1);\n";
        sql +=
            "INSERT INTO moz_places (id, url, title, rev_host, visit_count, frecency, "
            "last_visit_date, guid, url_hash, origin_id, foreign_count) VALUES (" +
            id + ", " + sqlText(url) + ", " + sqlText(s.title) + ", " + sqlText(revHost(url)) +
            ", 2, 200, " + std::to_string(prTime(i)) + ", 'pLc" + std::to_string(1000 + i) +
            "guidX', " + std::to_string(47356801234LL * (i + 3)) + ", " + id + ", " +
            (i < 2 ? "1" : "0") + ");\n";
        for (int v = 0; v < 2; ++v)
            sql +=
                "INSERT INTO moz_historyvisits (id, from_visit, place_id, visit_date, "
                "visit_type, session, source) VALUES (" +
                std::to_string(++visit) + ", 0, " + id + ", " +
                std::to_string(prTime(i) - v * 3600000000LL) + ", 1, 0, 0);\n";
        if (i < 2)
            sql += "INSERT INTO moz_bookmarks VALUES (" + std::to_string(10 + i) + ", 1, " + id +
                   ", 3, " + std::to_string(i) + ", " + sqlText(s.title) + ", NULL, NULL, " +
                   std::to_string(prTime(i)) + ", " + std::to_string(prTime(i)) + ", 'bMk" +
                   std::to_string(1000 + i) + "guidX', 1, 1);\n";
    }
    return database(sql, true);
}

std::string firefoxCookies(bool current) {
    std::string sql =
        current ? "PRAGMA user_version = 12;\nCREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, "
                  "originAttributes TEXT NOT NULL DEFAULT '', name TEXT, value TEXT, host TEXT, "
                  "path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, isSecure "
                  "INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite "
                  "INTEGER DEFAULT 0, rawSameSite INTEGER DEFAULT 0, schemeMap INTEGER DEFAULT 0, "
                  "CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes));\n"
                : "PRAGMA user_version = 2;\nCREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, "
                  "name TEXT, value TEXT, host TEXT, path TEXT,expiry INTEGER, lastAccessed "
                  "INTEGER, isSecure INTEGER, isHttpOnly INTEGER);\n";
    const char* hosts[] = {".bbc.co.uk", ".google.co.uk", ".amazon.co.uk", ".facebook.com",
                           ".ebay.co.uk"};
    for (int i = 0; i < 5; ++i) {
        std::string v =
            "(" + std::to_string(prTime(i)) + ", " + sqlText("SID" + std::to_string(i)) + ", " +
            sqlText("a8f3" + std::to_string(77 * i + 13) + "e9") + ", " + sqlText(hosts[i]) +
            ", '/', 1800000000, " + std::to_string(prTime(i)) + ", 0, 1";
        sql += current ? "INSERT INTO moz_cookies (id, name, value, host, path, expiry, "
                         "lastAccessed, isSecure, isHttpOnly, creationTime) VALUES " +
                             v + ", " + std::to_string(prTime(i)) + ");\n"
                       : "INSERT INTO moz_cookies VALUES " + v + ");\n";
    }
    return database(sql, current);
}

std::string firefoxFormHistory() {
    return database(R"(PRAGMA user_version = 3;
CREATE TABLE moz_formhistory (id INTEGER PRIMARY KEY, fieldname TEXT NOT NULL, value TEXT NOT NULL, timesUsed INTEGER, firstUsed INTEGER, lastUsed INTEGER);
CREATE INDEX moz_formhistory_index ON moz_formhistory (fieldname);
INSERT INTO moz_formhistory VALUES (1, 'q', 'cheap flights to malaga', 3, 1266000000000000, 1268000000000000);
INSERT INTO moz_formhistory VALUES (2, 'postcode', 'LS6 2QT', 2, 1266000000000000, 1267000000000000);
INSERT INTO moz_formhistory VALUES (3, 'email', 'alex.turner85@example.com', 5, 1265000000000000, 1268000000000000);
)");
}

std::string firefoxDownloads() {
    return database(R"(PRAGMA user_version = 8;
CREATE TABLE moz_downloads (id INTEGER PRIMARY KEY, name TEXT, source TEXT, target TEXT, tempPath TEXT, startTime INTEGER, endTime INTEGER, state INTEGER, referrer TEXT, entityID TEXT, currBytes INTEGER NOT NULL DEFAULT 0, maxBytes INTEGER NOT NULL DEFAULT -1, mimeType TEXT, preferredApplication TEXT, preferredAction INTEGER NOT NULL DEFAULT 0, autoResume INTEGER NOT NULL DEFAULT 0);
INSERT INTO moz_downloads VALUES (1, 'P60_Tax_Form.pdf', 'http://www.hmrc.gov.uk/forms/p60.pdf', 'file:///C:/Users/Alex/Downloads/P60_Tax_Form.pdf', '', 1267000000000000, 1267000004000000, 1, NULL, NULL, 184320, 184320, 'application/pdf', NULL, 0, 0);
INSERT INTO moz_downloads VALUES (2, 'vlc-1.0.5-win32.exe', 'http://download.videolan.org/vlc-1.0.5-win32.exe', 'file:///C:/Users/Alex/Downloads/vlc-1.0.5-win32.exe', '', 1267100000000000, 1267100060000000, 1, NULL, NULL, 18874368, 18874368, 'application/octet-stream', NULL, 0, 0);
)");
}

std::string firefoxSignons() {
    return database(R"(PRAGMA user_version = 3;
CREATE TABLE moz_disabledHosts (id INTEGER PRIMARY KEY, hostname TEXT UNIQUE ON CONFLICT REPLACE);
CREATE TABLE moz_logins (id INTEGER PRIMARY KEY, hostname TEXT NOT NULL, httpRealm TEXT, formSubmitURL TEXT, usernameField TEXT NOT NULL, passwordField TEXT NOT NULL, encryptedUsername TEXT NOT NULL, encryptedPassword TEXT NOT NULL, guid TEXT, encType INTEGER);
INSERT INTO moz_logins VALUES (1, 'https://www.paypal.com', NULL, 'https://www.paypal.com', 'login_email', 'login_password', 'MDIEEPgAAAAAAAAAAAAAAAAAAAEwFAYIKoZIhvcNAwcECJ', 'MDoEEPgAAAAAAAAAAAAAAAAAAAEwFAYIKoZIhvcNAwcECP', '{4c1e5a5e-8d55-4a2e-9b47-2d3b1f3c9a10}', 1);
INSERT INTO moz_disabledHosts VALUES (1, 'https://www.barclays.co.uk');
)");
}

std::string firefoxSmall(const char* table) {
    return database(std::string("CREATE TABLE ") + table +
                    " (id INTEGER PRIMARY KEY, host TEXT, type TEXT, permission INTEGER);\n"
                    "INSERT INTO " +
                    table + " VALUES (1, 'www.bbc.co.uk', 'popup', 1);\n");
}

void addFirefox(MachineBuilder& b) {
    const std::string oldRoaming = kRoaming + kFirefoxOld;
    const std::string newRoaming = kRoaming + kFirefoxNew;
    b.addFile(kRoaming + "Mozilla\\Firefox\\profiles.ini",
              "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\n"
              "IsRelative=1\r\nPath=Profiles/k3x9f2ab.default\r\nDefault=1\r\n\r\n"
              "[Profile1]\r\nName=work\r\nIsRelative=1\r\nPath=Profiles/p7q2m4zt.work\r\n");
    b.addFile(oldRoaming + "places.sqlite", placesOld());
    b.addFile(oldRoaming + "cookies.sqlite", firefoxCookies(false));
    b.addFile(oldRoaming + "formhistory.sqlite", firefoxFormHistory());
    b.addFile(oldRoaming + "downloads.sqlite", firefoxDownloads());
    b.addFile(oldRoaming + "signons.sqlite", firefoxSignons());
    b.addFile(oldRoaming + "permissions.sqlite", firefoxSmall("moz_hosts"));
    b.addFile(oldRoaming + "content-prefs.sqlite", firefoxSmall("prefs"));
    b.addFile(oldRoaming + "prefs.js",
              "# Mozilla User Preferences\r\n\r\n"
              "user_pref(\"browser.download.dir\", \"C:\\\\Users\\\\Alex\\\\Downloads\");\r\n"
              "user_pref(\"browser.startup.homepage\", \"http://www.bbc.co.uk/news/\");\r\n"
              "user_pref(\"browser.search.selectedEngine\", \"Google\");\r\n");
    b.addFile(oldRoaming + "sessionstore.js",
              "({\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"http://www.rightmove.co.uk/"
              "property-to-rent/Leeds.html\",\"title\":\"Flats to rent in Leeds\"}]}]}]})");
    b.addFile(oldRoaming + "sessionstore.bak", "({\"windows\":[]})");
    // The local profile holds the cache of the Firefox 3.6 days.
    const std::string oldCache = kLocal + kFirefoxOld + "Cache\\";
    b.addFile(oldCache + "_CACHE_MAP_", std::string(16384, '\0'));
    b.addFile(oldCache + "_CACHE_001_", std::string(4096 * 3, 'c'));
    b.addFile(oldCache + "_CACHE_002_", std::string(4096 * 2, 'c'));
    b.addFile(oldCache + "0\\4A\\1A2B3C4Dd01", std::string(23456, 'j'));

    b.addFile(newRoaming + "places.sqlite", placesCurrent());
    b.addFile(newRoaming + "cookies.sqlite", firefoxCookies(true));
    b.addFile(newRoaming + "prefs.js",
              "// Mozilla User Preferences\r\n"
              "user_pref(\"browser.startup.page\", 3);\r\n");
    const std::string newCache = kLocal + kFirefoxNew + "cache2\\entries\\";
    b.addFile(newCache + "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567", std::string(8200, 'e'));
    b.addFile(newCache + "1F2E3D4C5B6A79881726354453627180A9B8C7D6", std::string(3100, 'e'));
}

// --- Chrome ----------------------------------------------------------------

std::string chromeHistory() {
    std::string sql =
        R"(CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);
CREATE TABLE urls(id INTEGER PRIMARY KEY AUTOINCREMENT,url LONGVARCHAR,title LONGVARCHAR,visit_count INTEGER DEFAULT 0 NOT NULL,typed_count INTEGER DEFAULT 0 NOT NULL,last_visit_time INTEGER NOT NULL,hidden INTEGER DEFAULT 0 NOT NULL);
CREATE TABLE visits(id INTEGER PRIMARY KEY AUTOINCREMENT,url INTEGER NOT NULL,visit_time INTEGER NOT NULL,from_visit INTEGER,external_referrer_url TEXT,transition INTEGER DEFAULT 0 NOT NULL,segment_id INTEGER,visit_duration INTEGER DEFAULT 0 NOT NULL,incremented_omnibox_typed_score BOOLEAN DEFAULT FALSE NOT NULL,opener_visit INTEGER,originator_cache_guid TEXT,originator_visit_id INTEGER,originator_from_visit INTEGER,originator_opener_visit INTEGER,is_known_to_sync BOOLEAN DEFAULT FALSE NOT NULL,consider_for_ntp_most_visited BOOLEAN DEFAULT FALSE NOT NULL,visited_link_id INTEGER DEFAULT 0 NOT NULL,app_id TEXT);
CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL,url_id INTEGER NOT NULL,term LONGVARCHAR NOT NULL,normalized_term LONGVARCHAR NOT NULL);
CREATE TABLE downloads (id INTEGER PRIMARY KEY,guid VARCHAR NOT NULL,current_path LONGVARCHAR NOT NULL,target_path LONGVARCHAR NOT NULL,start_time INTEGER NOT NULL,received_bytes INTEGER NOT NULL,total_bytes INTEGER NOT NULL,state INTEGER NOT NULL,danger_type INTEGER NOT NULL,interrupt_reason INTEGER NOT NULL,hash BLOB NOT NULL,end_time INTEGER NOT NULL,opened INTEGER NOT NULL,last_access_time INTEGER NOT NULL,transient INTEGER NOT NULL,referrer VARCHAR NOT NULL,site_url VARCHAR NOT NULL,embedder_download_data VARCHAR NOT NULL,tab_url VARCHAR NOT NULL,tab_referrer_url VARCHAR NOT NULL,http_method VARCHAR NOT NULL,by_ext_id VARCHAR NOT NULL,by_ext_name VARCHAR NOT NULL,by_web_app_id VARCHAR NOT NULL,etag VARCHAR NOT NULL,last_modified VARCHAR NOT NULL,mime_type VARCHAR(255) NOT NULL,original_mime_type VARCHAR(255) NOT NULL);
CREATE TABLE downloads_url_chains (id INTEGER NOT NULL,chain_index INTEGER NOT NULL,url LONGVARCHAR NOT NULL, PRIMARY KEY (id, chain_index) );
CREATE INDEX visits_url_index ON visits (url);
CREATE INDEX visits_time_index ON visits (visit_time);
CREATE INDEX urls_url_index ON urls (url);
CREATE INDEX keyword_search_terms_index1 ON keyword_search_terms (keyword_id, normalized_term);
INSERT INTO meta VALUES ('version', '67'), ('last_compatible_version', '16');
)";
    int visit = 0;
    for (int i = 0; i < static_cast<int>(std::size(kSites)); ++i) {
        const Site& s = kSites[i];
        const std::string id = std::to_string(i + 1);
        sql += "INSERT INTO urls VALUES (" + id + ", " + sqlText(s.url) + ", " + sqlText(s.title) +
               ", 2, " + std::to_string(i % 2) + ", " + std::to_string(chromeTime(i)) + ", 0);\n";
        for (int v = 0; v < 2; ++v)
            sql += "INSERT INTO visits (id, url, visit_time, from_visit, transition) VALUES (" +
                   std::to_string(++visit) + ", " + id + ", " +
                   std::to_string(chromeTime(i) - v * 7200000000LL) + ", 0, 805306368);\n";
    }
    sql +=
        "INSERT INTO keyword_search_terms VALUES (2, 9, 'cheap flights to malaga', "
        "'cheap flights to malaga');\n";
    const char* files[][3] = {
        {"C:\\Users\\Alex\\Downloads\\Payslip_February.pdf",
         "https://payroll.example.co.uk/payslips/2026-02.pdf", "application/pdf"},
        {"C:\\Users\\Alex\\Downloads\\ChromeSetup.exe",
         "https://dl.google.com/chrome/install/ChromeSetup.exe", "application/octet-stream"},
    };
    for (int i = 0; i < 2; ++i) {
        const std::string id = std::to_string(i + 1);
        sql += "INSERT INTO downloads VALUES (" + id + ", '7c1b1f0e-0d1a-4c55-9d1e-00000000000" +
               id + "', " + sqlText(files[i][0]) + ", " + sqlText(files[i][0]) + ", " +
               std::to_string(chromeTime(i)) + ", 91234, 91234, 1, 0, 0, X'', " +
               std::to_string(chromeTime(i) + 2000000) +
               ", 0, 0, 0, '', '', '', '', '', 'GET', "
               "'', '', '', '', '', " +
               sqlText(files[i][2]) + ", " + sqlText(files[i][2]) + ");\n";
        sql += "INSERT INTO downloads_url_chains VALUES (" + id + ", 0, " + sqlText(files[i][1]) +
               ");\n";
    }
    return database(sql);
}

std::string chromeWebData() {
    return database(
        R"(CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);
CREATE TABLE keywords (id INTEGER PRIMARY KEY,short_name VARCHAR NOT NULL,keyword VARCHAR NOT NULL,favicon_url VARCHAR NOT NULL,url VARCHAR NOT NULL,show_in_default_list INTEGER,safe_for_autoreplace INTEGER,originating_url VARCHAR,date_created INTEGER DEFAULT 0,usage_count INTEGER DEFAULT 0,input_encodings VARCHAR,suggest_url VARCHAR,prepopulate_id INTEGER DEFAULT 0,autogenerate_keyword INTEGER DEFAULT 0,logo_id INTEGER DEFAULT 0,created_by_policy INTEGER DEFAULT 0,instant_url VARCHAR,last_modified INTEGER DEFAULT 0,sync_guid VARCHAR);
CREATE TABLE logins (origin_url VARCHAR NOT NULL, action_url VARCHAR, username_element VARCHAR, username_value VARCHAR, password_element VARCHAR, password_value BLOB, submit_element VARCHAR, signon_realm VARCHAR NOT NULL,ssl_valid INTEGER NOT NULL,preferred INTEGER NOT NULL,date_created INTEGER NOT NULL,blacklisted_by_user INTEGER NOT NULL,scheme INTEGER NOT NULL,UNIQUE (origin_url, username_element, username_value, password_element, submit_element, signon_realm));
CREATE TABLE autofill (name VARCHAR, value VARCHAR, value_lower VARCHAR, pair_id INTEGER PRIMARY KEY, count INTEGER DEFAULT 1);
CREATE TABLE autofill_dates ( pair_id INTEGER DEFAULT 0, date_created INTEGER DEFAULT 0);
CREATE TABLE autofill_profiles ( guid VARCHAR PRIMARY KEY, company_name VARCHAR, address_line_1 VARCHAR, address_line_2 VARCHAR, city VARCHAR, state VARCHAR, zipcode VARCHAR, country VARCHAR, country_code VARCHAR, date_modified INTEGER NOT NULL DEFAULT 0);
CREATE TABLE autofill_profile_names ( guid VARCHAR, first_name VARCHAR, middle_name VARCHAR, last_name VARCHAR);
CREATE TABLE autofill_profile_emails ( guid VARCHAR, email VARCHAR);
CREATE TABLE autofill_profile_phones ( guid VARCHAR, type INTEGER DEFAULT 0, number VARCHAR);
CREATE TABLE autofill_profiles_trash ( guid VARCHAR);
CREATE INDEX autofill_name ON autofill (name);
CREATE INDEX autofill_name_value_lower ON autofill (name, value_lower);
CREATE INDEX autofill_dates_pair_id ON autofill_dates (pair_id);
CREATE INDEX logins_signon ON logins (signon_realm);
INSERT INTO meta VALUES ('version', '37'), ('last_compatible_version', '37');
INSERT INTO keywords (id, short_name, keyword, favicon_url, url) VALUES (2, 'Google', 'google.co.uk', 'http://www.google.co.uk/favicon.ico', '{google:baseURL}search?q={searchTerms}');
INSERT INTO logins VALUES ('https://www.facebook.com/', 'https://www.facebook.com/login.php', 'email', 'alex.turner85@example.com', 'pass', X'01000000D08C9DDF0115D1118C7A00C04FC297EB', '', 'https://www.facebook.com/', 1, 1, 1299000000, 0, 0);
INSERT INTO autofill VALUES ('email', 'alex.turner85@example.com', 'alex.turner85@example.com', 1, 6);
INSERT INTO autofill VALUES ('postcode', 'LS6 2QT', 'ls6 2qt', 2, 3);
INSERT INTO autofill VALUES ('q', 'cheap flights to malaga', 'cheap flights to malaga', 3, 2);
INSERT INTO autofill_dates VALUES (1, 1298000000), (1, 1299000000), (2, 1298500000), (3, 1299100000);
INSERT INTO autofill_profiles VALUES ('0b8a3c1e-5f4d-4e2a-9c6b-7d8e9f0a1b2c', '', '14 Brudenell Road', '', 'Leeds', 'West Yorkshire', 'LS6 1BD', 'United Kingdom', 'GB', 1299000000);
INSERT INTO autofill_profile_names VALUES ('0b8a3c1e-5f4d-4e2a-9c6b-7d8e9f0a1b2c', 'Alex', '', 'Turner');
INSERT INTO autofill_profile_emails VALUES ('0b8a3c1e-5f4d-4e2a-9c6b-7d8e9f0a1b2c', 'alex.turner85@example.com');
INSERT INTO autofill_profile_phones VALUES ('0b8a3c1e-5f4d-4e2a-9c6b-7d8e9f0a1b2c', 0, '07700 900123');
)");
}

std::string chromeLoginData() {
    return database(
        R"(CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);
CREATE TABLE logins (origin_url VARCHAR NOT NULL, action_url VARCHAR, username_element VARCHAR, username_value VARCHAR, password_element VARCHAR, password_value BLOB, submit_element VARCHAR, signon_realm VARCHAR NOT NULL, date_created INTEGER NOT NULL, blacklisted_by_user INTEGER NOT NULL, scheme INTEGER NOT NULL, password_type INTEGER, times_used INTEGER, form_data BLOB, display_name VARCHAR, icon_url VARCHAR, federation_url VARCHAR, skip_zero_click INTEGER, generation_upload_status INTEGER, possible_username_pairs BLOB, id INTEGER PRIMARY KEY AUTOINCREMENT, date_last_used INTEGER NOT NULL DEFAULT 0, moving_blocked_for BLOB, date_password_modified INTEGER NOT NULL DEFAULT 0, UNIQUE (origin_url, username_element, username_value, password_element, signon_realm));
INSERT INTO meta VALUES ('version', '35');
INSERT INTO logins (origin_url, action_url, username_element, username_value, password_element, password_value, submit_element, signon_realm, date_created, blacklisted_by_user, scheme) VALUES ('https://www.amazon.co.uk/ap/signin', 'https://www.amazon.co.uk/ap/signin', 'email', 'alex.turner85@example.com', 'password', X'763130A1B2C3D4E5F6', '', 'https://www.amazon.co.uk/', 13300000000000000, 0, 0);
)");
}

std::string chromeCookies() {
    std::string sql =
        R"(CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);
CREATE TABLE cookies (creation_utc INTEGER NOT NULL UNIQUE PRIMARY KEY,host_key TEXT NOT NULL,name TEXT NOT NULL,value TEXT NOT NULL,path TEXT NOT NULL,expires_utc INTEGER NOT NULL,secure INTEGER NOT NULL,httponly INTEGER NOT NULL,last_access_utc INTEGER NOT NULL);
INSERT INTO meta VALUES ('version', '4');
)";
    const char* hosts[] = {".google.co.uk", ".youtube.com", ".facebook.com", ".rightmove.co.uk"};
    for (int i = 0; i < 4; ++i)
        sql += "INSERT INTO cookies VALUES (" + std::to_string(chromeTime(i)) + ", " +
               sqlText(hosts[i]) + ", 'SID', 'DQAAAK" + std::to_string(9000 + 31 * i) +
               "', '/', 13400000000000000, 0, 1, " + std::to_string(chromeTime(i)) + ");\n";
    return database(sql);
}

std::string chromeShortcuts() {
    return database(
        R"(CREATE TABLE omni_box_shortcuts (id VARCHAR PRIMARY KEY, text VARCHAR, fill_into_edit VARCHAR, url VARCHAR, contents VARCHAR, contents_class VARCHAR, description VARCHAR, description_class VARCHAR, last_access_time INTEGER, number_of_hits INTEGER);
INSERT INTO omni_box_shortcuts VALUES ('A3F5C2E1-7B9D-4E6A-8C1F-2D3E4F5A6B7C', 'right', 'http://www.rightmove.co.uk/property-to-rent/Leeds.html', 'http://www.rightmove.co.uk/property-to-rent/Leeds.html', 'www.rightmove.co.uk/property-to-rent/Leeds.html', '0,1', 'Flats to rent in Leeds', '0,0', 13300000000000000, 4);
INSERT INTO omni_box_shortcuts VALUES ('B4A6D3F2-8C0E-4F7B-9D2A-3E4F5A6B7C8D', 'face', 'http://www.facebook.com/', 'http://www.facebook.com/', 'www.facebook.com', '0,1', 'Facebook', '0,0', 13300000000000000, 9);
)");
}

std::string localStorage(const char* key, const char* value) {
    return database(std::string("CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE, "
                                "value BLOB NOT NULL ON CONFLICT FAIL);\nINSERT INTO ItemTable "
                                "VALUES (") +
                    sqlText(key) + ", " + sqlText(value) + ");\n");
}

// Chrome's session files start with "SNSS" and a version.
std::string snss(std::string_view url) {
    std::string out = "SNSS";
    out += std::string("\x01\x00\x00\x00", 4);
    out += std::string(24, '\x06');
    out += url;
    return out;
}

void addChrome(MachineBuilder& b) {
    b.addFile(kLocal + "Google\\Chrome\\User Data\\Local State",
              "{\"profile\":{\"info_cache\":{\"Default\":{\"name\":\"Alex\"}}}}");
    b.addFile(kChrome + "History", chromeHistory());
    b.addFile(kChrome + "History-journal", "");
    b.addFile(kChrome + "Cookies", chromeCookies());
    b.addFile(kChrome + "Web Data", chromeWebData());
    b.addFile(kChrome + "Login Data", chromeLoginData());
    b.addFile(kChrome + "Shortcuts", chromeShortcuts());
    b.addFile(kChrome + "Top Sites",
              database("CREATE TABLE top_sites (url LONGVARCHAR NOT NULL PRIMARY KEY, url_rank "
                       "INTEGER NOT NULL, title LONGVARCHAR NOT NULL);\nINSERT INTO top_sites "
                       "VALUES ('http://www.bbc.co.uk/news/', 0, 'BBC News - Home');\n"));
    b.addFile(kChrome + "Visited Links",
              std::string("VLnk\x02\x00\x00\x00", 8) + std::string(4096, '\x11'));
    b.addFile(kChrome + "History Index 2026-01", localStorage("term", "malaga"));
    b.addFile(kChrome + "History Index 2026-02", localStorage("term", "leeds flats"));
    b.addFile(kChrome + "Current Session",
              snss("http://www.rightmove.co.uk/property-to-rent/Leeds.html"));
    b.addFile(kChrome + "Last Session", snss("http://www.bbc.co.uk/news/"));
    b.addFile(kChrome + "Current Tabs", snss("http://www.bbc.co.uk/news/"));
    b.addFile(kChrome + "Last Tabs", snss("http://www.youtube.com/"));
    b.addFile(kChrome + "Preferences", "{\"homepage\":\"http://www.google.co.uk/\"}");
    b.addFile(kChrome + "Bookmarks", "{\"roots\":{\"bookmark_bar\":{\"children\":[]}}}");
    b.addFile(kChrome + "Local Storage\\http_www.bbc.co.uk_0.localstorage",
              localStorage("bbccookiepolicy", "yes"));
    b.addFile(kChrome + "Local Storage\\https_mail.google.com_0.localstorage",
              localStorage("gmail-last-user", "alex.turner85"));
    b.addFile(kChrome +
                  "Local Storage\\chrome-extension_gighmmpiobklfepjocnamgkkbiglidom_0."
                  "localstorage",
              localStorage("settings", "{\"blockAds\":true}"));
    b.addFile(kChrome + "Cache\\index", std::string(256 * 1024 / 8, '\0'));
    b.addFile(kChrome + "Cache\\data_0", std::string(45056, 'd'));
    b.addFile(kChrome + "Cache\\data_1", std::string(270336, 'd'));
    b.addFile(kChrome + "Cache\\f_000012", std::string(34210, 'f'));
    b.addFile(kChrome + "Media Cache\\index", std::string(8192, '\0'));
    b.addFile(kChrome + "Media Cache\\data_0", std::string(45056, 'm'));
    b.addFile(kChrome + "Media Cache\\f_000003", std::string(1048576, 'v'));
}

// --- Opera and Netscape ----------------------------------------------------

// Opera's .dat files begin with the file format version, the application
// version, and the sizes of their tag and length fields.
std::string operaDat(std::string_view body) {
    return std::string("\x00\x00\x10\x00\x00\x02\x00\x01\x00\x01\x00\x02", 12) + std::string(body);
}

void addOpera(MachineBuilder& b) {
    const std::string profile = kRoaming + "Opera\\Opera\\profile\\";
    b.addFile(profile + "operaprefs.ini", "Opera Preferences version 2.1\r\n\r\n[User Prefs]\r\n");
    b.addFile(profile + "cookies4.dat", operaDat("\x01\x00\x0d.bbc.co.uk SID=91ab"));
    b.addFile(profile + "global.dat",
              "BBC News - Home\nhttp://www.bbc.co.uk/news/\n1298900000\n-1\n"
              "Gmail\nhttps://mail.google.com/mail/\n1298910000\n-1\n");
    b.addFile(profile + "vlink4.dat", operaDat("\x02\x00\x1ahttp://www.youtube.com/"));
    b.addFile(profile + "typed_history.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<typed_history>\n"
              "  <typed_history_item content=\"www.rightmove.co.uk\" type=\"text\" "
              "last_typed=\"2011-03-01T10:12:00Z\"/>\n</typed_history>\n");
    b.addFile(profile + "wand.dat",
              std::string("\x00\x00\x00\x06\x00\x00\x00\x08", 8) + std::string(300, '\x5a'));
    b.addFile(profile + "download.dat", operaDat("\x03\x00\x20http://www.7-zip.org/7z920.exe"));
    b.addFile(profile + "sessions\\autosave.win",
              "Opera Preferences version 2.1\r\n[session]\r\nversion=7000\r\nwindow count=1\r\n");
    b.addFile(profile + "cache4\\dcache4.url", std::string(2048, 'u'));
    b.addFile(profile + "cache4\\opr00001.tmp", std::string(15321, 'o'));
    b.addFile(kLocal + "Opera\\Opera\\profile\\cache4\\opr00002.tmp", std::string(9876, 'o'));
    b.addFile(kLocal + "Opera\\Opera\\profile\\cache4\\opr00003.tmp", std::string(4321, 'o'));
}

void addNetscape(MachineBuilder& b) {
    const std::string profile = kRoaming + "Netscape\\NSB\\Profiles\\pbzik8cu.default\\";
    b.addFile(profile + "cookies.txt",
              "# HTTP Cookie File\r\n# http://www.netscape.com/newsref/std/cookie_spec.html\r\n"
              ".aol.com\tTRUE\t/\tFALSE\t1330000000\tMC_UNIQUE\t7a6b5c4d\r\n");
    b.addFile(profile + "history.dat",
              "// <!-- <mdb:mork:z v=\"1.4\"/> -->\r\n< <(a=c)> // (f=iso-8859-1)\r\n"
              "  (B8=LastVisitDate)(B9=URL)>\r\n<(80=http://www.aol.com/)>\r\n");
    b.addFile(profile + "prefs.js",
              "# Mozilla User Preferences\r\nuser_pref(\"browser.startup.homepage\", "
              "\"http://www.netscape.com/\");\r\n");
    b.addFile(profile + "formhistory.dat",
              "// <!-- <mdb:mork:z v=\"1.4\"/> -->\r\n<(80=searchbar-history)(81=leeds)>\r\n");
    b.addFile(profile + "Cache\\_CACHE_MAP_", std::string(8192, '\0'));
    b.addFile(profile + "Cache\\_CACHE_001_", std::string(12288, 'n'));
    // A cookie file in a folder of the profile is not the profile's own.
    b.addFile(profile + "chrome\\cookies-backup.txt", "# HTTP Cookie File\r\n");
}

}  // namespace

void addDemoBrowsers(MachineBuilder& b) {
    addFirefox(b);
    addChrome(b);
    addOpera(b);
    addNetscape(b);
}

}  // namespace brisko
