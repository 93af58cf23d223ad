#pragma once
// "Backup Full Registry..." of the Tools pane: the whole registry exported to
// a .reg file the user names, by the registry editor, with the progress hint.
#include <string>

class QWidget;

namespace brisko {

class Machine;
class Prompter;

inline constexpr const char* kFullBackupTitle = "Save full registry";
inline constexpr const char* kFullBackupFilter = "Registry backup files (*.reg *.REG)";
inline constexpr const char* kFullBackupHint = "Backup registry...";

// Asks for the file, then exports. True when the export ran to its end.
bool bBackupFullRegistryClick(Machine& machine, Prompter& prompter, QWidget* parent);
// The export to a chosen file (".reg" added when the name lacks it; an
// existing file only after "... has existed,overite it?").
bool backupFullRegistryTo(Machine& machine, Prompter& prompter, const std::string& chosen,
                          QWidget* parent);

}  // namespace brisko
