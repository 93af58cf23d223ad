// Writes the seed corpus of fuzz_hive: small hives from our writer covering
// every value type, big data, class names, long child lists and odd names,
// and dirty copies of them with new- and old-format logs.
// Usage: make_hive_corpus FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "fuzz_input.h"
#include "hive/hive_log.h"
#include "hive/regf_writer.h"
#include "support/hive_log_writer.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;

namespace {

constexpr int64_t kTime = 132000000000000000LL;

std::vector<uint8_t> hive(int generation, int children, bool rich) {
    RegTreeKey root;
    root.name = "ROOT";
    RegTreeKey* k = root.find("Software\\Vendor", true);
    k->setValue("Name", REG_SZ, utf8ToUtf16le("generation " + std::to_string(generation)));
    k->setValue("Count", REG_DWORD, {uint8_t(generation), 0, 0, 0});
    if (rich) {
        k->className = "VendorClass";
        k->setValue("", REG_EXPAND_SZ, utf8ToUtf16le("%SystemRoot%\\x.dll"));
        k->setValue("Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, uint8_t(generation)});
        k->setValue("List", REG_MULTI_SZ, utf8ToUtf16le(std::string("a\0b\0\0", 5), false));
        k->setValue("Empty", REG_NONE, {});
        k->setValue("Blob", REG_BINARY, std::vector<uint8_t>(40000, uint8_t(generation)));
        root.find("Software\\Ünïcödé \xe6\x97\xa5\xe6\x9c\xac", true)->setValue("x", 3, {1});
    }
    for (int i = 0; i < children; ++i) root.find("Many\\Child" + std::to_string(i), true);
    RegfWriteOptions options;
    options.timestamp = kTime;
    return serializeHive(root, options);
}

void save(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> withLogs(const test::DirtyHive& d) {
    std::vector<uint8_t> log1, log2;
    for (const auto& [suffix, bytes] : d.logs) (suffix == ".LOG2" ? log2 : log1) = bytes;
    return fuzz::joinInput(d.primary, log1, log2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_hive_corpus FOLDER\n");
        return 2;
    }
    fs::path dir = argv[1];
    fs::create_directories(dir);
    save(dir, "empty", hive(1, 0, false));
    save(dir, "values", hive(1, 0, true));
    save(dir, "children", hive(1, 40, false));
    save(dir, "long-list", hive(1, 1100, false));

    std::vector<uint8_t> before = hive(1, 30, true), after = hive(2, 30, true);
    save(dir, "dirty-new",
         withLogs(test::makeNewFormatLogs(before, after, {.entries = 3, .entriesInLog2 = 1})));
    test::DirtyHive broken = test::makeNewFormatLogs(before, after, {.entries = 2});
    test::breakBaseBlock(broken.primary);
    save(dir, "dirty-broken-base", withLogs(broken));
    save(dir, "dirty-old", withLogs(test::makeOldFormatLog(before, hive(2, 35, true), ".LOG1")));
    std::printf("seed corpus written to %s\n", dir.c_str());
    return 0;
}
