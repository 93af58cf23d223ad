#include "cleaner/clean_catalog.h"

namespace brisko {

const std::vector<CleanGroupDef>& cleanCatalog() {
    static const std::vector<CleanGroupDef> catalog = {
        {"Internet Explorer",
         kImgInternetExplorer,
         {"Recently Typed URLs", "Cookies", "Visited URL History", "Last Download Location",
          "Temporary Internet Files", "Index.dat Files", "Autocomplete History"}},
        {"Netscape",
         kImgNetscape,
         {"Cookies", "Visited URL History", "Temporary Internet Files", "Preferences",
          "Saved Form Information"}},
        {"Opera",
         kImgOpera,
         {"Recently Typed URLs", "Cookies", "Visited URL History", "Temporary Internet Files",
          "Autocomplete History", "Transfers"}},
        {"Mozilla Firefox",
         kImgFirefox,
         {"Cookies", "Visited URL History", "Download Manager", "Temporary Internet Files",
          "Autocomplete History", "Preferences", "Session", "Saved Form Information"}},
        {"Google Chrome",
         kImgChrome,
         {"Temporary Internet Files", "Cookies", "Visited URL History", "Session",
          "Stored passwords in Forms", "Saved Form Information", "Download History",
          "Local Storage"}},
        {"Windows",
         kImgWindows,
         {"Recent Documents", "Start Run", "Search Assistant", "Empty Recycle Bin",
          "Temporary Files", "Clipboard", "Memory Dumps", "Chkdsk File Fragments",
          "Windows Log Files"}},
        {"Advanced",
         kImgAdvanced,
         {"Open File History", "Menu Order Cache", "Tray Notifications Cache",
          "User Assist History", "Paint", "Google Toolbar History", "MSN Toolbar History",
          "Yahoo! Toolbar History"}},
        {"Microsoft Office",
         kImgOffice,
         {"Access", "Excel", "FrontPage", "Powerpoint", "Word", "Visio", "InfoPath", "Publisher",
          "Recent Files"}},
        {"Instant Messengers",
         kImgMessengers,
         {"MSN Messenger", "Yahoo! Messenger", "ICQ", "AOL Instant Messenger", "Skype"}},
        {kApplicationsGroup, kImgApplications, {}},
        {kCustomListsGroup, kImgCustomLists, {kNewListItem}},
    };
    return catalog;
}

CheckTree buildCleanTree() {
    CheckTree tree;
    for (const auto& g : cleanCatalog()) {
        CheckNode& group = tree.addTopLevel(std::string(g.caption), g.imageIndex);
        int pos = 0;
        for (auto item : g.items)
            tree.addChild(group, std::string(item), g.imageIndex, g.imageIndex * 100 + ++pos);
    }
    return tree;
}

CheckNode* applicationsGroup(CheckTree& tree) {
    return tree.topLevelByCaption(kApplicationsGroup);
}

CheckNode* addApplicationItem(CheckTree& tree, std::string caption) {
    CheckNode* group = applicationsGroup(tree);
    if (!group) return nullptr;
    int pos = static_cast<int>(group->children.size()) + 1;
    return &tree.addChild(*group, std::move(caption), kImgApplications,
                          kImgApplications * 100 + pos);
}

std::vector<std::string> checkedJobCaptions(const CheckTree& tree) {
    std::vector<std::string> jobs;
    tree.forEach([&](CheckNode& n) {
        if (n.parent && n.checked) jobs.push_back(logCaption(n));
    });
    return jobs;
}

}  // namespace brisko
