#pragma once
// The lists the program ships, built into it: the copy it falls back on when
// neither the machine nor the installation holds one, and the one demo
// machines are given.
#include <string_view>

namespace brisko {

// data/apls.dat as it was when the program was built.
std::string_view builtInAplsDat();

}  // namespace brisko
