// Fuzz target for the index.dat reader and blanker: any bytes as an index
// file are listed, have a record removed, are blanked, and never change size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cleaner/indexdat/index_dat.h"
#include "core/settings.h"
#include "indexdat/index_dat_format.h"

namespace {

// A file that is written in place and cannot grow, as on disk.
class MemoryFile : public brisko::FileHandle {
  public:
    explicit MemoryFile(std::string b) : bytes(std::move(b)) {}
    int64_t size() override { return int64_t(bytes.size()); }
    bool seek(int64_t o) override {
        if (o < 0) return false;
        pos_ = o;
        return true;
    }
    int64_t read(void* buf, int64_t n) override {
        if (n < 0) return -1;
        if (pos_ >= size()) return 0;
        int64_t k = std::min(n, size() - pos_);
        std::memcpy(buf, bytes.data() + pos_, size_t(k));
        pos_ += k;
        return k;
    }
    int64_t write(const void* buf, int64_t n) override {
        if (n < 0 || pos_ + n > size()) abort();  // a write past the end is a bug
        std::memcpy(bytes.data() + pos_, buf, size_t(n));
        pos_ += n;
        return n;
    }
    bool flush() override { return true; }
    std::string bytes;

  private:
    int64_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    MemoryFile file(input);
    int last = -1;
    auto entries = brisko::ReadIndexDat(file, 0, [&](int p) {
        if (p < last || p > 100) abort();
        last = p;
        return true;
    });
    brisko::FileHandleSource source(file);
    auto records = brisko::indexdat::listRecords(source);
    if (records.size() != entries.size()) abort();
    if (!records.empty()) {
        brisko::indexdat::localFileOf(source, records.front().offset);
        brisko::indexdat::removeRecord(source, records.front());
    }
    brisko::TOptionsSetting settings;
    settings.IsWipeFile = true;
    settings.WipeNumber = 2;
    brisko::WipeIndexDat(file, settings);
    if (file.bytes.size() != input.size()) abort();
    // What lies before the first table is never written.
    if (file.bytes.compare(0, std::min<size_t>(size, 32), input, 0, std::min<size_t>(size, 32)))
        abort();
    return 0;
}
