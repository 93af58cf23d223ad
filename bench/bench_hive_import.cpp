// Imports a .reg file of 20,000 keys with 5 values each into the demo user's
// small NTUSER.DAT through the image machine, and commits; against writing the
// same content (the user's hive and the imported keys) as a fresh hive with
// the writer. Compares the times and the sizes of the two files.
// Usage: bench_hive_import [folder]
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/text.h"
#include "bench_timing.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/reg_file.h"
#include "demo/demo_machine.h"
#include "demo_hives.h"
#include "hive/hive.h"
#include "hive/regf_writer.h"

namespace fs = std::filesystem;
using namespace brisko;
using namespace brisko::hive;
using bench::findUserHive;
using bench::medianOf3;

namespace {

constexpr int kKeys = 20000;
constexpr std::string_view kUserRoot = "HKEY_CURRENT_USER\\";

std::string makeRegText() {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    char line[256];
    for (int i = 0; i < kKeys; ++i) {
        std::snprintf(line, sizeof line,
                      "[HKEY_CURRENT_USER\\Software\\Bench Vendor\\Product %03d\\Setting %05d]\r\n",
                      i / 100, i);
        text += line;
        std::snprintf(
            line, sizeof line,
            "\"Name\"=\"Value number %d\"\r\n\"Count\"=dword:%08x\r\n"
            "\"Data\"=hex:%02x,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n"
            "\"Enabled\"=dword:00000001\r\n\"Path\"=\"C:\\\\Program Files\\\\Bench\\\\%d\"\r\n\r\n",
            i, i, i & 0xFF, i);
        text += line;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = argc > 1;
    fs::path dir =
        keep ? fs::path(argv[1])
             : fs::temp_directory_path() / ("brisko-bench-import-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    createDemoMachine(dir);
    fs::path userHive = findUserHive(dir);
    if (userHive.empty()) {
        std::fprintf(stderr, "the demo machine has no user hive\n");
        return 1;
    }
    fs::path original = dir / "ntuser.original";
    fs::copy_file(userHive, original);
    const std::string text = makeRegText();
    std::printf("user hive: %ju bytes; import: %d keys x 5 values, %zu bytes of .reg text\n",
                uintmax_t(fs::file_size(original)), kKeys, text.size());

    double importMs =
        medianOf3([&] { fs::copy_file(original, userHive, fs::copy_options::overwrite_existing); },
                  [&] {
                      ImageMachine machine(dir);
                      RegFileParse parsed = parseRegText(text);
                      if (applyRegOps(machine.registry(), parsed.ops) != 0) return false;
                      return machine.registry().commit();
                  });
    if (importMs < 0) {
        std::fprintf(stderr, "the import failed\n");
        return 1;
    }
    uintmax_t importedSize = fs::file_size(userHive);

    fs::path fresh = dir / "ntuser.fresh";
    std::string error;
    double freshMs = medianOf3([&] { fs::remove(fresh); },
                               [&] {
                                   RegFileParse parsed = parseRegText(text);
                                   auto hive = Hive::open(original, &error);
                                   auto tree = hive ? hive->snapshot(&error) : nullptr;
                                   if (!tree) return false;
                                   for (const auto& op : parsed.ops) {
                                       auto path =
                                           std::string_view(op.keyPath).substr(kUserRoot.size());
                                       RegTreeKey* key = tree->find(path, true);
                                       if (op.kind == RegFileOp::SetValue)
                                           key->setValue(op.valueName, op.type, op.data);
                                   }
                                   return writeHiveFile(*tree, fresh, {}, &error);
                               });
    if (freshMs < 0) {
        std::fprintf(stderr, "writing the fresh hive failed: %s\n", error.c_str());
        return 1;
    }
    uintmax_t freshSize = fs::file_size(fresh);
    std::printf("import: %.0f ms, fresh hive: %.0f ms, ratio: %.2f (goal <= 3.0)\n", importMs,
                freshMs, importMs / freshMs);
    std::printf("imported file: %ju bytes, fresh file: %ju bytes, ratio: %.2f (goal <= 1.2)\n",
                importedSize, freshSize, double(importedSize) / double(freshSize));
    if (!keep) fs::remove_all(dir);
    return 0;
}
