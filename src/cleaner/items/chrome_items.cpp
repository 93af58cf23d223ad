// Chrome keeps everything of a profile in one folder; most traces are whole
// SQLite files, some are rows of "Web Data", "History" and "Shortcuts".
#include "cleaner/items/chrome_items.h"

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

// The profile folder when it exists, else empty.
std::string existingProfile(CleanContext& ctx) {
    std::string folder = chromeProfileFolder(ctx.machine);
    if (folder.empty() || !ctx.machine.files().directoryExists(folder)) return {};
    return folder;
}

// The profile's files that are SQLite databases; the others (session and tab
// files, the visited-links table) have no journal to go with them.
bool isDatabaseName(std::string_view name) {
    for (std::string_view db : {"Cookies", "History", "Archived History", "Thumbnails", "Top Sites",
                                "Network Action Predictor", "Login Data"})
        if (name == db) return true;
    return false;
}

// Each name anywhere below the profile, a database with its journal files.
int64_t deleteNamed(CleanContext& ctx, const std::string& profile,
                    std::initializer_list<std::string_view> names) {
    int64_t bytes = 0;
    for (auto name : names) {
        if (ctx.stopRequested()) break;
        bytes += isDatabaseName(name)
                     ? deleteDatabaseFiles(ctx, profile, name, true)
                     : DeleteMatchingFiles(ctx, profile, name, ctx.ItemCount, true);
    }
    return bytes;
}

void cache(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    auto& files = ctx.machine.files();
    int64_t bytes = 0;
    // Chrome keeps "Media Cache" beside "Cache" in the profile folder.
    for (const char* name : {"Cache", "Media Cache"}) {
        if (ctx.stopRequested()) break;
        if (files.directoryExists(profile + name))
            bytes += WipeFolder(ctx, profile + name, false, true, "", ctx.ItemCount);
    }
    ctx.addItemBytes(bytes);
}

// Extensions keep their settings in "Local Storage" under names holding
// "chrome-extension_"; the cookie item leaves those, and everything else goes.
bool isExtensionFile(std::string_view name) {
    return upperCase(name).find("CHROME-EXTENSION_") != std::string::npos;
}

void cookies(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    int64_t bytes = deleteNamed(ctx, profile, {"Cookies"});
    bytes += WipeFolderKeeping(ctx, profile + "Local Storage", false, true, isExtensionFile,
                               ctx.ItemCount);
    ctx.addItemBytes(bytes);
}

void localStorage(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    ctx.addItemBytes(WipeFolder(ctx, profile + "Local Storage", false, true, "", ctx.ItemCount));
}

void session(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    ctx.addItemBytes(deleteNamed(ctx, profile, {"Current Session", "Last Session"}));
}

void history(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    int64_t bytes = deleteNamed(
        ctx, profile,
        {"Archived History", "History", "Thumbnails", "Visited Links", "Current Tabs", "Last Tabs",
         "Top Sites", "History Provider Cache", "Network Action Predictor"});
    // "History Index 2011-05" and the like, one per month.
    if (auto entries = ctx.machine.files().findFiles(profile, "*")) {
        for (const auto& e : *entries) {
            if (ctx.stopRequested()) break;
            if (e.isDirectory() || findNoCase(e.name, "History Index") == std::string::npos)
                continue;
            // Its journal has a name of the same kind and goes by its own turn.
            bytes += DeleteMatchingFiles(ctx, profile, e.name, ctx.ItemCount, true);
        }
    }
    ctx.addItemBytes(bytes);
    ctx.ItemCount += static_cast<int>(
        cleanDatabaseRows(ctx, profile + "Shortcuts", {{"omni_box_shortcuts", ""}}));
}

void passwords(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    ctx.ItemCount +=
        static_cast<int>(cleanDatabaseRows(ctx, profile + "Web Data", {{"logins", ""}}));
    ctx.addItemBytes(deleteNamed(ctx, profile, {"Login Data"}));
}

void formData(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    static const std::vector<RowDeletion> tables = {
        {"autofill", ""},
        {"autofill_dates", ""},
        {"autofill_profile_emails", ""},
        {"autofill_profile_names", ""},
        {"autofill_profile_phones", ""},
        {"autofill_profiles", ""},
        {"autofill_profiles_trash", ""},
    };
    ctx.ItemCount += static_cast<int>(cleanDatabaseRows(ctx, profile + "Web Data", tables));
}

void downloads(CleanContext& ctx) {
    const std::string profile = existingProfile(ctx);
    if (profile.empty()) return;
    // Chrome 26 and later keep each download's addresses (its redirect chain)
    // and its pieces in tables of their own.
    static const std::vector<RowDeletion> tables = {
        {"downloads", ""}, {"downloads_url_chains", ""}, {"downloads_slices", ""}};
    ctx.ItemCount += static_cast<int>(cleanDatabaseRows(ctx, profile + "History", tables));
}

}  // namespace

void addChromeItems(ItemTable& table) {
    table.add("Google Chrome - Temporary Internet Files", cache);
    table.add("Google Chrome - Cookies", cookies);
    table.add("Google Chrome - Visited URL History", history);
    table.add("Google Chrome - Session", session);
    table.add("Google Chrome - Stored passwords in Forms", passwords);
    table.add("Google Chrome - Saved Form Information", formData);
    table.add("Google Chrome - Download History", downloads);
    table.add("Google Chrome - Local Storage", localStorage);
}

}  // namespace brisko
