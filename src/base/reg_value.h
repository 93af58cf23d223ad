#pragma once
// A registry value as stored in a hive: its name, type and raw bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace brisko {

// Registry value types as Windows numbers them.
enum RegType : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_RESOURCE_LIST = 8,
    REG_FULL_RESOURCE_DESCRIPTOR = 9,
    REG_RESOURCE_REQUIREMENTS_LIST = 10,
    REG_QWORD = 11,
};

struct RegValue {
    std::string name;  // "" is the default value
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;
};

}  // namespace brisko
