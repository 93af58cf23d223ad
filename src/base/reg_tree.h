#pragma once
// A registry key tree held in memory: what the hive writer serialises and what
// .reg text and demo machines are built into.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/reg_value.h"

namespace brisko {

struct RegTreeKey {
    std::string name;
    std::string className;
    int64_t lastWrite = 0;                    // FILETIME; 0 means "now" to the writer...
    bool timeAsRead = false;                  // ...unless the time was read from a hive, 0 too
    std::vector<uint8_t> securityDescriptor;  // self-relative; empty gives a default
    uint16_t flags = 0;                       // nk flags kept from a hive (no-delete, ...)
    uint16_t userFlags = 0;  // from a hive: its virtualization, Wow64 and debug bits
    std::vector<RegValue> values;
    std::vector<std::unique_ptr<RegTreeKey>> subkeys;

    // Child by name (case-insensitive); created at the end when asked.
    RegTreeKey* child(std::string_view childName, bool create = false);
    // Descends a '\'-separated path.
    RegTreeKey* find(std::string_view path, bool create = false);
    bool removeChild(std::string_view childName);
    RegValue* findValue(std::string_view valueName);
    void setValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data);
    bool removeValue(std::string_view valueName);
    size_t countKeys() const;  // this key and all below it
};

}  // namespace brisko
