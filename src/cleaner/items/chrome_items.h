#pragma once
// The items of the "Google Chrome" group, all in the "Default" profile:
// caches, cookies and local storage, history, sessions, saved passwords, form
// data and the download list.
namespace brisko {

class ItemTable;

void addChromeItems(ItemTable& table);

}  // namespace brisko
