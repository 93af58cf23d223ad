#include "cleaner/folder_guards.h"

#include <algorithm>
#include <string>

#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/text.h"

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

// The folder and every folder above it, up to its drive root.
std::vector<std::string> withParents(std::string folder) {
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

}  // namespace

FolderGuards::FolderGuards(Machine& machine) : machine_(machine) {
    auto& files = machine.files();
    for (const auto& d : files.drives()) addPlace(files, roots_, std::string{d.letter, ':', '\\'});

    const std::string docs = MyDocumentsFolder(machine);
    addPlace(files, documents_, docs);
    if (!docs.empty()) addPlace(files, documents_, docs + "My Pictures");
    // From Vista on, the pictures live beside the documents in the profile.
    for (auto key : {kUserShellFolders, kShellFolders}) {
        std::string pictures =
            ReadRegString(machine.registry(), RootKey::CurrentUser, key, "My Pictures");
        if (!pictures.empty())
            addPlace(files, documents_, machine.expandEnvironmentStrings(pictures));
    }
    const std::string profile = machine.specialFolder(CSIDL_PROFILE);
    if (!profile.empty())
        addPlace(files, documents_, includeTrailingBackslash(profile) + "Pictures");
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
            for (const auto& p : withParents(f)) addPlace(files, places, p);
    return std::find(places.begin(), places.end(), *id) != places.end();
}

}  // namespace brisko
