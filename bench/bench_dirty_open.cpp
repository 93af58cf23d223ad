// Opens a SOFTWARE-sized hive left dirty, with a few thousand changed pages
// waiting in its LOG1 and LOG2, and compares the time with opening the same
// hive clean. Also times the log replay alone.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_timing.h"
#include "hive/hive.h"
#include "hive/hive_log.h"
#include "hive/regf_writer.h"
#include "large_hive.h"
#include "support/hive_log_writer.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;
using bench::medianOf3;

namespace {

struct Change {
    std::vector<std::string> path;
    std::string value;
    uint32_t data = 0;
};

// Changes every `step`-th DWORD (same size, so the layout stays and only the
// pages holding them differ), remembering the first for the check below.
void changeDwords(RegTreeKey& key, std::vector<std::string>& path, size_t step, size_t& seen,
                  std::vector<Change>& changes) {
    for (RegValue& v : key.values) {
        if (v.type != REG_DWORD || v.data.size() != 4 || seen++ % step != 0) continue;
        v.data[3] ^= 0x40;
        changes.push_back(
            {path, v.name,
             uint32_t(v.data[0] | v.data[1] << 8 | v.data[2] << 16 | v.data[3] << 24)});
    }
    for (auto& child : key.subkeys) {
        path.push_back(child->name);
        changeDwords(*child, path, step, seen, changes);
        path.pop_back();
    }
}

void save(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> load(const fs::path& p) {
    std::vector<uint8_t> bytes(fs::file_size(p));
    std::ifstream in(p, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

// Whether the opened hive shows the change that was only in the logs.
bool seesChange(Hive& hive, const Change& c) {
    HiveNode node = hive.root();
    for (const std::string& name : c.path) {
        auto children = hive.children(node);
        auto at = children ? children->find(name) : std::nullopt;
        if (!at) return false;
        node = HiveNode(children->refs[*at]);
    }
    auto v = hive.value(node, c.value);
    return v && v->data.size() == 4 &&
           uint32_t(v->data[0] | v->data[1] << 8 | v->data[2] << 16 | v->data[3] << 24) == c.data;
}

}  // namespace

int main() {
    fs::path dir = fs::temp_directory_path() / ("brisko-bench-dirty-" + std::to_string(::getpid()));
    fs::create_directories(dir / "clean");
    fs::create_directories(dir / "dirty");

    bench::LargeHive tree = bench::makeLargeSoftwareHive();
    RegfWriteOptions options;
    options.embeddedName = "\\SystemRoot\\System32\\Config\\SOFTWARE";
    options.timestamp = 132000000000000000LL;
    std::vector<uint8_t> before = serializeHive(*tree.root, options);

    std::vector<std::string> path;
    std::vector<Change> changes;
    size_t seen = 0;
    changeDwords(*tree.root, path, 25, seen, changes);
    std::vector<uint8_t> after = serializeHive(*tree.root, options);
    if (before.size() != after.size() || changes.empty()) {
        std::fprintf(stderr, "the change moved the layout\n");
        return 1;
    }
    test::DirtyHive dirty =
        test::makeNewFormatLogs(before, after, {.entries = 200, .entriesInLog2 = 80});
    save(dir / "clean" / "SOFTWARE", before);
    test::writeDirtyHive(dirty, dir / "dirty" / "SOFTWARE");
    std::printf(
        "hive: %zu keys, %.1f MiB; %zu values changed on %zu dirty pages in 200 log entries "
        "(LOG1 %.1f MiB, LOG2 %.1f MiB)\n",
        tree.keys, double(before.size()) / (1 << 20), changes.size(), dirty.dirtyPages,
        double(dirty.logs[0].second.size()) / (1 << 20),
        double(dirty.logs[1].second.size()) / (1 << 20));

    std::string error;
    bool recovered = false;
    double clean =
        medianOf3([&] { return Hive::open(dir / "clean" / "SOFTWARE", &error) != nullptr; });
    double dirtyOpen = medianOf3([&] {
        auto hive = Hive::open(dir / "dirty" / "SOFTWARE", &error);
        if (hive) recovered = seesChange(*hive, changes.front());
        return hive != nullptr;
    });
    double replay = medianOf3([&] {
        std::vector<uint8_t> primary = load(dir / "dirty" / "SOFTWARE");
        return replayHiveLogs(primary, findHiveLogs(dir / "dirty" / "SOFTWARE")).applied;
    });
    double readOnly = medianOf3([&] { return !load(dir / "dirty" / "SOFTWARE").empty(); });
    if (clean < 0 || dirtyOpen < 0 || replay < 0) {
        std::fprintf(stderr, "open failed: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "open clean: %.1f ms, open dirty: %.1f ms, ratio: %.2f (%s)\n", clean, dirtyOpen,
        dirtyOpen / clean,
        recovered ? "the logged change is read" : "the logs were NOT applied by Hive::open");
    std::printf("read + replay alone: %.1f ms (the read: %.1f ms), ratio to the clean open: %.2f\n",
                replay, readOnly, replay / clean);
    fs::remove_all(dir);
    return 0;
}
