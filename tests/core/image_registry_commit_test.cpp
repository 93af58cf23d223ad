// Commits that span several hives, what an interrupted one leaves, and the
// write lock: on small machines of three changed hives (SYSTEM, SOFTWARE and
// the user's NTUSER.DAT).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <functional>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/unique_fd.h"
#include "core/machine/image/commit_journal.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/image/machine_lock.h"
#include "core/machine/registry_key.h"
#include "core/small_file.h"
#include "demo/machine_builder.h"
#include "hive/hive.h"
#include "support/test_machine.h"

namespace brisko {

using namespace hive;
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSid = "S-1-5-21-1-2-3-1001";

struct Place {
    RootKey root;
    const char* key;
};
// One key in each hive a commit spans.
constexpr Place kPlaces[] = {{RootKey::LocalMachine, "SYSTEM\\Brisko"},
                             {RootKey::LocalMachine, "SOFTWARE\\Brisko"},
                             {RootKey::CurrentUser, "Software\\Brisko"}};

class CommitTest : public ::testing::Test {
  protected:
    void SetUp() override { build(folder()); }

    void build(const fs::path& where, std::string extraReg = "") {
        MachineBuilder b("Ann", kSid);
        b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Old]\n\"a\"=\"1\"\n" + extraReg);
        b.write(where);
    }
    fs::path folder() const { return dir.path() / "m"; }
    std::vector<fs::path> hiveFiles() const {
        auto config = folder() / "Windows" / "System32" / "config";
        return {config / "SYSTEM", config / "SOFTWARE", folder() / "Users" / "Ann" / "NTUSER.DAT"};
    }

    // Sets Gen in each of the three hives.
    static bool mark(Machine& m, int32_t gen, std::string_view name = "Gen") {
        bool ok = true;
        for (const auto& p : kPlaces) {
            RegistryKey k(m.registry(), p.root);
            ok = k.openKey(p.key, true) && k.writeInteger(name, gen) && ok;
        }
        return ok;
    }
    // Gen of each hive; 0 where there is none.
    static std::vector<int32_t> marks(Machine& m, std::string_view name = "Gen") {
        std::vector<int32_t> out;
        for (const auto& p : kPlaces) {
            RegistryKey k(m.registry(), p.root);
            out.push_back(k.openKeyReadOnly(p.key) ? k.readInteger(name).value_or(0) : 0);
        }
        return out;
    }

    // Files an interrupted commit could leave: our copies, legacy .tmp files,
    // the journal.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> out;
        if (fs::exists(commitJournalFile(folder()))) out.push_back(".brisko-commit");
        for (const auto& hive : hiveFiles())
            for (const auto& e : fs::directory_iterator(hive.parent_path())) {
                auto name = e.path().filename().string();
                if (name.find(".brisko-") != std::string::npos || name.ends_with(".tmp"))
                    out.push_back(name);
            }
        return out;
    }

    void expectReadableByTheOracles() const {
        for (const auto& hive : hiveFiles()) {
            for (const char* tool : {"hivexml", "regfexport"}) {
                std::string cmd = std::string(tool) + " '" + hive.string() + "' >/dev/null 2>&1";
                EXPECT_EQ(std::system(cmd.c_str()), 0) << tool << " " << hive;
            }
        }
    }

    test::TempDir dir;
};

TEST_F(CommitTest, ChangesToSeveralHivesLandTogether) {
    {
        ImageMachine m(folder());
        ASSERT_TRUE(mark(m, 7));
        EXPECT_TRUE(m.imageRegistry().holdsWriteLock());
        ASSERT_TRUE(m.registry().commit());
        EXPECT_FALSE(m.imageRegistry().holdsWriteLock());
        EXPECT_EQ(m.imageRegistry().lastCommitError(), "");
    }
    EXPECT_TRUE(leftovers().empty());
    expectReadableByTheOracles();
    ImageMachine again(folder());
    EXPECT_EQ(marks(again), (std::vector<int32_t>{7, 7, 7}));
}

TEST_F(CommitTest, NothingIsWrittenWithoutACommit) {
    std::vector<std::string> before;
    for (const auto& h : hiveFiles()) before.push_back(test::readFile(h));
    {
        ImageMachine m(folder());
        ASSERT_TRUE(mark(m, 1));
        EXPECT_EQ(marks(m), (std::vector<int32_t>{1, 1, 1}));
    }  // closing the machine forgets what was not committed
    {
        ImageMachine m(folder());
        ASSERT_TRUE(mark(m, 2));
        m.registry().discard();
        EXPECT_EQ(marks(m), (std::vector<int32_t>{0, 0, 0}));
        EXPECT_FALSE(m.imageRegistry().holdsWriteLock());
        EXPECT_TRUE(m.registry().commit());  // nothing left to write
    }
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(test::readFile(hiveFiles()[i]), before[i]) << hiveFiles()[i];
}

TEST_F(CommitTest, AFailureBeforeTheJournalChangesNoHiveAndKeepsTheChanges) {
    std::vector<std::string> before;
    for (const auto& h : hiveFiles()) before.push_back(test::readFile(h));
    ImageMachine m(folder());
    ASSERT_TRUE(mark(m, 3));
    for (size_t stopAt : {0u, 1u, 2u}) {
        m.imageRegistry().setCommitProbe([&](CommitStep s, size_t hive) {
            return !(s == CommitStep::CopyWritten && hive == stopAt);
        });
        EXPECT_FALSE(m.registry().commit());
        EXPECT_NE(m.imageRegistry().lastCommitError().find("no hive was changed"),
                  std::string::npos)
            << m.imageRegistry().lastCommitError();
        for (size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(test::readFile(hiveFiles()[i]), before[i]) << hiveFiles()[i];
        EXPECT_TRUE(leftovers().empty());
        // The changes wait for the next try, and so does the lock.
        EXPECT_EQ(marks(m), (std::vector<int32_t>{3, 3, 3}));
        EXPECT_TRUE(m.imageRegistry().holdsWriteLock());
    }
    m.imageRegistry().setCommitProbe({});
    EXPECT_TRUE(m.registry().commit());
    ImageMachine again(folder());
    EXPECT_EQ(marks(again), (std::vector<int32_t>{3, 3, 3}));
}

// A process that dies at each step of a commit: before the journal nothing
// has happened, from the journal on the next open finishes it.
TEST_F(CommitTest, ACommitCutShortAtAnyStepLandsWholeOrNotAtAll) {
    struct Stop {
        CommitStep step;
        size_t hive;
        int32_t expected;
    };
    const Stop stops[] = {
        {CommitStep::CopyWritten, 0, 0},    {CommitStep::CopyWritten, 2, 0},
        {CommitStep::JournalWritten, 0, 1}, {CommitStep::Renamed, 0, 1},
        {CommitStep::Renamed, 1, 1},        {CommitStep::Renamed, 2, 1},
        {CommitStep::Landed, 0, 1},
    };
    int round = 0;
    for (const auto& stop : stops) {
        SCOPED_TRACE(round++);
        fs::remove_all(folder());
        build(folder());
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ImageMachine m(folder());
            if (!mark(m, 1)) ::_exit(2);
            m.imageRegistry().setCommitProbe([&](CommitStep s, size_t hive) {
                if (s == stop.step && hive == stop.hive) ::_exit(0);
                return true;
            });
            m.registry().commit();
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(fs::exists(commitJournalFile(folder())), stop.expected == 1);

        ImageMachine reopened(folder());
        EXPECT_EQ(marks(reopened), std::vector<int32_t>(3, stop.expected));
        EXPECT_TRUE(reopened.warnings().empty());
        EXPECT_TRUE(leftovers().empty()) << leftovers().front();
        expectReadableByTheOracles();
    }
}

TEST_F(CommitTest, ADamagedHiveRefusesChangesAndHoldsNothingElseBack) {
    // Hive bins data size beyond the end of the file, in a base block whose
    // checksum is right.
    auto ntuser = hiveFiles()[2];
    test::claimBinsBeyondTheFile(ntuser);
    std::string bytes = test::readFile(ntuser);
    {
        ImageMachine m(folder());
        auto readOnly = m.registry().readOnlyHives();
        ASSERT_EQ(readOnly.size(), 1u);
        EXPECT_NE(readOnly[0].find("damaged"), std::string::npos) << readOnly[0];
        EXPECT_NE(readOnly[0].find("nothing was changed"), std::string::npos) << readOnly[0];
        for (const auto& h : m.imageRegistry().hiveStatus()) {
            bool isUser = h.mount.hostFile == ntuser;
            EXPECT_EQ(h.state.health == HiveHealth::Damaged, isUser) << h.mount.windowsFile;
            EXPECT_EQ(h.writable, !isUser) << h.mount.windowsFile;
        }
        EXPECT_FALSE(mark(m, 6));
        EXPECT_EQ(m.registry().refusedEdits(), readOnly);
        ASSERT_TRUE(m.registry().commit());  // the other hives are not held back
    }
    EXPECT_EQ(test::readFile(ntuser), bytes);
    ImageMachine m(folder());
    EXPECT_EQ(marks(m)[0], 6);
    EXPECT_EQ(marks(m)[1], 6);
}

TEST_F(CommitTest, WhatEarlierVersionsAndDeadWritersLeftIsRemovedOnOpen) {
    auto ntuser = hiveFiles()[2];
    auto software = hiveFiles()[1];
    auto beside = [&](const fs::path& hive, const std::string& suffix) {
        fs::path p = hive;
        p += suffix;
        test::writeFile(p, "left over");
        return p;
    };
    std::vector<fs::path> strays = {beside(ntuser, ".brisko-0badf00d.new"), beside(ntuser, ".tmp"),
                                    beside(software, ".tmp")};
    std::vector<fs::path> kept = {beside(ntuser, ".keep"), beside(ntuser, ".brisko-notes.new"),
                                  beside(software, ".LOG1")};
    // What killed writers of the journal and the pending list left.
    for (const char* temp : {"..brisko-commit.tmp4242-0", "..brisko-pending-hives.tmp17-3"}) {
        test::writeFile(folder() / temp, "cut");
        strays.push_back(folder() / temp);
    }
    test::writeFile(folder() / "..brisko-commit.tmp-notes", "mine");
    kept.push_back(folder() / "..brisko-commit.tmp-notes");
    {
        // Another writer at work: its new copies may be among them.
        MachineLock other(folder());
        ASSERT_TRUE(other.acquire(0ms));
        ImageMachine m(folder());
        for (const auto& p : strays) EXPECT_TRUE(fs::exists(p)) << p;
    }
    ImageMachine m(folder());
    for (const auto& p : strays) EXPECT_FALSE(fs::exists(p)) << p;
    for (const auto& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
}

// A hive file that cannot be replaced (immutable) stops a commit after its
// journal: the new copy waits, each open tries again and says so, and once
// the hive can be replaced the commit lands whole.
TEST_F(CommitTest, ACopyWhoseRenameFailedWaitsForTheNextOpen) {
    const fs::path ntuser = hiveFiles()[2];
    auto immutable = [&](bool on) {
        UniqueFd fd(::open(ntuser.c_str(), O_RDONLY | O_CLOEXEC));
        int flags = 0;
        if (fd.get() < 0 || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
    };
    if (!immutable(true)) GTEST_SKIP() << "no immutable files here";
    struct Release {
        std::function<bool(bool)> f;
        ~Release() { f(false); }
    } release{immutable};
    {
        ImageMachine m(folder());
        ASSERT_TRUE(mark(m, 7));
        EXPECT_FALSE(m.registry().commit());
        m.registry().discard();
    }
    for (int open = 0; open < 2; ++open) {
        ImageMachine m(folder());
        bool said = false;
        for (const auto& w : m.warnings())
            said = said || w.find("Cannot finish the interrupted commit") != std::string::npos;
        EXPECT_TRUE(said) << open;
        EXPECT_TRUE(fs::exists(commitJournalFile(folder())));
        // The user's new copy is still there, named by the journal.
        bool waiting = false;
        for (const auto& f : journalNewFiles(folder()))
            waiting = waiting || (f.parent_path() == ntuser.parent_path() && fs::exists(f));
        EXPECT_TRUE(waiting) << open;
    }
    ASSERT_TRUE(immutable(false));
    ImageMachine m(folder());
    EXPECT_TRUE(m.warnings().empty());
    EXPECT_EQ(marks(m), (std::vector<int32_t>{7, 7, 7}));
    EXPECT_TRUE(leftovers().empty());
}

TEST(CommitJournal, ACompleteJournalIsFinishedAndAnIncompleteOneUndone) {
    test::TempDir dir;
    auto a = dir.path() / "config" / "SOFTWARE";
    auto b = dir.path() / "Users" / "Ann" / "NTUSER.DAT";
    test::writeFile(a, "old a");
    test::writeFile(b, "new b");  // renamed before the interruption
    auto copyA = newHiveCopyName(a);
    auto copyB = newHiveCopyName(b);
    test::writeFile(copyA, "new a");
    ASSERT_TRUE(writeCommitJournal(dir.path(), {{copyA, a}, {copyB, b}}, nullptr));
    auto done = finishInterruptedCommit(dir.path());
    EXPECT_EQ(done.renamed, 1u);
    EXPECT_TRUE(done.problems.empty());
    EXPECT_EQ(test::readFile(a), "new a");
    EXPECT_EQ(test::readFile(b), "new b");
    EXPECT_FALSE(fs::exists(copyA));
    EXPECT_FALSE(fs::exists(commitJournalFile(dir.path())));

    // Cut short while being written: its copies go, the hives stay.
    auto copy = newHiveCopyName(a);
    test::writeFile(copy, "newer a");
    test::writeFile(commitJournalFile(dir.path()),
                    "Brisko Cleaner commit journal 1\n" +
                        copy.lexically_relative(dir.path()).generic_string() +
                        "\tconfig/SOFTWARE\n");
    done = finishInterruptedCommit(dir.path());
    EXPECT_EQ(done.renamed, 0u);
    EXPECT_EQ(done.removed, 1u);
    EXPECT_EQ(test::readFile(a), "new a");
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_FALSE(fs::exists(commitJournalFile(dir.path())));
}

// The journal is read from the disk being repaired; it must not become a way
// to move files around.
TEST(CommitJournal, EntriesThatAreNotOurCopiesBesideTheirHiveAreLeftAlone) {
    test::TempDir dir;
    auto root = dir.path() / "m";
    test::writeFile(root / "config" / "SAM", "sam");
    test::writeFile(root / "config" / "notes.txt", "notes");
    test::writeFile(root / "other" / "SAM.brisko-12345678.new", "moved?");
    test::writeFile(dir.path() / "outside" / "SAM", "outside");
    test::writeFile(dir.path() / "outside" / "SAM.brisko-12345678.new", "outside copy");
    fs::create_directory_symlink(dir.path() / "outside", root / "link");
    test::writeFile(commitJournalFile(root),
                    "Brisko Cleaner commit journal 1\n"
                    "config/notes.txt\tconfig/SAM\n"
                    "other/SAM.brisko-12345678.new\tconfig/SAM\n"
                    "../outside/SAM.brisko-12345678.new\t../outside/SAM\n"
                    "link/SAM.brisko-12345678.new\tlink/SAM\n"
                    "end 4\n");
    auto done = finishInterruptedCommit(root);
    EXPECT_EQ(done.renamed, 0u);
    EXPECT_EQ(done.problems.size(), 4u);
    EXPECT_EQ(test::readFile(root / "config" / "SAM"), "sam");
    EXPECT_EQ(test::readFile(root / "config" / "notes.txt"), "notes");
    EXPECT_EQ(test::readFile(dir.path() / "outside" / "SAM"), "outside");
    EXPECT_TRUE(fs::exists(root / "other" / "SAM.brisko-12345678.new"));
}

TEST_F(CommitTest, AProfileListedTwiceIsMountedOnce) {
    // A stale "<SID>.bak" entry (here of another SID, listed first) naming
    // Ann's profile folder: her NTUSER.DAT must be mounted once, as hers.
    fs::remove_all(folder());
    build(folder(),
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
          "S-1-5-21-1-2-3-1000.bak]\n\"ProfileImagePath\"=\"C:\\\\Users\\\\Ann\"\n");
    test::writeFile(folder() / "machine.ini", "[Machine]\nUser=Ann\n");
    {
        ImageMachine m(folder());
        EXPECT_EQ(m.currentUser().sid, kSid);
        size_t userHives = 0;
        for (const auto& h : m.registry().hiveList())
            if (h.filePath == "C:\\Users\\Ann\\NTUSER.DAT") ++userHives;
        EXPECT_EQ(userHives, 1u);
        ASSERT_FALSE(m.warnings().empty());
        EXPECT_NE(m.warnings()[0].find("already mounted"), std::string::npos) << m.warnings()[0];
        ASSERT_TRUE(mark(m, 5));
        EXPECT_FALSE(RegistryKey(m.registry(), RootKey::Users)
                         .openKey("S-1-5-21-1-2-3-1000.bak\\Software", true));
        ASSERT_TRUE(m.registry().commit());
    }
    ImageMachine m(folder());
    EXPECT_EQ(marks(m), (std::vector<int32_t>{5, 5, 5}));

    // Compared by device and inode, not by name: a hard link is the same file.
    auto ntuser = hiveFiles()[2];
    fs::create_hard_link(ntuser, folder() / "Users" / "NTUSER-link.DAT");
    ImageRegistry reg({{"\\REGISTRY\\USER\\" + kSid, ntuser, "C:\\Users\\Ann\\NTUSER.DAT", ""},
                       {"\\REGISTRY\\USER\\S-1-5-21-9", folder() / "Users" / "NTUSER-link.DAT",
                        "C:\\Users\\NTUSER-link.DAT", ""}},
                      kSid, {}, folder() / ".brisko-pending-hives");
    EXPECT_EQ(reg.hiveList().size(), 1u);
    EXPECT_EQ(reg.errors().size(), 1u);
}

TEST_F(CommitTest, ASecondWriterWaitsBrieflyThenIsRefusedClearly) {
    ImageMachine a(folder());
    ImageMachine b(folder());
    b.imageRegistry().setLockWait(50ms);
    RegistryKey ka(a.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(ka.openKey("SOFTWARE\\FromA", true));
    ASSERT_TRUE(ka.writeString("v", "a"));

    RegistryKey kb(b.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(kb.openKey("Software\\Old", false));
    EXPECT_FALSE(kb.writeString("v", "b"));
    EXPECT_FALSE(kb.writeString("w", "b"));  // asked once, not once per change
    EXPECT_EQ(b.registry().refusedEdits(), std::vector<std::string>{kMachineBusyMessage});

    ASSERT_TRUE(a.registry().commit());
    b.registry().discard();
    EXPECT_TRUE(b.registry().refusedEdits().empty());
    EXPECT_TRUE(kb.writeString("v", "b"));  // A's commit did not touch this hive
    ASSERT_TRUE(b.registry().commit());

    ImageMachine c(folder());
    RegistryKey k(c.registry(), RootKey::LocalMachine);
    EXPECT_TRUE(k.openKeyReadOnly("SOFTWARE\\FromA"));
    RegistryKey u(c.registry(), RootKey::CurrentUser);
    ASSERT_TRUE(u.openKeyReadOnly("Software\\Old"));
    EXPECT_EQ(u.readString("v"), "b");
}

TEST_F(CommitTest, AHiveAnotherWriterChangedIsNotWrittenOver) {
    ImageMachine a(folder());
    ImageMachine b(folder());  // read before A's commit
    RegistryKey ka(a.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(ka.openKey("SOFTWARE\\FromA", true));
    ASSERT_TRUE(a.registry().commit());

    RegistryKey kb(b.registry(), RootKey::LocalMachine);
    EXPECT_FALSE(kb.openKey("SOFTWARE\\FromB", true));
    auto refused = b.registry().refusedEdits();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("changed by another program"), std::string::npos) << refused[0];
    RegistryKey user(b.registry(), RootKey::CurrentUser);
    EXPECT_TRUE(user.openKey("Software\\FromB", true));  // the other hives are not held back
    ASSERT_TRUE(b.registry().commit());

    ImageMachine c(folder());
    RegistryKey k(c.registry(), RootKey::LocalMachine);
    EXPECT_TRUE(k.openKeyReadOnly("SOFTWARE\\FromA"));
    EXPECT_FALSE(k.openKeyReadOnly("\\SOFTWARE\\FromB"));
    EXPECT_TRUE(RegistryKey(c.registry(), RootKey::CurrentUser).openKeyReadOnly("Software\\FromB"));
}

TEST_F(CommitTest, OpeningForWritingWaitsForTheWriterAndReadsWhatItWrote) {
    ImageMachine a(folder());
    ASSERT_TRUE(mark(a, 4));
    EXPECT_THROW(
        {
            try {
                ImageMachine busy(folder(), MachineAccess::Write, 30ms);
            } catch (const MachineOpenError& e) {
                EXPECT_TRUE(e.busy);
                EXPECT_EQ(e.message, kMachineBusyMessage);
                throw;
            }
        },
        MachineOpenError);
    std::jthread committer([&] {
        std::this_thread::sleep_for(100ms);
        a.registry().commit();
    });
    ImageMachine b(folder(), MachineAccess::Write, 10s);
    EXPECT_TRUE(b.imageRegistry().holdsWriteLock());
    EXPECT_EQ(marks(b), (std::vector<int32_t>{4, 4, 4}));
    ASSERT_TRUE(mark(b, 5));
    ASSERT_TRUE(b.registry().commit());
}

// Writers on threads, each with its machine: they take turns and every
// change of both lands.
TEST_F(CommitTest, WritersTakeTurnsAndLoseNothing) {
    constexpr int kRounds = 8;
    auto writer = [&](size_t place) {
        ImageMachine m(folder());
        m.imageRegistry().setLockWait(30s);
        for (int i = 0; i < kRounds; ++i) {
            RegistryKey k(m.registry(), kPlaces[place].root);
            ASSERT_TRUE(k.openKey(kPlaces[place].key, true));
            ASSERT_TRUE(k.writeInteger("N" + std::to_string(i), i));
            ASSERT_TRUE(m.registry().commit()) << m.imageRegistry().lastCommitError();
        }
    };
    { std::jthread one(writer, 1), two(writer, 2); }
    ImageMachine m(folder());
    for (size_t place : {1u, 2u}) {
        RegistryKey k(m.registry(), kPlaces[place].root);
        ASSERT_TRUE(k.openKeyReadOnly(kPlaces[place].key));
        EXPECT_EQ(k.valueNames().size(), size_t(kRounds)) << kPlaces[place].key;
    }
}

}  // namespace
}  // namespace brisko

namespace brisko {
namespace {

// A pipe in place of a hive, the pending list or the commit journal must not
// make opening the machine wait forever; the pipe is left as it was.
TEST(SpecialFiles, PipesInPlaceOfTheProgramsFilesAreNeverWaitedOn) {
    test::TempDir dir;
    auto folder = dir.path() / "m";
    MachineBuilder("Ann", "S-1-5-21-1-2-3-1001").write(folder);
    auto sam = folder / "Windows" / "System32" / "config" / "SAM";
    fs::remove(sam);
    for (const auto& p : {sam, folder / ".brisko-pending-hives", commitJournalFile(folder)})
        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0) << p;

    std::string why;
    EXPECT_EQ(Hive::open(sam, &why), nullptr);
    EXPECT_EQ(why, "not a regular file");
    EXPECT_FALSE(readSmallFile(folder / ".brisko-pending-hives", 1024));

    ImageMachine m(folder);
    auto* reg = dynamic_cast<ImageRegistry*>(&m.registry());
    ASSERT_NE(reg, nullptr);
    EXPECT_TRUE(reg->pendingReplacements().empty());
    RegistryKey k(m.registry(), RootKey::LocalMachine);
    EXPECT_TRUE(k.openKeyReadOnly("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
    EXPECT_TRUE(fs::is_fifo(commitJournalFile(folder)));
}

TEST(SpecialFiles, SmallFilesAreReadWhole) {
    test::TempDir dir;
    auto f = dir.path() / "list";
    test::writeFile(f, "a\tb\tc\n");
    EXPECT_EQ(readSmallFile(f, 6).value_or(""), "a\tb\tc\n");
    std::string why;
    EXPECT_FALSE(readSmallFile(f, 5, &why));
    EXPECT_EQ(why, "too large");
    fs::create_symlink(f, dir.path() / "link");
    EXPECT_FALSE(readSmallFile(dir.path() / "link", 100));
}

}  // namespace
}  // namespace brisko
