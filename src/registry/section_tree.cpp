#include "registry/section_tree.h"

#include <map>

namespace brisko {

const std::vector<SectionDef>& sectionCatalog() {
    static const std::vector<SectionDef> catalog = {
        {kSecMyComputers, "My Computers", 0},
        {kSecFilesAndFolders, "Files and Folders", kSecMyComputers},
        {kSecClassesRoot, "HKEY_CLASSES_ROOT", kSecFilesAndFolders},
        {kSecCurrentUser, "HKEY_CURRENT_USER", kSecFilesAndFolders},
        {kSecLocalMachine, "HKEY_LOCAL_MACHINE", kSecFilesAndFolders},
        {kSecUsers, "HKEY_USERS", kSecFilesAndFolders},
        {kSecSharedDlls, "Shared DLLs", kSecMyComputers},
        {kSecSoftwareLocations, "Software Locations", kSecMyComputers},
        {kSecStartMenu, "Start Menu Section", kSecMyComputers},
        {kSecObsoleteSoftware, "Obsolete Software", kSecMyComputers},
        {kSecFileExtensions, "File Extensions", kSecMyComputers},
        {kSecFonts, "Fonts Section", kSecMyComputers},
        {kSecHelpFiles, "Help File Paths", kSecMyComputers},
        {kSecStartupPrograms, "Startup Programs", kSecMyComputers},
        {kSecAddRemovePrograms, "Add/Remove Programs", kSecMyComputers},
        {kSecCustomControls, "Custom Controls", kSecMyComputers},
        {kSecWindowsServices, "Windows Services", kSecMyComputers},
        {kSecShortcuts, "Shortcuts", kSecMyComputers},
        {kSecSoundAppevents, "Sound and Appevents", kSecMyComputers},
        {kSecInvalidActiveX, "Invalid ActiveX", kSecMyComputers},
        {kSecInstaller, "Installer", kSecMyComputers},
        {kSecApplications, "Applications", kSecMyComputers},
        {kSecUninstallerEntry, "Uninstaller Entry", kSecMyComputers},
        {kSecMruLists, "MRU History Lists", kSecMyComputers},
        {kSecEmptyKeys, "Empty Keys", kSecMyComputers},
    };
    return catalog;
}

std::string_view sectionCaption(int code) {
    for (const auto& s : sectionCatalog())
        if (s.code == code) return s.caption;
    return {};
}

CheckTree buildSectionTree() {
    CheckTree tree;
    std::map<int, CheckNode*> byCode;
    for (const auto& s : sectionCatalog()) {
        std::string caption(s.caption);
        CheckNode& node = s.parentCode == 0 ? tree.addTopLevel(std::move(caption), s.code, s.code)
                                            : tree.addChild(*byCode.at(s.parentCode),
                                                            std::move(caption), s.code, s.code);
        node.checked = true;
        node.expanded = true;
        byCode[s.code] = &node;
    }
    return tree;
}

std::vector<int> checkedSectionCodes(const CheckTree& tree) {
    std::vector<int> codes;
    tree.forEach([&](CheckNode& n) {
        if (n.checked) codes.push_back(n.imageIndex);
    });
    return codes;
}

}  // namespace brisko
