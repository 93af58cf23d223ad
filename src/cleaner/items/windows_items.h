#pragma once
// The items of the "Windows" group: the traces Windows itself keeps (recent
// documents, the Run box history, search history, the recycle bin, temporary
// files, the clipboard, crash dumps, check-disk fragments). "Windows Log Files"
// is a section of apls.dat and runs through the data-file routine.
#include <string>
#include <vector>

namespace brisko {

class CleanContext;
class ItemTable;
class Machine;

// Adds a routine for every item of the group except "Windows Log Files".
void addWindowsItems(ItemTable& table);

// The recycle bin folders of the current user on the fixed drives C: to Z:,
// whichever exist: "X:\Recycled" (Windows 9x; only with its INFO2 and
// desktop.ini), "X:\RECYCLER\<SID>" (NT to XP) and "X:\$Recycle.Bin\<SID>"
// (Vista and later). No trailing backslash.
std::vector<std::string> recycleBinFolders(Machine& machine);

// What SHEmptyRecycleBin does for the current user's bins: everything in them
// goes, desktop.ini stays and an INFO2 index is cut back to its bare header.
void emptyRecycleBins(CleanContext& ctx);

}  // namespace brisko
