#pragma once
// The folders a clean must not empty unasked or at all, known by place rather
// than by spelling: "C:\.", "C:\\", "..", "/", 8.3 aliases, case and links all
// name the same folder, and a guard has to see through every one of them.
#include <optional>
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

// True when folder is the Windows, system, Program Files or profile folder,
// or a folder holding one of them: never a temporary folder, whatever TEMP says.
bool isSystemPlace(Machine& machine, std::string_view folder);

}  // namespace brisko
