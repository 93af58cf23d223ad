#pragma once
// The items of the "Internet Explorer" group: typed addresses, cookies (but
// those on the keep list), the visited-URL history, the last download folder,
// the page cache, the three main index.dat files and the autocomplete store.
#include <optional>
#include <string>
#include <vector>

namespace brisko {

class CleanContext;
class ItemTable;
class Machine;

void addInternetExplorerItems(ItemTable& table);

// "MSHist01" and today's local date as YYYYMMDD: the prefix of today's
// history folders.
std::string HistoryPrefixOfToday();
std::string HistoryPrefixOf(int year, int month, int day);

// Which Windows generation a version belongs to, for the items that branch on it.
bool isWindows6Family(Machine& machine);
bool isWindows9xFamily(Machine& machine);

// The host of a cookie file: its third line without one trailing "/"; empty
// when the file has fewer lines. nullopt when the file cannot be read.
std::optional<std::string> CookieHost(Machine& machine, const std::string& path);

}  // namespace brisko
