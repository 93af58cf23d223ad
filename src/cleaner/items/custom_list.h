#pragma once
// The user's custom list: the "<New List>" section of Custom.dat in the
// program's folder, as the list editor and `brisko custom` read and write it,
// and the checks an entry passes before it is taken into the list.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisko {

class Machine;

inline constexpr std::string_view kCustomListSection = "<New List>";

// Custom.dat in the machine's program folder.
std::string customListPath(Machine& machine);

// The entries of the list, one per key of the section, in file order. A
// missing file or section gives an empty list.
std::vector<std::string> loadCustomList(Machine& machine);

// A row that, upper-cased, begins with "HKEY_" is a registry entry; every
// other row a file entry.
bool isRegistryRow(std::string_view row);

// The lines the rows are saved as: registry rows under DelRegValue1, 2, ...,
// the others under DelFile1, 2, ..., each series numbered in list order.
std::vector<std::pair<std::string, std::string>> numberCustomRows(
    const std::vector<std::string>& rows);

// Replaces the section with the rows (other sections and lines of the file
// stay as they are). False when the file could not be written.
bool saveCustomList(Machine& machine, const std::vector<std::string>& rows);

// A registry entry of a list in the one form that every check and the run
// work on, so that no spelling ("HKEY_LOCAL_MACHINE\\SYSTEM,", lower case,
// "Software\.\..\Software") names more than its plain form does.
struct RegistryListEntry {
    std::string root;  // upper-cased; a root only when written in full
    // The key below the root: empty and "." steps dropped, each ".." step
    // takes the one before it back.
    std::string path;
    // After the comma: nullopt for the whole key, empty for its values and
    // subkeys, else the one value's name (as written).
    std::optional<std::string> value;
    bool aboveRoot = false;    // a ".." step went above the root
    std::string text() const;  // written back: ROOT\path[,value]
};
RegistryListEntry normalRegistryEntry(std::string_view entry);

// Why an entry may not go into a custom list, or nullopt when it may. Only
// what is no key or path at all, or what reaches outside the machine, is
// refused: a registry entry must begin with one of the five roots written in
// full and name a key; a file entry must name a folder on one of the
// machine's drives (a BASE token counts as its folder) without "." or ".."
// steps, and a file name or mask, not a path, after its comma. The user
// decides the rest: when the list runs, a drive root and the documents and
// pictures folders are asked about first, and the cleaner's own checks apply.
std::optional<std::string> refuseRegistryEntry(std::string_view entry);
std::optional<std::string> refuseFileEntry(Machine& machine, std::string_view entry);
// The one that fits the row (isRegistryRow).
std::optional<std::string> refuseListEntry(Machine& machine, std::string_view entry);

// The rules of the entry dialogs on top of refuseListEntry, for an entry
// being added: a registry entry of the "Delete value" form names its value;
// a file entry names an existing folder, a single file names an existing file
// of that folder, and a mask is longer than two characters ("*." alone is not one).
std::optional<std::string> refuseNewListEntry(Machine& machine, std::string_view entry);

}  // namespace brisko
