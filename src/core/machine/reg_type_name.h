#pragma once
// The names of the registry value types, as the registry editor shows them.
#include <cstdint>
#include <string_view>

namespace brisko {

// "REG_SZ" for 1 and so on up to "REG_QWORD"; empty for a type Windows has no
// name for (each caller writes those its own way).
std::string_view regTypeName(uint32_t type);

}  // namespace brisko
