#pragma once
// The items of the "Advanced" group: the open/save dialog history, the Start
// menu order cache, the notification-area icon cache, the program-usage
// history and Paint's recent files. The three toolbar histories are sections of
// apls.dat and run through the data-file routine.
namespace brisko {

class ItemTable;

// Adds a routine for every item of the group except the toolbar histories.
void addAdvancedItems(ItemTable& table);

}  // namespace brisko
