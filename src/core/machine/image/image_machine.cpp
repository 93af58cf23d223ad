#include "core/machine/image/image_machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "base/text.h"
#include "core/machine/environment.h"
#include "core/machine/image/commit_journal.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/image/image_restore_points.h"
#include "core/machine/image/internet_services.h"
#include "core/machine/image/machine_ini.h"
#include "core/machine/image/machine_lock.h"
#include "core/machine/image/shortcut_reader.h"
#include "core/machine/registry_key.h"

namespace fs = std::filesystem;

namespace brisko {

namespace {
constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::string_view kProfileList =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// An image has an empty clipboard that can always be emptied.
class ImageClipboard : public ClipboardService {
  public:
    bool hasData() override { return false; }
    bool empty() override { return true; }
};

struct Profile {
    std::string sid;
    std::string path;  // Windows path, expanded
};

bool isInside(const fs::path& child, const fs::path& root) {
    auto c = child.lexically_normal().string();
    auto r = root.lexically_normal().string();
    if (!r.empty() && r.back() == '/') r.pop_back();
    return c == r || (c.size() > r.size() && c.compare(0, r.size(), r) == 0 && c[r.size()] == '/');
}
}  // namespace

struct ImageMachine::State {
    std::function<void(ReplaceStep)> replaceProbe;
    std::unique_ptr<ImageRestorePoints> restorePoints;
    MachineIni ini;
    std::string windowsDir;  // "C:\Windows"
    std::vector<Profile> profiles;
    UserAccount user;
    OsVersion version;
    bool wow64 = false;
    Environment env;
    ImageClipboard clipboard;
    ImageInternetServices internet;
};

ImageMachine::ImageMachine(const fs::path& folder, MachineAccess access,
                           std::chrono::milliseconds lockWait)
    : state_(std::make_unique<State>()) {
    // The services only keep a reference to the machine.
    state_->internet = makeImageInternetServices(*this);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw MachineOpenError{"There is no machine at " + folder.string() +
                               ": the folder does not exist."};
    folder_ = fs::canonical(folder, ec);
    try {
        state_->ini = readMachineIni(folder_);
    } catch (const std::exception& e) {
        throw MachineOpenError{e.what()};
    }

    std::vector<DriveInfo> drives = state_->ini.drives;
    if (std::none_of(drives.begin(), drives.end(), [](auto& d) { return d.letter == 'C'; })) {
        DriveInfo c;
        c.letter = 'C';
        c.kind = DriveKind::Fixed;
        c.device = "\\Device\\HarddiskVolume2";
        c.hostPath = ".";
        drives.insert(drives.begin(), c);
    }
    for (auto& d : drives) {
        if (d.hostPath.empty()) continue;
        fs::path host =
            fs::path(d.hostPath).is_absolute() ? fs::path(d.hostPath) : folder_ / d.hostPath;
        host = fs::weakly_canonical(host, ec);
        if (!isInside(host, folder_))
            throw MachineOpenError{std::string("machine.ini: drive ") + d.letter +
                                   ": its folder lies outside the machine folder."};
        d.hostPath = host.string();
    }
    std::sort(drives.begin(), drives.end(), [](auto& a, auto& b) { return a.letter < b.letter; });
    files_ = std::make_unique<ImageFileApi>(folder_, drives);

    for (const char* name : {"C:\\Windows", "C:\\WINNT"}) {
        if (files_->directoryExists(std::string(name) + "\\System32\\config")) {
            state_->windowsDir = name;
            break;
        }
    }
    if (state_->windowsDir.empty())
        throw MachineOpenError{"The folder " + folder_.string() +
                               " holds no Windows installation: there is no "
                               "Windows\\System32\\config folder with registry hives."};

    // What a commit cut short left behind is dealt with before any hive is
    // read, and only with the lock: a writer at work is left alone.
    auto lock = std::make_unique<MachineLock>(folder_);
    std::string why;
    bool locked = lock->acquire(
        access == MachineAccess::Write ? lockWait : std::chrono::milliseconds(0), &why);
    if (access == MachineAccess::Write && !locked) throw MachineOpenError{why, true};
    CommitRecovery recovery;
    if (locked) recovery = finishInterruptedCommit(folder_);
    if (locked) finishInterruptedReplacements();
    openRegistry();
    for (auto& p : recovery.problems) warnings_.push_back(std::move(p));
    if (locked) {
        // Copies the journal still names wait for the next open to be put in place.
        const auto waiting = journalNewFiles(folder_);
        for (const auto& h : registry_->hiveStatus())
            removeStrayHiveCopies(h.mount.hostFile, waiting);
        removeStrayMachineTemps(folder_);
        removeStrayRestoreCopies();
    }
    if (access == MachineAccess::Write) registry_->adoptWriteLock(std::move(lock));
}

ImageMachine::~ImageMachine() {
    // Only what a job committed is kept; the rest is forgotten.
    if (registry_) registry_->close();
}

// A restore point's copy of a hive that no pending replacement names is what
// a restore cut short left (restores hold the lock, as this does).
void ImageMachine::removeStrayRestoreCopies() {
    std::vector<fs::path> waiting;
    for (const auto& r : registry_->pendingReplacements())
        if (auto host = files_->resolve(r.newFile, false)) waiting.push_back(*host);
    for (const auto& h : registry_->hiveStatus()) {
        fs::path copy = h.mount.hostFile;
        copy += ".rp";
        struct stat st {};
        if (::lstat(copy.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (std::find(waiting.begin(), waiting.end(), copy) == waiting.end())
            ::unlink(copy.c_str());
    }
}

void ImageMachine::reloadRegistry() {
    if (registry_) registry_->close();
    files_->setRegistry(nullptr);
    registry_.reset();
    state_->profiles.clear();
    openRegistry();
}

void ImageMachine::openRegistry() {
    auto& st = *state_;
    auto config = st.windowsDir + "\\System32\\config\\";
    auto device = files_->queryDosDevice("C:");
    std::vector<std::string> unmounted;
    // A hive the machine must have (mustExist), or anything at a hive's name
    // that cannot be mounted, is said rather than passed over.
    auto hiveSpec = [&](std::string mount, const std::string& winFile,
                        bool mustExist = false) -> std::optional<HiveSpec> {
        auto host = files_->resolve(winFile);
        if (!host) {
            // Something at the name (a link, a folder) that resolving refused.
            struct stat st {};
            const size_t slash = winFile.rfind('\\');
            auto parent = files_->resolve(winFile.substr(0, slash));
            if (files_->fileInfo(winFile) ||
                (parent && slash != std::string::npos &&
                 ::lstat((*parent / winFile.substr(slash + 1)).c_str(), &st) == 0))
                unmounted.push_back("The hive file " + winFile +
                                    " is a link or not a regular file; it is not mounted.");
            else if (mustExist)
                unmounted.push_back("The hive file " + winFile + " is missing; it is not mounted.");
            return std::nullopt;
        }
        auto resolvedWin = files_->toWindowsPath(*host).value_or(winFile);
        return HiveSpec{std::move(mount), *host, resolvedWin, device + resolvedWin.substr(2)};
    };
    std::vector<HiveSpec> hives;
    for (const char* name : {"SYSTEM", "SOFTWARE", "SAM", "SECURITY"})
        if (auto s = hiveSpec(std::string("\\REGISTRY\\MACHINE\\") + name, config + name, true))
            hives.push_back(*s);
    if (hives.empty() || !files_->fileExists(config + "SOFTWARE") ||
        !files_->fileExists(config + "SYSTEM"))
        throw MachineOpenError{"The folder " + folder_.string() +
                               " holds no Windows installation: the SYSTEM and SOFTWARE hives "
                               "are missing from " +
                               config};
    if (auto s = hiveSpec("\\REGISTRY\\USER\\.DEFAULT", config + "DEFAULT", true))
        hives.push_back(*s);

    auto resolver = [this](std::string_view p) { return files_->resolve(p, false); };
    auto pending = folder_ / kPendingHivesFile;

    // The profiles are listed in SOFTWARE: read it alone first.
    {
        ImageRegistry machineOnly(hives, "", resolver, pending);
        for (const auto& e : machineOnly.errors()) warnings_.push_back(e);
        readVersionAndProfiles(machineOnly);
    }
    for (const auto& p : st.profiles) {
        auto ntuser = hiveSpec("\\REGISTRY\\USER\\" + p.sid, p.path + "\\NTUSER.DAT");
        if (!ntuser) continue;
        hives.push_back(*ntuser);
        for (const char* rel :
             {"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
              "\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat"}) {
            if (auto cls = hiveSpec("\\REGISTRY\\USER\\" + p.sid + "_Classes", p.path + rel)) {
                hives.push_back(*cls);
                break;
            }
        }
    }
    registry_ = std::make_unique<ImageRegistry>(hives, st.user.sid, resolver, pending);
    warnings_.clear();
    for (const auto& e : registry_->errors()) warnings_.push_back(e);
    for (const auto& u : unmounted) warnings_.push_back(u);
    unmounted_ = std::move(unmounted);
    files_->setRegistry(registry_.get());
    // Files waiting to replace a hive are held open until the restart, as Windows holds them.
    registry_->setScheduledHook([this](const std::string& f) { files_->lockFile(f); });
    for (const auto& r : registry_->pendingReplacements()) files_->lockFile(r.newFile);
    std::vector<fs::path> hiveFiles;
    for (const auto& h : hives) hiveFiles.push_back(h.hostFile);
    files_->setLoadedHives(hiveFiles);
    files_->setSysnative(st.wow64 ? st.windowsDir : std::string());
    buildEnvironment();
}

void ImageMachine::readVersionAndProfiles(RegistryApi& reg) {
    auto& st = *state_;
    RegistryKey key(reg, RootKey::LocalMachine);
    if (key.openKeyReadOnly(kCurrentVersion)) {
        auto cv = key.readString("CurrentVersion").value_or("6.1");
        auto parts = split(cv, '.');
        st.version.major = std::atoi(parts[0].c_str());
        st.version.minor = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
        if (auto major = key.readInteger("CurrentMajorVersionNumber")) {
            st.version.major = *major;
            st.version.minor = key.readInteger("CurrentMinorVersionNumber").value_or(0);
        }
        st.version.build = std::atoi(key.readString("CurrentBuildNumber").value_or("0").c_str());
        st.version.servicePack = key.readString("CSDVersion").value_or("");
        st.version.productName = key.readString("ProductName").value_or("");
    }
    if (st.ini.version) {
        auto parts = split(*st.ini.version, '.');
        st.version.major = std::atoi(parts[0].c_str());
        st.version.minor = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
        st.version.build = parts.size() > 2 ? std::atoi(parts[2].c_str()) : 0;
    }
    if (st.ini.platform)
        st.version.platform =
            equalsNoCase(*st.ini.platform, "9x") ? OsVersion::Win9x : OsVersion::NT;

    Environment base;
    base.set("SystemDrive", "C:");
    base.set("SystemRoot", st.windowsDir);
    if (key.openKeyReadOnly("\\" + std::string(kProfileList))) {
        auto profilesDir = key.readString("ProfilesDirectory").value_or("%SystemDrive%\\Users");
        for (const auto& sid : key.subkeyNames()) {
            if (sid.rfind("S-1-5-21-", 0) != 0) continue;  // interactive accounts only
            RegistryKey pk(reg, RootKey::LocalMachine);
            if (!pk.openKeyReadOnly(std::string(kProfileList) + "\\" + sid)) continue;
            auto path = pk.readString("ProfileImagePath");
            if (!path) continue;
            st.profiles.push_back({sid, base.expand(*path)});
        }
        // "<SID>.bak" is what a temporary-profile incident leaves behind; it
        // names the same profile folder, which is mounted under the real SID.
        std::stable_partition(st.profiles.begin(), st.profiles.end(),
                              [](const Profile& p) { return !endsWithNoCase(p.sid, ".bak"); });
    }
    const Profile* chosen = st.profiles.empty() ? nullptr : &st.profiles.front();
    if (st.ini.user) {
        chosen = nullptr;
        for (const auto& p : st.profiles)
            if (!chosen &&
                (equalsNoCase(extractFileName(p.path), *st.ini.user) || p.sid == *st.ini.user))
                chosen = &p;
        if (!chosen)
            throw MachineOpenError{"machine.ini names the user \"" + *st.ini.user +
                                   "\", who has no profile on this machine."};
    }
    if (chosen) st.user = {extractFileName(chosen->path), chosen->sid, chosen->path};
    st.wow64 = st.ini.is64Bit.value_or(files_->directoryExists(st.windowsDir + "\\SysWOW64"));
}

void ImageMachine::buildEnvironment() {
    auto& st = *state_;
    Environment env;
    env.set("SystemDrive", "C:");
    env.set("SystemRoot", st.windowsDir);
    env.set("windir", st.windowsDir);
    env.set("ComputerName", "BRISKO-DEMO");
    RegistryKey key(*registry_, RootKey::LocalMachine);
    auto loadVars = [&](RegistryKey& k) {
        for (const auto& name : k.valueNames())
            if (auto v = k.readString(name)) env.set(name, *v);
    };
    if (key.openKeyReadOnly("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"))
        loadVars(key);
    if (key.openKeyReadOnly("\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName"))
        if (auto n = key.readString("ComputerName")) env.set("ComputerName", *n);
    if (key.openKeyReadOnly("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion")) {
        env.setDefault("ProgramFiles",
                       key.readString("ProgramFilesDir").value_or("C:\\Program Files"));
        env.setDefault(
            "CommonProgramFiles",
            key.readString("CommonFilesDir").value_or("C:\\Program Files\\Common Files"));
    }
    if (key.openKeyReadOnly("\\" + std::string(kProfileList))) {
        env.setDefault("ALLUSERSPROFILE",
                       key.readString("ProgramData").value_or("C:\\ProgramData"));
        env.setDefault("ProgramData", key.readString("ProgramData").value_or("C:\\ProgramData"));
        env.setDefault("PUBLIC", key.readString("Public").value_or("C:\\Users\\Public"));
    }
    if (!st.user.sid.empty()) {
        env.set("USERNAME", st.user.name);
        env.set("USERPROFILE", st.user.profile);
        env.set("HOMEDRIVE", st.user.profile.substr(0, 2));
        env.set("HOMEPATH", st.user.profile.substr(2));
        RegistryKey user(*registry_, RootKey::CurrentUser);
        if (user.openKeyReadOnly("Volatile Environment")) loadVars(user);
        if (user.openKeyReadOnly("\\" + std::string(kShellFolders))) {
            if (auto a = user.readString("AppData")) env.setDefault("APPDATA", *a);
            if (auto a = user.readString("Local AppData")) env.setDefault("LOCALAPPDATA", *a);
        }
        if (user.openKeyReadOnly("\\Environment")) loadVars(user);
    }
    st.env = std::move(env);
}

RegistryApi& ImageMachine::registry() {
    return *registry_;
}
FileApi& ImageMachine::files() {
    return *files_;
}
OsVersion ImageMachine::version() {
    return state_->version;
}
bool ImageMachine::isWow64() {
    return state_->wow64;
}
UserAccount ImageMachine::currentUser() {
    return state_->user;
}
bool ImageMachine::isAdministrator() {
    return state_->ini.administrator.value_or(true);
}
bool ImageMachine::enablePrivilege(std::string_view) {
    return isAdministrator();
}

std::string ImageMachine::expandEnvironmentStrings(std::string_view s) {
    return state_->env.expand(s);
}

std::string ImageMachine::windowsDirectory() {
    return state_->windowsDir;
}
std::string ImageMachine::systemDirectory() {
    return state_->windowsDir + "\\system32";
}

std::string ImageMachine::tempPath() {
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        auto v = state_->env.get(name);
        if (v.empty() || !files_->directoryExists(v)) continue;
        return includeTrailingBackslash(v);
    }
    return includeTrailingBackslash(state_->windowsDir);
}

std::string ImageMachine::specialFolder(int csidl) {
    struct Entry {
        int csidl;
        const char* value;
        bool common;
        const char* fallback;  // relative to the profile (or ProgramData for common ones)
    };
    static const Entry kEntries[] = {
        {CSIDL_PROGRAMS, "Programs", false,
         "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {CSIDL_PERSONAL, "Personal", false, "\\Documents"},
        {CSIDL_STARTUP, "Startup", false,
         "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {CSIDL_RECENT, "Recent", false, "\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {CSIDL_STARTMENU, "Start Menu", false,
         "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {CSIDL_DESKTOPDIRECTORY, "Desktop", false, "\\Desktop"},
        {CSIDL_FONTS, "Fonts", false, nullptr},
        {CSIDL_COMMON_STARTMENU, "Common Start Menu", true, "\\Microsoft\\Windows\\Start Menu"},
        {CSIDL_COMMON_PROGRAMS, "Common Programs", true,
         "\\Microsoft\\Windows\\Start Menu\\Programs"},
        {CSIDL_COMMON_STARTUP, "Common Startup", true,
         "\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {CSIDL_COMMON_DESKTOPDIRECTORY, "Common Desktop", true, nullptr},
        {CSIDL_APPDATA, "AppData", false, "\\AppData\\Roaming"},
        {CSIDL_INTERNET_CACHE, "Cache", false,
         "\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files"},
        {CSIDL_COOKIES, "Cookies", false, "\\AppData\\Roaming\\Microsoft\\Windows\\Cookies"},
        {CSIDL_HISTORY, "History", false, "\\AppData\\Local\\Microsoft\\Windows\\History"},
        {CSIDL_PROFILE, nullptr, false, ""},
    };
    auto& st = *state_;
    for (const auto& e : kEntries) {
        if (e.csidl != csidl) continue;
        if (!e.common && st.user.sid.empty()) return {};
        std::string path;
        if (e.value) {
            RegistryKey key(*registry_, e.common ? RootKey::LocalMachine : RootKey::CurrentUser);
            for (auto sub : {kUserShellFolders, kShellFolders}) {
                if (!key.openKeyReadOnly("\\" + std::string(sub))) continue;
                if (auto v = key.readString(e.value); v && !v->empty()) {
                    path = st.env.expand(*v);
                    break;
                }
            }
        }
        if (path.empty()) {
            if (csidl == CSIDL_FONTS) {
                path = st.windowsDir + "\\Fonts";
            } else if (csidl == CSIDL_COMMON_DESKTOPDIRECTORY) {
                path = st.env.get("PUBLIC") + "\\Desktop";
            } else if (e.fallback) {
                path = (e.common ? st.env.get("ProgramData") : st.user.profile) + e.fallback;
            }
        }
        return path.empty() ? path : includeTrailingBackslash(path);
    }
    return {};
}

std::string ImageMachine::programFolder() {
    return includeTrailingBackslash(
        state_->ini.programFolder.value_or(state_->env.get("ProgramFiles") + "\\Brisko Cleaner"));
}

bool ImageMachine::shellExecute(std::string_view, std::string_view, std::string_view) {
    return false;  // nothing on an image can be opened in a shell
}

ProcessResult ImageMachine::runProcess(std::string_view, bool, std::stop_token) {
    return {};
}
std::vector<WindowRef> ImageMachine::topLevelWindows() {
    return {};
}
bool ImageMachine::showWindow(uint64_t, bool) {
    return false;
}

std::string ImageMachine::shortcutTarget(std::string_view lnkPath) {
    auto host = files_->resolve(lnkPath);
    if (!host || !fs::is_regular_file(*host)) return {};
    bool fromEnvironment = false;
    std::string target = readShortcutTarget(*host, &fromEnvironment);
    // As IShellLink::GetPath gives it: "%windir%\system32\..." expanded.
    return fromEnvironment ? expandEnvironmentStrings(target) : target;
}

bool ImageMachine::restart() {
    if (!registry_->commit()) return false;
    // Clearing the pending list is itself a registry change that must reach the hive.
    bool ok = files_->carryOutPendingRenames();
    ok = registry_->commit() && ok;
    auto replacements = registry_->pendingReplacements();
    if (replacements.empty()) return ok;
    fs::path listFile = registry_->pendingListFile();
    registry_->close();
    files_->setRegistry(nullptr);
    {
        // Hive files are moved as a writer would change them: under the lock.
        MachineLock lock(folder_);
        if (!lock.acquire(kMachineLockWait)) {
            ok = false;
        } else {
            std::vector<PendingReplace> left;
            for (size_t i = 0; i < replacements.size(); ++i) {
                auto& r = replacements[i];
                auto hive = files_->resolve(r.hiveFile, false);
                auto newFile = files_->resolve(r.newFile, false);
                auto oldFile = files_->resolve(r.oldFile, false);
                bool done = false;
                if (!hive || !newFile || !oldFile) {
                    r.reason = "a file of the replacement lies outside the machine";
                } else {
                    files_->unlockFile(r.newFile);
                    // What is written before the files move: a copy made again
                    // keeps its identity across a restart cut short.
                    auto persist = [&] {
                        auto list = left;
                        list.insert(list.end(), replacements.begin() + long(i), replacements.end());
                        writePendingList(listFile, list);
                    };
                    done = carryOutReplacement(r, {*hive, *newFile, *oldFile}, persist,
                                               state_->replaceProbe);
                }
                if (!done) {
                    left.push_back(r);
                    ok = false;
                }
            }
            if (!writePendingList(listFile, left)) ok = false;
        }
    }
    registry_.reset();
    state_->profiles.clear();
    openRegistry();
    return ok;
}

void ImageMachine::finishInterruptedReplacements() {
    fs::path listFile = folder_ / kPendingHivesFile;
    auto list = readPendingList(listFile);
    bool changed = false;
    for (auto it = list.begin(); it != list.end();) {
        auto hive = files_->resolve(it->hiveFile, false);
        auto newFile = files_->resolve(it->newFile, false);
        auto oldFile = files_->resolve(it->oldFile, false);
        std::optional<bool> done;
        if (hive && newFile && oldFile)
            done = finishInterruptedReplacement(*it, {*hive, *newFile, *oldFile});
        if (!done) {
            ++it;
            continue;
        }
        changed = true;
        if (*done) {
            it = list.erase(it);
        } else {
            warnings_.push_back("The replacement of the hive " + it->hiveFile +
                                " was cut short and cannot be finished: " + it->reason);
            ++it;
        }
    }
    if (changed) writePendingList(listFile, list);
}

void ImageMachine::setReplaceProbe(std::function<void(ReplaceStep)> probe) {
    state_->replaceProbe = std::move(probe);
}

ClipboardService* ImageMachine::clipboard() {
    return &state_->clipboard;
}
ProtectedStorageService* ImageMachine::protectedStorage() {
    return state_->internet.protectedStorage.get();
}
UrlCacheService* ImageMachine::urlCache() {
    return state_->internet.cache.get();
}
UrlHistoryService* ImageMachine::urlHistory() {
    return state_->internet.history.get();
}
RestorePointService* ImageMachine::restorePoints() {
    if (!state_->restorePoints) state_->restorePoints = std::make_unique<ImageRestorePoints>(*this);
    return state_->restorePoints.get();
}
HotkeyService* ImageMachine::hotkeys() {
    return nullptr;
}

}  // namespace brisko
