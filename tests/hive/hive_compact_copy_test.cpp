// Compact copies of open hives: written straight from the hive's cells, the
// same bytes the key tree gives; with changes held in memory, those changes.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "base/text.h"
#include "hive/hive_copy.h"
#include "hive_test_util.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 132000000000000000LL;

// Owner only: SYSTEM (S-1-5-18) or Administrators' domain (S-1-5-32).
std::vector<uint8_t> ownerOnly(uint8_t authority) {
    return {1, 0, 0, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0,         0, 0, 0,
            0, 0, 0, 0,    1,  1, 0, 0, 0, 0, 0, 5, authority, 0, 0, 0};
}

RegTreeKey richTree() {
    RegTreeKey root;
    root.name = "ROOT";
    RegTreeKey* v = root.find("Vendor\\Values", true);
    v->className = "Klasse \xc3\xa9";
    v->securityDescriptor = ownerOnly(0x12);
    v->setValue("", REG_SZ, utf8ToUtf16le("default"));
    v->setValue("dword", REG_DWORD, {1, 2, 3, 4});
    v->setValue("small", REG_BINARY, {9});
    v->setValue("none", REG_NONE, {});
    v->setValue("odd type", 0x12345, {1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    v->setValue("big", REG_BINARY, big);
    v->setValue("caf\xc3\xa9", REG_SZ, utf8ToUtf16le("latin-1 name"));
    v->setValue("\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87", REG_SZ, utf8ToUtf16le("utf-16 name"));
    root.find("\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87\\Sub", true)->securityDescriptor = ownerOnly(0x20);
    std::string deep = "Deep";
    for (int i = 0; i < 40; ++i) deep += "\\L" + std::to_string(i);
    root.find(deep, true)->setValue("leaf", REG_DWORD, {1, 0, 0, 0});
    RegTreeKey* wide = root.find("Wide", true);
    for (int i = 0; i < 1500; ++i) wide->child("K" + std::to_string(i), true);  // an "ri" index
    return root;
}

// Several megabytes, which the writer hands to its file while it builds.
RegTreeKey largeTree() {
    RegTreeKey root = richTree();
    for (int v = 0; v < 40; ++v) {
        RegTreeKey* vendor = root.child("Vendor" + std::to_string(v), true);
        for (int k = 0; k < 50; ++k) {
            RegTreeKey* key = vendor->child("Key" + std::to_string(k), true);
            key->setValue("blob", REG_BINARY, std::vector<uint8_t>(3000, uint8_t(v + k)));
            // Descriptors first met deep in the tree, then shared far apart.
            if (k == 49 || (v > 20 && k == 0))
                key->securityDescriptor = ownerOnly(uint8_t(0x20 + v % 5));
        }
    }
    return root;
}

}  // namespace

TEST(HiveCompactCopy, FromTheCellsItIsWhatTheKeyTreeGivesByteForByte) {
    test::TempDir dir;
    RegfWriteOptions holes;
    holes.timestamp = kTime;
    holes.freeCellEvery = 3;
    holes.freeCellBytes = 96;
    ASSERT_TRUE(writeHiveFile(richTree(), dir.path() / "hive", holes));
    auto hive = Hive::open(dir.path() / "hive", nullptr);
    ASSERT_TRUE(hive);
    RegfWriteOptions options;
    options.timestamp = kTime;
    options.embeddedName = hive->embeddedName();
    auto tree = hive->snapshot(nullptr);
    ASSERT_TRUE(tree);
    std::vector<uint8_t> fromTree = serializeHive(*tree, options), fromCells;
    std::string error;
    ASSERT_TRUE(hive->withCells([&](const HiveReader& r, uint32_t root) {
        fromCells = serializeHive(r, root, options, &error);
    }));
    ASSERT_FALSE(fromCells.empty()) << error;
    EXPECT_TRUE(fromCells == fromTree);
    EXPECT_LT(fromCells.size(), fs::file_size(dir.path() / "hive"));

    std::string why;
    ASSERT_TRUE(saveVerifiedCopy(*hive, dir.path() / "copy", &why)) << why;
    test::expectOraclesAccept(dir.path() / "copy");
    // A target in a folder that does not exist: a reason, and nothing written.
    EXPECT_FALSE(saveVerifiedCopy(*hive, dir.path() / "none" / "copy", &why));
    EXPECT_NE(why.find("cannot be written"), std::string::npos) << why;
}

// The keys still open and the descriptors (counted at the end) reach the
// file after the rest.
TEST(HiveCompactCopy, AHiveWrittenWhileItIsBuiltIsTheHiveBuiltInMemory) {
    RegTreeKey root = largeTree();
    test::TempDir dir;
    for (uint32_t holes : {0u, 3u}) {
        SCOPED_TRACE(holes ? "with holes" : "dense");
        RegfWriteOptions options;
        options.timestamp = kTime;
        options.freeCellEvery = holes;
        options.freeCellBytes = 96;
        std::vector<uint8_t> inMemory = serializeHive(root, options);
        ASSERT_GT(inMemory.size(), size_t(6) << 20);
        std::string expected(inMemory.begin(), inMemory.end());
        ASSERT_TRUE(writeHiveFile(root, dir.path() / "hive", options));
        EXPECT_TRUE(test::readFile(dir.path() / "hive") == expected);

        auto hive = Hive::open(dir.path() / "hive", nullptr);
        ASSERT_TRUE(hive);
        std::vector<uint8_t> fromCells;
        bool written = false;
        ASSERT_TRUE(hive->withCells([&](const HiveReader& r, uint32_t rootCell) {
            fromCells = serializeHive(r, rootCell, options);
            written = writeHiveFile(r, rootCell, dir.path() / "copy", options);
        }));
        ASSERT_TRUE(written);
        EXPECT_TRUE(test::readFile(dir.path() / "copy") ==
                    std::string(fromCells.begin(), fromCells.end()));
    }
}

// Keys whose subtrees span several megabytes: their nk records, written
// last, lie in stretches of the buffer the writer gave back around them, and
// so do descriptors first met before them and counted after. The file is
// still the hive built in memory, from a key tree and from a hive's cells.
TEST(HiveCompactCopy, KeysOpenWhileMegabytesAreWrittenReachTheFileWhole) {
    RegTreeKey root;
    root.name = "ROOT";
    root.lastWrite = kTime;
    RegTreeKey* filler = root.child("A filler", true);
    for (int i = 0; i < 700; ++i)
        filler->setValue("v" + std::to_string(i), REG_BINARY,
                         std::vector<uint8_t>(4000 + size_t(i % 7) * 8, uint8_t(i)));
    RegTreeKey* key = &root;
    for (int level = 0; level < 6; ++level) {
        key = key->child("Level" + std::to_string(level), true);
        key->className = "class " + std::to_string(level);
        if (level % 2) key->securityDescriptor = ownerOnly(uint8_t(0x20 + level));
        for (int i = 0; i < 300; ++i) {
            RegTreeKey* leaf = key->child("Leaf" + std::to_string(i), true);
            leaf->setValue("d", REG_BINARY, std::vector<uint8_t>(2500, uint8_t(level + i)));
            if (i % 50 == 0) leaf->securityDescriptor = ownerOnly(uint8_t(0x12 + i % 3));
        }
    }
    RegfWriteOptions options;
    options.timestamp = kTime;
    std::vector<uint8_t> inMemory = serializeHive(root, options);
    ASSERT_GT(inMemory.size(), size_t(8) << 20);
    const std::string expected(inMemory.begin(), inMemory.end());
    test::TempDir dir;
    ASSERT_TRUE(writeHiveFile(root, dir.path() / "hive", options));
    EXPECT_TRUE(test::readFile(dir.path() / "hive") == expected);

    auto hive = Hive::open(dir.path() / "hive", nullptr);
    ASSERT_TRUE(hive);
    // From the cells, keys come in the registry's order rather than the tree's.
    std::vector<uint8_t> fromCells;
    bool written = false;
    ASSERT_TRUE(hive->withCells([&](const HiveReader& r, uint32_t rootCell) {
        fromCells = serializeHive(r, rootCell, options);
        written = writeHiveFile(r, rootCell, dir.path() / "copy", options);
    }));
    ASSERT_TRUE(written);
    EXPECT_TRUE(test::readFile(dir.path() / "copy") ==
                std::string(fromCells.begin(), fromCells.end()));
    std::string why;
    EXPECT_TRUE(saveVerifiedCopy(*hive, dir.path() / "verified", &why)) << why;
}

// A file that cannot grow past 2 MB: the write fails with its reason while
// the hive is being built, and the old file stays as it was.
TEST(HiveCompactCopy, AWriteThatFailsWhileTheHiveIsBuiltKeepsTheOldFile) {
    test::TempDir dir;
    fs::path file = dir.path() / "hive";
    test::writeFile(file, "old contents");
    RegTreeKey root = largeTree();
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 2 << 20;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    bool written = writeHiveFile(root, file, {}, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(test::readFile(file), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// Windows stores names as UTF-16 units, which need not make valid text (a
// lone surrogate); the copy keeps them unit for unit.
TEST(HiveCompactCopy, NamesThatAreNoValidTextAreCopiedUnitForUnit) {
    test::TempDir dir;
    RegTreeKey root;
    root.name = "ROOT";
    RegTreeKey* only =
        root.find("Parent\\\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87", true);  // the parent's only subkey
    only->setValue("\xd0\x97\xd0\xbd\xd0\xb0\xd1\x87", REG_DWORD, {1, 0, 0, 0});
    fs::path file = dir.path() / "hive";
    ASSERT_TRUE(writeHiveFile(root, file));
    std::string bytes = test::readFile(file);
    std::string lone("\x00\xd8", 2);      // U+D800 without its second half
    auto stored = [](const char* name) {  // as a name is stored: no terminating NUL
        std::vector<uint8_t> units = utf8ToUtf16le(name);
        return std::string(units.begin(), units.end() - 2);
    };
    for (const char* name :
         {"\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87", "\xd0\x97\xd0\xbd\xd0\xb0\xd1\x87"}) {
        size_t at = bytes.find(stored(name));
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, 2, lone);
    }
    test::writeFile(file, bytes);

    auto hive = Hive::open(file, nullptr);
    ASSERT_TRUE(hive);
    std::string why;
    ASSERT_TRUE(saveVerifiedCopy(*hive, dir.path() / "copy", &why)) << why;
    std::string copy = test::readFile(dir.path() / "copy");
    for (const char* rest : {"\xd0\xbb\xd1\x8e\xd1\x87", "\xd0\xbd\xd0\xb0\xd1\x87"}) {
        EXPECT_NE(copy.find(lone + stored(rest)), std::string::npos);
    }
}

TEST(HiveCompactCopy, ACopyOfAHiveWithChangesInMemoryHoldsThem) {
    test::TempDir dir;
    RegTreeKey root = richTree();
    ASSERT_TRUE(writeHiveFile(root, dir.path() / "hive", {}));
    auto hive = Hive::open(dir.path() / "hive", nullptr);
    ASSERT_TRUE(hive);
    // Added keys sit at the end of their list in memory; the copy stores
    // every list in the registry's order and must still count as equal.
    HiveNode added = hive->addChild(hive->root(), "AAA first");
    ASSERT_TRUE(added);
    ASSERT_TRUE(hive->setValue(added, "v", REG_DWORD, std::vector<uint8_t>{7, 0, 0, 0}));
    ASSERT_TRUE(hive->deleteChild(hive->root(), "Deep"));
    std::string why;
    ASSERT_TRUE(saveVerifiedCopy(*hive, dir.path() / "copy", &why)) << why;
    auto copy = Hive::open(dir.path() / "copy", nullptr);
    ASSERT_TRUE(copy);
    auto kids = copy->children(copy->root());
    ASSERT_TRUE(kids);
    EXPECT_EQ(kids->names.front(), "AAA first");
    EXPECT_FALSE(kids->find("Deep"));
    auto v = copy->value(kids->refs.front(), "v");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->data, (std::vector<uint8_t>{7, 0, 0, 0}));
    // The added key has the descriptor of the key it was added under.
    EXPECT_EQ(copy->securityDescriptor(kids->refs.front()), hive->securityDescriptor(hive->root()));
}

TEST(HiveCompactCopy, LargeHivesAreComparedByTwoThreadsAndTheFirstDifferenceIsReported) {
    test::TempDir dir;
    auto write = [&](const char* name, int changed) {
        RegTreeKey root;
        root.lastWrite = kTime;
        for (int i = 0; i < 200; ++i) {
            RegTreeKey* k = root.find("K" + std::to_string(100 + i), true);
            k->lastWrite = kTime;
            std::vector<uint8_t> data(50000, uint8_t(i));
            if (i == changed || (changed == 5 && i == 30)) data.back() ^= 1;
            k->setValue("d", REG_BINARY, data);
        }
        EXPECT_TRUE(writeHiveFile(root, dir.path() / name, {}));
        return Hive::open(dir.path() / name, nullptr);
    };
    auto base = write("base", -1), same = write("same", -1);
    auto both = write("both", 5), later = write("later", 30);
    ASSERT_TRUE(base && same && both && later);
    std::string why;
    EXPECT_TRUE(sameHiveContent(*base, *same, &why)) << why;
    EXPECT_FALSE(sameHiveContent(*base, *both, &why));
    EXPECT_EQ(why.rfind("key \"K105\": value \"d\" holds other data", 0), 0u) << why;
    EXPECT_FALSE(sameHiveContent(*base, *later, &why));
    EXPECT_EQ(why.rfind("key \"K130\"", 0), 0u) << why;
}

}  // namespace brisko::hive
