#include "core/temp_name.h"

#include <cstdio>
#include <random>

namespace brisko {

std::string randomHex() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char s[16];
    std::snprintf(s, sizeof s, "%08x", unsigned(rng() & 0xffffffffu));
    return s;
}

std::string uniqueSuffix() {
    return ".~" + randomHex();
}

}  // namespace brisko
