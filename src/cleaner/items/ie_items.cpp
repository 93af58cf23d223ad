// The "Internet Explorer" group of the cleaner.
#include "cleaner/items/ie_items.h"

#include <ctime>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/indexdat/index_dat.h"
#include "cleaner/items/ie_cookie_keep_list.h"
#include "cleaner/items/ie_protected_storage.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr std::string_view kIE = "Software\\Microsoft\\Internet Explorer";
constexpr std::string_view kExplorerBar =
    "Software\\Microsoft\\Internet Explorer\\Explorer Bars\\"
    "{C4EE31F3-4768-11D2-BE5C-00A0C9A83DA1}\\";
constexpr std::string_view kClearMyTracks = "RunDll32.exe InetCpl.cpl,ClearMyTracksByProcess 1";
// A cookie file is a few lines of text; only the start is read for its host.
constexpr int64_t kCookieReadLimit = 64 * 1024;

// Shell folders are looked up after the browser session ends, so that the
// browser writes what it holds; a Test run leaves the running system alone.
std::string shellFolder(CleanContext& ctx, int csidl) {
    if (!ctx.isTestRun())
        if (auto* cache = ctx.machine.urlCache()) cache->endBrowserSession();
    return ctx.machine.specialFolder(csidl);
}

std::string localAppData(CleanContext& ctx) {
    std::string v = ReadRegString(ctx.machine.registry(), RootKey::CurrentUser,
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                  "Shell Folders",
                                  "Local AppData");
    return v.empty() ? v : includeTrailingBackslash(v);
}

bool isDotEntry(const std::string& n) {
    return n == "." || n == "..";
}

bool hasTxtFiles(FileApi& files, const std::string& folder) {
    auto entries = files.findFiles(folder, "*.txt");
    if (!entries) return false;
    for (const auto& e : *entries)
        if (!e.isDirectory()) return true;
    return false;
}

// --- Temporary Internet Files ----------------------------------------------

void temporaryInternetFiles(CleanContext& ctx) {
    const bool log = ctx.settings.ShowLogTempInternetFiles;
    if (!ctx.isTestRun() && !log) ctx.logLine("Clearing, please wait...");
    std::string cache = shellFolder(ctx, 32);
    if (cache.empty() || !ctx.machine.files().directoryExists(cache)) return;
    cache = includeTrailingBackslash(cache);
    // The cache indexes are in use while Windows runs: they are blanked in
    // place below and never deleted, so a Test run counts what a Clean removes.
    ctx.setItemBytes(WipeFolder(ctx, cache, false, log, "index.dat", ctx.ItemCount));
    if (ctx.isTestRun() || ctx.stopRequested()) return;
    WipeIndexDat(ctx.machine.files(), cache + "Content.IE5\\index.dat", ctx.settings);
    WipeIndexDat(ctx.machine.files(), cache + "Low\\Content.IE5\\index.dat", ctx.settings);
}

// --- Cookies ---------------------------------------------------------------

void cookieFolderPass(CleanContext& ctx, const std::string& folder, bool withStorage) {
    auto& files = ctx.machine.files();
    const auto keep = LoadCookieKeepList(ctx.machine);
    bool keepsHosts = false;
    for (const auto& k : keep) keepsHosts = keepsHosts || k.find(".txt") == std::string::npos;
    int64_t bytes = 0;
    if (auto entries = files.findFiles(folder, "*")) {
        for (const auto& e : *entries) {
            if (ctx.stopRequested()) return;
            if (e.isDirectory() || e.name.find(".txt") == std::string::npos) continue;
            const std::string path = folder + e.name;
            auto host = CookieHost(ctx.machine, path);
            // A cookie that cannot be read may be one the user keeps; it stays
            // unless the list names no hosts at all.
            if (!host && keepsHosts && !CookieIsKept(keep, e.name, "")) continue;
            if (CookieIsKept(keep, e.name, host.value_or(""))) continue;
            if (DeleteOneFile(ctx, path, true)) {
                ++ctx.ItemCount;
                bytes += static_cast<int64_t>(e.size);
                ctx.postProgress(ctx.ItemCount);
            }
        }
    }
    // DOM storage and user data belong to no cookie folder: they are taken
    // with the first one, so that a second pass counts nothing twice.
    std::string local = withStorage ? localAppData(ctx) : std::string();
    if (!local.empty() && files.directoryExists(local + "Microsoft\\Internet Explorer"))
        bytes += DeleteMatchingFiles(ctx, local + "Microsoft\\Internet Explorer\\DOMStore", "*.xml",
                                     ctx.ItemCount, true);
    std::string appData = withStorage ? AppDataFolder(ctx.machine) : std::string();
    if (!appData.empty())
        bytes += DeleteMatchingFiles(ctx, appData + "Microsoft\\Internet Explorer\\UserData",
                                     "*.xml", ctx.ItemCount, true);
    ctx.addItemBytes(bytes);
    // The cookie index lists every cookie, kept ones too: it is blanked only
    // when nothing is kept.
    if (!ctx.isTestRun() && keep.empty()) WipeIndexDat(files, folder + "index.dat", ctx.settings);
}

void cookies(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    std::string folder = shellFolder(ctx, 33);
    if (folder.empty() || !files.directoryExists(folder)) {
        folder = includeTrailingBackslash(ctx.machine.windowsDirectory()) + "cookies";
        if (!files.directoryExists(folder)) return;
    }
    folder = includeTrailingBackslash(folder);
    bool inLow = false;
    if (files.directoryExists(folder + "Low") && !hasTxtFiles(files, folder) &&
        hasTxtFiles(files, folder + "Low\\")) {
        folder += "Low\\";
        inLow = true;
    }
    cookieFolderPass(ctx, folder, true);
    // The protected-mode cookies in "Low" are counted by a Test run as well, so
    // that it shows what a Clean removes.
    if (!inLow && !ctx.stopRequested() && hasTxtFiles(files, folder + "Low\\"))
        cookieFolderPass(ctx, folder + "Low\\", false);
}

// --- Visited URL History ---------------------------------------------------

void urlHistoryStore(CleanContext& ctx) {
    auto* history = ctx.machine.urlHistory();
    if (!history) return;
    try {
        for (const auto& url : history->urls()) {
            if (ctx.stopRequested()) return;
            ++ctx.ItemCount;
            ctx.logFileLine(url);
            ctx.postProgress(ctx.ItemCount);
            if (!ctx.isTestRun() && !history->deleteUrl(url)) return;
        }
    } catch (...) {
        // The history object is the browser's; whatever it throws ends this step only.
    }
}

void urlCacheEntries(CleanContext& ctx) {
    auto* cache = ctx.machine.urlCache();
    if (!cache) return;
    for (const auto& e : cache->entries()) {
        if (ctx.stopRequested()) return;
        if (e.url.rfind("http://", 0) != 0) continue;
        ++ctx.ItemCount;
        ctx.logFileLine(e.url);
        ctx.postProgress(ctx.ItemCount);
        if (!ctx.isTestRun()) cache->deleteEntry(e.url);
    }
}

// Every index.dat below root, but not the one directly in it.
void blankIndexesBelow(CleanContext& ctx, const std::string& root, bool isRoot) {
    auto entries = ctx.machine.files().findFiles(root, "*");
    if (!entries) return;
    for (const auto& e : *entries) {
        if (ctx.stopRequested()) return;
        if (e.isDirectory()) {
            if (!isDotEntry(e.name) && !e.isLink())
                blankIndexesBelow(ctx, root + e.name + "\\", false);
        } else if (!isRoot && equalsNoCase(e.name, "index.dat")) {
            WipeIndexDat(ctx.machine.files(), root + e.name, ctx.settings);
        }
    }
}

bool clearMyTracksWanted(Machine& machine) {
    std::string ie = ReadRegString(machine.registry(), RootKey::LocalMachine,
                                   "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE");
    auto dot = ie.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 9) return false;
    int major = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (ie[i] < '0' || ie[i] > '9') return false;
        major = major * 10 + (ie[i] - '0');
    }
    return major >= 8;
}

void visitedUrlHistory(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    std::string history = shellFolder(ctx, 34);
    urlHistoryStore(ctx);
    if (ctx.stopRequested()) return;
    urlCacheEntries(ctx);
    if (history.empty() || !files.directoryExists(history)) return;
    history = includeTrailingBackslash(history);
    const bool win6 = isWindows6Family(ctx.machine);
    std::string indexRoot;
    if (win6) {
        const std::string low = history + "Low\\History.IE5\\";
        if (files.directoryExists(low)) {
            const std::string today = upperCase(HistoryPrefixOfToday());
            int64_t bytes = 0;
            if (auto entries = files.findFiles(low, "*")) {
                for (const auto& e : *entries) {
                    if (ctx.stopRequested()) return;
                    if (!e.isDirectory() || isDotEntry(e.name)) continue;
                    if (upperCase(e.name).find(today) != std::string::npos) continue;
                    bytes += WipeFolder(ctx, low + e.name, true, true, "", ctx.ItemCount);
                }
            }
            std::string local = localAppData(ctx);
            std::string recovery = local + "Microsoft\\Internet Explorer\\Recovery";
            if (!local.empty() && files.directoryExists(recovery))
                bytes += DeleteMatchingFiles(ctx, recovery, "*.dat", ctx.ItemCount, true);
            ctx.addItemBytes(bytes);
        }
        indexRoot = history;
    } else {
        indexRoot = history + "History.IE5\\";
        ctx.addItemBytes(WipeFolder(ctx, indexRoot, false, true, "index.dat", ctx.ItemCount));
    }
    if (ctx.isTestRun() || ctx.stopRequested()) return;
    blankIndexesBelow(ctx, indexRoot, true);
    // IE 8 and later clear their own stores; an offline machine starts nothing.
    if (win6 && !ctx.stopRequested() && clearMyTracksWanted(ctx.machine))
        ctx.machine.runProcess(kClearMyTracks, false);
}

// --- Registry items --------------------------------------------------------

void recentlyTypedUrls(CleanContext& ctx) {
    const std::string typed = std::string(kIE) + "\\TypedURLs";
    if (!ctx.fastScan()) {
        RegistryKey k(ctx.machine.registry(), RootKey::CurrentUser);
        if (k.openKeyReadOnly(typed))
            for (const auto& name : k.valueNames())
                ctx.logLine(ctx.RunPrefix + "deleting " + k.readString(name).value_or(""));
    }
    ctx.ItemCount = DeleteUserKey(ctx, typed);
    ctx.ItemCount += DeleteUserKey(ctx, std::string(kExplorerBar) + "FilesNamedMRU");
    ctx.ItemCount += DeleteUserKey(ctx, std::string(kExplorerBar) + "ContainingTextMRU");
}

void lastDownloadLocation(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserValues(ctx, kIE, "Download Directory");
}

void autocompleteHistory(CleanContext& ctx) {
    try {
        TPStorage store(ctx.machine);
        if (!store.Available() || !store.Open()) return;
        for (const auto& type : store.EnumTypes()) {
            if (ctx.stopRequested()) return;
            if (store.GetTypeName(type) != "Internet Explorer") continue;
            for (const auto& subtype : store.EnumSubtypes(type)) {
                TItemList names = store.EnumItems(type, subtype);
                // Each saved entry is a pair of items (its data and its index).
                ctx.ItemCount = names.Count() == 1 ? 1 : static_cast<int>(names.Count() / 2);
                for (const auto& name : names) {
                    if (name.rfind("http://", 0) == 0 &&
                        name.find("StringData") != std::string::npos)
                        ctx.postProgress(ctx.ItemCount);
                    if (!ctx.isTestRun()) store.DeleteItem(type, subtype, name);
                }
            }
        }
        ctx.ItemCount += DeleteUserKey(ctx, std::string(kIE) + "\\IntelliForms\\Storage1");
        ctx.ItemCount += DeleteUserKey(ctx, std::string(kIE) + "\\IntelliForms\\Storage2");
    } catch (...) {
        // Protected Storage failures end the item silently, as a missing store does.
    }
}

// --- Index.dat Files -------------------------------------------------------

void indexDatFiles(CleanContext& ctx) {
    ctx.logLine("Warning: This will take effect next time windows is rebooted.");
    auto& files = ctx.machine.files();
    std::vector<std::string> paths;
    std::string cookies = shellFolder(ctx, 33);
    std::string cache = shellFolder(ctx, 32);
    std::string history = shellFolder(ctx, 34);
    if (!cookies.empty()) paths.push_back(includeTrailingBackslash(cookies) + "index.dat");
    if (!cache.empty()) paths.push_back(includeTrailingBackslash(cache) + "Content.IE5\\index.dat");
    if (!history.empty())
        paths.push_back(includeTrailingBackslash(history) + "History.IE5\\index.dat");
    int64_t size = 0;
    for (const auto& p : paths) size += static_cast<int64_t>(FileSizeOf(files, p));
    ctx.setItemBytes(size);
    ctx.ItemCount = ctx.ItemSizeText != "0" ? 3 : 0;
    if (ctx.isTestRun()) return;
    for (const auto& p : paths) WipeIndexDat(files, p, ctx.settings);
    if (isWindows9xFamily(ctx.machine)) {
        std::vector<std::string> lines;
        for (const auto& p : paths) lines.push_back("url=" + ShortPathOf(files, p));
        AddWininitRenames(ctx.machine, lines);
    } else {
        for (const auto& p : paths) ScheduleDeleteAtRestart(ctx.machine, p);
    }
}

}  // namespace

std::string HistoryPrefixOf(int year, int month, int day) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "MSHist01%04d%02d%02d", year, month, day);
    return buf;
}

std::string HistoryPrefixOfToday() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return HistoryPrefixOf(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

bool isWindows6Family(Machine& machine) {
    OsVersion v = machine.version();
    return v.platform == OsVersion::NT && v.major == 6;
}

bool isWindows9xFamily(Machine& machine) {
    OsVersion v = machine.version();
    return v.platform == OsVersion::Win9x && v.major == 4 &&
           (v.minor == 0 || v.minor == 10 || v.minor == 90);
}

std::optional<std::string> CookieHost(Machine& machine, const std::string& path) {
    auto f = machine.files().openFile(path, FileMode::Read);
    if (!f) return std::nullopt;
    std::string text(static_cast<size_t>(kCookieReadLimit), '\0');
    int64_t n = f->read(text.data(), kCookieReadLimit);
    if (n < 0) return std::nullopt;
    text.resize(static_cast<size_t>(n));
    size_t start = 0;
    for (int line = 0; line < 2; ++line) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) return std::string();
        start = nl + 1;
    }
    size_t end = text.find('\n', start);
    std::string host =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!host.empty() && host.back() == '\r') host.pop_back();
    if (!host.empty() && host.back() == '/') host.pop_back();
    return host;
}

void addInternetExplorerItems(ItemTable& table) {
    table.add("Internet Explorer - Recently Typed URLs", recentlyTypedUrls);
    table.add("Internet Explorer - Cookies", cookies);
    table.add("Internet Explorer - Visited URL History", visitedUrlHistory);
    table.add("Internet Explorer - Last Download Location", lastDownloadLocation);
    table.add("Internet Explorer - Temporary Internet Files", temporaryInternetFiles);
    table.add("Internet Explorer - Index.dat Files", indexDatFiles);
    table.add("Internet Explorer - Autocomplete History", autocompleteHistory);
}

}  // namespace brisko
