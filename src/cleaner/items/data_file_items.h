#pragma once
// The data-file item routine: one section of a list file in the program's
// folder ("Custom.dat", the user's custom lists, or "apls.dat", the lists
// installed with the program) run as a clean item. Each line of the section
// holding "DelRegValue" names a registry key or value, each holding "DelFile"
// a folder, a mask in a folder or one file.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class CleanContext;
class ItemTable;
class Machine;

// The section a log caption runs: the text after its first "-" and the
// character after that ("Custom Lists - <New List>" -> "<New List>"); the whole
// caption when it has no "-".
std::string dataFileSection(std::string_view logCaption);

// The lines of a section of a list file in the program's folder, trimmed, in
// file order (the first section of that name, compared without case). A
// missing file or section gives none.
std::vector<std::string> readDataFileSection(Machine& machine, std::string_view fileName,
                                             std::string_view section);

// Every section of a list file in the program's folder, in file order, with
// its trimmed lines (comments included; blank lines dropped). Read in one pass,
// for callers that look at all of them.
struct DataFileSection {
    std::string name;
    std::vector<std::string> lines;
};
std::vector<DataFileSection> readDataFileSections(Machine& machine, std::string_view fileName);
// The same, from the text of a list file.
std::vector<DataFileSection> parseDataFileSections(std::string_view text);

// Where a file entry ("BASE\folder", "BASE\folder,mask") points on this
// machine: the folder with BASE replaced as the routine replaces it, and the
// text after the first comma when there is one. nullopt
// when BASE is a token without a folder on this machine.
struct FileEntryTarget {
    std::string folder;
    std::optional<std::string> mask;
};
std::optional<FileEntryTarget> resolveFileEntry(Machine& machine, std::string_view entry);

// Runs the section of fileName that logCaption names; sets ItemCount,
// ItemBytes and ItemSizeText.
void RunDataFileItem(CleanContext& ctx, std::string_view fileName, std::string_view logCaption);

// Makes RunDataFileItem the table's routine for custom lists and for every
// caption without a routine of its own.
void addDataFileItems(ItemTable& table);

}  // namespace brisko
