// The "Microsoft Office" group of the cleaner.
//
// Office keeps a program's recent lists under
// HKCU\Software\Microsoft\Office\<version>.0\<program>. Up to Office 2003 they
// are program-specific ("Recent File List", Word's binary "Settings" value in
// Word\Data, Access's MRU1..MRU9 values); from 2007 on every program has
// "File MRU" (2010 added "Place MRU" for folders), and from 2013 on a signed-in
// user's lists live one level deeper, under "User MRU\<identity>\File MRU".
#include "cleaner/items/office_items.h"

#include <string>
#include <vector>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

const std::string kOffice = "Software\\Microsoft\\Office\\";

std::string officeKey(int version, std::string_view appPart) {
    return kOffice + std::to_string(version) + ".0" + std::string(appPart);
}

// The Office recent folder, with a trailing backslash; empty when the user has
// no Application Data folder, which ends the item before it looks anywhere else.
std::string officeRecentFolder(CleanContext& ctx) {
    std::string appData = AppDataFolder(ctx.machine);
    if (appData.empty() || !ctx.machine.files().directoryExists(appData)) return {};
    return appData + "Microsoft\\Office\\Recent\\";
}

// The program's documents in the Office recent folder: "*.doc" and the like,
// and the shortcuts Office 2007 and later leave there, named after the
// document with ".lnk" added ("Letter.docx.lnk").
void recentFiles(CleanContext& ctx, const std::string& folder,
                 std::initializer_list<std::string_view> extensions) {
    for (auto ext : extensions)
        for (std::string_view suffix : {"", ".lnk"})
            ctx.addItemBytes(DeleteMatchingFiles(
                ctx, folder, "*." + std::string(ext) + std::string(suffix), ctx.ItemCount, false));
}

void deleteKeys(CleanContext& ctx, const std::string& base,
                std::initializer_list<std::string_view> lists) {
    for (auto list : lists) ctx.ItemCount += DeleteUserKey(ctx, base + std::string(list));
}

// Office 2013 and later: the lists of each signed-in identity ("LiveId_...",
// "ADAL_...", "AD_...") below "<program>\User MRU".
void userMruLists(CleanContext& ctx, const std::string& programKey) {
    const std::string userMru = programKey + "User MRU";
    RegistryKey k(ctx.machine.registry(), RootKey::CurrentUser);
    if (!k.openKeyReadOnly(userMru)) return;
    const auto identities = k.subkeyNames();
    k.closeKey();
    for (const auto& id : identities) {
        if (ctx.stopRequested()) return;
        deleteKeys(ctx, userMru + "\\" + id + "\\", {"File MRU", "Place MRU"});
    }
}

// The lists every Office program has had since 2007.
void modernLists(CleanContext& ctx, int version, const std::string& programKey) {
    deleteKeys(ctx, programKey, {"File MRU", "Place MRU"});
    if (version >= 15) userMruLists(ctx, programKey);
}

// Access 97 to 2003 keep the recent databases as MRU1..MRU9 (with MRUFlags1..9)
// among every other Access setting in "Access\Settings"; only those values go.
void accessOldMru(CleanContext& ctx, int version) {
    const std::string settings = officeKey(version, "\\Access\\Settings");
    for (int i = 1; i <= 9; ++i) {
        ctx.ItemCount += DeleteUserValues(ctx, settings, "MRU" + std::to_string(i));
        ctx.ItemCount += DeleteUserValues(ctx, settings, "MRUFlags" + std::to_string(i));
    }
}

void access(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"mdb", "accdb"});
    for (int v = kFirstOfficeVersion; v <= kLastOfficeVersion; ++v) {
        if (v <= 11) {
            accessOldMru(ctx, v);
            continue;
        }
        const std::string key = officeKey(v, "\\Access\\");
        deleteKeys(ctx, key, {"Recent Templates"});
        modernLists(ctx, v, key);
    }
}

void excel(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"xls", "xlsx", "xlsm"});
    for (int v = kFirstOfficeVersion; v <= kLastOfficeVersion; ++v) {
        const std::string key = officeKey(v, "\\Excel\\");
        deleteKeys(ctx, key, {"Recent Files", "Recent Templates"});
        modernLists(ctx, v, key);
    }
}

void frontPage(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"htm", "html"});
    const std::string explorer = "Software\\Microsoft\\FrontPage\\Explorer\\FrontPage Explorer\\";
    deleteKeys(ctx, explorer, {"Recent File List", "Recent Page List", "Recent Web List"});
}

void powerPoint(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"ppt", "pptx", "pps", "ppsx"});
    for (int v = kFirstOfficeVersion; v <= kLastOfficeVersion; ++v) {
        const std::string key = officeKey(v, "\\PowerPoint\\");
        deleteKeys(
            ctx, key,
            {"Recent File List", "Recent Folder List", "Recent Templates", "RecentFolderList"});
        modernLists(ctx, v, key);
    }
}

// Word 97 to 2003 keep the recent files in the binary "Settings" value of
// Word\Data; Word 2007 and later in Word\File MRU and Word\Place MRU. Both
// places are cleaned for every version, and the lists below Word\Data too.
void word(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"doc", "docx", "docm"});
    for (int v = kFirstOfficeVersion; v <= kLastOfficeVersion; ++v) {
        const std::string data = officeKey(v, "\\Word\\Data");
        ctx.ItemCount += DeleteUserValues(ctx, data, "Settings");
        deleteKeys(ctx, data + "\\", {"File MRU", "Recent Templates", "Place MRU"});
        const std::string key = officeKey(v, "\\Word\\");
        deleteKeys(ctx, key, {"Recent Templates"});
        modernLists(ctx, v, key);
    }
}

void visio(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    recentFiles(ctx, recent, {"vsd", "vsdx"});
    // Visio 2003 lists its recent drawings as LastFile1..LastFile9.
    const std::string application = officeKey(11, "\\Visio\\Application");
    for (int i = 1; i <= 9; ++i)
        ctx.ItemCount += DeleteUserValues(ctx, application, "LastFile" + std::to_string(i));
    for (int v = 11; v <= kLastOfficeVersion; ++v) {
        const std::string key = officeKey(v, "\\Visio\\");
        deleteKeys(ctx, key, {"Recent Templates"});
        modernLists(ctx, v, key);
    }
}

void infoPath(CleanContext& ctx) {
    for (int v = 12; v <= kLastOfficeVersion; ++v)
        deleteKeys(ctx, officeKey(v, "\\InfoPath\\"),
                   {"File MRU", "Designer File MRU", "Filler File MRU", "Recent Templates"});
}

void publisher(CleanContext& ctx) {
    for (int v = 11; v <= kLastOfficeVersion; ++v) {
        const std::string key = officeKey(v, "\\Publisher\\");
        deleteKeys(ctx, key, {"Recent File List", "Recent Templates"});
        modernLists(ctx, v, key);
    }
}

void officeRecentFiles(CleanContext& ctx) {
    const std::string recent = officeRecentFolder(ctx);
    if (recent.empty()) return;
    ctx.addItemBytes(DeleteMatchingFiles(ctx, recent, "*.*", ctx.ItemCount, false));
}

}  // namespace

void addOfficeItems(ItemTable& table) {
    table.add("Microsoft Office - Access", access);
    table.add("Microsoft Office - Excel", excel);
    table.add("Microsoft Office - FrontPage", frontPage);
    table.add("Microsoft Office - Powerpoint", powerPoint);
    table.add("Microsoft Office - Word", word);
    table.add("Microsoft Office - Visio", visio);
    table.add("Microsoft Office - InfoPath", infoPath);
    table.add("Microsoft Office - Publisher", publisher);
    table.add("Microsoft Office - Recent Files", officeRecentFiles);
}

}  // namespace brisko
