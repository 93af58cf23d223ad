// The item families of the cleaner: each family's unit exports one add
// function, and this list is where the table learns about it.
#include "cleaner/clean_context.h"
#include "cleaner/items/advanced_items.h"
#include "cleaner/items/chrome_items.h"
#include "cleaner/items/data_file_items.h"
#include "cleaner/items/firefox_items.h"
#include "cleaner/items/ie_items.h"
#include "cleaner/items/messenger_items.h"
#include "cleaner/items/office_items.h"
#include "cleaner/items/opera_netscape_items.h"
#include "cleaner/items/windows_items.h"

namespace brisko {

void addItemFamilies(ItemTable& table) {
    addWindowsItems(table);
    addAdvancedItems(table);
    addOfficeItems(table);
    addMessengerItems(table);
    addFirefoxItems(table);
    addChromeItems(table);
    addNetscapeItems(table);
    addOperaItems(table);
    addDataFileItems(table);
    addInternetExplorerItems(table);
}

}  // namespace brisko
