#include "support/test_machine.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace brisko::test {

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("brisko-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(path_)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::filesystem::path& p, std::string_view content) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(content.data(), std::streamsize(content.size()));
}

void claimBinsBeyondTheFile(const std::filesystem::path& hive) {
    std::string bytes = readFile(hive);
    uint32_t size = uint32_t(bytes.size()) * 2;
    std::memcpy(bytes.data() + 0x28, &size, 4);
    uint32_t sum = 0;
    for (size_t i = 0; i < 0x1fc; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes.data() + i, 4);
        sum ^= word;
    }
    std::memcpy(bytes.data() + 0x1fc, &sum, 4);
    writeFile(hive, bytes);
}

}  // namespace brisko::test
