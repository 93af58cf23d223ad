// The data-file item routine: list files of registry and file entries.
#include "cleaner/items/data_file_items.h"

#include <optional>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/items/custom_list.h"
#include "cleaner/program_lists.h"
#include "cleaner/removal.h"
#include "core/ini_file.h"
#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

namespace {

constexpr std::string_view kAdminMessage = "You must have administrators user.";
constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string_view trimLine(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// "[name]" with blanks around, as the profile functions read a header.
std::optional<std::string_view> headerName(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimLine(line.substr(1, close - 1));
}

std::string readListFile(Machine& machine, std::string_view fileName) {
    return loadProgramList(machine, fileName).text;
}

// The folders the BASE tokens of file entries stand for, looked up once per run
// of a list. An empty folder means the token cannot be used on this machine.
struct BaseTokens {
    std::string programFiles, windows, localAppData, currentAppData, commonAppData;

    explicit BaseTokens(Machine& machine) {
        auto& reg = machine.registry();
        auto expand = [&](std::string s) {
            return s.find('%') == std::string::npos ? s : machine.expandEnvironmentStrings(s);
        };
        programFiles = expand(ReadRegString(reg, RootKey::LocalMachine,
                                            "\\Software\\Microsoft\\Windows\\CurrentVersion",
                                            "ProgramFilesDir"));
        windows = machine.windowsDirectory();
        localAppData =
            expand(ReadRegString(reg, RootKey::CurrentUser, kShellFolders, "Local AppData"));
        currentAppData = expand(ReadRegString(reg, RootKey::CurrentUser, kShellFolders, "AppData"));
        commonAppData =
            expand(ReadRegString(reg, RootKey::LocalMachine, kShellFolders, "Common AppData"));
    }

    // The base as written, or the folder its token stands for (tokens are
    // case-sensitive); nullopt for a token without a folder.
    std::optional<std::string> replace(const std::string& base) const {
        const std::string* folder = nullptr;
        if (base == "%ProgramFiles%")
            folder = &programFiles;
        else if (base == "%windir%")
            folder = &windows;
        else if (base == "{Local AppData}")
            folder = &localAppData;
        else if (base == "{Current AppData}")
            folder = &currentAppData;
        else if (base == "{Common AppData}")
            folder = &commonAppData;
        else if (base == "{C: Drive}")
            return std::string("C:\\");
        else
            return base;
        if (folder->empty()) return std::nullopt;
        return *folder;
    }
};

std::optional<FileEntryTarget> resolveWith(const BaseTokens& tokens, std::string entry) {
    if (entry.find('\\') == std::string::npos) entry += '\\';
    const size_t slash = entry.find('\\');
    const auto base = tokens.replace(entry.substr(0, slash));
    if (!base) return std::nullopt;
    const std::string rest = entry.substr(slash + 1);
    const size_t comma = rest.find(',');
    FileEntryTarget t;
    t.folder = includeTrailingBackslash(*base) + rest.substr(0, comma);
    if (comma != std::string::npos) t.mask = rest.substr(comma + 1);
    return t;
}

struct ListRun {
    CleanContext& ctx;
    const BaseTokens& tokens;
    bool adminRefused = false;  // the administrator message was due once already
    int64_t bytes = 0;

    // ROOT\path, ROOT\path, (values and subkeys) or ROOT\path,name, in the
    // normal form the list editor checked, and passing the same check.
    void registryEntry(const std::string& entry) {
        if (refuseRegistryEntry(entry)) return;
        const RegistryListEntry e = normalRegistryEntry(entry);
        const std::string& root = e.root;
        const std::string& path = e.path;
        // A key right below a root, or all it holds, goes only when the user
        // says so at the time, as a drive root does: emptying
        // HKEY_LOCAL_MACHINE\SYSTEM leaves a Windows that no longer starts.
        const bool wholeTopKey =
            path.find('\\') == std::string::npos && (!e.value || trim(*e.value).empty());
        if (wholeTopKey && !ctx.isTestRun() &&
            ctx.ask("Do you want to delete all keys and values under " + root + "\\" + path + "?",
                    MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) != IDYES)
            return;
        if (!e.value) {
            ctx.ItemCount += DeleteKeyByName(ctx, root, path);
            return;
        }
        if (root == "HKEY_LOCAL_MACHINE" && !mayChangeMachineValues()) {
            if (!adminRefused && !ctx.isUnattended() && !ctx.CountPass)
                ctx.ask(kAdminMessage, MB_OK);
            adminRefused = true;
            return;
        }
        ctx.ItemCount += DeleteValuesByName(ctx, root, path, *e.value);
    }

    bool mayChangeMachineValues() const {
        return ctx.machine.version().platform == OsVersion::Win9x || ctx.machine.isAdministrator();
    }

    // BASE\folder, BASE\folder,*.*, BASE\folder,mask or BASE\folder,file.
    void fileEntry(const std::string& entry) {
        const auto target = resolveWith(tokens, entry);
        if (!target) return;
        if (!target->mask) {
            bytes += WipeFolder(ctx, target->folder, true, true, "", ctx.ItemCount);
            return;
        }
        if (*target->mask == "*.*")
            bytes += WipeFolder(ctx, target->folder, false, true, "", ctx.ItemCount);
        else
            bytes += DeleteMatchingFiles(ctx, target->folder, *target->mask, ctx.ItemCount, false);
    }

    void line(const std::string& text) {
        // Only key=value lines; a comment (";...") that merely mentions an entry
        // has been switched off by whoever wrote the list.
        auto kv = splitIniLine(text);
        if (!kv) return;
        const std::string entry(kv->second);
        if (text.find("DelRegValue") != std::string::npos) registryEntry(entry);
        if (text.find("DelFile") != std::string::npos) fileEntry(entry);
    }
};

}  // namespace

std::string dataFileSection(std::string_view logCaption) {
    const size_t dash = logCaption.find('-');
    if (dash == std::string_view::npos) return std::string(logCaption);
    if (dash + 2 >= logCaption.size()) return {};
    return std::string(logCaption.substr(dash + 2));
}

std::vector<std::string> readDataFileSection(Machine& machine, std::string_view fileName,
                                             std::string_view section) {
    std::vector<std::string> lines;
    if (section.empty()) return lines;
    const std::string text = readListFile(machine, fileName);
    bool inSection = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line = trimLine(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (auto name = headerName(line)) {
            // Only the first section of the name counts, as with the profile functions.
            if (inSection) break;
            inSection = equalsNoCase(*name, section);
            continue;
        }
        if (inSection && !line.empty()) lines.emplace_back(line);
    }
    return lines;
}

std::vector<DataFileSection> parseDataFileSections(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<DataFileSection> sections;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trimLine(text.substr(pos, end - pos));
        pos = end + 1;
        if (auto name = headerName(line)) {
            sections.push_back({std::string(*name), {}});
            continue;
        }
        if (!sections.empty() && !line.empty()) sections.back().lines.emplace_back(line);
    }
    return sections;
}

std::vector<DataFileSection> readDataFileSections(Machine& machine, std::string_view fileName) {
    return parseDataFileSections(readListFile(machine, fileName));
}

std::optional<FileEntryTarget> resolveFileEntry(Machine& machine, std::string_view entry) {
    return resolveWith(BaseTokens(machine), std::string(entry));
}

void RunDataFileItem(CleanContext& ctx, std::string_view fileName, std::string_view logCaption) {
    const BaseTokens tokens(ctx.machine);
    ListRun run{ctx, tokens};
    for (const auto& line :
         readDataFileSection(ctx.machine, fileName, dataFileSection(logCaption))) {
        if (ctx.stopRequested()) break;
        run.line(line);
    }
    ctx.addItemBytes(run.bytes);
}

void addDataFileItems(ItemTable& table) {
    table.setDataFileRoutine(RunDataFileItem);
}

}  // namespace brisko
