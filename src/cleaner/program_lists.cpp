#include "cleaner/program_lists.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "core/builtin_lists.h"
#include "core/machine/file_read.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

namespace fs = std::filesystem;

// A list file is a small INI file; anything larger is not one of ours.
constexpr int64_t kMaxListFileSize = 16 * 1024 * 1024;

std::string withoutBom(std::string text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return text;
}

std::optional<std::string> readHostFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    auto size = fs::file_size(path, ec);
    if (ec || size > uint64_t(kMaxListFileSize)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

std::optional<fs::path> executableFolder() {
#ifdef _WIN32
    return std::nullopt;  // there the program folder is the machine's own
#else
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::nullopt;
    return exe.parent_path();
#endif
}

}  // namespace

std::vector<ListFolder> installedListFolders() {
    std::vector<ListFolder> out;
    auto exeDir = executableFolder();
#ifdef BRISKO_INSTALL_RELATIVE_DATA_DIR
    if (exeDir)
        out.push_back({(exeDir->parent_path() / BRISKO_INSTALL_RELATIVE_DATA_DIR).string(),
                       ListOrigin::Installed});
#endif
#ifdef BRISKO_INSTALL_DATA_DIR
    out.push_back({BRISKO_INSTALL_DATA_DIR, ListOrigin::Installed});
#endif
    if (exeDir) out.push_back({exeDir->string(), ListOrigin::BesideProgram});
    return out;
}

ProgramList loadProgramList(Machine& machine, std::string_view fileName) {
    return loadProgramList(machine, fileName, installedListFolders());
}

ProgramList loadProgramList(Machine& machine, std::string_view fileName,
                            const std::vector<ListFolder>& hostFolders) {
    ProgramList list;
    const std::string onMachine =
        includeTrailingBackslash(machine.programFolder()) + std::string(fileName);
    if (auto read = readWholeFile(machine.files(), onMachine, kMaxListFileSize)) {
        list.text = withoutBom(std::move(*read));
        list.origin = ListOrigin::Machine;
        list.where = onMachine;
        return list;
    }
    // The user's own lists exist only where the user made them.
    if (!equalsNoCase(fileName, kAppsDataFile)) return list;
    for (const auto& folder : hostFolders) {
        const fs::path path = fs::path(folder.path) / std::string(fileName);
        if (auto read = readHostFile(path)) {
            list.text = withoutBom(std::move(*read));
            list.origin = folder.origin;
            list.where = path.lexically_normal().string();
            return list;
        }
    }
    list.text = withoutBom(std::string(builtInAplsDat()));
    list.origin = ListOrigin::BuiltIn;
    return list;
}

const char* listOriginText(ListOrigin origin) {
    switch (origin) {
        case ListOrigin::Machine:
            return "the machine's program folder";
        case ListOrigin::Installed:
            return "the installed data folder";
        case ListOrigin::BesideProgram:
            return "the program's folder";
        case ListOrigin::BuiltIn:
            return "built into the program";
        default:
            return "none";
    }
}

}  // namespace brisko
