#pragma once
// The items of the "Mozilla Firefox" group: cookie stores, history, download
// lists, saved passwords, preferences, sessions, form history and the caches
// of every profile below the user's Firefox profiles folders.
namespace brisko {

class ItemTable;

void addFirefoxItems(ItemTable& table);

}  // namespace brisko
