// Listing a large index.dat: `brisko indexdat list --json --host FILE` against
// `msiecfexport FILE` (libmsiecf) on the same 100,000-entry file, both writing
// to /dev/null; best of 3 each and the ratio (goal: at most 0.5).
// Usage: bench_index_dat_list [entries]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_timing.h"
#include "indexdat/index_dat_writer.h"

namespace fs = std::filesystem;
using namespace brisko;

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    fs::path dir =
        fs::temp_directory_path() / ("brisko-bench-indexdat-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path file = dir / "index.dat";
    {
        std::vector<indexdat::NewRecord> records;
        records.reserve(size_t(entries));
        for (int i = 0; i < entries; ++i) {
            indexdat::NewRecord r;
            r.url = "http://www.site" + std::to_string(i % 5000) + ".example.com/path/page" +
                    std::to_string(i) + ".html?q=" + std::to_string(i * 7);
            r.lastAccess = indexdat::fileTimeFromUnix(1700000000 + i);
            r.modified = r.lastAccess;
            r.fileName = "page" + std::to_string(i % 100) + "[1].htm";
            r.folderIndex = uint8_t(i % 4);
            r.fileSize = 4096;
            records.push_back(std::move(r));
        }
        indexdat::WriterOptions o;
        o.cacheFolders = {"AAAAAAAA", "BBBBBBBB", "CCCCCCCC", "DDDDDDDD"};
        std::ofstream(file, std::ios::binary) << indexdat::writeIndexDat(records, o);
    }
    const std::string quoted = "'" + file.string() + "'";
    auto run = [](const std::string& cmd) { return std::system(cmd.c_str()) == 0; };
    // Warm the page cache so that both read from memory.
    run("cat " + quoted + " > /dev/null");
    double ours = bench::medianOf3([&] {
        return run(std::string(BRISKO_CLI) + " indexdat list --json --host " + quoted +
                   " > /dev/null");
    });
    double theirs =
        bench::medianOf3([&] { return run("msiecfexport " + quoted + " > /dev/null 2>&1"); });
    std::printf("index.dat with %d entries, %.1f MB\n", entries, double(fs::file_size(file)) / 1e6);
    std::printf("brisko indexdat list --json: %.1f ms\n", ours);
    std::printf("msiecfexport:                %.1f ms\n", theirs);
    if (ours > 0 && theirs > 0)
        bench::result("brisko indexdat list --json against msiecfexport", ours, theirs, "ms", 0.5);
    fs::remove_all(dir);
    return ours > 0 && theirs > 0 ? 0 : 1;
}
