// Restore points: the worker and its dialog's rules, and the image's
// snapshots put back through the restart.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/image/image_restore_points.h"
#include "core/machine/registry_key.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"
#include "tools/restore_point.h"

using namespace brisko;
namespace fs = std::filesystem;

namespace {

class ScriptedPrompter : public Prompter {
  public:
    explicit ScriptedPrompter(int answer) : answer_(answer) {}
    int ask(std::string_view text, unsigned flags) override {
        asked.push_back(std::string(text));
        lastFlags = flags;
        return answer_;
    }
    std::vector<std::string> asked;
    unsigned lastFlags = 0;

  private:
    int answer_;
};

class WaitingTarget : public MessageTarget {
  public:
    void post(uint32_t msg, uintptr_t, intptr_t lParam) override {
        std::lock_guard lock(mutex_);
        messages.push_back({msg, lParam});
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(30), [&] { return !messages.empty(); });
    }
    std::vector<std::pair<uint32_t, intptr_t>> messages;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

void build(const fs::path& dir) {
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.addRegText(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n\"a\"=\"1\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"v\"=dword:00000002\n");
    b.write(dir);
}

class NoSystemRestore : public ImageMachine {
  public:
    using ImageMachine::ImageMachine;
    RestorePointService* restorePoints() override { return nullptr; }
};

bool hasKey(Machine& m, RootKey root, const std::string& path) {
    RegistryKey k(m.registry(), root);
    return k.openKeyReadOnly(path);
}

}  // namespace

TEST(RestorePointDialogRules, BarCreepsSlowerAndStopsAtAHundred) {
    int p = 0;
    for (int i = 0; i < 6; ++i) p = NextSystemPointBar(p);
    EXPECT_EQ(p, 50);
    for (int i = 6; i < 37; ++i) p = NextSystemPointBar(p);
    EXPECT_EQ(p, 99);
    p = NextSystemPointBar(p);
    EXPECT_EQ(p, 100);
    EXPECT_EQ(NextSystemPointBar(100), 100);
}

TEST(RestorePointDialogRules, AFailureAsksAndOnlyNoStopsTheCaller) {
    ScriptedPrompter yes(IDYES), no(IDNO);
    EXPECT_TRUE(ContinueAfterRestorePoint(0, no));
    EXPECT_TRUE(no.asked.empty());
    EXPECT_TRUE(ContinueAfterRestorePoint(1, yes));
    EXPECT_FALSE(ContinueAfterRestorePoint(1, no));
    ASSERT_EQ(no.asked.size(), 1u);
    EXPECT_EQ(no.asked[0], "Restore Point creation Failed! Contiue to fix?");
    EXPECT_EQ(no.lastFlags, unsigned(MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2));
    // Nobody to answer: the default button is No.
    DefaultPrompter headless;
    EXPECT_FALSE(ContinueAfterRestorePoint(1, headless));

    EXPECT_TRUE(ShouldCreateRestorePoint(true, 9, false));
    EXPECT_TRUE(ShouldCreateRestorePoint(true, 13, false));
    EXPECT_FALSE(ShouldCreateRestorePoint(true, 7, false));  // Windows 2000
    EXPECT_FALSE(ShouldCreateRestorePoint(true, 12, true));  // unattended
    EXPECT_FALSE(ShouldCreateRestorePoint(false, 12, false));
}

TEST(RestorePointWorker, AlwaysReportsEvenWithoutSystemRestore) {
    test::TempDir dir;
    build(dir.path());
    NoSystemRestore none(dir.path());
    auto target = std::make_shared<WaitingTarget>();
    {
        TCreateSystemPointThread worker(none, target);
        worker.start();
        target->wait();
    }
    ASSERT_EQ(target->messages.size(), 1u);
    EXPECT_EQ(target->messages[0], (std::pair<uint32_t, intptr_t>{WM_RESTOREPOINT_DONE, 1}));

    ImageMachine m(dir.path());
    auto made = std::make_shared<WaitingTarget>();
    {
        TCreateSystemPointThread worker(m, made);
        worker.start();
        made->wait();
    }
    EXPECT_EQ(made->messages.at(0).second, 0);
    auto points = m.restorePoints()->listRestorePoints();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].description, "Made by Brisko Cleaner");
    EXPECT_EQ(points[0].hives.size(), 7u);
}

TEST(ImageRestorePoint, PutsEveryHiveBackAtTheRestartAndKeepsTheLaterStateAsBackup) {
    test::TempDir dir;
    build(dir.path());
    {
        ImageMachine m(dir.path());
        ASSERT_TRUE(m.restorePoints()->createRestorePoint("before"));
        RegistryKey k(m.registry(), RootKey::CurrentUser);
        ASSERT_TRUE(k.openKey("Software\\Later", true));
        RegistryKey lm(m.registry(), RootKey::LocalMachine);
        ASSERT_TRUE(lm.deleteKey("SOFTWARE\\Vendor"));
        ASSERT_TRUE(m.registry().commit());
        // Uncommitted changes are not what a snapshot holds.
        ASSERT_TRUE(k.openKey("\\Software\\Unsaved", true));
        ASSERT_TRUE(m.restorePoints()->createRestorePoint("after"));
        m.registry().discard();
        auto points = m.restorePoints()->listRestorePoints();
        ASSERT_EQ(points.size(), 2u);
        EXPECT_EQ(points[0].number, 1);
        EXPECT_EQ(points[1].description, "after");
    }
    ImageMachine m(dir.path());
    std::string why;
    EXPECT_FALSE(m.restorePoints()->restoreRestorePoint(7, &why));
    EXPECT_EQ(why, "There is no restore point 7.");
    ASSERT_TRUE(m.restorePoints()->restoreRestorePoint(1, &why)) << why;
    // Nothing changes before the restart, and the new files are held open.
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Later"));
    EXPECT_EQ(m.files().fileUse("C:\\Users\\Sam\\NTUSER.DAT.rp"), FileUse::Locked);
    ASSERT_TRUE(m.restart());
    EXPECT_FALSE(hasKey(m, RootKey::CurrentUser, "Software\\Later"));
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Kept"));
    EXPECT_TRUE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
    EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
    EXPECT_TRUE(m.files().fileExists("C:\\Users\\Sam\\NTUSER.DAT.bak"));

    // The second point holds the committed state, not the discarded change.
    ASSERT_TRUE(m.restorePoints()->restoreRestorePoint(2, &why)) << why;
    ASSERT_TRUE(m.restart());
    EXPECT_TRUE(hasKey(m, RootKey::CurrentUser, "Software\\Later"));
    EXPECT_FALSE(hasKey(m, RootKey::CurrentUser, "Software\\Unsaved"));
    EXPECT_FALSE(hasKey(m, RootKey::LocalMachine, "SOFTWARE\\Vendor"));
}

TEST(ImageRestorePoint, ADamagedSnapshotSchedulesNothing) {
    test::TempDir dir;
    build(dir.path());
    ImageMachine m(dir.path());
    auto* rp = static_cast<ImageRestorePoints*>(m.restorePoints());
    ASSERT_TRUE(rp->createRestorePoint("x"));
    fs::path software = rp->folder() / "RP1" / "1" / "SOFTWARE";
    ASSERT_TRUE(fs::exists(software));
    test::claimBinsBeyondTheFile(software);
    std::string why;
    EXPECT_FALSE(rp->restoreRestorePoint(1, &why));
    EXPECT_NE(why.find("SOFTWARE"), std::string::npos) << why;
    EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
    EXPECT_FALSE(m.files().fileExists("C:\\Windows\\System32\\config\\SYSTEM.rp"));
}

// A restore point never leaves the machine folder: not through a link in
// place of its folder, nor through a snapshot file swapped for a link.
TEST(ImageRestorePoint, LinksLeadNoCopyOutAndNoOutsideHiveIn) {
    test::TempDir dir, outside;
    build(dir.path());
    {
        fs::create_symlink(outside.path(), dir.path() / "System Volume Information");
        ImageMachine m(dir.path());
        auto* rp = m.restorePoints();
        EXPECT_FALSE(rp->createRestorePoint("x"));
        EXPECT_NE(rp->lastError().find("link"), std::string::npos) << rp->lastError();
        EXPECT_TRUE(rp->listRestorePoints().empty());
        EXPECT_TRUE(fs::is_empty(outside.path()));
        fs::remove(dir.path() / "System Volume Information");
    }
    ImageMachine m(dir.path());
    auto* rp = static_cast<ImageRestorePoints*>(m.restorePoints());
    ASSERT_TRUE(rp->createRestorePoint("x"));
    // The SOFTWARE of the snapshot swapped for a link to a hive outside.
    fs::path software = rp->folder() / "RP1" / "1" / "SOFTWARE";
    ASSERT_TRUE(fs::exists(software));
    fs::copy_file(software, outside.path() / "SOFTWARE");
    fs::remove(software);
    fs::create_symlink(outside.path() / "SOFTWARE", software);
    std::string why;
    EXPECT_FALSE(rp->restoreRestorePoint(1, &why));
    EXPECT_NE(why.find("SOFTWARE"), std::string::npos) << why;
    // All or nothing: not one hive waits for the restart, no copy is left.
    EXPECT_TRUE(m.imageRegistry().pendingReplacements().empty());
    for (const char* f :
         {"C:\\Windows\\System32\\config\\SYSTEM.rp", "C:\\Windows\\System32\\config\\SOFTWARE.rp",
          "C:\\Users\\Sam\\NTUSER.DAT.rp"})
        EXPECT_FALSE(m.files().fileExists(f)) << f;
    // The folder of the points as a link: no point is found through it.
    fs::rename(rp->folder(), outside.path() / "_restore");
    fs::create_symlink(outside.path() / "_restore", rp->folder());
    EXPECT_TRUE(rp->listRestorePoints().empty());
    EXPECT_FALSE(rp->restoreRestorePoint(1, &why));
}
