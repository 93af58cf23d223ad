#pragma once
// The items of the "Netscape" and "Opera" groups: every trace is a whole file
// of a known name in the user's profile folders, or a cache folder.
namespace brisko {

class ItemTable;

void addNetscapeItems(ItemTable& table);
void addOperaItems(ItemTable& table);

}  // namespace brisko
