// Firefox keeps a profile per subfolder of its profiles folder; the files are
// found by name anywhere below it. History rows are removed from places.sqlite
// only in the ".default" profiles, and bookmarked places stay.
#include "cleaner/items/firefox_items.h"

#include <initializer_list>
#include <string>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/items/browser_database.h"
#include "cleaner/items/browser_folders.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

// The profiles folder when it exists, else empty.
std::string existingProfiles(CleanContext& ctx) {
    std::string folder = firefoxProfilesFolder(ctx.machine);
    if (folder.empty() || !ctx.machine.files().directoryExists(folder)) return {};
    return folder;
}

// Deletes the named files anywhere below the profiles folder; an SQLite
// database goes with its journal and write-ahead log.
void deleteProfileFiles(CleanContext& ctx, std::initializer_list<std::string_view> names) {
    const std::string profiles = existingProfiles(ctx);
    if (profiles.empty()) return;
    int64_t bytes = 0;
    for (auto name : names) {
        if (ctx.stopRequested()) break;
        if (endsWithNoCase(name, ".sqlite"))
            bytes += deleteDatabaseFiles(ctx, profiles, name, true);
        else
            bytes += DeleteMatchingFiles(ctx, profiles, name, ctx.ItemCount, true);
    }
    ctx.addItemBytes(bytes);
}

void cookies(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"cookies*.txt", "cookies.sqlite"});
}

// History entries that no bookmark points at, and every visit.
const std::vector<RowDeletion>& historyRows() {
    static const std::vector<RowDeletion> rows = {
        {"moz_places", "id NOT IN (SELECT fk FROM moz_bookmarks where fk is not null)"},
        {"moz_historyvisits", ""},
    };
    return rows;
}

void history(CleanContext& ctx) {
    const std::string profiles = existingProfiles(ctx);
    if (profiles.empty()) return;
    deleteProfileFiles(ctx, {"history.dat"});
    for (const auto& profile : subfoldersOf(ctx.machine, profiles)) {
        if (ctx.stopRequested()) return;
        if (profile.find(".default") == std::string::npos) continue;
        ctx.ItemCount +=
            static_cast<int>(cleanDatabaseRows(ctx, profile + "places.sqlite", historyRows()));
    }
}

void downloads(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"downloads.rdf", "downloads.sqlite"});
}

void signons(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"signons.txt", "signons3.txt", "signons.sqlite"});
}

void preferences(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"prefs.js", "content-prefs.sqlite", "permissions.sqlite"});
}

void session(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"sessionstore.js", "sessionstore.bak"});
}

void formHistory(CleanContext& ctx) {
    deleteProfileFiles(ctx, {"formhistory.dat", "formhistory.sqlite"});
}

// Every profile's "Cache" folder, in the roaming and the local profiles; and
// "cache2", where Firefox has kept its cache since version 32.
void cache(CleanContext& ctx) {
    const bool log = ctx.settings.ShowLogTempInternetFiles;
    if (!ctx.isTestRun() && !log) ctx.logLine("Clearing, please wait...");
    auto& files = ctx.machine.files();
    int64_t bytes = 0;
    for (const auto& root :
         {firefoxProfilesFolder(ctx.machine), firefoxLocalProfilesFolder(ctx.machine)}) {
        if (root.empty() || !files.directoryExists(root)) continue;
        for (const auto& profile : subfoldersOf(ctx.machine, root)) {
            for (const char* name : {"Cache", "cache2"}) {
                if (ctx.stopRequested()) break;
                const std::string folder = profile + name;
                if (files.directoryExists(folder))
                    bytes += WipeFolder(ctx, folder, false, log, "", ctx.ItemCount);
            }
        }
    }
    ctx.addItemBytes(bytes);
}

}  // namespace

void addFirefoxItems(ItemTable& table) {
    table.add("Mozilla Firefox - Cookies", cookies);
    table.add("Mozilla Firefox - Visited URL History", history);
    table.add("Mozilla Firefox - Download Manager", downloads);
    table.add("Mozilla Firefox - Temporary Internet Files", cache);
    table.add("Mozilla Firefox - Autocomplete History", signons);
    table.add("Mozilla Firefox - Preferences", preferences);
    table.add("Mozilla Firefox - Session", session);
    table.add("Mozilla Firefox - Saved Form Information", formHistory);
}

}  // namespace brisko
