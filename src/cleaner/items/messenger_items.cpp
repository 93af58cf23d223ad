// The "Instant Messengers" group of the cleaner.
#include "cleaner/items/messenger_items.h"

#include <optional>
#include <string>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Where the user told Messenger to save the conversations: the first
// "MessageLogPath" of a signed-in account (PerPassportSettings\<id>) that names
// an existing folder. Windows Live Messenger writes one per account.
std::optional<std::string> messageLogFolder(CleanContext& ctx) {
    const std::string perPassport = "Software\\Microsoft\\MSNMessenger\\PerPassportSettings";
    RegistryKey k(ctx.machine.registry(), RootKey::CurrentUser);
    if (!k.openKeyReadOnly(perPassport)) return std::nullopt;
    const auto accounts = k.subkeyNames();
    for (const auto& account : accounts) {
        RegistryKey sub(ctx.machine.registry(), RootKey::CurrentUser);
        if (!sub.openKeyReadOnly(perPassport + "\\" + account)) continue;
        auto type = sub.dataType("MessageLogPath");
        if (!type || (*type != REG_SZ && *type != REG_EXPAND_SZ)) continue;
        auto path = sub.readString("MessageLogPath");
        if (path && !path->empty() && ctx.machine.files().directoryExists(*path)) return *path;
    }
    return std::nullopt;
}

bool samePlace(Machine& machine, const std::string& a, const std::string& b) {
    if (equalsNoCase(includeTrailingBackslash(a), includeTrailingBackslash(b))) return true;
    auto& files = machine.files();
    auto ia = files.placeId(a), ib = files.placeId(b);
    return ia && ib && *ia == *ib;
}

// inner is outer or a folder below it.
bool within(Machine& machine, std::string inner, const std::string& outer) {
    inner = excludeTrailingBackslash(inner);
    while (inner.size() > 2) {
        if (samePlace(machine, inner, outer)) return true;
        const size_t slash = inner.find_last_of('\\');
        if (slash == std::string::npos) break;
        inner.resize(slash);
    }
    return false;
}

void msnMessenger(CleanContext& ctx) {
    Machine& m = ctx.machine;
    int64_t bytes = 0;
    auto logs = messageLogFolder(ctx);
    const std::string docs = MyDocumentsFolder(m);
    std::optional<std::string> received;
    if (!docs.empty()) received = docs + "My Received Files\\";
    // Windows Live Messenger keeps the logs inside the received files: one
    // wipe of the outer folder takes both, and a Test run counts each file once.
    if (logs && received) {
        if (within(m, *logs, *received))
            logs.reset();
        else if (within(m, *received, *logs))
            received.reset();
    }
    if (logs) bytes += WipeFolder(ctx, *logs, false, true, "", ctx.ItemCount);
    if (received && m.files().directoryExists(*received))
        bytes += WipeFolder(ctx, *received, false, true, "", ctx.ItemCount);

    ctx.ItemCount += DeleteUserKey(
        ctx, "Software\\Microsoft\\MessengerService\\ListCache\\.NET Messenger Service");

    const std::string appData = AppDataFolder(m);
    if (!appData.empty())
        bytes += DeleteMatchingFiles(ctx, appData + "Microsoft\\MSN Messenger", "*.sqm",
                                     ctx.ItemCount, false);
    std::string local =
        ReadRegString(m.registry(), RootKey::CurrentUser, kShellFolders, "Local AppData");
    if (!local.empty()) {
        local =
            includeTrailingBackslash(m.expandEnvironmentStrings(local)) + "Microsoft\\Messenger";
        bytes += DeleteMatchingFiles(ctx, local, "*.uccapilog", ctx.ItemCount, false);
        bytes += DeleteMatchingFiles(ctx, local, "*.bak", ctx.ItemCount, false);
    }
    const std::string profile = m.specialFolder(CSIDL_PROFILE);
    if (!profile.empty()) {
        const std::string tracing = includeTrailingBackslash(profile) + "Tracing";
        bytes += DeleteMatchingFiles(ctx, tracing, "WindowsLiveMessenger*.uccapilog", ctx.ItemCount,
                                     false);
        bytes += DeleteMatchingFiles(ctx, tracing, "WindowsLiveMessenger*.uccapilog.bak",
                                     ctx.ItemCount, false);
    }
    ctx.addItemBytes(bytes);
}

void yahooMessenger(CleanContext& ctx) {
    const std::string programFiles = ProgramFilesFolder(ctx.machine);
    if (programFiles.empty()) return;
    const std::string p = programFiles + "Yahoo!\\Messenger";
    int64_t bytes = DeleteMatchingFiles(ctx, p, "ypager.log", ctx.ItemCount, false);
    bytes += WipeFolder(ctx, p + "\\IMVCache", false, true, "", ctx.ItemCount);
    bytes += WipeFolder(ctx, p + "\\Profiles", false, true, "", ctx.ItemCount);
    bytes += DeleteMatchingFiles(ctx, p + "\\Cache", "*.*", ctx.ItemCount, false);
    bytes += DeleteMatchingFiles(ctx, p + "\\Logs", "*.*", ctx.ItemCount, false);
    bytes += DeleteMatchingFiles(ctx, p + "\\Games", "*.gif", ctx.ItemCount, false);
    // The Cache folder's ypager.log went with its "*.*" above; looking for it
    // again would count it twice in a Test run.
    ctx.addItemBytes(bytes);
}

void skype(CleanContext& ctx) {
    const std::string appData = AppDataFolder(ctx.machine);
    if (appData.empty()) return;
    ctx.addItemBytes(DeleteMatchingFiles(ctx, appData + "Skype", "*.dbb", ctx.ItemCount, true));
}

}  // namespace

void addMessengerItems(ItemTable& table) {
    table.add("Instant Messengers - MSN Messenger", msnMessenger);
    table.add("Instant Messengers - Yahoo! Messenger", yahooMessenger);
    table.add("Instant Messengers - Skype", skype);
}

}  // namespace brisko
