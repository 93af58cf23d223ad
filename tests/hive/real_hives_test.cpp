// Hives, logs and damage as Windows itself left them (../shared/realdata):
// recovery from Windows 8.1+ logs, dirty hives without logs, and copies that
// keep every field and pack as tightly as Windows does.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <map>

#include "base/atomic_file.h"
#include "base/text.h"
#include "hive/hive.h"
#include "hive/hive_reader.h"
#include "hive/regf_format.h"
#include "hive_test_util.h"
#include "support/real_data.h"
#include "support/test_machine.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;
using regf::get32;

struct Counts {
    size_t keys = 0, values = 0;
};

Counts count(Hive& hive, HiveNode node) {
    Counts c{1, 0};
    if (auto values = hive.values(node)) c.values += values->size();
    if (auto kids = hive.children(node))
        for (size_t ref : kids->refs) {
            Counts k = count(hive, ref);
            c.keys += k.keys;
            c.values += k.values;
        }
    return c;
}

class RealHives : public ::testing::Test {
  protected:
    void SetUp() override { BRISKO_REQUIRE_REAL_DATA(); }

    // The hive (and the logs named) unpacked into the test's folder.
    fs::path unpack(const std::string& hive, std::vector<std::string> logs = {}) {
        auto file = test::unpackRealData("hives/" + hive, dir_.path());
        EXPECT_TRUE(file) << hive;
        for (const auto& suffix : logs)
            EXPECT_TRUE(test::unpackRealData("hives/" + hive + suffix, dir_.path()));
        return file.value_or(fs::path());
    }
    std::shared_ptr<Hive> open(const fs::path& file) {
        std::string why;
        auto hive = Hive::open(file, &why);
        EXPECT_TRUE(hive) << file << ": " << why;
        return hive;
    }

    // The hive opened, and what it holds as read (recovered where it was
    // dirty) saved beside it as `asRead`; nullptr when either fails.
    std::shared_ptr<Hive> openAsRead(const fs::path& file, fs::path& asRead) {
        auto hive = open(file);
        asRead = file.string() + ".asread";
        std::string why;
        if (hive && !hive->saveCompact(asRead, &why)) {
            ADD_FAILURE() << why;
            return nullptr;
        }
        return hive;
    }

    test::TempDir dir_;
};

TEST_F(RealHives, Windows10LogsAreReplayedAsWindowsDoes) {
    struct Case {
        const char* hive;
        size_t entries, keys, values;
    } cases[] = {{"win10_UsrClass.dat", 14, 6238, 12531},
                 {"win10_transactions_NTUSER.DAT", 23, 3105, 4695}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hive);
        auto hive = open(unpack(c.hive, {".LOG1", ".LOG2"}));
        ASSERT_TRUE(hive);
        HiveState state = hive->state();
        EXPECT_EQ(state.health, HiveHealth::Recovered) << state.reason;
        EXPECT_EQ(state.logEntries, c.entries) << state.reason;
        EXPECT_TRUE(hive->writable()) << hive->readOnlyReason();
        Counts n = count(*hive, hive->root());
        EXPECT_EQ(n.keys, c.keys);
        EXPECT_EQ(n.values, c.values);
    }
}

TEST_F(RealHives, CleanHivesReadWhole) {
    std::map<std::string, Counts> expected = {
        {"win10_NTUSER.DAT", {1812, 4094}},
        {"win10_SYSTEM", {30756, 73456}},
        {"win10_SAM", {65, 70}},
        {"xp_SAM", {76, 84}},
        {"xp_SECURITY", {101, 110}},
        {"xp_UsrClass.dat", {7505, 19987}},
    };
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        auto hive = open(unpack(name));
        ASSERT_TRUE(hive);
        EXPECT_EQ(hive->state().health, HiveHealth::Clean) << hive->state().reason;
        Counts n = count(*hive, hive->root());
        EXPECT_EQ(n.keys, want.keys);
        EXPECT_EQ(n.values, want.values);
    }
    // An XP hive whose log is older than the hive is clean: the log is not replayed.
    auto xp = open(unpack("xp_NTUSER.DAT", {".LOG"}));
    ASSERT_TRUE(xp);
    EXPECT_EQ(xp->state().health, HiveHealth::Clean) << xp->state().reason;
    Counts n = count(*xp, xp->root());
    EXPECT_EQ(n.keys, 1597u);
    EXPECT_EQ(n.values, 2310u);
}

TEST_F(RealHives, DirtyHivesWithoutLogsAreUsedAsStored) {
    std::map<std::string, Counts> expected = {{"win10_SECURITY", {100, 109}},
                                              {"win10_amcache.hve", {2105, 17539}}};
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        fs::path file = unpack(name);
        auto hive = open(file);
        ASSERT_TRUE(hive);
        EXPECT_EQ(hive->state().health, HiveHealth::AsStored);
        EXPECT_EQ(hive->state().reason, "not closed cleanly; no transaction logs; used as stored");
        EXPECT_TRUE(hive->writable()) << hive->readOnlyReason();
        Counts n = count(*hive, hive->root());
        EXPECT_EQ(n.keys, want.keys);
        EXPECT_EQ(n.values, want.values);
        // A change written back leaves a hive closed cleanly.
        ASSERT_TRUE(hive->setValue(hive->root(), "Brisko", REG_DWORD, std::vector<uint8_t>(4, 1)));
        std::string why;
        ASSERT_TRUE(hive->commit(&why)) << why;
        EXPECT_EQ(hive->state().health, HiveHealth::Clean);
        hive->close();
        auto again = open(file);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->state().health, HiveHealth::Clean) << again->state().reason;
        EXPECT_EQ(count(*again, again->root()).values, want.values + 1);
    }
    // Logs that exist but cannot be applied keep a dirty hive read-only.
    fs::path security = dir_.path() / "win10_SECURITY";
    std::string bytes = test::readFile(unpack("win10_SECURITY"));
    test::writeFile(security, bytes);
    test::writeFile(dir_.path() / "win10_SECURITY.LOG1", std::string(4096, 'x'));
    auto unusable = open(security);
    ASSERT_TRUE(unusable);
    EXPECT_EQ(unusable->state().health, HiveHealth::Damaged);
    EXPECT_FALSE(unusable->writable());
}

TEST_F(RealHives, DamagedHiveReadsAsFarAsItGoesAndIsNeverWritten) {
    std::string why;
    auto hive = Hive::open(unpack("win10_corrupted_system_hive"), &why);
    if (!hive) {
        EXPECT_FALSE(why.empty());
        return;
    }
    EXPECT_EQ(hive->state().health, HiveHealth::Damaged);
    EXPECT_FALSE(hive->writable());
    EXPECT_FALSE(hive->setValue(hive->root(), "X", REG_DWORD, std::vector<uint8_t>(4)));
}

// Compares two hives cell by cell: every key's name as stored, flags (and
// the virtualization, Wow64 and debug bits), time, class and descriptor;
// every value's name, type and data. Empty when equal, else the first
// difference. `skipRootValues`: the root's values and time (a test's edit).
class CellCompare {
  public:
    CellCompare(const std::string& a, const std::string& b) {
        a_.reset({reinterpret_cast<const uint8_t*>(a.data()), a.size()});
        b_.reset({reinterpret_cast<const uint8_t*>(b.data()), b.size()});
        rootA_ = get32(reinterpret_cast<const uint8_t*>(a.data()) + regf::kBaseRootCell);
        rootB_ = get32(reinterpret_cast<const uint8_t*>(b.data()) + regf::kBaseRootCell);
    }
    std::string run(bool skipRootValues) { return key(rootA_, rootB_, "", skipRootValues); }

  private:
    std::string key(uint32_t ka, uint32_t kb, const std::string& path, bool skipOwn) {
        const uint8_t* x = a_.key(ka);
        const uint8_t* y = b_.key(kb);
        if (!x || !y) return path + ": unreadable";
        std::string nx, ny, cx, cy;
        HiveReader::keyName(x, nx);
        HiveReader::keyName(y, ny);
        if (nx != ny) return path + ": names " + nx + " / " + ny;
        std::string here = path + "\\" + nx;
        if (HiveReader::flags(x) != HiveReader::flags(y)) return here + ": flags";
        if (HiveReader::userFlags(x) != HiveReader::userFlags(y)) return here + ": user flags";
        if (!skipOwn && HiveReader::lastWrite(x) != HiveReader::lastWrite(y))
            return here + ": time";
        a_.className(x, cx);
        b_.className(y, cy);
        if (cx != cy) return here + ": class";
        auto sx = a_.security(get32(x + regf::kNkSecurity));
        auto sy = b_.security(get32(y + regf::kNkSecurity));
        if (sx.size() != sy.size() || !std::equal(sx.begin(), sx.end(), sy.begin()))
            return here + ": security descriptor";
        if (!skipOwn) {
            uint32_t n = 0, m = 0;
            const uint8_t* lx = a_.valueList(x, n);
            const uint8_t* ly = b_.valueList(y, m);
            if (n != m) return here + ": value count";
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* vx = a_.value(get32(lx + 4 * i));
                const uint8_t* vy = b_.value(get32(ly + 4 * i));
                if (!vx || !vy) return here + ": value unreadable";
                std::string vnx, vny;
                HiveReader::valueName(vx, vnx);
                HiveReader::valueName(vy, vny);
                std::span<const uint8_t> dx, dy;
                std::vector<uint8_t> bx, by;
                if (vnx != vny || HiveReader::valueType(vx) != HiveReader::valueType(vy) ||
                    !a_.valueBytes(vx, dx, bx) || !b_.valueBytes(vy, dy, by) ||
                    dx.size() != dy.size() || !std::equal(dx.begin(), dx.end(), dy.begin()))
                    return here + ": value " + vnx;
            }
        }
        std::vector<uint32_t> kx, ky;
        a_.forEachSubkey(get32(x + regf::kNkSubkeyList), [&](uint32_t k) { kx.push_back(k); });
        b_.forEachSubkey(get32(y + regf::kNkSubkeyList), [&](uint32_t k) { ky.push_back(k); });
        if (HiveReader::subkeyCount(x) == 0) kx.clear();
        if (HiveReader::subkeyCount(y) == 0) ky.clear();
        if (kx.size() != ky.size()) return here + ": subkey count";
        for (size_t i = 0; i < kx.size(); ++i)
            if (std::string d = key(kx[i], ky[i], here, false); !d.empty()) return d;
        return {};
    }

    HiveReader a_, b_;
    uint32_t rootA_ = 0, rootB_ = 0;
};

// Bytes in free cells, and the kinds of subkey list, of a hive file.
struct Layout {
    uint64_t freeBytes = 0;
    std::map<std::string, size_t> lists;
};

Layout layoutOf(const std::string& file) {
    Layout l;
    const auto* b = reinterpret_cast<const uint8_t*>(file.data());
    uint64_t end = regf::kBaseBlockSize + get32(b + regf::kBaseBinsSize);
    for (uint64_t bin = regf::kBaseBlockSize; bin + regf::kBinHeaderSize <= end;) {
        uint32_t size = get32(b + bin + regf::kBinSize);
        if (size == 0) break;
        for (uint64_t cell = bin + regf::kBinHeaderSize; cell + 4 <= bin + size;) {
            auto s = int32_t(get32(b + cell));
            if (s == 0) break;
            if (s > 0) {
                l.freeBytes += uint32_t(s);
            } else {
                std::string sig(reinterpret_cast<const char*>(b + cell + 4), 2);
                if (sig == "lh" || sig == "lf" || sig == "li" || sig == "ri") ++l.lists[sig];
            }
            cell += uint32_t(s < 0 ? -s : s);
        }
        bin += size;
    }
    return l;
}

// Every hive that can be read whole: the state Windows would load it in.
const std::vector<std::pair<std::string, std::vector<std::string>>> kReadable = {
    {"win10_NTUSER.DAT", {}},
    {"win10_SYSTEM", {}},
    {"win10_SAM", {}},
    {"win10_SECURITY", {}},
    {"win10_amcache.hve", {}},
    {"win10_UsrClass.dat", {".LOG1", ".LOG2"}},
    {"win10_transactions_NTUSER.DAT", {".LOG1", ".LOG2"}},
    {"xp_NTUSER.DAT", {".LOG"}},
    {"xp_SAM", {}},
    {"xp_SECURITY", {}},
    {"xp_UsrClass.dat", {}},
};

TEST_F(RealHives, CompactCopiesKeepEveryFieldAndPackTightly) {
    for (const auto& [name, logs] : kReadable) {
        SCOPED_TRACE(name);
        fs::path file = unpack(name, logs), asRead;
        auto hive = openAsRead(file, asRead);
        ASSERT_TRUE(hive);
        fs::path copy = dir_.path() / (name + ".fdc");
        TempFileBeside out;
        std::string why;
        const int64_t kReorganized = 133000000000000000LL;
        ASSERT_TRUE(out.create(copy, &why) && hive->writeCompact(out, &why, kReorganized) &&
                    out.finish(&why) && out.replace(&why))
            << why;
        std::string original = test::readFile(file), written = test::readFile(copy);

        std::string reference = original;
        if (hive->state().health == HiveHealth::Recovered) reference = test::readFile(asRead);
        EXPECT_EQ(CellCompare(reference, written).run(false), "");

        // The base block keeps its version, clustering, GUIDs, flags and "rmtm";
        // the reorganization time is the copy's own.
        auto base = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
        EXPECT_EQ(get32(base(written) + regf::kBaseMinor),
                  get32(base(original) + regf::kBaseMinor));
        EXPECT_EQ(std::memcmp(base(written) + 112, base(reference) + 112, 56), 0);
        EXPECT_EQ(get32(base(written) + 168), uint32_t(kReorganized));
        // Only the kinds of subkey list the version allows.
        Layout got = layoutOf(written);
        if (get32(base(original) + regf::kBaseMinor) < 5) {
            EXPECT_EQ(got.lists.count("lh"), 0u);
            // Other readers take our "lf" lists as Windows' own.
            if (original.size() < (1 << 20)) test::expectOraclesAccept(copy);
        }

        std::cout << name << ": " << original.size() << " bytes, compact copy " << written.size()
                  << " bytes, " << got.freeBytes << " bytes free\n";
        // Never larger than the file, and no more free room than 1% of it.
        EXPECT_LE(written.size(), original.size());
        EXPECT_LE(got.freeBytes * 100, original.size()) << got.freeBytes << " bytes free";
    }
}

TEST_F(RealHives, CommitsKeepWhatTheyDidNotChange) {
    for (const auto& [name, logs] : kReadable) {
        SCOPED_TRACE(name);
        fs::path file = unpack(name, logs), asRead;
        auto hive = openAsRead(file, asRead);
        ASSERT_TRUE(hive);
        std::string before = test::readFile(asRead);
        ASSERT_TRUE(hive->setValue(hive->root(), "Brisko", REG_SZ, utf8ToUtf16le("x", true)));
        std::string why;
        ASSERT_TRUE(hive->commit(&why)) << why;
        std::string after = test::readFile(file);
        EXPECT_EQ(CellCompare(before, after).run(true), "");
        EXPECT_EQ(get32(reinterpret_cast<const uint8_t*>(after.data()) + regf::kBaseMinor),
                  get32(reinterpret_cast<const uint8_t*>(before.data()) + regf::kBaseMinor));
        // A commit is no reorganization: the time of the last one stays.
        EXPECT_EQ(std::memcmp(after.data() + 112, before.data() + 112, 64), 0);
    }
}

}  // namespace
}  // namespace brisko::hive
