// Reading hives as Windows and other programs leave them: every kind of
// subkey list, and damaged files read as far as they go and never written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "base/text.h"
#include "hive/hive.h"
#include "hive/hive_check.h"
#include "hive_test_util.h"

namespace brisko::hive {
namespace {

namespace fs = std::filesystem;
using test::RawHive;

std::set<std::string> childNames(Hive& hive, HiveNode node) {
    auto list = hive.children(node);
    if (!list) return {};
    return {list->names.begin(), list->names.end()};
}

HiveNode child(Hive& hive, HiveNode node, std::string_view name) {
    auto list = hive.children(node);
    auto i = list ? list->find(name) : std::nullopt;
    return i ? list->refs[*i] : 0;
}

class HiveReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.name = "ROOT";
        RegTreeKey* wide = tree.find("Wide", true);
        for (int i = 0; i < 1200; ++i) wide->child("W" + std::to_string(i), true);
        RegTreeKey* narrow = tree.find("Narrow", true);
        for (int i = 0; i < 30; ++i)
            narrow->child("N" + std::to_string(i), true)->setValue("v", REG_DWORD, {1, 0, 0, 0});
        tree.find("Names\\Größe", true)->setValue("Ünï", REG_SZ, utf8ToUtf16le("ä"));
        tree.find("Names\\日本語", true)->setValue("値", REG_SZ, utf8ToUtf16le("ok"));
        tree.find("Data", true)->setValue("Big", REG_BINARY, std::vector<uint8_t>(40000, 0x5A));
        tree.find("Data", true)->className = "DataClass";
        file = dir.path() / "hive";
        ASSERT_TRUE(writeHiveFile(tree, file));
        raw = test::readFile(file);
    }

    std::shared_ptr<Hive> openBytes(const std::string& bytes, std::string* why = nullptr) {
        test::writeFile(file, bytes);
        return Hive::open(file, why);
    }

    test::TempDir dir;
    RegTreeKey tree;
    fs::path file;
    std::string raw;
};

// Another program may truncate or rewrite a hive file while it is open: the
// hive goes on reading what it read, and a commit is refused.
TEST_F(HiveReaderTest, AFileRewrittenWhileOpenIsNoCrash) {
    auto hive = Hive::open(file, nullptr);
    ASSERT_TRUE(hive);
    ::truncate(file.c_str(), 0);
    HiveNode data = child(*hive, hive->root(), "Data");
    ASSERT_TRUE(data);
    auto big = hive->value(data, "Big");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->data.size(), 40000u);
    EXPECT_EQ(childNames(*hive, child(*hive, hive->root(), "Wide")).size(), 1200u);
    EXPECT_FALSE(hive->fileUnchanged());
    ASSERT_TRUE(hive->setValue(data, "x", REG_DWORD, std::vector<uint8_t>(4)));
    std::string why;
    EXPECT_FALSE(hive->commit(&why));
    EXPECT_NE(why.find("changed by another program"), std::string::npos) << why;
}

// Windows writes li lists in old hives, lf in some, lh in new ones, and an
// ri index over leaves for wide keys; all of them read the same.
TEST_F(HiveReaderTest, EveryKindOfSubkeyListReads) {
    RawHive h(raw);
    // The narrow key's lh leaf becomes an li leaf: 4-byte entries.
    uint32_t narrowList = h.field32(h.key("Narrow"), regf::kNkSubkeyList);
    size_t list = h.at(narrowList);
    uint16_t n = regf::get16(reinterpret_cast<const uint8_t*>(h.bytes().data()) + list + 2);
    h.bytes()[list + 1] = 'i';
    for (uint16_t i = 0; i < n; ++i) h.put32(list + 4 + 4 * i, h.field32(narrowList, 4 + 8 * i));
    // The wide key has an ri index; its first leaf becomes lf, its second li.
    uint32_t ri = h.field32(h.key("Wide"), regf::kNkSubkeyList);
    ASSERT_EQ(h.bytes().substr(h.at(ri), 2), "ri");
    h.bytes()[h.at(h.field32(ri, 4)) + 1] = 'f';
    uint32_t second = h.field32(ri, 8);
    size_t leaf = h.at(second);
    uint16_t m = regf::get16(reinterpret_cast<const uint8_t*>(h.bytes().data()) + leaf + 2);
    h.bytes()[leaf + 1] = 'i';
    for (uint16_t i = 0; i < m; ++i) h.put32(leaf + 4 + 4 * i, h.field32(second, 4 + 8 * i));

    std::string why;
    auto hive = openBytes(h.bytes(), &why);
    ASSERT_TRUE(hive) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::Clean) << hive->state().reason;
    HiveNode narrow = child(*hive, hive->root(), "narrow");
    EXPECT_EQ(childNames(*hive, narrow).size(), 30u);
    EXPECT_TRUE(child(*hive, narrow, "n17"));
    HiveNode wide = child(*hive, hive->root(), "WIDE");
    auto kids = hive->children(wide);
    ASSERT_TRUE(kids);
    EXPECT_EQ(kids->size(), 1200u);
    EXPECT_TRUE(std::is_sorted(kids->names.begin(), kids->names.end(),
                               [](auto& a, auto& b) { return regf::compareNames(a, b) < 0; }));
    EXPECT_TRUE(child(*hive, wide, "w1199"));
}

TEST_F(HiveReaderTest, NamesDataClassesAndDescriptorsReadBack) {
    std::string why;
    auto hive = Hive::open(file, &why);
    ASSERT_TRUE(hive) << why;
    HiveNode names = child(*hive, hive->root(), "Names");
    EXPECT_EQ(childNames(*hive, names), (std::set<std::string>{"Größe", "日本語"}));
    EXPECT_FALSE(child(*hive, names, "GRÖSSE"));
    HiveNode latin = child(*hive, names, "GRÖßE");  // compared without case, non-ASCII too
    ASSERT_TRUE(latin);
    EXPECT_EQ(hive->value(latin, "ünÏ")->data, utf8ToUtf16le("ä"));
    HiveNode japanese = child(*hive, names, "日本語");
    EXPECT_EQ(hive->value(japanese, "値")->data, utf8ToUtf16le("ok"));
    HiveNode data = child(*hive, hive->root(), "Data");
    EXPECT_EQ(hive->value(data, "Big")->data, std::vector<uint8_t>(40000, 0x5A));
    EXPECT_EQ(hive->className(data), "DataClass");
    auto snap = hive->snapshot(&why);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->countKeys(), tree.countKeys());
    EXPECT_FALSE(snap->find("Data")->securityDescriptor.empty());
}

// Each kind of damage: the hive opens, reads what is sound, refuses every
// change with a reason, and its file stays as it was.
TEST_F(HiveReaderTest, DamagedHivesReadWhatTheyCanAndAreNeverWritten) {
    struct Case {
        std::string what;
        std::function<void(RawHive&)> damage;
        bool narrowReadable;
        bool rootListReadable = true;  // the writer puts it last: a cut file loses it
    };
    std::vector<Case> cases{
        {"a subkey list with a bad signature",
         [](RawHive& h) {
             uint32_t list = h.field32(h.key("Narrow"), regf::kNkSubkeyList);
             h.bytes()[h.at(list)] = 'x';
         },
         false},
        {"a key name cut short",
         [](RawHive& h) { h.put16(h.at(h.key("Narrow\\N3")) + regf::kNkNameLen, 0x4000); }, true},
        {"a subkey listed twice",
         [](RawHive& h) {
             uint32_t list = h.field32(h.key("Narrow"), regf::kNkSubkeyList);
             h.put32(h.at(list) + 12, h.field32(list, 4));
         },
         true},
        {"a bad base block checksum",
         [](RawHive& h) { h.put32(regf::kBaseChecksum, h.get32At(regf::kBaseChecksum) ^ 0x5555); },
         true},
        {"a truncated file", [](RawHive& h) { h.bytes().resize(h.bytes().size() - 4096); }, false,
         false},
        {"a value list pointing outside the file",
         [](RawHive& h) { h.put32(h.at(h.key("Data")) + regf::kNkValueList, 0x7FFFFFF0); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawHive h(raw);
        c.damage(h);
        std::string bad = h.bytes();
        std::string why;
        auto hive = openBytes(bad, &why);
        ASSERT_TRUE(hive) << why;
        HiveState state = hive->state();
        EXPECT_EQ(state.health, HiveHealth::Damaged);
        EXPECT_FALSE(state.reason.empty());
        EXPECT_FALSE(hive->writable());
        EXPECT_NE(hive->readOnlyReason().find("is damaged"), std::string::npos)
            << hive->readOnlyReason();
        EXPECT_NE(hive->readOnlyReason().find("nothing was changed"), std::string::npos);
        // What is sound still reads.
        HiveNode names = child(*hive, hive->root(), "Names");
        if (c.rootListReadable) {
            EXPECT_EQ(childNames(*hive, names).size(), 2u);
        }
        HiveNode narrow = child(*hive, hive->root(), "Narrow");
        if (c.narrowReadable) {
            EXPECT_GE(childNames(*hive, narrow).size(), 29u);
        }
        // Every change is refused, and nothing reaches the file.
        HiveNode root = hive->root();
        EXPECT_FALSE(hive->addChild(root, "New"));
        EXPECT_FALSE(hive->setValue(names, "x", REG_SZ, test::bytesOf("x")));
        EXPECT_FALSE(hive->deleteChild(root, "Names"));
        EXPECT_FALSE(hive->deleteValue(child(*hive, names, "Größe"), "Ünï"));
        EXPECT_FALSE(hive->dirty());
        std::string error;
        EXPECT_FALSE(hive->writeCommitCopy(dir.path() / "copy", &error));
        EXPECT_NE(error.find("is damaged"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir.path() / "copy"));
        EXPECT_TRUE(hive->snapshot(&error));  // a copy of what can be read is still possible
        hive.reset();
        EXPECT_EQ(test::readFile(file), bad);
    }
}

TEST_F(HiveReaderTest, NothingOpensWithoutASignatureOrARoot) {
    std::string why;
    EXPECT_FALSE(openBytes("regX" + raw.substr(4), &why));
    EXPECT_NE(why.find("regf"), std::string::npos);
    RawHive h(raw);
    h.put32(regf::kBaseRootCell, 0x20000);
    EXPECT_FALSE(openBytes(h.bytes(), &why));
    EXPECT_FALSE(openBytes(raw.substr(0, 4096), &why));
    EXPECT_FALSE(Hive::open(dir.path() / "missing", &why));
}

// A key listed by a key below it must not make a walk endless.
TEST_F(HiveReaderTest, LoopsInTheTreeAreCut) {
    RawHive h(raw);
    uint32_t names = h.key("Names");
    uint32_t inner = h.key("Names\\Größe");
    // Größe lists Names as its own child, and Names claims Größe as its parent.
    h.put32(h.at(inner) + regf::kNkSubkeyCount, 1);
    h.put32(h.at(inner) + regf::kNkSubkeyList, h.field32(names, regf::kNkSubkeyList));
    h.put32(h.at(names) + regf::kNkParent, inner);
    std::string why;
    auto hive = openBytes(h.bytes(), &why);
    ASSERT_TRUE(hive) << why;
    EXPECT_EQ(hive->state().health, HiveHealth::Damaged);
    size_t seen = 0;
    std::vector<std::pair<HiveNode, int>> stack{{hive->root(), 0}};
    while (!stack.empty() && seen < 100000) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        ++seen;
        if (auto kids = hive->children(node))
            for (size_t ref : kids->refs) stack.emplace_back(ref, depth + 1);
    }
    EXPECT_LT(seen, 100000u);
}

}  // namespace
}  // namespace brisko::hive
