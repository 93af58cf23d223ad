// The index.dat reader and blanker: round trips with our writer, msiecfexport
// (libmsiecf) as the independent reader of every file we write or blank, and
// damaged files that must neither crash nor grow.
#include "cleaner/indexdat/index_dat.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/settings.h"
#include "indexdat/index_dat_format.h"
#include "indexdat/index_dat_writer.h"
#include "support/real_data.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using namespace indexdat;

NewRecord url(std::string u, int64_t unixTime = 1700000000, std::string file = "") {
    NewRecord r;
    r.url = std::move(u);
    r.lastAccess = fileTimeFromUnix(unixTime);
    r.modified = fileTimeFromUnix(unixTime - 60);
    r.fileName = std::move(file);
    return r;
}

NewRecord ofType(RecordType t, std::string u) {
    NewRecord r = url(std::move(u));
    r.type = t;
    return r;
}

std::vector<NewRecord> sampleRecords(int n) {
    std::vector<NewRecord> v;
    for (int i = 0; i < n; ++i) {
        if (i % 7 == 3)
            v.push_back(ofType(RecordType::Redirect, "http://r" + std::to_string(i) + ".example/"));
        else if (i % 7 == 5)
            v.push_back(ofType(RecordType::Leak, "http://leak" + std::to_string(i) + ".example/"));
        else
            v.push_back(url("Visited: Alex@http://site" + std::to_string(i) + ".example/a.html",
                            1700000000 + i, i % 2 ? "a[" + std::to_string(i) + "].htm" : ""));
    }
    return v;
}

// What libmsiecf's msiecfexport lists: record offset -> (type, location).
struct OracleItem {
    std::string type, location;
};
class Oracle {
  public:
    Oracle() {
        dir_ = fs::temp_directory_path() / ("brisko-indexdat-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    ~Oracle() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // nullopt when msiecfexport refuses the file.
    std::optional<std::map<uint32_t, OracleItem>> items(const std::string& bytes) {
        fs::path f = dir_ / "index.dat";
        std::ofstream(f, std::ios::binary) << bytes;
        std::string cmd = "msiecfexport '" + f.string() + "' 2>&1";
        auto [rc, out] = test::runShell(cmd);
        if (rc != 0 || out.find("Export completed.") == std::string::npos) return std::nullopt;
        std::map<uint32_t, OracleItem> m;
        std::istringstream in(out);
        std::string line;
        OracleItem cur;
        uint32_t at = 0;
        bool open = false;
        auto value = [](const std::string& l) {
            auto c = l.find(": ");
            return c == std::string::npos ? std::string() : l.substr(c + 2);
        };
        while (std::getline(in, line)) {
            if (line.rfind("Record type", 0) == 0) {
                if (open) m[at] = cur;
                cur = {value(line), ""};
                open = true;
            } else if (line.rfind("Offset range", 0) == 0) {
                at = uint32_t(std::stoul(value(line)));
            } else if (line.rfind("Location", 0) == 0) {
                cur.location = value(line);
            }
        }
        if (open) m[at] = cur;
        return m;
    }

  private:
    fs::path dir_;
};

// Our listing agrees with msiecfexport: the same records, types and addresses
// (LEAK records carry no address in its output).
void expectOracleAgrees(Oracle& oracle, const std::string& bytes) {
    auto theirs = oracle.items(bytes);
    ASSERT_TRUE(theirs) << "msiecfexport could not read the file";
    MemorySource src(bytes);
    std::map<uint32_t, Record> ours;
    for (auto& r : listRecords(src)) ours[r.offset] = r;
    ASSERT_EQ(ours.size(), theirs->size());
    for (const auto& [at, item] : *theirs) {
        ASSERT_TRUE(ours.count(at)) << "offset " << at;
        EXPECT_EQ(item.type, recordTypeName(ours[at].type));
        if (item.type != "LEAK") EXPECT_EQ(item.location, ours[at].url);
    }
}

TEST(IndexDat, RoundTripsThroughChainsOfEverySlotSize) {
    Oracle oracle;
    struct Shape {
        uint32_t blocks, perTable;
        int records;
    } shapes[] = {{1, 0, 5}, {1, 3, 10}, {2, 7, 40}, {32, 0, 700}, {4, 0, 200}};
    for (const auto& s : shapes) {
        SCOPED_TRACE("blocks " + std::to_string(s.blocks));
        WriterOptions o;
        o.cacheFolders = {"ABCD1234", "EFGH5678"};
        o.tableBlocks = s.blocks;
        o.slotsPerTable = s.perTable;
        o.alsoListed = {1};
        auto records = sampleRecords(s.records);
        std::string bytes = writeIndexDat(records, o);
        MemorySource src(bytes);
        auto listed = listRecords(src);
        // Every record in writing order, then the one a second slot points to.
        ASSERT_EQ(listed.size(), records.size() + 1);
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(listed[i].url, records[i].url);
            EXPECT_EQ(listed[i].type, records[i].type);
            if (records[i].type != RecordType::Redirect)
                EXPECT_EQ(listed[i].fileTime, records[i].lastAccess);
        }
        EXPECT_EQ(listed.back().offset, listed[1].offset);
        expectOracleAgrees(oracle, bytes);
    }
}

TEST(IndexDat, LongAddressesSpanManyBlocksAndTheFirstSlotsCount) {
    Oracle oracle;
    std::string longUrl = "http://long.example/" + std::string(3000, 'x');
    WriterOptions o;
    o.tableBlocks = 1;  // 14 slots after the 16-byte table header
    std::vector<NewRecord> records = {url(longUrl, 1700000000, "x.htm")};
    for (int i = 0; i < 13; ++i) records.push_back(url("http://s" + std::to_string(i) + "/"));
    std::string bytes = writeIndexDat(records, o);
    MemorySource src(bytes);
    auto listed = listRecords(src);
    ASSERT_EQ(listed.size(), 14u);  // one table holds all: slots begin at 16
    EXPECT_EQ(listed[0].url, longUrl);
    EXPECT_EQ(localFileOf(src, listed[0].offset).name, "x.htm");
    expectOracleAgrees(oracle, bytes);
}

TEST(IndexDat, EntriesCarryTypeTimeTextAndTag) {
    std::vector<NewRecord> records = {url("http://a/"), ofType(RecordType::Redirect, "http://b/"),
                                      url("")};
    records[0].lastAccess = 0;
    auto bytes = writeIndexDat(records);
    MemorySource src(bytes);
    auto listed = listRecords(src);
    ASSERT_EQ(listed.size(), 2u);  // an empty address is not listed
    EXPECT_EQ(IndexDatTimeText(listed[0].fileTime), kTimeNotAvailable);
    EXPECT_EQ(IndexDatTimeText(~0ULL), kTimeNotAvailable);  // past 2500
    EXPECT_EQ(IndexDatIsoTime(fileTimeFromUnix(1700000000)), "2023-11-14T22:13:20Z");
    EXPECT_NE(IndexDatTimeText(fileTimeFromUnix(1700000000)), kTimeNotAvailable);
}

TEST(IndexDat, ProgressClimbsToAHundredAndCanStopTheRead) {
    WriterOptions o;
    o.tableBlocks = 1;
    auto bytes = writeIndexDat(sampleRecords(60), o);
    MemorySource src(bytes);
    std::vector<int> seen;
    listRecords(src, [&](int p) {
        seen.push_back(p);
        return true;
    });
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), seen.size());
    auto part = listRecords(src, [](int p) { return p < 50; });
    EXPECT_LT(part.size(), 60u);
}

TEST(IndexDat, BlankingKeepsTheSizeAndLeavesNothingListed) {
    Oracle oracle;
    WriterOptions o;
    o.tableBlocks = 2;
    o.slotsPerTable = 5;
    auto bytes = writeIndexDat(sampleRecords(30), o);
    for (int passes : {1, 3}) {
        MemorySource src(bytes);
        int randomCalls = 0;
        blankFile(src, passes, [&] {
            ++randomCalls;
            return uint8_t(0xAA);
        });
        EXPECT_EQ(randomCalls, passes - 1);
        EXPECT_EQ(src.bytes().size(), bytes.size());
        EXPECT_TRUE(listRecords(src).empty());
        EXPECT_EQ(src.bytes().substr(0, 0x4000), bytes.substr(0, 0x4000));  // header stays
        EXPECT_EQ(src.bytes().find("site"), std::string::npos);
        EXPECT_EQ(src.bytes().find('\xAA'), std::string::npos);  // the last pass writes zeros
        auto theirs = oracle.items(src.bytes());
        ASSERT_TRUE(theirs);
        EXPECT_TRUE(theirs->empty());
    }
}

TEST(IndexDat, WipePassesFollowTheOptions) {
    TOptionsSetting s;
    s.IsWipeFile = false;
    s.WipeNumber = 7;
    EXPECT_EQ(IndexDatWipePasses(s), 1);
    s.IsWipeFile = true;
    EXPECT_EQ(IndexDatWipePasses(s), 3);
    s.WipeNumber = 2;
    EXPECT_EQ(IndexDatWipePasses(s), 2);
}

TEST(IndexDat, ATableNearTheEndKeepsItsHeaderAndNoTableMeansNoChange) {
    // Second table less than 4096 bytes before the end: the first table's fill
    // stops at it.
    WriterOptions o;
    o.tableBlocks = 1;
    o.slotsPerTable = 2;
    auto bytes = writeIndexDat(sampleRecords(3), o);
    MemorySource src(bytes);
    uint32_t second = getU32(reinterpret_cast<const unsigned char*>(bytes.data()) + 0x4000 + 8);
    ASSERT_GT(second, 0u);
    ASSERT_LT(bytes.size() - second, 4096u);
    blankFile(src, 1, {});
    EXPECT_EQ(src.bytes().substr(second, 16), bytes.substr(second, 16));

    // First table offset 0: nothing listed, the file left byte for byte.
    std::string none = bytes;
    putU32(reinterpret_cast<unsigned char*>(none.data()) + 32, 0);
    MemorySource noTable(none);
    EXPECT_TRUE(listRecords(noTable).empty());
    blankFile(noTable, 3, [] { return uint8_t(7); });
    EXPECT_EQ(noTable.bytes(), none);
}

// Files Internet Explorer wrote. In a cache index the time at 8 is the
// server's last modification (whole seconds, long before the visit) and the
// one at 16 the last access, the visit: msiecfexport's secondary and primary.
TEST(IndexDat, RealFilesListEveryRecordWithBothTimes) {
    BRISKO_REQUIRE_REAL_DATA();
    const fs::path real = *test::realDataFolder() / "browsers";
    MemorySource content(test::readFile(real / "ie_Content.IE5_index.dat"));
    auto listed = listRecords(content);
    ASSERT_EQ(listed.size(), 35u);
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [](const Record& r) { return r.type == RecordType::Redirect; }),
              14);
    EXPECT_EQ(IndexDatIsoTime(listed[0].fileTime), "2015-08-25T11:05:29Z");
    EXPECT_EQ(IndexDatIsoTime(listed[0].modifiedTime), "2013-10-19T01:08:06Z");
    MemorySource history(test::readFile(real / "ie_History.IE5_index.dat"));
    EXPECT_EQ(listRecords(history).size(), 15u);

    // A chain that loops back on its first table cannot be blanked, and says so.
    std::string bytes = content.bytes();
    const uint32_t first = getU32(reinterpret_cast<const unsigned char*>(bytes.data()) + 32);
    putU32(reinterpret_cast<unsigned char*>(bytes.data()) + first + 8, first);
    MemorySource looped(bytes);
    EXPECT_FALSE(blankFile(looped, 1, {}));
    EXPECT_TRUE(blankFile(content, 1, {}));
    EXPECT_TRUE(listRecords(content).empty());
}

// A source that refuses to grow, as the file on disk must not.
TEST(IndexDat, DamagedFilesNeverCrashLoopOrGrow) {
    auto good = writeIndexDat(sampleRecords(20), WriterOptions{{"ABCD1234"}, 1, 4, {}});
    auto set = [](std::string b, size_t at, uint32_t v) {
        if (at + 4 <= b.size()) putU32(reinterpret_cast<unsigned char*>(b.data()) + at, v);
        return b;
    };
    const uint32_t t1 = 0x4000;
    const uint32_t t2 = getU32(reinterpret_cast<const unsigned char*>(good.data()) + t1 + 8);
    std::vector<std::string> damaged;
    // Cut short inside every header field and table.
    for (size_t cut : {0, 3, 27, 30, 33, 36, 0x250, 0x4000, 0x4004, 0x4009, 0x4013, 0x4100})
        damaged.push_back(good.substr(0, cut));
    // Huge and negative sizes and offsets.
    for (uint32_t v : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        damaged.push_back(set(good, 28, v));
        damaged.push_back(set(good, 32, v));
        damaged.push_back(set(good, t1 + 4, v));
        damaged.push_back(set(good, t1 + 8, v));
        damaged.push_back(set(good, t1 + 16 + 4, v));  // a record offset
    }
    damaged.push_back(set(good, t2 + 8, t1));  // a chain that loops back
    damaged.push_back(set(good, t1 + 8, t1));  // a table that points at itself
    damaged.push_back(set(good, t1 + 4, 0));   // a table without slots
    // An address that runs to the end of the file without a terminator.
    std::string open = good;
    open.resize(good.size());
    std::fill(open.begin() + 0x4200, open.end(), 'a');
    damaged.push_back(open);

    for (const auto& d : damaged) {
        MemorySource src(d);
        auto listed = listRecords(src);
        EXPECT_LE(listed.size(), 40u);
        for (const auto& r : listed) EXPECT_LE(r.url.size(), kMaxAddressLength);
        blankFile(src, 2, [] { return uint8_t(1); });
        EXPECT_EQ(src.bytes().size(), d.size());
        if (!listed.empty()) {
            MemorySource again(d);
            removeRecord(again, listed.front());
            EXPECT_EQ(again.bytes().size(), d.size());
        }
    }
    // The loop: each of the two tables once, four slots each.
    MemorySource loop(set(good, t2 + 8, t1));
    EXPECT_EQ(listRecords(loop).size(), 8u);
}

TEST(IndexDat, ARemovedRecordIsGoneForUsAndForLibmsiecf) {
    Oracle oracle;
    auto bytes = writeIndexDat(sampleRecords(6), WriterOptions{{"ABCD1234"}, 32, 0, {}});
    MemorySource src(bytes);
    auto before = listRecords(src);
    ASSERT_TRUE(removeRecord(src, before[2]));
    EXPECT_FALSE(removeRecord(src, before[2]));  // its slot no longer points to it
    auto after = listRecords(src);
    ASSERT_EQ(after.size(), before.size() - 1);
    for (const auto& r : after) EXPECT_NE(r.url, before[2].url);
    expectOracleAgrees(oracle, src.bytes());
}

// Through the machine-facing entry points: a file we blank keeps its size on
// disk, and a recorded size past the end never makes it grow.
TEST(IndexDat, WipeThroughAFileHandleKeepsTheFileOnDisk) {
    fs::path dir = fs::temp_directory_path() / ("brisko-wipe-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path f = dir / "index.dat";
    std::string bytes = writeIndexDat(sampleRecords(10));
    putU32(reinterpret_cast<unsigned char*>(bytes.data()) + 28, 0x7FFFFFFF);
    std::ofstream(f, std::ios::binary) << bytes;
    TOptionsSetting s;
    s.IsWipeFile = true;
    s.WipeNumber = 2;
    {
        class Handle : public FileHandle {
          public:
            explicit Handle(fs::path p) : f_(p, std::ios::in | std::ios::out | std::ios::binary) {}
            int64_t size() override {
                auto at = f_.tellg();
                f_.seekg(0, std::ios::end);
                int64_t n = f_.tellg();
                f_.seekg(at);
                return n;
            }
            bool seek(int64_t o) override {
                f_.clear();
                f_.seekg(o);
                f_.seekp(o);
                return bool(f_);
            }
            int64_t read(void* b, int64_t n) override {
                f_.read(static_cast<char*>(b), n);
                return f_.gcount();
            }
            int64_t write(const void* b, int64_t n) override {
                f_.write(static_cast<const char*>(b), n);
                return f_ ? n : -1;
            }
            bool flush() override { return bool(f_.flush()); }

          private:
            std::fstream f_;
        } handle(f);
        EXPECT_FALSE(ReadIndexDat(handle, 0).empty());
        WipeIndexDat(handle, s);
        EXPECT_TRUE(ReadIndexDat(handle, 0).empty());
    }
    EXPECT_EQ(fs::file_size(f), bytes.size());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brisko
