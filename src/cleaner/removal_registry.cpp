// Registry primitives of the cleaner, and the Wininit.ini rename list.
#include <array>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"
#include "core/temp_name.h"

namespace brisko {

namespace {

constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

// Sub-paths are taken with or without their outer backslashes, as TRegistry
// takes them.
std::string_view trimBackslashes(std::string_view p) {
    while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
    while (!p.empty() && p.back() == '\\') p.remove_suffix(1);
    return p;
}

std::string joinKey(std::string_view parent, std::string_view child) {
    std::string r(parent);
    if (!r.empty()) r += '\\';
    r += child;
    return r;
}

int countValues(KeyHandle& key, int depth) {
    int n = static_cast<int>(key.info().values);
    if (depth > 512) return n;  // deeper than any hive Windows accepts
    for (const auto& name : key.subkeyNames())
        if (auto sub = key.openSubkey(name, KeyAccess::Read)) n += countValues(*sub, depth + 1);
    return n;
}

int deleteKey(CleanContext& ctx, RootKey root, std::string_view subPath) {
    subPath = trimBackslashes(subPath);
    // An empty sub-path names the root itself, which is never deleted.
    if (subPath.empty()) return 0;
    auto& reg = ctx.machine.registry();
    auto key = reg.openKey(root, subPath, KeyAccess::Read);
    if (!key) return 0;
    // An earlier item of a Test run that counted this key or one above it
    // leaves nothing for this one, as its Clean would.
    if (!ctx.firstKey(std::string(rootName(root)) + "\\" + std::string(subPath))) return 0;
    int count = countValues(*key, 0);
    key.reset();
    ctx.logKeyLine(rootName(root), subPath);
    if (!ctx.isTestRun()) {
        auto top = reg.openKey(root, "", KeyAccess::ReadWrite);
        // A key that stays is not counted as removed.
        if (!top || !top->deleteSubkey(subPath)) return 0;
    }
    return count == 0 ? 1 : count;
}

int deleteValues(CleanContext& ctx, RootKey root, std::string_view subPath,
                 std::string_view valueName) {
    subPath = trimBackslashes(subPath);
    auto key = ctx.machine.registry().openKey(
        root, subPath, ctx.isTestRun() ? KeyAccess::Read : KeyAccess::ReadWrite);
    if (!key) return 0;
    const std::string_view rootText = rootName(root);
    const std::string keyPath = std::string(rootText) + "\\" + std::string(subPath);
    auto removeValue = [&](std::string_view name) {
        if (!ctx.firstValue(keyPath, name)) return false;
        ctx.logValueLine(rootText, subPath, name);
        return ctx.isTestRun() || key->deleteValue(name);
    };
    if (!valueName.empty()) {
        if (!key->value(valueName)) return 0;
        return removeValue(valueName) ? 1 : 0;
    }
    int count = 0;
    for (const auto& name : key->valueNames()) {
        if (ctx.stopRequested()) return count;
        if (removeValue(name)) ++count;
    }
    auto subkeys = key->subkeyNames();
    key.reset();
    for (const auto& name : subkeys) {
        if (ctx.stopRequested()) break;
        count += deleteKey(ctx, root, joinKey(subPath, name));
    }
    return count;
}

}  // namespace

std::optional<RootKey> rootKeyByName(std::string_view name) {
    static constexpr std::array roots = {RootKey::ClassesRoot, RootKey::CurrentUser,
                                         RootKey::LocalMachine, RootKey::Users,
                                         RootKey::CurrentConfig};
    const std::string upper = upperCase(name);
    for (auto r : roots)
        if (upper == rootName(r)) return r;
    return std::nullopt;
}

int CountKeyValues(RegistryApi& registry, RootKey root, std::string_view subPath) {
    auto key = registry.openKey(root, trimBackslashes(subPath), KeyAccess::Read);
    return key ? countValues(*key, 0) : 0;
}

int DeleteUserKey(CleanContext& ctx, std::string_view subPath) {
    return DeleteKeyByName(ctx, kCurrentUser, subPath);
}

int DeleteKeyByName(CleanContext& ctx, std::string_view rootName, std::string_view subPath) {
    auto root = rootKeyByName(rootName);
    return root ? deleteKey(ctx, *root, subPath) : 0;
}

int DeleteUserValues(CleanContext& ctx, std::string_view subPath, std::string_view valueName) {
    return DeleteValuesByName(ctx, kCurrentUser, subPath, valueName);
}

int DeleteValuesByName(CleanContext& ctx, std::string_view rootName, std::string_view subPath,
                       std::string_view valueName) {
    auto root = rootKeyByName(rootName);
    return root ? deleteValues(ctx, *root, subPath, valueName) : 0;
}

std::string ReadRegString(RegistryApi& registry, RootKey root, std::string_view key,
                          std::string_view valueName) {
    RegistryKey k(registry, root);
    if (!k.openKeyReadOnly(trimBackslashes(key))) return {};
    return k.readString(valueName).value_or(std::string());
}

// --- Wininit.ini -------------------------------------------------------------

namespace {

constexpr int64_t kMaxWininitSize = 16 * 1024 * 1024;

std::vector<std::string> readTextLines(FileApi& files, const std::string& path) {
    std::vector<std::string> lines;
    auto h = files.openFile(path, FileMode::Read);
    if (!h) return lines;
    int64_t size = h->size();
    if (size <= 0 || size > kMaxWininitSize) return lines;
    std::string text(static_cast<size_t>(size), '\0');
    int64_t got = h->read(text.data(), size);
    text.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

bool writeAll(FileHandle& h, const std::string& text) {
    return h.write(text.data(), static_cast<int64_t>(text.size())) ==
               static_cast<int64_t>(text.size()) &&
           h.flush();
}

}  // namespace

bool AddWininitRenames(Machine& machine, const std::vector<std::string>& lines) {
    auto& files = machine.files();
    const std::string path = includeTrailingBackslash(machine.windowsDirectory()) + "Wininit.ini";
    std::vector<std::string> text = readTextLines(files, path);
    size_t header = text.size();
    for (size_t i = 0; i < text.size(); ++i)
        if (upperCase(text[i]) == "[RENAME]") {
            header = i;
            break;
        }
    if (header < text.size()) {
        for (const auto& l : lines)
            text.insert(text.begin() + static_cast<std::ptrdiff_t>(header + 1), l);
    } else {
        text.push_back("[rename]");
        text.insert(text.end(), lines.begin(), lines.end());
    }
    std::string out;
    for (const auto& l : text) out += l + "\r\n";

    // Written beside and moved into place: the file may hold other programs'
    // pending renames, which a failed write must not lose.
    const std::string temp = path + uniqueSuffix();
    {
        auto h = files.createNewFile(temp);
        if (!h) return false;
        if (!writeAll(*h, out)) {
            h.reset();
            files.deleteFile(temp);
            return false;
        }
    }
    if (files.fileExists(path) && !files.deleteFile(path)) {
        files.deleteFile(temp);
        return false;
    }
    return files.moveFile(temp, path);
}

}  // namespace brisko
