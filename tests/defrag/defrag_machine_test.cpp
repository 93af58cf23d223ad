// The analysis and the replacement on image machines: copies equal to their
// hives, changes made after the analysis kept, restarts cut short finished.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/text.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/registry_key.h"
#include "defrag/defrag_run.h"
#include "demo/machine_builder.h"
#include "hive/hive.h"
#include "hive/hive_copy.h"
#include "hive/hive_test_util.h"
#include "hive/regf_writer.h"
#include "support/hive_log_writer.h"
#include "support/test_machine.h"

using namespace brisko;
using namespace brisko::hive;
namespace fs = std::filesystem;

namespace {

constexpr const char* kSid = "S-1-5-21-1-2-3-1001";
constexpr const char* kSoftware = "C:\\Windows\\System32\\config\\SOFTWARE";
constexpr const char* kNtUser = "C:\\Users\\Sam\\NTUSER.DAT";

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 31);
    return v;
}

// A SOFTWARE hive with every value type, big data, a deep tree and 10,000
// subkeys under one key, written with holes.
void buildRich(const fs::path& dir) {
    MachineBuilder b("Sam", kSid);
    RegTreeKey& sw = b.hive("SOFTWARE");
    RegTreeKey* types = sw.find("Vendor\\Types", true);
    types->className = "VendorClass";
    types->setValue("", REG_SZ, utf8ToUtf16le("default"));
    types->setValue("sz", REG_SZ, utf8ToUtf16le("text \xc3\xa9"));
    types->setValue("expand", REG_EXPAND_SZ, utf8ToUtf16le("%SystemRoot%\\x"));
    types->setValue("bin", REG_BINARY, bytes(33, 1));
    types->setValue("dword", REG_DWORD, {1, 2, 3, 4});
    types->setValue("be", REG_DWORD_BIG_ENDIAN, {4, 3, 2, 1});
    types->setValue("link", REG_LINK, utf8ToUtf16le("\\Registry\\Machine\\x"));
    types->setValue("multi", REG_MULTI_SZ, encodeMultiString({"a", "b", ""}));
    types->setValue("none", REG_NONE, {});
    types->setValue("qword", REG_QWORD, bytes(8, 9));
    types->setValue("odd", 0x12345, bytes(5, 3));
    types->setValue("big", REG_BINARY, bytes(100000, 7));  // several data segments
    std::string deep = "Deep";
    for (int i = 0; i < 60; ++i) deep += "\\L" + std::to_string(i);
    sw.find(deep, true)->setValue("leaf", REG_DWORD, {1, 0, 0, 0});
    RegTreeKey* many = sw.find("Many", true);
    for (int i = 0; i < 10000; ++i) many->child("K" + std::to_string(i), true);
    b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n\"a\"=\"1\"\n");
    b.fragmentHive("SOFTWARE", 2, 256);
    b.fragmentHive("NTUSER", 1, 2000);
    b.write(dir);
}

void buildSmall(const fs::path& dir) {
    MachineBuilder b("Sam", kSid);
    b.addRegText(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n\"a\"=\"1\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"v\"=dword:00000002\n");
    for (int i = 0; i < 300; ++i)
        b.hive("SOFTWARE")
            .find("Bulk\\K" + std::to_string(i), true)
            ->setValue("v", REG_BINARY, bytes(200, uint8_t(i)));
    b.fragmentHive("SOFTWARE", 2, 160);
    b.fragmentHive("NTUSER", 1, 2000);
    // Room enough in every other hive that its copy is smaller too.
    for (const char* hive : {"SYSTEM", "SAM", "SECURITY", "DEFAULT", "USRCLASS"})
        b.fragmentHive(hive, 1, 4000);
    b.write(dir);
}

bool hasKey(Machine& m, RootKey root, const std::string& path) {
    RegistryKey k(m.registry(), root);
    return k.openKeyReadOnly(path);
}

const HiveEntry* entryFor(const std::vector<HiveEntry>& hives, const std::string& file) {
    for (const auto& h : hives)
        if (equalsNoCase(h.file, file)) return &h;
    return nullptr;
}

// Analysis and scheduling, as "Defrag Registry" does them.
size_t defrag(ImageMachine& m) {
    auto hives = BuildHiveList(m, false);
    auto result = RunDefragAnalysis(m, hives, false);
    EXPECT_TRUE(result.usable());
    DefaultPrompter quiet;
    auto out = ScheduleHiveReplacements(m, hives, result.outcomes, quiet);
    EXPECT_TRUE(out.failures.empty()) << (out.failures.empty() ? "" : out.failures[0]);
    return out.scheduled;
}

fs::path host(ImageMachine& m, const std::string& win) {
    return *m.imageFiles().resolve(win, false);
}

}  // namespace

TEST(DefragAnalysis, CopiesEqualTheirHivesAndAreSmaller) {
    test::TempDir dir;
    buildRich(dir.path());
    ImageMachine m(dir.path());
    auto hives = BuildHiveList(m, false);
    ASSERT_EQ(hives.size(), 7u);
    EXPECT_EQ(hives[0].name, "\\REGISTRY\\MACHINE\\SYSTEM");
    ASSERT_TRUE(entryFor(hives, kSoftware));
    size_t progressCalls = 0;
    auto result = RunDefragAnalysis(m, hives, false,
                                    [&](size_t, size_t, const std::string&) { ++progressCalls; });
    ASSERT_TRUE(result.usable());
    EXPECT_EQ(progressCalls, hives.size() + 1);
    // The hives written with room to spare get copies; the others are as
    // compact as a copy would be: left as they are, reported, never scheduled.
    for (size_t i = 0; i < hives.size(); ++i) {
        bool fragmented =
            equalsNoCase(hives[i].file, kSoftware) || equalsNoCase(hives[i].file, kNtUser);
        EXPECT_EQ(result.outcomes[i].made, fragmented) << hives[i].name;
        EXPECT_EQ(result.outcomes[i].alreadyCompact, !fragmented) << hives[i].name;
        if (!fragmented) {
            EXPECT_FALSE(m.files().fileExists(HiveCopyFile(hives[i].file)));
            EXPECT_EQ(result.sizes.rows[i].reduction, "0%");
        }
    }
    EXPECT_EQ(result.alreadyCompact.size(), 5u);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_LT(result.sizes.totalNew, result.sizes.totalCurrent);
    // Each copy read back on its own equals the hive file.
    for (const char* file : {kSoftware, kNtUser}) {
        auto a = Hive::open(host(m, file), nullptr);
        auto b = Hive::open(host(m, HiveCopyFile(file)), nullptr);
        ASSERT_TRUE(a && b);
        std::string why;
        EXPECT_TRUE(sameHiveContent(*a, *b, &why)) << why;
        EXPECT_LE(fs::file_size(host(m, HiveCopyFile(file))), fs::file_size(host(m, file)));
    }
    EXPECT_LT(fs::file_size(host(m, HiveCopyFile(kSoftware))), fs::file_size(host(m, kSoftware)));
    DeleteHiveCopies(m, hives);
    EXPECT_FALSE(m.files().fileExists(HiveCopyFile(kSoftware)));
}

TEST(DefragAnalysis, ASoftwareHiveMostlyHolesIsCompactedNotRefused) {
    // Every cell followed by a large free one: the copy is a fraction of the
    // file, and the key-by-key comparison is what says it may be used.
    test::TempDir dir;
    MachineBuilder b("Sam", kSid);
    for (int i = 0; i < 200; ++i)
        b.hive("SOFTWARE")
            .find("Bulk\\K" + std::to_string(i), true)
            ->setValue("v", REG_DWORD, {1, 0, 0, 0});
    b.fragmentHive("SOFTWARE", 1, 4096);
    b.write(dir.path());
    ImageMachine m(dir.path());
    auto hives = BuildHiveList(m, false);
    auto result = RunDefragAnalysis(m, hives, false);
    ASSERT_TRUE(result.usable());
    const HiveEntry* sw = entryFor(hives, kSoftware);
    ASSERT_TRUE(sw);
    const size_t i = size_t(sw - hives.data());
    ASSERT_TRUE(result.outcomes[i].made);
    auto& files = m.files();
    EXPECT_LT(HiveFileSize(files, HiveCopyFile(sw->file)) * 4, HiveFileSize(files, sw->file));
}

TEST(DefragAnalysis, TheComparisonFindsEachKindOfDifference) {
    test::TempDir dir;
    auto write = [&](const char* name, auto change) {
        RegTreeKey root;
        root.find("A\\B", true)->setValue("v", REG_SZ, utf8ToUtf16le("x"));
        root.find("A", true)->setValue("d", REG_DWORD, {1, 0, 0, 0});
        root.find("A", true)->lastWrite = 132000000000000000;
        root.find("A\\B", true)->lastWrite = 132000000000000000;
        root.lastWrite = 132000000000000000;
        change(root);
        fs::path p = dir.path() / name;
        EXPECT_TRUE(writeHiveFile(root, p, {}));
        return Hive::open(p, nullptr);
    };
    auto base = write("base", [](RegTreeKey&) {});
    auto same = write("same", [](RegTreeKey&) {});
    std::string why;
    EXPECT_TRUE(sameHiveContent(*base, *same, &why)) << why;
    auto data = write("data", [](RegTreeKey& r) {
        r.find("A")->setValue("d", REG_DWORD, {2, 0, 0, 0});
    });
    EXPECT_FALSE(sameHiveContent(*base, *data, &why));
    EXPECT_NE(why.find("value \"d\""), std::string::npos) << why;
    auto type = write("type", [](RegTreeKey& r) {
        r.find("A")->setValue("d", REG_BINARY, {1, 0, 0, 0});
    });
    EXPECT_FALSE(sameHiveContent(*base, *type, &why));
    auto key =
        write("key", [](RegTreeKey& r) { r.find("A\\C", true)->lastWrite = 132000000000000000; });
    EXPECT_FALSE(sameHiveContent(*base, *key, &why));
    auto cls = write("cls", [](RegTreeKey& r) { r.find("A\\B")->className = "x"; });
    EXPECT_FALSE(sameHiveContent(*base, *cls, &why));
    EXPECT_NE(why.find("A\\B"), std::string::npos) << why;
    // Big data differing in its last byte only.
    auto big = [](uint8_t last) {
        return [last](RegTreeKey& r) {
            std::vector<uint8_t> data(70000, 5);
            data.back() = last;
            r.find("A")->setValue("big", REG_BINARY, data);
        };
    };
    auto big1 = write("big1", big(1)), big2 = write("big2", big(2));
    EXPECT_FALSE(sameHiveContent(*big1, *big2, &why));
    EXPECT_NE(why.find("value \"big\" holds other data"), std::string::npos) << why;
    // Another security descriptor on one key, compared from the cells and,
    // for a hive holding a change in memory, through its keys.
    auto sd = write("sd", [](RegTreeKey& r) {
        r.find("A\\B")->securityDescriptor = {1, 0, 0, 0x80, 20, 0, 0,    0, 0, 0, 0,
                                              0, 0, 0, 0,    0,  0, 0,    0, 0, 1, 1,
                                              0, 0, 0, 0,    0,  5, 0x12, 0, 0, 0};
    });
    EXPECT_FALSE(sameHiveContent(*base, *sd, &why));
    EXPECT_EQ(why, "key \"A\\B\": security descriptors differ");
    auto edited = write("edited", [](RegTreeKey&) {});
    ASSERT_TRUE(edited->setValue(edited->root(), "x", REG_DWORD, std::vector<uint8_t>{1, 0, 0, 0}));
    ASSERT_TRUE(edited->deleteValue(edited->root(), "x"));
    int64_t touched = edited->lastWrite(edited->root());
    auto sdTouched = write("sdTouched", [&](RegTreeKey& r) {
        r.lastWrite = touched;
        r.find("A\\B")->securityDescriptor = {1, 0, 0, 0x80, 20, 0, 0,    0, 0, 0, 0,
                                              0, 0, 0, 0,    0,  0, 0,    0, 0, 1, 1,
                                              0, 0, 0, 0,    0,  5, 0x12, 0, 0, 0};
    });
    EXPECT_FALSE(sameHiveContent(*edited, *sdTouched, &why));
    EXPECT_EQ(why, "key \"A\\B\": security descriptors differ");
}

TEST(DefragAnalysis, ACopyInAnotherOrderOrNotSoundIsRefused) {
    test::TempDir dir;
    RegTreeKey root;
    for (const char* name : {"B1", "B2", "B3"}) root.find(std::string("A\\") + name, true);
    fs::path file = dir.path() / "hive";
    ASSERT_TRUE(writeHiveFile(root, file, {}));
    auto hive = Hive::open(file, nullptr);
    ASSERT_TRUE(hive);
    std::string why;
    ASSERT_TRUE(copyMatchesHive(*hive, file, &why)) << why;

    // The same keys, two of them listed the other way round.
    test::RawHive swapped(test::readFile(file));
    uint32_t list = swapped.field32(swapped.key("A"), regf::kNkSubkeyList);
    size_t first = swapped.at(list) + 4;
    uint32_t c0 = swapped.get32At(first), h0 = swapped.get32At(first + 4);
    swapped.put32(first, swapped.get32At(first + 8));
    swapped.put32(first + 4, swapped.get32At(first + 12));
    swapped.put32(first + 8, c0);
    swapped.put32(first + 12, h0);
    test::writeFile(dir.path() / "swapped", swapped.bytes());
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "swapped", &why));
    EXPECT_NE(why.find("subkey \"B1\" against \"B2\""), std::string::npos) << why;

    // A subkey that names another key as its parent; a key listed twice.
    test::RawHive orphan(test::readFile(file));
    orphan.put32(orphan.at(orphan.key("A\\B2")) + regf::kNkParent, orphan.root());
    test::writeFile(dir.path() / "orphan", orphan.bytes());
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "orphan", &why));
    EXPECT_EQ(why, "the copy differs from the hive: key \"A\": its subkey list cannot be read");
    test::RawHive twice(test::readFile(file));
    uint32_t entries = twice.at(twice.field32(twice.key("A"), regf::kNkSubkeyList)) + 4;
    twice.put32(entries + 8, twice.get32At(entries));
    test::writeFile(dir.path() / "twice", twice.bytes());
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "twice", &why));
    EXPECT_NE(why.find("key \"A\": subkey \"B2\" against \"B1\""), std::string::npos) << why;

    // A bin header overwritten, a copy cut short, no copy at all.
    test::RawHive broken(test::readFile(file));
    broken.put32(regf::kBaseBlockSize, 0);
    test::writeFile(dir.path() / "broken", broken.bytes());
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "broken", &why));
    EXPECT_NE(why.find("not a sound hive"), std::string::npos) << why;
    test::writeFile(dir.path() / "short", test::readFile(file).substr(0, 6000));
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "short", &why));
    EXPECT_FALSE(copyMatchesHive(*hive, dir.path() / "missing", &why));
    EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
}

TEST(DefragAnalysis, StopBeforeTheFirstHiveCompletesNothing) {
    test::TempDir dir;
    buildSmall(dir.path());
    ImageMachine m(dir.path());
    auto hives = BuildHiveList(m, false);
    std::stop_source stop;
    stop.request_stop();
    auto result = RunDefragAnalysis(m, hives, false, {}, stop.get_token());
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(result.usable());
    EXPECT_TRUE(result.outcomes.empty());
}

TEST(DefragAnalysis, ADamagedHiveIsLeftOutWithItsReason) {
    test::TempDir dir;
    buildSmall(dir.path());
    test::claimBinsBeyondTheFile(dir.path() / "Users" / "Sam" / "NTUSER.DAT");
    ImageMachine m(dir.path());
    auto hives = BuildHiveList(m, false);
    auto result = RunDefragAnalysis(m, hives, false);
    ASSERT_TRUE(result.completed);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("damaged"), std::string::npos) << result.problems[0];
    EXPECT_FALSE(m.files().fileExists(HiveCopyFile(kNtUser)));
    DefaultPrompter quiet;
    auto out = ScheduleHiveReplacements(m, hives, result.outcomes, quiet);
    EXPECT_EQ(out.scheduled, hives.size() - 1);
    ASSERT_EQ(out.failures.size(), 1u);
    EXPECT_EQ(out.failures[0].rfind(
                  "Failed to defrag the registry\\REGISTRY\\USER\\" + std::string(kSid), 0),
              0u)
        << out.failures[0];
}

TEST(DefragAnalysis, ADirtyHiveIsCopiedFromItsRecoveredState) {
    test::TempDir dir;
    buildSmall(dir.path());
    fs::path ntuser = dir.path() / "Users" / "Sam" / "NTUSER.DAT";
    std::vector<uint8_t> before, after;
    {
        auto text = test::readFile(ntuser);
        before.assign(text.begin(), text.end());
        ImageMachine m(dir.path());
        RegistryKey k(m.registry(), RootKey::CurrentUser);
        ASSERT_TRUE(k.openKey("Software\\OnlyInTheLog", true));
        ASSERT_TRUE(m.registry().commit());
        auto done = test::readFile(ntuser);
        after.assign(done.begin(), done.end());
    }
    test::writeDirtyHive(test::makeNewFormatLogs(before, after), ntuser);
    ImageMachine m(dir.path());
    ASSERT_EQ(defrag(m), 7u);
    ASSERT_TRUE(m.restart());
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\OnlyInTheLog"));
    // The old file keeps its logs, so the backup is whole too.
    EXPECT_TRUE(m.files().fileExists(std::string(kNtUser) + ".bak.LOG1"));
    auto bak = Hive::open(host(m, std::string(kNtUser) + ".bak"), nullptr);
    ASSERT_TRUE(bak);
    EXPECT_EQ(bak->state().health, HiveHealth::Recovered);
}

TEST(DefragReplacement, AChangeMadeAfterTheAnalysisIsKept) {
    test::TempDir dir;
    buildSmall(dir.path());
    {
        ImageMachine m(dir.path());
        ASSERT_EQ(defrag(m), 7u);
        // A Clean run, a fix or an import before the restart.
        RegistryKey k(m.registry(), RootKey::CurrentUser);
        ASSERT_TRUE(k.openKey("Software\\AfterAnalysis", true));
        RegistryKey lm(m.registry(), RootKey::LocalMachine);
        ASSERT_TRUE(lm.deleteKey("SOFTWARE\\Vendor"));
        ASSERT_TRUE(m.registry().commit());
    }
    ImageMachine m(dir.path());
    auto before = fs::file_size(host(m, kSoftware));
    ASSERT_TRUE(m.restart());
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\AfterAnalysis"));
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Kept"));
    EXPECT_FALSE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
    // The commit wrote SOFTWARE anew; the copy made again at the restart matches it.
    EXPECT_LE(fs::file_size(host(m, kSoftware)), before);
    EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
    EXPECT_TRUE(m.files().fileExists(std::string(kSoftware) + ".bak"));
}

TEST(DefragReplacement, AMissingOrUnreadableNewFileLeavesTheHiveAndStaysPending) {
    test::TempDir dir;
    buildSmall(dir.path());
    {
        ImageMachine m(dir.path());
        ASSERT_EQ(defrag(m), 7u);
    }
    {
        ImageMachine m(dir.path());
        fs::remove(host(m, HiveCopyFile(kNtUser)));
        test::writeFile(host(m, HiveCopyFile(kSoftware)), "not a hive");
        EXPECT_FALSE(m.restart());
        EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Kept"));
        EXPECT_TRUE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
        auto pending = m.imageRegistry().pendingReplacements();
        ASSERT_EQ(pending.size(), 1u);
        EXPECT_EQ(pending[0].hiveFile, kNtUser);
        EXPECT_EQ(pending[0].reason,
                  "the new file C:\\Users\\Sam\\NTUSER.DAT.fdc is missing; the hive was left as "
                  "it was");

        EXPECT_FALSE(m.files().fileExists(std::string(kNtUser) + ".bak"));
        // Every other hive was replaced; a copy that is no longer the one made
        // by the analysis is made again.
        EXPECT_TRUE(m.files().fileExists("C:\\Windows\\System32\\config\\SAM.bak"));
        EXPECT_TRUE(m.files().fileExists(std::string(kSoftware) + ".bak"));
    }
}

TEST(DefragReplacement, ARestartCutShortAtAnyStepIsFinishedByTheNext) {
    for (int stopAt = 0; stopAt <= int(ReplaceStep::NewMoved); ++stopAt) {
        for (int hiveIndex : {0, 5}) {
            SCOPED_TRACE("step " + std::to_string(stopAt) + " of hive " +
                         std::to_string(hiveIndex));
            test::TempDir dir;
            buildSmall(dir.path());
            {
                ImageMachine m(dir.path());
                ASSERT_EQ(defrag(m), 7u);
                if (stopAt == int(ReplaceStep::CopyRedone)) {
                    // Make the copy be made again at the restart.
                    RegistryKey k(m.registry(), RootKey::CurrentUser);
                    ASSERT_TRUE(k.openKey("Software\\Late", true));
                    RegistryKey lm(m.registry(), RootKey::LocalMachine);
                    ASSERT_TRUE(lm.openKey("SOFTWARE\\Late", true));
                    ASSERT_TRUE(m.registry().commit());
                }
            }
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int hive = 0;
                try {
                    ImageMachine m(dir.path());
                    m.setReplaceProbe([&](ReplaceStep s) {
                        if (hive == hiveIndex && int(s) == stopAt) ::_exit(0);
                        if (s == ReplaceStep::NewMoved) ++hive;
                    });
                    m.restart();
                } catch (...) {
                }
                ::_exit(3);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            std::unique_ptr<ImageMachine> opened;
            try {
                opened = std::make_unique<ImageMachine>(dir.path());
            } catch (const MachineOpenError& e) {
                FAIL() << e.message;
            }
            ImageMachine& m = *opened;
            ASSERT_TRUE(m.restart());
            EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
            EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Kept"));
            EXPECT_TRUE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
            if (stopAt == int(ReplaceStep::CopyRedone)) {
                EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Late"));
                EXPECT_TRUE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Late"));
            }
            for (const auto& h : m.imageRegistry().hiveStatus()) {
                EXPECT_TRUE(h.loaded) << h.mount.windowsFile;
                EXPECT_EQ(h.state.health, HiveHealth::Clean) << h.mount.windowsFile;
                EXPECT_TRUE(m.files().fileExists(h.mount.windowsFile + ".bak"));
                EXPECT_FALSE(m.files().fileExists(HiveCopyFile(h.mount.windowsFile)));
            }
            auto compact = Hive::open(host(m, kSoftware), nullptr);
            auto old = Hive::open(host(m, std::string(kSoftware) + ".bak"), nullptr);
            ASSERT_TRUE(compact && old);
            if (stopAt != int(ReplaceStep::CopyRedone)) {
                std::string why;
                EXPECT_TRUE(sameHiveContent(*compact, *old, &why)) << why;
                EXPECT_LT(fs::file_size(host(m, kSoftware)),
                          fs::file_size(host(m, std::string(kSoftware) + ".bak")));
            }
        }
    }
}

// An analysis in another program while copies wait for the restart: it
// neither overwrites nor deletes them, and the restart puts every one in place.
TEST(DefragAnalysis, CopiesScheduledByAnotherProgramAreLeftAlone) {
    test::TempDir dir;
    buildSmall(dir.path());
    size_t scheduled = 0;
    {
        ImageMachine apply(dir.path());
        scheduled = defrag(apply);
        ASSERT_GT(scheduled, 0u);
    }
    {
        ImageMachine other(dir.path());
        auto hives = BuildHiveList(other, false);
        auto result = RunDefragAnalysis(other, hives, false);
        size_t leftAlone = 0;
        for (const auto& o : result.outcomes)
            if (!o.made && o.problem.find("waits for the restart") != std::string::npos)
                ++leftAlone;
        EXPECT_EQ(leftAlone, scheduled);
        DeleteHiveCopies(other, hives);
        for (const auto& p : other.imageRegistry().pendingReplacements())
            EXPECT_TRUE(other.files().fileExists(p.newFile)) << p.newFile;
    }
    ImageMachine m(dir.path());
    ASSERT_TRUE(m.restart());
    EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
    EXPECT_TRUE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Kept"));
}
