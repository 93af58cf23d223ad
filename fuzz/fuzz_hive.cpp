// libFuzzer target for the hive reader and log recovery: the input becomes a
// hive file with optional LOG1 and LOG2 beside it (see fuzz_input.h); the
// hive is opened and walked through everything Hive offers, and the logs are
// replayed over it, the recovered hive opened and walked again.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include "hive/hive.h"
#include "hive/hive_log.h"
#include "hive/regf_format.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;

namespace {

const fs::path& workDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("brisko-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// Makes a log's base block checksum and its entries' hashes right again.
void reseal(std::vector<uint8_t>& log) {
    if (log.size() < 512) return;
    regf::put32(log.data() + regf::kBaseChecksum, baseBlockChecksum(log.data()));
    for (size_t at = 512; at + 40 <= log.size() && std::memcmp(log.data() + at, "HvLE", 4) == 0;) {
        uint32_t size = regf::get32(log.data() + at + 4);
        if (size < 40 || size % 512 != 0 || size > log.size() - at) break;
        regf::put64(log.data() + at + 24,
                    marvin32({log.data() + at + 40, size - 40}, kHiveLogHashSeed));
        regf::put64(log.data() + at + 32, marvin32({log.data() + at, 32}, kHiveLogHashSeed));
        at += size;
    }
}

void writeBytes(const fs::path& p, std::span<const uint8_t> bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Bounded so that one input cannot take long: a hive may nest 512 deep and
// hold millions of keys.
void walk(Hive& hive, HiveNode node, int depth, size_t& budget) {
    if (depth > 64 || budget == 0) return;
    --budget;
    (void)hive.lastWrite(node);
    (void)hive.className(node);
    uint64_t gen = 0;
    if (auto values = hive.values(node, &gen)) {
        for (size_t i = 0; i < values->size() && budget > 0; ++i, --budget)
            (void)hive.value(node, *values, i, gen);
        if (values->size() > 0) (void)hive.value(node, values->names[0]);
    }
    if (auto children = hive.children(node)) {
        if (children->size() > 0) (void)children->find(children->names.back());
        for (size_t i = 0; i < children->size() && budget > 0; ++i)
            walk(hive, HiveNode(children->refs[i]), depth + 1, budget);
    }
}

void openAndWalk(const fs::path& file) {
    std::string error;
    std::shared_ptr<Hive> hive = Hive::open(file, &error);
    if (!hive) return;
    size_t budget = 20000;
    walk(*hive, hive->root(), 0, budget);
    if (budget > 0) (void)hive->snapshot(&error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::HiveInput in = fuzz::splitInput(data, size);
    fs::path hive = workDir() / "HIVE";
    writeBytes(hive, in.primary);
    std::vector<fs::path> logs = {hive.string() + ".LOG1", hive.string() + ".LOG2"};
    std::vector<uint8_t> log1(in.log1.begin(), in.log1.end()), log2(in.log2.begin(), in.log2.end());
    if (in.reseal) {
        reseal(log1);
        reseal(log2);
    }
    writeBytes(logs[0], log1);
    writeBytes(logs[1], log2);

    openAndWalk(hive);

    std::vector<uint8_t> primary(in.primary.begin(), in.primary.end());
    LogReplay replay = replayHiveLogs(primary, findHiveLogs(hive));
    if (replay.applied) {
        fs::path recovered = workDir() / "RECOVERED";
        writeBytes(recovered, primary);
        openAndWalk(recovered);
    }
    return 0;
}
