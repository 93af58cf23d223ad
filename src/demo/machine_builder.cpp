#include "demo/machine_builder.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

#include "base/text.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "hive/regf_writer.h"

namespace fs = std::filesystem;

namespace brisko {

using namespace hive;

namespace {

enum HiveIndex { Software, System, Sam, Security, Default, NtUser, UsrClass };
constexpr std::array<std::string_view, 7> kHiveNames{"SOFTWARE", "SYSTEM", "SAM",     "SECURITY",
                                                     "DEFAULT",  "NTUSER", "USRCLASS"};

std::vector<std::string> keyParts(std::string_view path) {
    std::vector<std::string> parts;
    for (auto& p : split(path, '\\'))
        if (!p.empty()) parts.push_back(std::move(p));
    return parts;
}

std::string joinParts(const std::vector<std::string>& parts, size_t from = 0) {
    std::string out;
    for (size_t i = from; i < parts.size(); ++i) {
        if (!out.empty()) out += '\\';
        out += parts[i];
    }
    return out;
}

std::string joinPath(std::string a, std::string_view b) {
    if (b.empty()) return a;
    if (a.empty()) return std::string(b);
    return a + "\\" + std::string(b);
}

// parts with the leading components of prefix removed, when they match.
bool stripPrefix(std::vector<std::string>& parts, std::string_view prefix) {
    auto want = keyParts(prefix);
    if (parts.size() < want.size()) return false;
    for (size_t i = 0; i < want.size(); ++i)
        if (!equalsNoCase(parts[i], want[i])) return false;
    parts.erase(parts.begin(), parts.begin() + std::ptrdiff_t(want.size()));
    return true;
}

std::vector<uint8_t> dword(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

void setIfMissing(RegTreeKey& key, std::string_view name, uint32_t type,
                  std::vector<uint8_t> data) {
    if (!key.findValue(name)) key.setValue(name, type, std::move(data));
}

// "C:\a\b" -> {"a", "b"}; only drive C: exists, and nothing may climb out of it.
std::vector<std::string> windowsPathParts(std::string_view winPath) {
    std::string p(winPath);
    for (auto& c : p)
        if (c == '/') c = '\\';
    if (p.size() < 2 || (p[0] != 'C' && p[0] != 'c') || p[1] != ':' ||
        (p.size() > 2 && p[2] != '\\'))
        throw std::invalid_argument("not a path on drive C: \"" + std::string(winPath) + "\"");
    auto parts = keyParts(std::string_view(p).substr(2));
    for (const auto& part : parts) {
        if (part == "." || part == ".." || part.find(':') != std::string::npos ||
            part.find('\0') != std::string::npos)
            throw std::invalid_argument("bad path component in \"" + std::string(winPath) + "\"");
    }
    return parts;
}

bool isPlainName(std::string_view s) {
    return !s.empty() && s != "." && s != ".." &&
           s.find_first_of(std::string_view("\\/:\0", 4)) == std::string_view::npos;
}

// Host folders as they are met, so that "C:\users" and "C:\Users" end up in
// the same folder (found without regard to case), and so that nothing is
// written through a symbolic link planted in the folder.
class HostTree {
  public:
    explicit HostTree(fs::path root) : root_(std::move(root)) {}

    // Host path for the parts; every folder above it is created, and the last
    // part too when it is a folder.
    fs::path prepare(const std::vector<std::string>& parts, bool isFolder) {
        fs::path cur = root_;
        for (size_t i = 0; i < parts.size(); ++i) {
            bool last = i + 1 == parts.size();
            std::string name = entryName(cur, parts[i]);
            fs::path next = cur / name;
            std::error_code ec;
            auto st = fs::symlink_status(next, ec);
            if (fs::is_symlink(st))
                throw std::runtime_error("refusing to write through the symbolic link " +
                                         next.string());
            if (!last || isFolder) {
                if (!fs::exists(st)) {
                    if (!fs::create_directory(next, ec) && ec)
                        throw std::runtime_error("cannot create the folder " + next.string() +
                                                 ": " + ec.message());
                    remember(cur, name);
                } else if (!fs::is_directory(st)) {
                    throw std::runtime_error(next.string() + " is a file, not a folder");
                }
            } else if (fs::is_directory(st)) {
                throw std::runtime_error(next.string() + " is a folder, not a file");
            } else if (!fs::exists(st)) {
                remember(cur, name);
            }
            cur = std::move(next);
        }
        return cur;
    }

  private:
    using Listing = std::unordered_map<std::string, std::string>;  // upper-cased -> real

    std::string entryName(const fs::path& dir, const std::string& name) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
        const Listing& l = listing(dir);
        auto it = l.find(upperCase(name));
        return it == l.end() ? name : it->second;
    }

    Listing& listing(const fs::path& dir) {
        auto [it, added] = dirs_.try_emplace(dir.string());
        if (added) {
            std::error_code ec;
            for (fs::directory_iterator d(dir, ec), end; !ec && d != end; d.increment(ec)) {
                std::string n = d->path().filename().string();
                it->second.emplace(upperCase(n), n);
            }
        }
        return it->second;
    }

    void remember(const fs::path& dir, const std::string& name) {
        listing(dir).emplace(upperCase(name), name);
    }

    fs::path root_;
    std::unordered_map<std::string, Listing> dirs_;
};

void writeContent(const fs::path& path, const std::string& content, int64_t fileTime) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), std::streamsize(content.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write the file " + path.string());
    }
    if (fileTime == 0) return;
    using namespace std::chrono;
    constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
    sys_time<microseconds> when{microseconds((fileTime - kUnixEpochAsFileTime) / 10)};
    std::error_code ec;
    fs::last_write_time(path, file_clock::from_sys(when), ec);
    if (ec) throw std::runtime_error("cannot set the time of " + path.string());
}

}  // namespace

MachineBuilder::MachineBuilder(std::string userName, std::string userSid)
    : userName_(std::move(userName)), userSid_(std::move(userSid)) {
    if (!isPlainName(userName_)) throw std::invalid_argument("bad user name \"" + userName_ + "\"");
    if (!isPlainName(userSid_)) throw std::invalid_argument("bad user SID \"" + userSid_ + "\"");
    for (auto& h : hives_) h.name = "ROOT";
    ensureBaseKeys();
}

RegTreeKey& MachineBuilder::hive(std::string_view name) {
    for (size_t i = 0; i < kHiveNames.size(); ++i)
        if (equalsNoCase(name, kHiveNames[i])) return hives_[i];
    throw std::invalid_argument("no hive named \"" + std::string(name) + "\"");
}

void MachineBuilder::fragmentHive(std::string_view name, uint32_t every, uint32_t bytes) {
    RegTreeKey& h = hive(name);
    holes_[size_t(&h - hives_.data())] = {every, bytes};
}

std::string MachineBuilder::controlSet() {
    uint32_t current = 1;
    if (auto* select = hives_[System].child("Select")) {
        auto* v = select->findValue("Current");
        if (v && v->type == REG_DWORD && v->data.size() == 4) {
            uint32_t n = v->data[0] | (uint32_t(v->data[1]) << 8) | (uint32_t(v->data[2]) << 16) |
                         (uint32_t(v->data[3]) << 24);
            if (n >= 1 && n <= 999) current = n;
        }
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "ControlSet%03u", current);
    return buf;
}

// Where Windows keeps a key: the one table of the builder.
bool MachineBuilder::route(std::string_view fullKeyPath, Route& out) {
    std::string sub;
    auto root = parseRoot(fullKeyPath, &sub);
    if (!root) return false;
    auto parts = keyParts(sub);
    auto to = [&](HiveIndex h, std::string path) {
        out.hive = &hives_[h];
        out.path = std::move(path);
        return true;
    };
    auto user = [&](std::vector<std::string>& rest) {
        if (stripPrefix(rest, "Software\\Classes")) return to(UsrClass, joinParts(rest));
        return to(NtUser, joinParts(rest));
    };
    switch (*root) {
        case RootKey::LocalMachine:
            if (parts.empty()) return false;
            for (HiveIndex h : {Software, System, Sam, Security}) {
                if (!equalsNoCase(parts[0], kHiveNames[h])) continue;
                parts.erase(parts.begin());
                if (h == System && stripPrefix(parts, "CurrentControlSet"))
                    return to(System, joinPath(controlSet(), joinParts(parts)));
                return to(h, joinParts(parts));
            }
            return false;
        case RootKey::ClassesRoot:
            return to(Software, joinPath("Classes", joinParts(parts)));
        case RootKey::CurrentUser:
            return user(parts);
        case RootKey::Users: {
            if (parts.empty()) return false;
            std::string first = parts[0];
            parts.erase(parts.begin());
            if (equalsNoCase(first, ".DEFAULT")) return to(Default, joinParts(parts));
            if (equalsNoCase(first, userSid_)) return user(parts);
            if (equalsNoCase(first, userSid_ + "_Classes")) return to(UsrClass, joinParts(parts));
            return false;
        }
        case RootKey::CurrentConfig:
            return to(System,
                      joinPath(controlSet() + "\\Hardware Profiles\\0001", joinParts(parts)));
    }
    return false;
}

void MachineBuilder::addRegText(std::string_view regText) {
    auto parsed = parseRegText(regText);
    // Check every key first, so that a bad line leaves the machine as it was.
    Route r;
    for (const auto& op : parsed.ops) {
        auto where = "line " + std::to_string(op.line) + ": ";
        if (!route(op.keyPath, r))
            throw RegFileError{where + op.keyPath + " is not kept in any hive of the machine"};
        if (op.kind == RegFileOp::DeleteKey && r.path.empty())
            throw RegFileError{where + "the root key of a hive cannot be deleted"};
    }
    for (const auto& op : parsed.ops) {
        route(op.keyPath, r);  // again: the control set may have changed meanwhile
        switch (op.kind) {
            case RegFileOp::CreateKey:
                r.hive->find(r.path, true);
                break;
            case RegFileOp::DeleteKey: {
                size_t cut = r.path.rfind('\\');
                RegTreeKey* parent =
                    cut == std::string::npos ? r.hive : r.hive->find(r.path.substr(0, cut));
                if (parent) parent->removeChild(r.path.substr(cut + 1));
                break;
            }
            case RegFileOp::SetValue:
                r.hive->find(r.path, true)->setValue(op.valueName, op.type, op.data);
                break;
            case RegFileOp::DeleteValue:
                if (auto* k = r.hive->find(r.path)) k->removeValue(op.valueName);
                break;
        }
    }
}

// What ImageMachine needs to open the folder as a Windows 7 machine.
void MachineBuilder::ensureBaseKeys() {
    auto& select = *hives_[System].find("Select", true);
    setIfMissing(select, "Current", REG_DWORD, dword(1));
    setIfMissing(select, "Default", REG_DWORD, dword(1));
    setIfMissing(select, "Failed", REG_DWORD, dword(0));
    setIfMissing(select, "LastKnownGood", REG_DWORD, dword(1));
    std::string cs = controlSet();
    // HKEY_CURRENT_CONFIG is the hardware profile IDConfigDB names.
    setIfMissing(*hives_[System].find(cs + "\\Control\\IDConfigDB", true), "CurrentConfig",
                 REG_DWORD, dword(1));
    hives_[System].find(cs + "\\Hardware Profiles\\0001", true);
    auto& profile = *hives_[Software].find(
        "Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + userSid_, true);
    setIfMissing(profile, "ProfileImagePath", REG_EXPAND_SZ,
                 utf8ToUtf16le("C:\\Users\\" + userName_));
}

void MachineBuilder::addFile(std::string winPath, std::string content, int64_t fileTimeOrZero) {
    auto parts = windowsPathParts(winPath);
    if (parts.empty()) throw std::invalid_argument("no file name in \"" + winPath + "\"");
    files_.push_back(FileEntry{std::move(parts), std::move(content), fileTimeOrZero});
}

void MachineBuilder::addFolder(std::string winPath) {
    folders_.push_back(windowsPathParts(winPath));
}

void MachineBuilder::write(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw std::runtime_error("cannot create " + folder.string() + ": " + ec.message());
    ensureBaseKeys();

    const std::string config = "\\SystemRoot\\System32\\Config\\";
    const std::string profile = "\\??\\C:\\Users\\" + userName_ + "\\";
    const std::vector<std::string> classesFolder{"Users", userName_,   "AppData",
                                                 "Local", "Microsoft", "Windows"};
    struct HiveFile {
        HiveIndex hive;
        std::vector<std::string> parts;
        std::string embeddedName;
    };
    std::vector<HiveFile> hiveFiles;
    for (HiveIndex h : {Software, System, Sam, Security, Default})
        hiveFiles.push_back({h,
                             {"Windows", "System32", "config", std::string(kHiveNames[h])},
                             config + std::string(kHiveNames[h])});
    hiveFiles.push_back({NtUser, {"Users", userName_, "NTUSER.DAT"}, profile + "ntuser.dat"});
    auto classes = classesFolder;
    classes.push_back("UsrClass.dat");
    hiveFiles.push_back(
        {UsrClass, classes, profile + "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"});

    HostTree tree(folder);
    // Hives first: a file added at a hive's place (a damaged hive for a test) wins.
    for (const auto& hf : hiveFiles) {
        fs::path target = tree.prepare(hf.parts, false);
        RegfWriteOptions options;
        options.embeddedName = hf.embeddedName;
        options.freeCellEvery = holes_[hf.hive].first;
        options.freeCellBytes = holes_[hf.hive].second;
        std::string error;
        if (!writeHiveFile(hives_[hf.hive], target, options, &error))
            throw std::runtime_error("cannot write the hive " + target.string() + ": " + error);
    }
    for (const auto& f : folders_) tree.prepare(f, true);
    for (const auto& f : files_) writeContent(tree.prepare(f.parts, false), f.content, f.fileTime);
}

}  // namespace brisko
