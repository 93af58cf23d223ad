// The "Advanced" group of the cleaner: registry lists Explorer and Paint keep
// under the current user.
#include "cleaner/items/advanced_items.h"

#include <string>

#include "cleaner/clean_context.h"
#include "cleaner/removal.h"

namespace brisko {

namespace {

const std::string kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kExplorer = kCurrentVersion + "\\Explorer";

void openFileHistory(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, kExplorer + "\\ComDlg32\\OpenSaveMRU");
}

void menuOrderCache(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, kExplorer + "\\MenuOrder");
}

void trayNotificationsCache(CleanContext& ctx) {
    const std::string key = kExplorer + "\\TrayNotify";
    ctx.ItemCount = DeleteUserValues(ctx, key, "IconStreams");
    ctx.ItemCount += DeleteUserValues(ctx, key, "PastIconsStream");
}

// The "Count" keys hold the usage records under Rot13-encoded names; they go
// whole, so the names are never read.
void userAssistHistory(CleanContext& ctx) {
    const std::string userAssist = kExplorer + "\\UserAssist\\";
    ctx.ItemCount =
        DeleteUserKey(ctx, userAssist + "{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count");
    ctx.ItemCount +=
        DeleteUserKey(ctx, userAssist + "{75048700-EF1F-11D0-9888-006097DEACF9}\\Count");
}

void paint(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, kCurrentVersion + "\\Applets\\Paint\\Recent File List");
}

}  // namespace

void addAdvancedItems(ItemTable& table) {
    table.add("Advanced - Open File History", openFileHistory);
    table.add("Advanced - Menu Order Cache", menuOrderCache);
    table.add("Advanced - Tray Notifications Cache", trayNotificationsCache);
    table.add("Advanced - User Assist History", userAssistHistory);
    table.add("Advanced - Paint", paint);
}

}  // namespace brisko
