#include "cleaner/folder_guards.h"

#include <algorithm>
#include <string>

#include "base/text.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void addPlace(FileApi& files, std::vector<PlaceId>& places, const std::string& folder) {
    if (folder.empty()) return;
    if (auto id = files.placeId(folder))
        if (std::find(places.begin(), places.end(), *id) == places.end()) places.push_back(*id);
}

}  // namespace

FolderGuards::FolderGuards(Machine& machine) : machine_(machine) {
    auto& files = machine.files();
    for (const auto& d : files.drives()) addPlace(files, roots_, std::string{d.letter, ':', '\\'});

    for (const auto& f : documentFolderNames(machine)) addPlace(files, documents_, f);
}

std::vector<std::string> documentFolderNames(Machine& machine) {
    std::vector<std::string> out;
    const std::string docs = MyDocumentsFolder(machine);
    if (!docs.empty()) {
        out.push_back(docs);
        out.push_back(docs + "My Pictures");
    }
    for (auto key : {kUserShellFolders, kShellFolders}) {
        const std::string pictures =
            ReadRegString(machine.registry(), RootKey::CurrentUser, key, "My Pictures");
        if (!pictures.empty()) out.push_back(machine.expandEnvironmentStrings(pictures));
    }
    // From Vista on, the pictures live beside the documents in the profile.
    const std::string profile = machine.specialFolder(CSIDL_PROFILE);
    if (!profile.empty()) out.push_back(includeTrailingBackslash(profile) + "Pictures");
    return out;
}

std::vector<std::string> folderWithParents(std::string folder) {
    std::vector<std::string> out;
    folder = excludeTrailingBackslash(folder);
    while (folder.size() > 2) {
        out.push_back(folder);
        size_t slash = folder.find_last_of("\\/");
        if (slash == std::string::npos) break;
        folder.resize(slash);
    }
    if (folder.size() == 2 && folder[1] == ':') out.push_back(folder + "\\");
    return out;
}

GuardedFolder FolderGuards::classify(std::string_view folder) const {
    auto id = machine_.files().placeId(folder);
    if (!id) return GuardedFolder::None;
    if (std::find(roots_.begin(), roots_.end(), *id) != roots_.end())
        return GuardedFolder::DriveRoot;
    if (std::find(documents_.begin(), documents_.end(), *id) != documents_.end())
        return GuardedFolder::Documents;
    return GuardedFolder::None;
}

bool isSystemPlace(Machine& machine, std::string_view folder) {
    auto& files = machine.files();
    auto id = files.placeId(folder);
    if (!id) return false;
    std::vector<PlaceId> places;
    for (const auto& f : {machine.windowsDirectory(), machine.systemDirectory(),
                          machine.specialFolder(CSIDL_PROFILE), ProgramFilesFolder(machine)})
        if (!f.empty())
            for (const auto& p : folderWithParents(f)) addPlace(files, places, p);
    return std::find(places.begin(), places.end(), *id) != places.end();
}

}  // namespace brisko
