#pragma once
// The registry scan sections as a tree: "My Computers" at the root,
// "Files and Folders" with the four hives below it, and the other sections as
// direct children of the root. A node's image index and data are its section
// code (1..25), the index of its stored check state.
#include <string>
#include <string_view>
#include <vector>

#include "core/check_tree.h"

namespace brisko {

enum SectionCode : int {
    kSecMyComputers = 1,
    kSecFilesAndFolders = 2,
    kSecClassesRoot = 3,
    kSecCurrentUser = 4,
    kSecLocalMachine = 5,
    kSecUsers = 6,
    kSecSharedDlls = 7,
    kSecSoftwareLocations = 8,
    kSecStartMenu = 9,
    kSecObsoleteSoftware = 10,
    kSecFileExtensions = 11,
    kSecFonts = 12,
    kSecHelpFiles = 13,
    kSecStartupPrograms = 14,
    kSecAddRemovePrograms = 15,
    kSecCustomControls = 16,
    kSecWindowsServices = 17,
    kSecShortcuts = 18,
    kSecSoundAppevents = 19,
    kSecInvalidActiveX = 20,
    kSecInstaller = 21,
    kSecApplications = 22,
    kSecUninstallerEntry = 23,
    kSecMruLists = 24,
    kSecEmptyKeys = 25,
};
inline constexpr int kSectionCount = 25;

struct SectionDef {
    int code;
    std::string_view caption;
    int parentCode;  // 0 for the root
};

// Codes 1..25 in tree order.
const std::vector<SectionDef>& sectionCatalog();
// Caption of a section code; empty for an unknown code.
std::string_view sectionCaption(int code);

// Builds the tree, every node checked and expanded (the scan shows it fully
// expanded; the stored check states are applied at show).
CheckTree buildSectionTree();

// Codes of the checked nodes, root first, depth first: the sections handed to
// a scan.
std::vector<int> checkedSectionCodes(const CheckTree& tree);

}  // namespace brisko
