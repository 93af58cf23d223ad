#pragma once
// Compact copies of hive files and what tells them apart: the identity of a
// hive file with its transaction logs (so a replacement can tell whether the
// hive is still the one that was copied) and a key-by-key comparison of two
// hives (so a copy is never used unless it holds exactly what its hive holds).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace brisko {

class Hive;

// Size and content hash of a file, or of a hive file together with its logs.
struct FileIdentity {
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const FileIdentity&) const = default;
};

// nullopt when the file cannot be read.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& file);
// The hive file and its .LOG/.LOG1/.LOG2 files: any change Windows or a
// commit could make to the hive changes this identity.
std::optional<FileIdentity> hiveIdentity(const std::filesystem::path& hiveFile);

// Compares two hives key by key and value by value: names in stored order,
// class names, last-write times, value types and data. False with the first
// difference, for a person ("key ...\Foo: value Bar differs").
bool sameHiveContent(Hive& a, Hive& b, std::string* why);

// Writes a compact copy of the hive file (its recovered state when it was
// dirty) to `target` (which must not exist), reads it back and compares it
// with the hive. A damaged hive is not copied. On failure nothing is left at
// `target` and `why` says what happened.
bool writeVerifiedHiveCopy(const std::filesystem::path& hiveFile,
                           const std::filesystem::path& target, std::string* why);

}  // namespace brisko
