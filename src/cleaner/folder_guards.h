#pragma once
// The folders a clean must not empty unasked or at all, known by place rather
// than by spelling: "C:\.", "C:\\", "..", "/", 8.3 aliases, case and links all
// name the same folder, and a guard has to see through every one of them.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/file_api.h"

namespace brisko {

class Machine;

enum class GuardedFolder {
    None,
    DriveRoot,  // the root of any drive
    Documents,  // the documents folder, or a pictures folder ("My Pictures", Vista's "Pictures")
};

class FolderGuards {
  public:
    explicit FolderGuards(Machine& machine);
    GuardedFolder classify(std::string_view folder) const;

  private:
    Machine& machine_;
    std::vector<PlaceId> roots_;
    std::vector<PlaceId> documents_;
};

// The documents folder and the pictures folders as the machine names them:
// the documents folder and its "My Pictures", the "My Pictures" shell folder
// (expanded), and the profile's "Pictures" (Vista on). Missing ones are left out.
std::vector<std::string> documentFolderNames(Machine& machine);

// The folder and every folder above it, its drive root ("C:\") last.
std::vector<std::string> folderWithParents(std::string folder);

// True when folder is the Windows, system, Program Files or profile folder,
// or a folder holding one of them: never a temporary folder, whatever TEMP says.
bool isSystemPlace(Machine& machine, std::string_view folder);

}  // namespace brisko
