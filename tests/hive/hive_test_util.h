#pragma once
// Helpers for the hive engine tests: trees to write, and the raw offsets of
// records inside a written hive, for tests that change bytes by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/hive_reader.h"
#include "hive/regf_format.h"
#include "hive/regf_writer.h"
#include "support/test_machine.h"

namespace brisko::test {

namespace regf = hive::regf;
using hive::HiveReader;

inline std::vector<uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

inline int runTool(const std::string& command, std::string* output = nullptr) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = std::move(out);
    return status;
}

// hivexml and regfexport both read the file without complaint.
inline void expectOraclesAccept(const std::filesystem::path& file, size_t keys = 0) {
    std::string out;
    EXPECT_EQ(runTool("hivexml '" + file.string() + "' >/dev/null"), 0) << file;
    EXPECT_EQ(runTool("regfexport '" + file.string() + "'", &out), 0) << out.substr(0, 400);
    EXPECT_EQ(out.find("Unable"), std::string::npos) << out.substr(out.find("Unable"), 400);
    if (keys) {
        size_t n = 0;
        for (size_t at = 0; (at = out.find("Key path:", at)) != std::string::npos; ++at) ++n;
        EXPECT_EQ(n, keys);
    }
}

// Raw access to a hive file in memory, for damaging or rewriting records.
class RawHive {
  public:
    explicit RawHive(std::string bytes) : bytes_(std::move(bytes)) { reset(); }
    std::string& bytes() { return bytes_; }
    void reset() {
        reader_.reset({reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()});
    }
    uint32_t root() const { return regf::get32(data() + regf::kBaseRootCell); }
    // Cell offset of the key at a '\'-separated path below the root.
    uint32_t key(std::string_view path) const {
        uint32_t off = root();
        while (!path.empty()) {
            size_t cut = path.find('\\');
            std::string_view name = path.substr(0, cut);
            path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
            const uint8_t* nk = reader_.key(off);
            uint32_t found = 0;
            std::string n;
            reader_.forEachSubkey(regf::get32(nk + regf::kNkSubkeyList), [&](uint32_t c) {
                HiveReader::keyName(reader_.key(c), n);
                if (n == name) found = c;
            });
            off = found;
            if (!off) return 0;
        }
        return off;
    }
    // File position of the data of the cell at `off`.
    size_t at(uint32_t off) const { return regf::kBaseBlockSize + off + 4; }
    uint32_t field32(uint32_t cell, uint32_t field) const {
        return regf::get32(data() + at(cell) + field);
    }
    uint32_t get32At(size_t pos) const { return regf::get32(data() + pos); }
    void put32(size_t pos, uint32_t v) {
        regf::put32(reinterpret_cast<uint8_t*>(bytes_.data()) + pos, v);
    }
    void put16(size_t pos, uint16_t v) {
        regf::put16(reinterpret_cast<uint8_t*>(bytes_.data()) + pos, v);
    }

  private:
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }
    std::string bytes_;
    HiveReader reader_;
};

}  // namespace brisko::test
