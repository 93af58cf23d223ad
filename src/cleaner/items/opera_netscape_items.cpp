#include "cleaner/items/opera_netscape_items.h"

#include <initializer_list>
#include <string>

#include "cleaner/clean_context.h"
#include "cleaner/items/browser_folders.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

// DeleteMatchingFiles with each name in turn in folder, when it exists.
void deleteNames(CleanContext& ctx, const std::string& folder,
                 std::initializer_list<std::string_view> names, bool recurse) {
    if (folder.empty() || !ctx.machine.files().directoryExists(folder)) return;
    int64_t bytes = 0;
    for (auto name : names) {
        if (ctx.stopRequested()) break;
        bytes += DeleteMatchingFiles(ctx, folder, name, ctx.ItemCount, recurse);
    }
    ctx.addItemBytes(bytes);
}

// --- Netscape: the files of one profile folder, no subfolders ---------------

void netscapeFiles(CleanContext& ctx, std::initializer_list<std::string_view> names) {
    deleteNames(ctx, netscapeProfileFolder(ctx), names, false);
}

void netscapeCookies(CleanContext& ctx) {
    netscapeFiles(ctx, {"cookies*.txt"});
}
void netscapeHistory(CleanContext& ctx) {
    netscapeFiles(ctx, {"history.dat"});
}
void netscapePreferences(CleanContext& ctx) {
    netscapeFiles(ctx, {"prefs.js"});
}
void netscapeFormHistory(CleanContext& ctx) {
    netscapeFiles(ctx, {"formhistory.dat"});
}

void netscapeCache(CleanContext& ctx) {
    const bool log = ctx.settings.ShowLogTempInternetFiles;
    if (!ctx.isTestRun() && !log) ctx.logLine("Clearing, please wait...");
    const std::string profile = netscapeProfileFolder(ctx);
    if (profile.empty() || !ctx.machine.files().directoryExists(profile + "Cache")) return;
    ctx.addItemBytes(WipeFolder(ctx, profile + "Cache", false, log, "", ctx.ItemCount));
}

// --- Opera: files anywhere below the Opera folder ---------------------------

void operaFiles(CleanContext& ctx, std::initializer_list<std::string_view> names) {
    deleteNames(ctx, operaFolder(ctx.machine), names, true);
}

void operaTypedUrls(CleanContext& ctx) {
    operaFiles(ctx, {"opera.dir", "typed_history.xml"});
}
void operaCookies(CleanContext& ctx) {
    operaFiles(ctx, {"cookies4.dat"});
}
void operaHistory(CleanContext& ctx) {
    operaFiles(ctx, {"global.dat", "vlink4.dat", "autosave.win"});
}
void operaWand(CleanContext& ctx) {
    operaFiles(ctx, {"wand.dat"});
}
void operaTransfers(CleanContext& ctx) {
    operaFiles(ctx, {"download.dat"});
}

// Every profile's "profile\cache4", below the roaming and the local Opera folder.
void operaCache(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    const std::string roaming = operaFolder(ctx.machine);
    if (roaming.empty() || !files.directoryExists(roaming)) return;
    int64_t bytes = 0;
    for (const auto& root : {roaming, operaLocalFolder(ctx.machine)}) {
        if (root.empty() || !files.directoryExists(root)) continue;
        for (const auto& sub : subfoldersOf(ctx.machine, root)) {
            if (ctx.stopRequested()) break;
            const std::string cache = sub + "profile\\cache4";
            if (files.directoryExists(cache))
                bytes += WipeFolder(ctx, cache, false, true, "", ctx.ItemCount);
        }
    }
    ctx.addItemBytes(bytes);
}

}  // namespace

void addNetscapeItems(ItemTable& table) {
    table.add("Netscape - Cookies", netscapeCookies);
    table.add("Netscape - Visited URL History", netscapeHistory);
    table.add("Netscape - Temporary Internet Files", netscapeCache);
    table.add("Netscape - Preferences", netscapePreferences);
    table.add("Netscape - Saved Form Information", netscapeFormHistory);
}

void addOperaItems(ItemTable& table) {
    table.add("Opera - Recently Typed URLs", operaTypedUrls);
    table.add("Opera - Cookies", operaCookies);
    table.add("Opera - Visited URL History", operaHistory);
    table.add("Opera - Temporary Internet Files", operaCache);
    table.add("Opera - Autocomplete History", operaWand);
    table.add("Opera - Transfers", operaTransfers);
}

}  // namespace brisko
