#pragma once
// Files that Windows and real browsers wrote (hives, logs, index.dat files,
// browser databases, a shortcut), kept beside the project in
// ../shared/realdata, some of them compressed with xz. Tests that need them
// skip with a message where the folder is missing (a checkout elsewhere).
#include <filesystem>
#include <optional>
#include <string>

namespace brisko::test {

// The folder, or nullopt when it is not there.
std::optional<std::filesystem::path> realDataFolder();

// realdata/NAME (or NAME.xz, decompressed) copied into `dir` under its own
// name, writable; nullopt when neither is there.
std::optional<std::filesystem::path> unpackRealData(const std::string& name,
                                                    const std::filesystem::path& dir);

}  // namespace brisko::test

// Skips the test with a message when the real data is missing.
#define BRISKO_REQUIRE_REAL_DATA()                                                         \
    do {                                                                                   \
        if (!::brisko::test::realDataFolder())                                             \
            GTEST_SKIP() << "../shared/realdata is missing: real Windows data not tested"; \
    } while (0)
