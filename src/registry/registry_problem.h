#pragma once
// One row of the registry problem list: what was found, where, and what a fix
// would delete. Every scanner produces these; the filter, the list actions and
// the fix consume them.
#include <string>
#include <string_view>

namespace brisko {

// What a fix deletes for a row; the numbers are stored in backups and reports.
enum ProblemKind : int {
    pkKey = 0,           // keyPath is the key; the key goes with its subtree
    pkValue = 1,         // keyPath is key + "\" + value name; that value goes
    pkDataValue = 2,     // keyPath is the key, data the value name (names holding "\")
    pkDataSubkey = 3,    // keyPath is the parent, data the subkey; the subkey goes
    pkFile = 4,          // keyPath is a file (a shortcut), data its target; the file goes
    pkDefaultValue = 5,  // keyPath is the key; its default value goes
    pkRot13Value = 6,    // keyPath is the key, data the decoded name; value Rot13(data) goes
};
inline constexpr int kProblemKindCount = 7;

inline bool isValidProblemKind(int k) {
    return k >= pkKey && k <= pkRot13Value;
}
// "pkKey" ... "pkRot13Value"; empty for a number outside 0..6.
std::string_view problemKindName(int kind);

struct RegistryProblem {
    bool checked = false;
    std::string problem;  // column "Problem": one of the section problem texts
    std::string data;     // column "Data"
    std::string keyPath;  // column "Registry key": full key path, or a file path for pkFile
    ProblemKind kind = pkKey;

    bool operator==(const RegistryProblem&) const = default;
};

// The letter rotation Windows applies to the value names of the UserAssist
// key: A-Z and a-z move thirteen places within their case, every other byte
// stays. It is its own inverse.
std::string Rot13(std::string_view s);

}  // namespace brisko
