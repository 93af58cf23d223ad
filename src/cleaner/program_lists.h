#pragma once
// The list files the program reads: "Custom.dat", the user's own lists, lives
// only in the machine's program folder; "apls.dat", the lists the program
// ships, comes from there when the machine holds one, else from the program's
// own installation, else from the copy built into the program. An offline disk
// has no Brisko installed in it, yet its applications are to be cleaned.
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class Machine;

enum class ListOrigin {
    Missing,        // nowhere
    Machine,        // the machine's program folder
    Installed,      // the installed data folder (share/brisko)
    BesideProgram,  // the folder of the executable
    BuiltIn,        // the copy in the program
};

struct ProgramList {
    std::string text;  // without a UTF-8 byte-order mark
    ListOrigin origin = ListOrigin::Missing;
    std::string where;  // the Windows path, the host path, or empty
};

// Host folders that may hold the lists the program ships, in the order they
// are searched: the installed data folder (beside the executable as
// ../share/brisko, then the one of the prefix it was built for), then the
// executable's own folder. Each tagged with its origin.
struct ListFolder {
    std::string path;
    ListOrigin origin;
};
std::vector<ListFolder> installedListFolders();

ProgramList loadProgramList(Machine& machine, std::string_view fileName);
// The same, with the host folders given (tests).
ProgramList loadProgramList(Machine& machine, std::string_view fileName,
                            const std::vector<ListFolder>& hostFolders);

// "the machine's program folder", "the installed data folder", ...
const char* listOriginText(ListOrigin origin);

}  // namespace brisko
