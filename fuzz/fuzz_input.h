#pragma once
// How a fuzz input carries a hive and its transaction logs: either a bare
// hive, or "BRL1" (or "BRL0"), the lengths of LOG1 and LOG2 (32-bit
// little-endian), the two logs, then the hive. With "BRL1" the target puts
// right the logs' checksums and hashes before writing them, so that mutations
// reach what lies behind them; "BRL0" leaves them as they are. The seed corpus
// is written in the same shape.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace brisko::fuzz {

struct HiveInput {
    std::span<const uint8_t> primary, log1, log2;
    bool reseal = false;
};

inline HiveInput splitInput(const uint8_t* data, size_t size) {
    HiveInput in{{data, size}, {}, {}};
    if (size < 12 || std::memcmp(data, "BRL", 3) != 0 || (data[3] != '0' && data[3] != '1'))
        return in;
    in.reseal = data[3] == '1';
    auto len = [&](size_t at) {
        return size_t(data[at]) | size_t(data[at + 1]) << 8 | size_t(data[at + 2]) << 16 |
               size_t(data[at + 3]) << 24;
    };
    size_t rest = size - 12, n1 = len(4) % (rest + 1);
    size_t n2 = len(8) % (rest - n1 + 1);
    in.log1 = {data + 12, n1};
    in.log2 = {data + 12 + n1, n2};
    in.primary = {data + 12 + n1 + n2, rest - n1 - n2};
    return in;
}

inline std::vector<uint8_t> joinInput(const std::vector<uint8_t>& primary,
                                      const std::vector<uint8_t>& log1,
                                      const std::vector<uint8_t>& log2) {
    std::vector<uint8_t> out = {'B', 'R', 'L', '1'};
    for (size_t n : {log1.size(), log2.size()})
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(n >> (8 * i)));
    out.insert(out.end(), log1.begin(), log1.end());
    out.insert(out.end(), log2.begin(), log2.end());
    out.insert(out.end(), primary.begin(), primary.end());
    return out;
}

}  // namespace brisko::fuzz
