#pragma once
// Compact copies of hive files and what tells them apart: the identity of a
// hive file with its transaction logs (so a replacement can tell whether the
// hive is still the one that was copied) and a key-by-key comparison of two
// hives (so a copy is never used unless it holds exactly what its hive holds).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace brisko::hive {

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

// Compares two hives key by key and value by value: subkeys in stored order,
// names, class names, last-write times, security descriptors, value types and
// data. False with the first difference, for a person ("key ...\Foo: value
// Bar has another type").
bool sameHiveContent(Hive& a, Hive& b, std::string* why);
// The same for a hive file just written (a compact copy), read back from disk.
// A copy that is not a sound hive differs.
bool copyMatchesHive(Hive& hive, const std::filesystem::path& copyFile, std::string* why);

// Writes a compact copy of the hive (with any change held in memory) to
// `target`, replacing it, once it has been read back from disk and found
// equal to the hive; the flush to disk runs beside that comparison. On
// failure nothing new is at `target` and `why` says what happened. A
// `reorganization` (a defrag's copy) records its time in the copy's base block.
bool saveVerifiedCopy(Hive& hive, const std::filesystem::path& target, std::string* why,
                      bool reorganization = false);

// Writes a compact copy of the hive file (its recovered state when it was
// dirty) to `target` (which must not exist), reads it back and compares it
// with the hive. A damaged hive is not copied. On failure nothing is left at
// `target` and `why` says what happened.
bool writeVerifiedHiveCopy(const std::filesystem::path& hiveFile,
                           const std::filesystem::path& target, std::string* why,
                           bool reorganization = false);

}  // namespace brisko::hive
