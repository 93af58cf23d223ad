#pragma once
// What stands behind the WinINet cache, the URL history object and Protected
// Storage on an offline installation:
// - the cache is the user's cache index ("Content.IE5\index.dat" in the
//   Temporary Internet Files folder); its URL records are the cache entries,
//   and deleting one removes its record and its cached file;
// - the URL history is the user's history indexes ("History.IE5\index.dat" and,
//   on Vista and later, "Low\History.IE5\index.dat"); a listed address is the
//   part after "Visited: user@", and deleting one removes every record of it;
// - Protected Storage is the user's "Protected Storage System Provider" tree:
//   the key of an item is <type>\<subtype>\<item> below
//   Software\Microsoft\Protected Storage System Provider\<SID>\Data, and a
//   type's name is its "Display String" value; deleting an item removes its key.
#include <memory>

#include "core/machine/machine.h"

namespace brisko {

struct ImageInternetServices {
    std::unique_ptr<UrlCacheService> cache;
    std::unique_ptr<UrlHistoryService> history;
    std::unique_ptr<ProtectedStorageService> protectedStorage;
};

// The three services over the machine's own registry and files.
ImageInternetServices makeImageInternetServices(Machine& machine);

inline constexpr std::string_view kProtectedStorageKey =
    "Software\\Microsoft\\Protected Storage System Provider";

}  // namespace brisko
