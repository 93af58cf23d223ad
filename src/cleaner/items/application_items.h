#pragma once
// The "Applications" group: the sections of apls.dat whose application is
// installed on the machine, found at start from the programs' uninstall
// entries, and run like any other section of the file.
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class CheckTree;
class Machine;
struct DataFileSection;

// The names an installed program may match a section by: the section's own
// name and, for an application known under more than one name, the entries of
// its "Match" lines ("Match1=Adobe Acrobat Reader"). Lines without "DelFile"
// or "DelRegValue" mean nothing to the clean routine, so older programs read
// the file the same.
std::vector<std::string> sectionMatchNames(const DataFileSection& section);

// True when one name holds the other as whole words, without regard to case:
// "VLC media player" and "VLC media player 2.0.5" match, "Paint" and
// "Paint.NET" do not, and the shorter name needs three letters or digits, so a
// program called "Go" or "R" matches nothing.
bool applicationNamesMatch(std::string_view sectionName, std::string_view displayName);

// The display names of the installed programs, in registry order: the
// machine-wide uninstall entries, the 32-bit ones on 64-bit Windows, then the
// user's own (programs installed for one user only). Entries without a name are
// left out.
std::vector<std::string> installedProgramNames(Machine& machine);

// The sections that belong under "Applications", in the order installed
// programs first match them, each once.
std::vector<std::string> matchApplicationSections(const std::vector<DataFileSection>& sections,
                                                  const std::vector<std::string>& displayNames);

// Adds the installed applications of apls.dat to the tree's "Applications"
// group (a top-level node of that caption in any case), skipping captions the
// group has already. Returns how many were added; 0 without the group or the
// file.
int BuildApplicationsNode(Machine& machine, CheckTree& tree);

}  // namespace brisko
