#include "hive/hive_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "base/text.h"
#include "hive/hive.h"
#include "hive/regf_format.h"
#include "hive/regf_writer.h"
#include "support/hive_log_writer.h"
#include "support/test_machine.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;
using test::DirtyHive;
using test::NewLogOptions;

constexpr int64_t kTime = 132000000000000000LL;

std::vector<uint8_t> bytesOf(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

// A user hive with enough settings to span several pages; `generation`
// changes every value's data without changing any size, `extraKeys` grows it.
std::vector<uint8_t> userHive(int generation, int extraKeys = 0, int64_t time = kTime) {
    RegTreeKey root;
    root.name = "ROOT";
    for (int k = 0; k < 60; ++k) {
        RegTreeKey* key = root.find("Software\\Vendor\\Product" + std::to_string(k), true);
        for (int v = 0; v < 6; ++v) {
            std::string data = "value " + std::to_string(k * 10 + v) + " of generation " +
                               std::to_string(generation);
            key->setValue("Setting" + std::to_string(v), REG_SZ, utf8ToUtf16le(data));
        }
    }
    for (int k = 0; k < extraKeys; ++k)
        root.find("Software\\Added\\Key" + std::to_string(k), true)
            ->setValue("New", REG_DWORD, {uint8_t(k), 0, 0, 0});
    RegfWriteOptions options;
    options.timestamp = time;
    std::vector<uint8_t> hive = serializeHive(root, options);
    // Windows' sequence numbers are well past 1 on any used hive.
    regf::put32(hive.data() + regf::kBaseSequence1, 100);
    regf::put32(hive.data() + regf::kBaseSequence2, 100);
    test::sealBaseBlock(hive);
    return hive;
}

class HiveLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        before_ = userHive(1);
        after_ = userHive(2);
        ASSERT_EQ(before_.size(), after_.size());
    }

    // Writes the dirty hive into the temporary folder and replays its logs.
    LogReplay replay(const DirtyHive& d, std::vector<uint8_t>& out) {
        fs::path file = dir_.path() / "NTUSER.DAT";
        test::writeDirtyHive(d, file);
        out = d.primary;
        return replayHiveLogs(out, findHiveLogs(file));
    }

    test::TempDir dir_;
    std::vector<uint8_t> before_, after_;
};

TEST(HiveLogHash, Marvin32MatchesPublishedVectors) {
    const uint64_t seed = 0x004FB61A001BDBCCULL;
    EXPECT_EQ(marvin32({}, seed), 0x30ED35C100CD3C7DULL);
    EXPECT_EQ(marvin32(bytesOf("af"), seed), 0x48E73FC77D75DDC1ULL);
    EXPECT_EQ(marvin32(bytesOf("e70f"), seed), 0xB5F6E1FC485DBFF8ULL);
    EXPECT_EQ(marvin32(bytesOf("37f495"), seed), 0xF0B07C789B8CF7E8ULL);
    EXPECT_EQ(marvin32(bytesOf("8642dc59"), seed), 0x7008F2E87E9CF556ULL);
    EXPECT_EQ(marvin32(bytesOf("153fb79826"), seed), 0xE6C08C6DA2AFA997ULL);
    EXPECT_EQ(marvin32(bytesOf("ab427ea8d10fc7"), seed), 0xE11847E4F0678C41ULL);
}

TEST_F(HiveLogTest, DirtyMeansDifferingSequencesOrABrokenBaseBlock) {
    EXPECT_FALSE(hiveNeedsRecovery(before_));
    DirtyHive d = test::makeNewFormatLogs(before_, after_);
    EXPECT_TRUE(hiveNeedsRecovery(d.primary));
    std::vector<uint8_t> broken = before_;
    test::breakBaseBlock(broken);
    EXPECT_TRUE(hiveNeedsRecovery(broken));
    EXPECT_TRUE(hiveNeedsRecovery(std::span(before_).first(4000)));
}

TEST_F(HiveLogTest, NewFormatEntriesOverBothLogsGiveTheChangedHive) {
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "earlier entries in LOG2" : "earlier entries in LOG1");
        NewLogOptions o;
        o.entries = 5;
        o.entriesInLog2 = 2;
        o.swapFiles = swapped;
        o.staleTail = true;  // an older entry after LOG1's live ones is not a gap
        DirtyHive d = test::makeNewFormatLogs(before_, after_, o);
        ASSERT_GT(d.dirtyPages, 4u);
        std::vector<uint8_t> out;
        LogReplay r = replay(d, out);
        EXPECT_TRUE(r.dirty);
        ASSERT_TRUE(r.applied) << r.problem;
        EXPECT_EQ(r.entries, 5u);
        EXPECT_EQ(r.logsUsed.size(), 2u);
        EXPECT_TRUE(r.note.empty()) << r.note;
        EXPECT_TRUE(out == d.expected());
        EXPECT_FALSE(hiveNeedsRecovery(out));
        EXPECT_EQ(r.highestSequence, 104u);
    }
}

// Rewrites a log entry's hashes after a field of it was changed.
void resealEntry(std::vector<uint8_t>& log, size_t at) {
    uint32_t size = regf::get32(log.data() + at + 4);
    uint64_t hash1 = marvin32({log.data() + at + 40, size - 40}, kHiveLogHashSeed);
    regf::put64(log.data() + at + 24, hash1);
    regf::put64(log.data() + at + 32, marvin32({log.data() + at, 32}, kHiveLogHashSeed));
}

TEST_F(HiveLogTest, NewFormatGrowsTheHive) {
    std::vector<uint8_t> grown = userHive(2, 400);
    ASSERT_GT(grown.size(), before_.size() + 8192);
    DirtyHive d = test::makeNewFormatLogs(before_, grown, {.entries = 4, .entriesInLog2 = 1});
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_TRUE(out == d.expected());

    // The last entry gives a smaller size than earlier entries wrote up to:
    // the file keeps every page written, the base block takes the entry's size.
    uint32_t small = regf::get32(before_.data() + regf::kBaseBinsSize);
    std::vector<uint8_t>& log2 = d.logs[1].second;
    regf::put32(log2.data() + 512 + 16, small);
    regf::put32(log2.data() + 512 + 20, 0);  // and no pages of its own
    resealEntry(log2, 512);
    r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_EQ(r.entries, 4u);
    EXPECT_GT(out.size(), 4096u + small);
    EXPECT_EQ(regf::get32(out.data() + regf::kBaseBinsSize), small);
}

TEST_F(HiveLogTest, BadHashOrGapStopsAfterTheEntriesBefore) {
    struct Case {
        const char* what;
        NewLogOptions options;
    } cases[] = {
        {"bad hash", {.entries = 5, .badHashEntry = 2}},
        {"gap", {.entries = 5, .gapBeforeEntry = 2}},
        {"gap at the switch to LOG2", {.entries = 5, .entriesInLog2 = 3, .gapBeforeEntry = 2}},
        {"bad hash at the end of LOG1", {.entries = 5, .entriesInLog2 = 3, .badHashEntry = 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DirtyHive d = test::makeNewFormatLogs(before_, after_, c.options);
        std::vector<uint8_t> out;
        LogReplay r = replay(d, out);
        ASSERT_TRUE(r.applied) << r.problem;
        size_t applied = c.options.badHashEntry >= 0 ? size_t(c.options.badHashEntry) : 2;
        EXPECT_EQ(r.entries, applied);
        EXPECT_TRUE(out == d.expected(applied));
        EXPECT_FALSE(r.note.empty());
        EXPECT_TRUE(r.problem.empty());
    }
}

TEST_F(HiveLogTest, NothingAppliedLeavesThePrimaryAsItWas) {
    struct Case {
        const char* what;
        NewLogOptions options;
    } cases[] = {
        {"first entry damaged", {.entries = 3, .badHashEntry = 0}},
        {"first entry out of sequence", {.entries = 3, .gapBeforeEntry = 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DirtyHive d = test::makeNewFormatLogs(before_, after_, c.options);
        std::vector<uint8_t> out;
        LogReplay r = replay(d, out);
        EXPECT_TRUE(r.dirty);
        EXPECT_FALSE(r.applied);
        EXPECT_FALSE(r.problem.empty());
        EXPECT_TRUE(out == d.primary);
    }
    // Logs from an earlier round, all older than the hive's last write.
    DirtyHive d = test::makeNewFormatLogs(before_, after_);
    regf::put32(d.primary.data() + regf::kBaseSequence2, 200);
    regf::put32(d.primary.data() + regf::kBaseSequence1, 201);
    test::sealBaseBlock(d.primary);
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    EXPECT_FALSE(r.applied);
    EXPECT_NE(r.problem.find("nothing newer"), std::string::npos) << r.problem;
    EXPECT_EQ(r.highestSequence, 201u);
}

TEST_F(HiveLogTest, BrokenBaseBlockIsRepairedFromTheLog) {
    DirtyHive d = test::makeNewFormatLogs(before_, after_, {.entries = 3});
    test::breakBaseBlock(d.primary);
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_TRUE(out == d.expected());

    // The base block is gone altogether (a file cut to nothing).
    d.primary.resize(100);
    r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_EQ(out.size(), after_.size());
    EXPECT_FALSE(hiveNeedsRecovery(out));

    // Old format: the log applies when its time matches the first bin's...
    DirtyHive old = test::makeOldFormatLog(before_, after_, ".LOG1");
    test::breakBaseBlock(old.primary);
    r = replay(old, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_TRUE(out == old.expected());

    // ...or is later: Windows does not bring the first bin's copy of the time
    // up to date on every write.
    auto setFirstBinTime = [](std::vector<uint8_t>& hive, uint32_t low) {
        regf::put32(hive.data() + regf::kBaseBlockSize + regf::kBinTimestamp, low);
        regf::put32(hive.data() + regf::kBaseBlockSize + regf::kBinTimestamp + 4, 0);
    };
    setFirstBinTime(old.primary, 1000);
    r = replay(old, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_TRUE(out == old.expected());

    // A log older than the hive belongs to an earlier write.
    regf::put32(old.primary.data() + regf::kBaseBlockSize + regf::kBinTimestamp + 4, 0x7FFFFFFF);
    r = replay(old, out);
    EXPECT_FALSE(r.applied);
}

TEST_F(HiveLogTest, EntriesContinueTheHiveWhereverTheLogsRoundBegan) {
    NewLogOptions o;
    o.entries = 4;
    o.entriesInLog2 = 2;
    DirtyHive d = test::makeNewFormatLogs(before_, after_, o);
    ASSERT_EQ(d.entrySequence.size(), 4u);
    auto setSequences = [](std::vector<uint8_t>& hive, uint32_t secondary) {
        regf::put32(hive.data() + regf::kBaseSequence1, secondary + 1);
        regf::put32(hive.data() + regf::kBaseSequence2, secondary);
        test::sealBaseBlock(hive);
    };

    // The hive already holds the first entry (reconciled after LOG1's round
    // began): replay starts at the entry numbered like its secondary sequence.
    DirtyHive partly = d;
    partly.primary = d.expected(1);
    setSequences(partly.primary, d.entrySequence[1]);
    std::vector<uint8_t> out;
    LogReplay r = replay(partly, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_EQ(r.entries, 3u);
    EXPECT_TRUE(out == d.expected());

    // The base block was left behind by a reconcile: the logs' round begins
    // past the hive's sequence, and everything from there on is applied.
    DirtyHive behind = d;
    setSequences(behind.primary, d.entrySequence[0] - 30);
    r = replay(behind, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_EQ(r.entries, 4u);
    EXPECT_TRUE(out == d.expected());
    EXPECT_NE(r.note.find("reconcile"), std::string::npos) << r.note;
}

TEST_F(HiveLogTest, OldFormatLogGivesTheChangedHive) {
    std::vector<uint8_t> later = userHive(2, 300, kTime + 10'000'000);
    for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
        SCOPED_TRACE(suffix);
        DirtyHive d = test::makeOldFormatLog(before_, later, suffix);
        std::vector<uint8_t> out;
        LogReplay r = replay(d, out);
        ASSERT_TRUE(r.applied) << r.problem;
        EXPECT_EQ(r.entries, d.dirtyPages * 8);  // counted in 512-byte pages
        EXPECT_TRUE(out == d.expected());
        fs::remove(dir_.path() / ("NTUSER.DAT" + std::string(suffix)));
    }
    // A log of another write (its time differs from the hive's) is not applied.
    DirtyHive d = test::makeOldFormatLog(before_, later, ".LOG1");
    regf::put32(d.primary.data() + regf::kBaseTimestamp, 12345);
    test::sealBaseBlock(d.primary);
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    EXPECT_FALSE(r.applied);
    EXPECT_FALSE(r.problem.empty());
    EXPECT_TRUE(out == d.primary);
}

// Offset in `log` of the first logged page that starts a bin at or past `from`.
size_t loggedBinAt(const std::vector<uint8_t>& log, size_t firstPage, uint32_t from) {
    for (size_t at = firstPage; at + 512 <= log.size(); at += 8) {  // pages sit 8-aligned
        uint32_t offset = regf::get32(log.data() + at + 4);
        if (std::memcmp(log.data() + at, "hbin", 4) == 0 && offset >= from && offset % 4096 == 0)
            return at;
    }
    return 0;
}

TEST_F(HiveLogTest, DamagedBinsInTheLogs) {
    std::vector<uint8_t> later = userHive(2, 300, kTime + 10'000'000);
    uint32_t oldEnd = regf::get32(before_.data() + regf::kBaseBinsSize);

    // Old format: recovery stops at the damaged dirty bin, keeping the pages before it.
    DirtyHive old = test::makeOldFormatLog(before_, later, ".LOG1");
    std::vector<uint8_t>& log = old.logs[0].second;
    size_t bad = loggedBinAt(log, 1024, oldEnd);
    ASSERT_NE(bad, 0u);
    uint32_t badOffset = regf::get32(log.data() + bad + 4);
    log[bad] = 'X';
    std::vector<uint8_t> out;
    LogReplay r = replay(old, out);
    ASSERT_TRUE(r.applied) << r.problem;
    EXPECT_FALSE(r.note.empty());
    EXPECT_LT(r.entries, old.dirtyPages * 8);
    EXPECT_EQ(std::memcmp(out.data() + 4096, later.data() + 4096, badOffset), 0);
    EXPECT_NE(std::memcmp(out.data() + 4096 + badOffset, "hbin", 4), 0);

    // New format: the damaged bin becomes an empty one and recovery goes on.
    DirtyHive d = test::makeNewFormatLogs(before_, later, {.entries = 1});
    std::vector<uint8_t>& log1 = d.logs[0].second;
    bad = loggedBinAt(log1, 1024, oldEnd);
    ASSERT_NE(bad, 0u);
    badOffset = regf::get32(log1.data() + bad + 4);
    log1[bad] = 'X';
    resealEntry(log1, 512);
    r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    const uint8_t* bin = out.data() + 4096 + badOffset;
    EXPECT_EQ(std::memcmp(bin, "hbin", 4), 0);
    EXPECT_EQ(regf::get32(bin + 8), 4096u);
    EXPECT_EQ(regf::get32(bin + 32), 4096u - 32);  // one free cell
    size_t last = later.size() - 4096;
    EXPECT_EQ(std::memcmp(out.data() + last, later.data() + last, 4096), 0);
}

TEST_F(HiveLogTest, CleanHiveWithStaleLogsIsLeftAlone) {
    DirtyHive d = test::makeNewFormatLogs(before_, after_, {.entries = 4, .entriesInLog2 = 2});
    d.primary = before_;
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    EXPECT_FALSE(r.dirty);
    EXPECT_FALSE(r.applied);
    EXPECT_TRUE(r.problem.empty());
    EXPECT_TRUE(out == before_);
    EXPECT_EQ(r.highestSequence, 103u);  // a writer numbers past the logs' entries
}

TEST_F(HiveLogTest, MalformedLogsNeverCrashNorCorrupt) {
    DirtyHive good = test::makeNewFormatLogs(before_, after_, {.entries = 4, .entriesInLog2 = 2});
    DirtyHive old = test::makeOldFormatLog(before_, after_, ".LOG1");
    std::mt19937 random(7);
    auto check = [&](const DirtyHive& d, const char* what) {
        SCOPED_TRACE(what);
        std::vector<uint8_t> out;
        LogReplay r = replay(d, out);
        EXPECT_TRUE(r.dirty);
        if (!r.applied) {
            EXPECT_FALSE(r.problem.empty());
            EXPECT_TRUE(out == d.primary);
        }
    };
    for (const DirtyHive* source : {&good, &old}) {
        const std::vector<uint8_t>& log = source->logs[0].second;
        for (size_t cut = 0; cut < log.size(); cut += 509) {
            DirtyHive d = *source;
            d.logs[0].second.resize(cut);
            check(d, "truncated");
        }
        for (int round = 0; round < 200; ++round) {
            DirtyHive d = *source;
            std::vector<uint8_t>& bytes = d.logs[0].second;
            for (int flips = 1 + round % 8; flips > 0; --flips)
                bytes[random() % std::min<size_t>(bytes.size(), 1024)] = uint8_t(random());
            // Keep the base block's checksum right, so the damage reaches the entries.
            regf::put32(bytes.data() + regf::kBaseChecksum, baseBlockChecksum(bytes.data()));
            check(d, "bytes changed");
        }
    }
    // Huge counts and sizes in an entry whose hashes are right.
    DirtyHive d = good;
    std::vector<uint8_t>& log = d.logs[0].second;
    regf::put32(log.data() + 512 + 20, 0x7FFFFFFF);
    resealEntry(log, 512);
    check(d, "absurd page count");
    d.logs = {{".LOG1", std::vector<uint8_t>(3000, 0xFF)}, {".LOG2", {}}};
    check(d, "garbage");
}

TEST_F(HiveLogTest, LogsAreReadAndResetOnlyAsRegularFiles) {
    fs::path hive = dir_.path() / "NTUSER.DAT";
    test::writeFile(hive, "x");
    test::writeFile(dir_.path() / "ntuser.dat.log1", "1");
    test::writeFile(dir_.path() / "NTUSER.DAT.Log2", "2");
    test::writeFile(dir_.path() / "NTUSER.DAT.LOG3", "3");
    ASSERT_EQ(::mkfifo((dir_.path() / "NTUSER.DAT.LOG").c_str(), 0600), 0);
    std::vector<fs::path> logs = findHiveLogs(hive);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0].filename(), "ntuser.dat.log1");
    EXPECT_EQ(logs[1].filename(), "NTUSER.DAT.Log2");

    // A FIFO or a link planted as a log is neither waited on nor followed.
    fs::path outside = dir_.path() / "outside";
    test::writeFile(outside, "keep me");
    fs::create_symlink(outside, dir_.path() / "NTUSER.DAT.LOG1");
    std::vector<fs::path> planted = {dir_.path() / "NTUSER.DAT.LOG",
                                     dir_.path() / "NTUSER.DAT.LOG1"};
    DirtyHive d = test::makeNewFormatLogs(before_, after_);
    std::vector<uint8_t> primary = d.primary;
    LogReplay r = replayHiveLogs(primary, planted);
    EXPECT_FALSE(r.applied);
    EXPECT_FALSE(r.problem.empty());

    std::string error;
    EXPECT_TRUE(resetHiveLogs(logs, &error)) << error;
    EXPECT_EQ(fs::file_size(logs[0]), 0u);
    EXPECT_EQ(fs::file_size(logs[1]), 0u);
    EXPECT_TRUE(resetHiveLogs({dir_.path() / "missing.LOG1"}, &error));
    EXPECT_FALSE(resetHiveLogs(planted, &error));
    EXPECT_EQ(test::readFile(outside), "keep me");
}

// The recovered hive is what the readers see: hivex (and through it our Hive)
// and libregf find the keys that lived only in the logs.
TEST_F(HiveLogTest, RecoveredHiveReadsWithTheNewestKeys) {
    std::vector<uint8_t> grown = userHive(2, 50);
    DirtyHive d = test::makeNewFormatLogs(before_, grown, {.entries = 3, .entriesInLog2 = 1});
    std::vector<uint8_t> out;
    LogReplay r = replay(d, out);
    ASSERT_TRUE(r.applied) << r.problem;
    fs::path file = dir_.path() / "recovered.dat";
    test::writeFile(file, std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
    EXPECT_EQ(std::system(("hivexml '" + file.string() + "' >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(std::system(("regfexport '" + file.string() + "' >/dev/null 2>&1").c_str()), 0);

    std::string error;
    auto hive = Hive::open(file, &error);
    ASSERT_TRUE(hive) << error;
    HiveNode node = hive->root();
    for (const char* name : {"Software", "Added"}) {
        auto children = hive->children(node);
        ASSERT_TRUE(children);
        auto at = children->find(name);
        ASSERT_TRUE(at) << name;
        node = children->refs[*at];
    }
    EXPECT_EQ(hive->children(node)->size(), 50u);
}

}  // namespace
}  // namespace brisko::hive
