#include "hive/regf_writer.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>

#include "base/text.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 132000000000000000LL;  // a fixed FILETIME in 2019

uint32_t le32(const std::string& b, size_t off) {
    return uint32_t(uint8_t(b[off])) | uint32_t(uint8_t(b[off + 1])) << 8 |
           uint32_t(uint8_t(b[off + 2])) << 16 | uint32_t(uint8_t(b[off + 3])) << 24;
}
uint16_t le16(const std::string& b, size_t off) {
    return uint16_t(uint8_t(b[off]) | uint8_t(b[off + 1]) << 8);
}

class Hivex {
  public:
    explicit Hivex(const fs::path& file) : h_(hivex_open(file.c_str(), 0)) {}
    ~Hivex() {
        if (h_) hivex_close(h_);
    }
    Hivex(const Hivex&) = delete;
    Hivex& operator=(const Hivex&) = delete;
    hive_h* get() const { return h_; }

  private:
    hive_h* h_;
};

std::string takeString(char* s) {
    std::string r = s ? s : "<null>";
    std::free(s);
    return r;
}

// Compares a key read back through hivex with the tree it was written from;
// `file` is the raw hive for the fields hivex does not expose (class names).
void expectSameKey(hive_h* h, hive_node_h node, const RegTreeKey& key, const std::string& file,
                   size_t& keysSeen, bool checkTimes = true) {
    ++keysSeen;
    SCOPED_TRACE("key " + key.name);
    EXPECT_EQ(takeString(hivex_node_name(h, node)), key.name);
    if (checkTimes) {
        EXPECT_EQ(hivex_node_timestamp(h, node), key.lastWrite ? key.lastWrite : kTime);
    }

    size_t nk = node + 4;
    uint16_t classLen = le16(file, nk + 74);
    std::string className;
    if (classLen) {
        size_t cls = 4096 + le32(file, nk + 48) + 4;
        className = utf16leToUtf8(reinterpret_cast<const uint8_t*>(file.data() + cls), classLen);
    }
    EXPECT_EQ(className, key.className);

    hive_value_h* values = hivex_node_values(h, node);
    ASSERT_NE(values, nullptr);
    size_t nValues = 0;
    while (values[nValues]) ++nValues;
    EXPECT_EQ(nValues, key.values.size());
    for (size_t i = 0; i < std::min(nValues, key.values.size()); ++i) {
        const RegValue& want = key.values[i];
        EXPECT_EQ(takeString(hivex_value_key(h, values[i])), want.name);
        uint32_t type = 0;  // not hive_type: types beyond the enum's range are legal
        size_t len = 0;
        char* data = hivex_value_value(h, values[i], reinterpret_cast<hive_type*>(&type), &len);
        ASSERT_NE(data, nullptr) << want.name;
        EXPECT_EQ(type, want.type) << want.name;
        EXPECT_EQ(std::vector<uint8_t>(data, data + len), want.data) << want.name;
        std::free(data);
    }
    std::free(values);

    hive_node_h* children = hivex_node_children(h, node);
    ASSERT_NE(children, nullptr);
    std::map<std::string, const RegTreeKey*> byName;
    for (const auto& sub : key.subkeys) byName[sub->name] = sub.get();
    size_t nChildren = 0;
    for (; children[nChildren]; ++nChildren) {
        std::string name = takeString(hivex_node_name(h, children[nChildren]));
        auto it = byName.find(name);
        if (it == byName.end()) {
            ADD_FAILURE() << "unexpected subkey " << name;
            continue;
        }
        EXPECT_EQ(hivex_node_parent(h, children[nChildren]), node);
        expectSameKey(h, children[nChildren], *it->second, file, keysSeen, checkTimes);
    }
    EXPECT_EQ(nChildren, key.subkeys.size());
    std::free(children);
}

void expectRoundTrip(const RegTreeKey& root, const fs::path& file) {
    std::string error;
    RegfWriteOptions options;
    options.timestamp = kTime;
    ASSERT_TRUE(writeHiveFile(root, file, options, &error)) << error;
    Hivex hive(file);
    ASSERT_NE(hive.get(), nullptr) << "hivex cannot open " << file;
    size_t seen = 0;
    expectSameKey(hive.get(), hivex_root(hive.get()), root, test::readFile(file), seen);
    EXPECT_EQ(seen, root.countKeys());
}

// Random trees with every value type and size class, non-ASCII names and classes.
class TreeMaker {
  public:
    explicit TreeMaker(unsigned seed, bool bigData = true) : rng_(seed), bigData_(bigData) {}

    std::unique_ptr<RegTreeKey> make(int depth, int maxWidth) {
        auto root = std::make_unique<RegTreeKey>();
        root->name = "ROOT";
        fill(*root, depth, maxWidth);
        return root;
    }

  private:
    int pick(int n) { return int(rng_() % unsigned(n)); }

    std::string name() {
        static const char* stems[] = {"Software",    "zeta",       "Grüße",    "Ключ",
                                      "日本語",      "emoji😀",     "Ünïcödé_", "a b.c",
                                      "{GUID-1234}", "UPPER_lower"};
        return std::string(stems[pick(10)]) + std::to_string(serial_++);
    }

    std::vector<uint8_t> data() {
        static const size_t sizes[] = {0, 1, 4, 5, 64, 16344, 16345, 100 * 1024};
        size_t n = pick(20) || !bigData_ ? sizes[pick(5)] : sizes[5 + pick(3)];
        std::vector<uint8_t> d(n);
        for (auto& b : d) b = uint8_t(rng_());
        return d;
    }

    void fill(RegTreeKey& key, int depth, int maxWidth) {
        if (pick(3) == 0) key.className = pick(2) ? "Class" : "Klässe Ω";
        if (pick(4) == 0) key.lastWrite = kTime + pick(1000000);
        if (pick(3) == 0) key.setValue("", REG_SZ, utf8ToUtf16le("default"));
        int values = pick(6);
        for (int i = 0; i < values; ++i) {
            uint32_t type = uint32_t(i % 12);
            if (pick(10) == 0) type = 0x20001;
            key.values.push_back(RegValue{name(), type, data()});
        }
        if (depth == 0) return;
        int children = maxWidth / 2 + pick(maxWidth / 2 + 1);
        for (int i = 0; i < children; ++i) {
            auto child = std::make_unique<RegTreeKey>();
            child->name = name();
            fill(*child, depth - 1, maxWidth);
            key.subkeys.push_back(std::move(child));
        }
    }

    std::mt19937 rng_;
    bool bigData_;
    int serial_ = 0;
};

size_t countOccurrences(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = hay.find(needle); pos != std::string::npos; pos = hay.find(needle, pos + 1))
        ++n;
    return n;
}

TEST(RegfWriterTest, RandomTreesRoundTripThroughHivex) {
    test::TempDir dir;
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto tree = TreeMaker(seed).make(4, 6);
        expectRoundTrip(*tree, dir.path() / "random.hiv");
    }
}

TEST(RegfWriterTest, WideAndDeepTreesRoundTrip) {
    test::TempDir dir;
    RegTreeKey root;
    root.name = "ROOT";
    RegTreeKey* wide = root.find("Wide", true);
    for (int i = 0; i < 5000; ++i) {
        auto k = std::make_unique<RegTreeKey>();
        k->name = (i % 3 ? "key_" : "KEY") + std::to_string(i * 7919 % 5000);
        k->setValue("v", REG_DWORD, {uint8_t(i), 0, 0, 0});
        wide->subkeys.push_back(std::move(k));
    }
    RegTreeKey* deep = &root;
    for (int i = 0; i < 511; ++i) deep = deep->child("d" + std::to_string(i), true);
    expectRoundTrip(root, dir.path() / "wide.hiv");
}

TEST(RegfWriterTest, SubkeysAreStoredInRegistryOrderWithHashes) {
    RegTreeKey root;
    root.name = "ROOT";
    std::vector<std::string> names;
    std::mt19937 rng(7);
    for (int i = 0; i < 1200; ++i) {
        std::string n = "k" + std::to_string(rng() % 100000) + "_" + std::to_string(i);
        for (auto& c : n) c = (rng() & 1) ? char(std::toupper(c)) : c;
        if (i % 10 == 0) n += "_Z";  // '_' sorts after letters once upper-cased
        names.push_back(n);
        root.child(n, true);
    }
    auto bytes = serializeHive(root, {});
    ASSERT_FALSE(bytes.empty());
    std::string file(bytes.begin(), bytes.end());

    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return upperCase(a) < upperCase(b);
    });
    size_t rootNk = 4096 + le32(file, 36) + 4;
    ASSERT_EQ(le32(file, rootNk + 20), 1200u);
    size_t list = 4096 + le32(file, rootNk + 28) + 4;
    ASSERT_EQ(file.substr(list, 2), "ri");  // 1200 subkeys do not fit one leaf
    std::vector<std::string> stored;
    for (uint16_t l = 0; l < le16(file, list + 2); ++l) {
        size_t leaf = 4096 + le32(file, list + 4 + 4 * l) + 4;
        ASSERT_EQ(file.substr(leaf, 2), "lh");
        EXPECT_LE(le16(file, leaf + 2), 512);
        for (uint16_t i = 0; i < le16(file, leaf + 2); ++i) {
            size_t nk = 4096 + le32(file, leaf + 4 + 8 * i) + 4;
            std::string name = file.substr(nk + 76, le16(file, nk + 72));
            uint32_t hash = 0;
            for (char c : upperCase(name)) hash = hash * 37 + uint8_t(c);
            EXPECT_EQ(le32(file, leaf + 8 + 8 * i), hash) << name;
            stored.push_back(name);
        }
    }
    EXPECT_EQ(stored, names);
}

// The image backend edits hives in place through hivex.
TEST(RegfWriterTest, HivexCanEditWhatWeWrite) {
    test::TempDir dir;
    auto tree = TreeMaker(21).make(2, 4);
    tree->find("Software\\Keep", true)->setValue("v", REG_SZ, utf8ToUtf16le("x"));
    tree->find("Software\\Drop\\Below", true);
    fs::path file = dir.path() / "edit.hiv";
    ASSERT_TRUE(writeHiveFile(*tree, file));
    {
        hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
        ASSERT_NE(h, nullptr);
        hive_node_h software = hivex_node_get_child(h, hivex_root(h), "Software");
        hive_node_h added = hivex_node_add_child(h, software, "Added");
        char dword[] = {7, 0, 0, 0};
        hive_set_value value{const_cast<char*>("n"), hive_t_dword, 4, dword};
        EXPECT_EQ(hivex_node_set_value(h, added, &value, 0), 0);
        EXPECT_EQ(hivex_node_delete_child(h, hivex_node_get_child(h, software, "Drop")), 0);
        EXPECT_EQ(hivex_commit(h, nullptr, 0), 0);
        hivex_close(h);
    }
    tree->find("Software\\Added", true)->setValue("n", REG_DWORD, {7, 0, 0, 0});
    tree->find("Software")->removeChild("Drop");
    Hivex hive(file);
    ASSERT_NE(hive.get(), nullptr);
    size_t seen = 0;
    expectSameKey(hive.get(), hivex_root(hive.get()), *tree, test::readFile(file), seen, false);
    EXPECT_EQ(seen, tree->countKeys());
}

TEST(RegfWriterTest, ExternalReadersSeeEveryKey) {
    test::TempDir dir;
    auto tree = TreeMaker(11, false).make(4, 7);  // little data: the tools dump all of it
    tree->setValue("big", REG_BINARY, std::vector<uint8_t>(100 * 1024, 0x5A));
    RegTreeKey* wide = tree->find("Wide", true);
    for (int i = 0; i < 700; ++i) wide->child("w" + std::to_string(i), true);
    fs::path file = dir.path() / "peers.hiv";
    RegfWriteOptions options;
    options.embeddedName = "\\SystemRoot\\System32\\Config\\SOFTWARE";
    ASSERT_TRUE(writeHiveFile(*tree, file, options));

    auto xml = test::runShell("hivexml " + test::shellQuote(file.string()) + " 2>&1");
    EXPECT_EQ(xml.code, 0) << xml.out.substr(0, 500);
    EXPECT_EQ(countOccurrences(xml.out, "<node "), tree->countKeys());

    auto exported = test::runShell("regfexport " + test::shellQuote(file.string()) + " 2>&1");
    EXPECT_EQ(exported.code, 0) << exported.out.substr(0, 500);
    EXPECT_EQ(countOccurrences(exported.out, "Key path:"), tree->countKeys());
}

// Walks every bin and cell: the layout Windows checks when it loads a hive.
TEST(RegfWriterTest, BaseBlockBinsCellsAndSecurityAreWellFormed) {
    auto tree = TreeMaker(5).make(3, 5);
    // The default descriptor with other rights for SYSTEM.
    std::vector<uint8_t> customSd;
    {
        RegTreeKey probe;
        probe.name = "p";
        auto one = serializeHive(probe);
        std::string b(one.begin(), one.end());
        size_t sk = 4096 + le32(b, 4096 + le32(b, 36) + 4 + 44) + 4;
        customSd.assign(one.begin() + long(sk) + 20,
                        one.begin() + long(sk) + 20 + le32(b, sk + 16));
        customSd.at(64) = 0x19;
    }
    tree->child("Custom1", true)->securityDescriptor = customSd;
    tree->child("Custom2", true)->child("Custom3", true)->securityDescriptor = customSd;

    RegfWriteOptions options;
    options.timestamp = kTime;
    options.embeddedName = "\\SystemRoot\\System32\\Config\\SOFTWARE";
    auto bytes = serializeHive(*tree, options);
    ASSERT_FALSE(bytes.empty());
    std::string f(bytes.begin(), bytes.end());

    EXPECT_EQ(f.substr(0, 4), "regf");
    EXPECT_EQ(le32(f, 4), le32(f, 8));
    EXPECT_EQ(le32(f, 20), 1u);
    EXPECT_EQ(le32(f, 24), 5u);
    EXPECT_EQ(le32(f, 40) + 4096u, f.size());
    EXPECT_EQ(utf16leToUtf8(reinterpret_cast<const uint8_t*>(f.data() + 48), 64),
              "emRoot\\System32\\Config\\SOFTWARE");
    uint32_t sum = 0;
    for (size_t i = 0; i < 508; i += 4) sum ^= le32(f, i);
    EXPECT_EQ(le32(f, 508), sum == 0 ? 1u : sum);

    size_t skCells = 0, refs = 0;
    for (size_t bin = 4096; bin < f.size();) {
        ASSERT_EQ(f.substr(bin, 4), "hbin") << bin;
        ASSERT_EQ(le32(f, bin + 4), bin - 4096);
        size_t size = le32(f, bin + 8);
        ASSERT_TRUE(size >= 4096 && size % 4096 == 0);
        size_t cell = bin + 32;
        while (cell < bin + size) {
            auto cellSize = int32_t(le32(f, cell));
            size_t abs = size_t(cellSize < 0 ? -int64_t(cellSize) : cellSize);
            ASSERT_TRUE(abs >= 8 && abs % 8 == 0) << cell;
            if (cellSize < 0 && f.substr(cell + 4, 2) == "sk") {
                ++skCells;
                refs += le32(f, cell + 4 + 12);
                // Neighbours in the circular list point back at this cell.
                size_t next = 4096 + le32(f, cell + 8), prev = 4096 + le32(f, cell + 12);
                EXPECT_EQ(le32(f, prev + 8) + 4096, cell);
                EXPECT_EQ(le32(f, next + 12) + 4096, cell);
            }
            cell += abs;
        }
        ASSERT_EQ(cell, bin + size);
        bin += size;
    }
    EXPECT_EQ(skCells, 2u);  // the default descriptor and the custom one, each shared
    EXPECT_EQ(refs, tree->countKeys());
}

TEST(RegfWriterTest, RejectsTreesWindowsCannotHold) {
    using Mutate = std::function<void(RegTreeKey&)>;
    std::string wide128;  // 128 characters, 256 bytes of UTF-8
    for (int i = 0; i < 128; ++i) wide128 += "ж";
    auto sub = [](RegTreeKey& r, std::string name) {
        r.subkeys.push_back(std::make_unique<RegTreeKey>());
        r.subkeys.back()->name = std::move(name);
    };
    const std::pair<const char*, Mutate> bad[] = {
        {"key name 256", [&](RegTreeKey& r) { sub(r, std::string(256, 'k')); }},
        {"key name 256 wide", [&](RegTreeKey& r) { sub(r, std::string(128, 'k') + wide128); }},
        {"value name 16384", [](RegTreeKey& r) { r.setValue(std::string(16384, 'v'), 1, {}); }},
        {"duplicate subkeys",
         [&](RegTreeKey& r) {
             sub(r, "Abc");
             sub(r, "aBC");
         }},
        {"duplicate non-ASCII subkeys",
         [&](RegTreeKey& r) {
             sub(r, "Étoile");
             sub(r, "éTOILE");
         }},
        {"duplicate values",
         [](RegTreeKey& r) {
             r.values.push_back({"Name", 1, {}});
             r.values.push_back({"NAME", 4, {1, 2, 3, 4}});
         }},
        {"backslash", [&](RegTreeKey& r) { sub(r, "a\\b"); }},
        {"empty subkey name", [&](RegTreeKey& r) { sub(r, ""); }},
        {"invalid descriptor",
         [](RegTreeKey& r) {
             r.securityDescriptor = {1, 0, 4, 0x80, 99};
         }},
        {"too deep",
         [](RegTreeKey& r) {
             RegTreeKey* k = &r;
             for (int i = 0; i < 513; ++i) k = k->child("d", true);
         }},
    };
    test::TempDir dir;
    fs::path file = dir.path() / "keep.hiv";
    test::writeFile(file, "old contents");
    for (const auto& [what, mutate] : bad) {
        SCOPED_TRACE(what);
        RegTreeKey root;
        root.name = "ROOT";
        for (int i = 0; i < 20; ++i) root.values.push_back({"v" + std::to_string(i), 4, {}});
        mutate(root);
        EXPECT_TRUE(serializeHive(root).empty());
        std::string error;
        EXPECT_FALSE(writeHiveFile(root, file, {}, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(test::readFile(file), "old contents");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // The limits themselves are fine.
    RegTreeKey root;
    root.name = "ROOT";
    root.child(std::string(255, 'k'), true)->setValue(std::string(16383, 'v'), REG_SZ, {});
    expectRoundTrip(root, dir.path() / "limits.hiv");
}

TEST(RegfWriterTest, WriteReplacesAtomicallyAndReportsFailures) {
    test::TempDir dir;
    RegTreeKey root;
    root.name = "ROOT";
    root.setValue("v", REG_SZ, utf8ToUtf16le("one"));
    fs::path file = dir.path() / "SOFTWARE";
    test::writeFile(file, "previous hive");
    fs::permissions(file, fs::perms(0600));
    ASSERT_TRUE(writeHiveFile(root, file));
    EXPECT_EQ(test::readFile(file).substr(0, 4), "regf");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));  // the original's mode is kept
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    std::string error;
    EXPECT_FALSE(writeHiveFile(root, dir.path() / "missing" / "SOFTWARE", {}, &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;

    fs::create_directory(dir.path() / "folder");
    test::writeFile(dir.path() / "folder" / "inside", "x");
    error.clear();
    EXPECT_FALSE(writeHiveFile(root, dir.path() / "folder", {}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(test::readFile(dir.path() / "folder" / "inside"), "x");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(RegfWriterTest, MarksSymbolicLinksAndTheRootKey) {
    RegTreeKey root;  // nameless, as trees built from .reg text are
    root.child("Link", true)
        ->setValue("SymbolicLinkValue", REG_LINK,
                   utf8ToUtf16le("\\Registry\\Machine\\Software", false));
    auto bytes = serializeHive(root);
    std::string f(bytes.begin(), bytes.end());
    size_t rootNk = 4096 + le32(f, 36) + 4;
    EXPECT_EQ(le16(f, rootNk + 2), 0x2c);
    EXPECT_EQ(f.substr(rootNk + 76, le16(f, rootNk + 72)), "ROOT");
    size_t leaf = 4096 + le32(f, rootNk + 28) + 4;
    size_t link = 4096 + le32(f, leaf + 4) + 4;
    EXPECT_EQ(le16(f, link + 2), 0x30);  // KEY_COMP_NAME | KEY_SYM_LINK
    EXPECT_EQ(le32(f, link + 16) + 4096 + 4, rootNk);
}

}  // namespace
}  // namespace brisko::hive
