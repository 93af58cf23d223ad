#include "registry/registry_problem.h"

namespace brisko {

std::string Rot13(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = char('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z')
            c = char('A' + (c - 'A' + 13) % 26);
    }
    return out;
}

std::string_view problemKindName(int kind) {
    static constexpr std::string_view names[] = {"pkKey",        "pkValue", "pkDataValue",
                                                 "pkDataSubkey", "pkFile",  "pkDefaultValue",
                                                 "pkRot13Value"};
    return isValidProblemKind(kind) ? names[kind] : std::string_view{};
}

}  // namespace brisko
