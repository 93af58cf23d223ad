// Edits kept in memory and committed as a whole new hive: what they keep,
// what they refuse, and what the file looks like after.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "base/text.h"
#include "hive/hive.h"
#include "hive_test_util.h"
#include "support/hive_log_writer.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kOld = 130000000000000000LL;  // 2012

const RegTreeKey* sortedChild(const RegTreeKey& key, size_t i) {
    std::vector<const RegTreeKey*> kids;
    for (const auto& k : key.subkeys) kids.push_back(k.get());
    std::sort(kids.begin(), kids.end(),
              [](auto* a, auto* b) { return regf::compareNames(a->name, b->name) < 0; });
    return kids[i];
}

// Same keys, values (in order, with types and bytes), classes, descriptors,
// and, for keys `changed` does not name, the same last-write times.
void expectSameTree(const RegTreeKey& got, const RegTreeKey& want, const std::string& path,
                    const std::function<bool(const std::string&)>& changed) {
    SCOPED_TRACE(path);
    ASSERT_EQ(got.subkeys.size(), want.subkeys.size());
    ASSERT_EQ(got.values.size(), want.values.size());
    for (size_t i = 0; i < got.values.size(); ++i) {
        EXPECT_EQ(got.values[i].name, want.values[i].name);
        EXPECT_EQ(got.values[i].type, want.values[i].type) << want.values[i].name;
        EXPECT_EQ(got.values[i].data, want.values[i].data) << want.values[i].name;
    }
    EXPECT_EQ(got.className, want.className);
    if (!want.securityDescriptor.empty()) {
        EXPECT_EQ(got.securityDescriptor, want.securityDescriptor);
    }
    if (!changed(path)) {
        EXPECT_EQ(got.lastWrite, want.lastWrite);
    }
    for (size_t i = 0; i < got.subkeys.size(); ++i) {
        const RegTreeKey* g = sortedChild(got, i);
        const RegTreeKey* w = sortedChild(want, i);
        EXPECT_EQ(g->name, w->name);
        expectSameTree(*g, *w, path + "\\" + w->name, changed);
    }
}

HiveNode child(Hive& hive, HiveNode node, std::string_view name) {
    auto list = hive.children(node);
    auto i = list ? list->find(name) : std::nullopt;
    return i ? list->refs[*i] : 0;
}

// Descriptors: one shared by many keys, one for a single key.
std::vector<uint8_t> descriptor(uint8_t rights) {
    std::vector<uint8_t> sd = {1, 0, 4, 0x80, 0x14, 0, 0, 0, 0x20, 0, 0,    0, 0, 0,    0,
                               0, 0, 0, 0,    0,    1, 1, 0, 0,    0, 0,    0, 5, 0x12, 0,
                               0, 0, 1, 1,    0,    0, 0, 0, 0,    5, 0x12, 0, 0, 0};
    sd.push_back(rights);
    return sd;
}

class HiveCommitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.name = "ROOT";
        tree.lastWrite = kOld;
        RegTreeKey* types = key("Types");
        std::vector<uint32_t> kinds = {
            REG_NONE, REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
            REG_LINK, REG_MULTI_SZ, REG_QWORD,     8,          9,         10,
            0x12345,  0xFFFF0001};
        for (uint32_t t : kinds) {
            types->values.push_back({"t" + std::to_string(t), t, {1, 2, 3, 4, 5, 6, 7}});
            types->values.push_back({"empty" + std::to_string(t), t, {}});
            types->values.push_back({"small" + std::to_string(t), t, {9, 8}});
        }
        types->values.push_back({"", REG_SZ, utf8ToUtf16le("default")});
        RegTreeKey* big = key("Big");
        big->values.push_back({"Segmented", REG_BINARY, pattern(70000)});
        big->values.push_back({"Exact", REG_BINARY, pattern(16344)});
        big->values.push_back({"Other", REG_SZ, utf8ToUtf16le("x")});
        key("Odd\\Größe")->values.push_back({"Ωmega", REG_SZ, utf8ToUtf16le("€")});
        key("Odd\\日本語\\😀")->values.push_back({"値", REG_DWORD, {1, 0, 0, 0}});
        key("Classy")->className = "Some Class";
        for (int i = 0; i < 200; ++i)
            key("Shared\\K" + std::to_string(i))->securityDescriptor = descriptor(1);
        key("Own")->securityDescriptor = descriptor(2);
        file = dir.path() / "NTUSER.DAT";
        RegfWriteOptions options;
        options.embeddedName = "\\??\\C:\\Users\\Alex\\ntuser.dat";
        options.sequence = 7;
        ASSERT_TRUE(writeHiveFile(tree, file, options));
    }

    RegTreeKey* key(const std::string& path) {
        RegTreeKey* k = &tree;
        size_t start = 0;
        for (;;) {
            size_t cut = path.find('\\', start);
            k = k->child(path.substr(start, cut - start), true);
            if (!k->lastWrite) k->lastWrite = kOld;
            if (cut == std::string::npos) return k;
            start = cut + 1;
        }
    }
    static std::vector<uint8_t> pattern(size_t n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + i / 251);
        return v;
    }
    std::shared_ptr<Hive> open() {
        std::string why;
        auto hive = Hive::open(file, &why);
        EXPECT_TRUE(hive) << why;
        return hive;
    }

    test::TempDir dir;
    RegTreeKey tree;
    fs::path file;
};

TEST_F(HiveCommitTest, CommitKeepsEverythingAndDatesOnlyWhatChanged) {
    auto hive = open();
    ASSERT_TRUE(hive);
    HiveNode big = child(*hive, hive->root(), "Big");
    // Editing a neighbour must leave the segmented value as it was.
    ASSERT_TRUE(hive->setValue(big, "Other", REG_SZ, utf8ToUtf16le("changed")));
    HiveNode added = hive->addChild(child(*hive, hive->root(), "Odd"), "Новый");
    ASSERT_TRUE(added);
    ASSERT_TRUE(
        hive->setValue(added, "κλειδί", REG_QWORD, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(hive->deleteChild(hive->root(), "Own"));
    int64_t before = hive->lastWrite(child(*hive, hive->root(), "Types"));
    std::string why;
    ASSERT_TRUE(hive->commit(&why)) << why;

    big = child(*hive, hive->root(), "Big");
    EXPECT_GT(hive->lastWrite(big), kOld);
    EXPECT_EQ(hive->lastWrite(child(*hive, hive->root(), "Types")), before);
    tree.find("Big")->setValue("Other", REG_SZ, utf8ToUtf16le("changed"));
    tree.find("Odd\\Новый", true)->setValue("κλειδί", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    tree.removeChild("Own");
    auto reread = Hive::open(file, &why);
    ASSERT_TRUE(reread) << why;
    EXPECT_EQ(reread->state().health, HiveHealth::Clean) << reread->state().reason;
    auto got = reread->snapshot(&why);
    ASSERT_TRUE(got);
    // Keys that changed: the root (Own went), Big, Odd and the new key.
    expectSameTree(*got, tree, "", [](const std::string& p) {
        return p.empty() || p == "\\Big" || p == "\\Odd" || p == "\\Odd\\Новый";
    });
    EXPECT_EQ(reread->embeddedName(), "\\??\\C:\\Users\\Alex\\ntuser.dat");
    test::expectOraclesAccept(file, tree.countKeys());

    // One sk cell for the 200 keys sharing a descriptor, both sequence numbers past the old ones.
    std::string bytes = test::readFile(file);
    test::RawHive raw(bytes);
    uint32_t sk = raw.field32(raw.key("Shared\\K0"), regf::kNkSecurity);
    for (int i = 1; i < 200; ++i)
        EXPECT_EQ(raw.field32(raw.key("Shared\\K" + std::to_string(i)), regf::kNkSecurity), sk);
    EXPECT_EQ(raw.field32(sk, regf::kSkRefCount), 200u);
    EXPECT_EQ(raw.get32At(regf::kBaseSequence1), raw.get32At(regf::kBaseSequence2));
    EXPECT_GT(raw.get32At(regf::kBaseSequence1), 7u);
}

// Wide keys grow nothing but the new file, and the new file stays dense.
TEST_F(HiveCommitTest, WideKeysCommitDensely) {
    auto hive = open();
    ASSERT_TRUE(hive);
    HiveNode wide = hive->addChild(hive->root(), "Wide");
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(hive->addChild(wide, "Child" + std::to_string(i)));
    HiveNode many = hive->addChild(hive->root(), "ManyValues");
    for (int i = 0; i < 7500; ++i)
        ASSERT_TRUE(hive->setValue(many, "Value" + std::to_string(i), REG_DWORD,
                                   std::vector<uint8_t>{uint8_t(i), uint8_t(i >> 8), 0, 0}));
    auto before = fs::file_size(file);
    EXPECT_EQ(fs::file_size(file), before);  // nothing reaches the file before the commit
    std::string why;
    ASSERT_TRUE(hive->commit(&why)) << why;
    EXPECT_LT(fs::file_size(file), before + 2'000'000);
    auto reread = Hive::open(file, &why);
    ASSERT_TRUE(reread) << why;
    EXPECT_EQ(reread->state().health, HiveHealth::Clean) << reread->state().reason;
    EXPECT_EQ(reread->children(child(*reread, reread->root(), "wide"))->size(), 10000u);
    HiveNode m = child(*reread, reread->root(), "ManyValues");
    auto values = reread->values(m);
    ASSERT_EQ(values->size(), 7500u);
    EXPECT_EQ(values->names[7499], "Value7499");  // stored order kept
    EXPECT_EQ(reread->value(m, "value4660")->data, (std::vector<uint8_t>{0x34, 0x12, 0, 0}));
    test::expectOraclesAccept(file, tree.countKeys() + 10002);
}

TEST_F(HiveCommitTest, EditsStayInMemoryUntilCommittedAndCanBeDropped) {
    std::string original = test::readFile(file);
    auto hive = open();
    ASSERT_TRUE(hive);
    HiveNode root = hive->root();
    HiveNode kept = hive->addChild(root, "Kept");
    ASSERT_TRUE(hive->setValue(kept, "v", REG_SZ, utf8ToUtf16le("1")));
    EXPECT_EQ(test::readFile(file), original);

    // The two halves of a commit, as a commit over several hives uses them.
    fs::path temp = dir.path() / "NTUSER.DAT.new";
    test::writeFile(temp, "in the way");
    std::string why;
    EXPECT_FALSE(hive->writeCommitCopy(temp, &why));  // never over an existing file
    fs::remove(temp);
    ASSERT_TRUE(hive->writeCommitCopy(temp, &why)) << why;
    EXPECT_EQ(test::readFile(file), original);
    EXPECT_TRUE(hive->fileUnchanged());
    fs::rename(temp, file);
    EXPECT_FALSE(hive->fileUnchanged());
    hive->commitLanded();
    EXPECT_TRUE(hive->fileUnchanged());
    EXPECT_FALSE(hive->dirty());

    // Handles taken before the commit keep working; later edits can be dropped.
    EXPECT_TRUE(hive->alive(kept));
    EXPECT_EQ(hive->value(kept, "V")->data, utf8ToUtf16le("1"));
    HiveNode dropped = hive->addChild(root, "Dropped");
    ASSERT_TRUE(hive->setValue(kept, "v", REG_SZ, utf8ToUtf16le("2")));
    ASSERT_TRUE(hive->deleteChild(root, "Types"));
    uint64_t gen = hive->generation();
    hive->discardChanges();
    EXPECT_GT(hive->generation(), gen);
    EXPECT_FALSE(hive->alive(dropped));
    EXPECT_TRUE(child(*hive, root, "Types"));
    EXPECT_EQ(hive->value(kept, "v")->data, utf8ToUtf16le("1"));
    EXPECT_FALSE(hive->dirty());

    // A file another program changed since is not overwritten.
    ASSERT_TRUE(hive->setValue(kept, "v", REG_SZ, utf8ToUtf16le("3")));
    std::string foreign = test::readFile(file);
    foreign[600] ^= 1;
    test::writeFile(file, foreign);
    EXPECT_FALSE(hive->commit(&why));
    EXPECT_NE(why.find("changed by another program"), std::string::npos) << why;
    EXPECT_EQ(test::readFile(file), foreign);
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(HiveCommitTest, NamesAndDepthsWindowsCannotHoldAreRefused) {
    auto hive = open();
    ASSERT_TRUE(hive);
    HiveNode root = hive->root();
    for (std::string bad : {std::string(), std::string("a\\b"), std::string("bad\xFF"),
                            std::string("nul\0x", 5), std::string(256, 'k')})
        EXPECT_FALSE(hive->addChild(root, bad)) << bad;
    EXPECT_TRUE(hive->addChild(root, std::string(255, 'k')));
    EXPECT_FALSE(hive->setValue(root, std::string(16384, 'v'), REG_SZ, {}));
    EXPECT_TRUE(hive->setValue(root, std::string(16383, 'v'), REG_SZ, {}));
    EXPECT_FALSE(hive->setValue(root, "bad\xC3", REG_SZ, {}));

    // 512 levels below the root are what Windows loads; one more is refused.
    HiveNode node = root;
    for (int depth = 1; depth <= 512; ++depth) {
        node = hive->addChild(node, "L" + std::to_string(depth));
        ASSERT_TRUE(node) << depth;
    }
    EXPECT_FALSE(hive->addChild(node, "TooDeep"));
    std::string why;
    ASSERT_TRUE(hive->commit(&why)) << why;
    test::expectOraclesAccept(file);
}

// A hive Windows left dirty reads as its logs say, takes edits, and once
// committed its logs are empty and its sequence numbers past theirs.
TEST_F(HiveCommitTest, DirtyHivesAreRecoveredAndTheirLogsResetByACommit) {
    std::vector<uint8_t> before = serializeHive(tree);
    tree.find("Software\\OnlyInTheLogs", true)->setValue("v", REG_SZ, utf8ToUtf16le("logged"));
    std::vector<uint8_t> after = serializeHive(tree);
    test::DirtyHive d = test::makeNewFormatLogs(before, after, {.entries = 3, .entriesInLog2 = 1});
    test::writeDirtyHive(d, file);
    std::string why;
    auto hive = Hive::open(file, &why);
    ASSERT_TRUE(hive) << why;
    HiveState state = hive->state();
    ASSERT_EQ(state.health, HiveHealth::Recovered) << state.reason;
    EXPECT_EQ(state.logEntries, 3u);
    EXPECT_EQ(state.logsUsed.size(), 2u);
    EXPECT_TRUE(hive->writable());
    HiveNode logged = child(*hive, child(*hive, hive->root(), "Software"), "OnlyInTheLogs");
    ASSERT_TRUE(logged);
    ASSERT_TRUE(hive->setValue(logged, "w", REG_SZ, utf8ToUtf16le("edited")));
    ASSERT_TRUE(hive->commit(&why)) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::Clean);
    for (const auto& [suffix, bytes] : d.logs)
        EXPECT_EQ(fs::file_size(file.string() + suffix), 0u) << suffix;
    std::string bytes = test::readFile(file);
    test::RawHive raw(bytes);
    uint32_t highest = *std::max_element(d.entrySequence.begin(), d.entrySequence.end());
    EXPECT_GT(raw.get32At(regf::kBaseSequence1), highest);
    EXPECT_EQ(raw.get32At(regf::kBaseSequence1), raw.get32At(regf::kBaseSequence2));
    auto reread = Hive::open(file, &why);
    ASSERT_TRUE(reread) << why;
    EXPECT_EQ(reread->state().health, HiveHealth::Clean) << reread->state().reason;
    logged = child(*reread, child(*reread, reread->root(), "Software"), "OnlyInTheLogs");
    EXPECT_EQ(reread->value(logged, "v")->data, utf8ToUtf16le("logged"));
    EXPECT_EQ(reread->value(logged, "w")->data, utf8ToUtf16le("edited"));
    test::expectOraclesAccept(file);
}

// Without its logs a dirty hive cannot be trusted: read as it stands, never written.
TEST_F(HiveCommitTest, DirtyHivesWithoutUsableLogsAreReadOnly) {
    std::vector<uint8_t> before = serializeHive(tree);
    tree.find("Lost", true);
    test::DirtyHive d = test::makeNewFormatLogs(before, serializeHive(tree));
    std::string primary(d.primary.begin(), d.primary.end());
    test::writeFile(file, primary);
    // Logs that are there but hold nothing usable: the hive cannot be brought
    // up to date, and nothing is written to it.
    test::writeFile(file.string() + ".LOG1", std::string(1024, 'x'));
    std::string why;
    auto hive = Hive::open(file, &why);
    ASSERT_TRUE(hive) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::Damaged);
    EXPECT_NE(hive->readOnlyReason().find("transaction logs could not be applied"),
              std::string::npos)
        << hive->readOnlyReason();
    EXPECT_TRUE(child(*hive, hive->root(), "Types"));
    EXPECT_FALSE(hive->addChild(hive->root(), "New"));
    EXPECT_FALSE(hive->commit(&why) && hive->dirty());
    EXPECT_TRUE(test::readFile(file) == primary);

    // No logs at all (copied without them): used as the file holds it.
    fs::remove(file.string() + ".LOG1");
    hive = Hive::open(file, &why);
    ASSERT_TRUE(hive) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::AsStored);
    EXPECT_TRUE(hive->writable());
    EXPECT_FALSE(child(*hive, hive->root(), "Lost"));
    EXPECT_TRUE(hive->addChild(hive->root(), "New"));
    ASSERT_TRUE(hive->commit(&why)) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::Clean);
}

}  // namespace
}  // namespace brisko::hive
