#include "support/real_data.h"

#include <cstdlib>
#include <system_error>

#include "support/shell_command.h"

namespace brisko::test {

namespace fs = std::filesystem;

std::optional<fs::path> realDataFolder() {
    fs::path folder;
    if (const char* env = std::getenv("BRISKO_REALDATA"); env && *env)
        folder = env;
    else
        folder = fs::path(BRISKO_SOURCE_DIR) / ".." / "shared" / "realdata";
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return std::nullopt;
    return fs::weakly_canonical(folder, ec);
}

std::optional<fs::path> unpackRealData(const std::string& name, const fs::path& dir) {
    auto folder = realDataFolder();
    if (!folder) return std::nullopt;
    fs::path target = dir / fs::path(name).filename();
    std::error_code ec;
    fs::path plain = *folder / name;
    if (fs::is_regular_file(plain, ec)) {
        fs::copy_file(plain, target, fs::copy_options::overwrite_existing, ec);
        if (ec) return std::nullopt;
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add, ec);
        return target;
    }
    fs::path packed = *folder / (name + ".xz");
    if (!fs::is_regular_file(packed, ec)) return std::nullopt;
    std::string command =
        "xz -dc " + shellQuote(packed.string()) + " > " + shellQuote(target.string());
    if (runShell(command).code != 0) return std::nullopt;
    return target;
}

}  // namespace brisko::test
