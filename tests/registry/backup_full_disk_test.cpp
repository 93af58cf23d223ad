// A fix whose backup runs out of disk: nothing is deleted whose block did not
// reach the disk, and the backup left behind ends with a whole block.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdio>
#include <set>

#include "base/text.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_key.h"
#include "demo/machine_builder.h"
#include "registry/backup_store.h"
#include "registry/registry_fix.h"
#include "support/forwarding_file_api.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

constexpr const char* kSid = "S-1-5-21-1004336348-1177238915-682003330-1000";
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kBackup = "C:\\Backup\\2013_07_04_093005.reg";

// A disk that takes `budget` bytes of the backup and then fills up: the write
// that crosses the limit is cut there, as a full disk cuts it.
class SmallDisk : public test::ForwardingFileApi {
  public:
    SmallDisk(FileApi& inner, int64_t budget) : ForwardingFileApi(inner), left_(budget) {}

    std::unique_ptr<FileHandle> openFile(std::string_view p, FileMode m) override {
        return wrap(in_.openFile(p, m));
    }
    std::unique_ptr<FileHandle> createFile(std::string_view p) override {
        return wrap(in_.createFile(p));
    }
    std::unique_ptr<FileHandle> createNewFile(std::string_view p) override {
        return wrap(in_.createNewFile(p));
    }

  private:
    class Handle : public FileHandle {
      public:
        Handle(std::unique_ptr<FileHandle> h, int64_t& left) : h_(std::move(h)), left_(left) {}
        int64_t size() override { return h_->size(); }
        bool seek(int64_t o) override { return h_->seek(o); }
        int64_t read(void* b, int64_t n) override { return h_->read(b, n); }
        int64_t write(const void* b, int64_t n) override {
            int64_t take = std::min(n, std::max<int64_t>(left_, 0));
            int64_t done = take ? h_->write(b, take) : -1;
            if (done > 0) left_ -= done;
            return done;
        }
        bool flush() override { return h_->flush(); }
        bool truncate(int64_t size) override {
            int64_t before = h_->size();
            if (!h_->truncate(size)) return false;
            left_ += before - size;
            return true;
        }

      private:
        std::unique_ptr<FileHandle> h_;
        int64_t& left_;
    };
    std::unique_ptr<FileHandle> wrap(std::unique_ptr<FileHandle> h) {
        return h ? std::make_unique<Handle>(std::move(h), left_) : nullptr;
    }
    int64_t left_;
};

class SmallDiskMachine : public ImageMachine {
  public:
    SmallDiskMachine(const std::filesystem::path& folder, int64_t budget)
        : ImageMachine(folder), disk_(ImageMachine::files(), budget) {}
    FileApi& files() override { return disk_; }

  private:
    SmallDisk disk_;
};

// A user with `count` Run values, each naming a program that is not there.
void buildMachine(const std::filesystem::path& dir, int count) {
    MachineBuilder b("Alex", kSid);
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" +
                       std::string(kRunKey) + "]\r\n";
    for (int i = 0; i < count; ++i)
        text += "\"Tool" + std::to_string(i) + "\"=\"C:\\\\Program Files\\\\Gone" +
                std::to_string(i) + "\\\\tool.exe /background /quiet " + std::string(240, 'x') +
                "\"\r\n";
    b.addRegText(text);
    b.addFolder("C:\\Backup");
    b.write(dir);
}

std::vector<RegistryProblem> runRows(int count) {
    std::vector<RegistryProblem> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back({true, "Missing program", "",
                        "HKEY_CURRENT_USER\\" + std::string(kRunKey) + "\\Tool" + std::to_string(i),
                        pkValue});
    return rows;
}

std::set<std::string> presentValues(Machine& m) {
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    std::set<std::string> out;
    if (k.openKeyReadOnly(kRunKey))
        for (const auto& n : k.valueNames()) out.insert(upperCase(n));
    return out;
}

std::optional<std::string> readBackup(Machine& m) {
    auto h = m.files().openFile(kBackup, FileMode::Read);
    if (!h) return std::nullopt;
    std::string out(size_t(h->size()), '\0');
    h->read(out.data(), int64_t(out.size()));
    return out;
}

struct Outcome {
    bool lost = false;        // a value went without its block in the backup
    bool cutBackup = false;   // the backup does not read, or ends inside a block
    bool anyDeleted = false;  // the run deleted something
};

// Every value that went has its block in the backup, and the backup reads
// whole and ends with a whole block.
Outcome check(Machine& m, const FixReport& report, int count) {
    Outcome o;
    auto present = presentValues(m);
    std::set<std::string> backedUp;
    if (auto bytes = readBackup(m)) {
        try {
            for (const auto& op : parseRegText(*bytes).ops)
                if (op.kind == RegFileOp::SetValue) backedUp.insert(upperCase(op.valueName));
        } catch (const RegFileError&) {
            o.cutBackup = true;
        }
        if (!regFileEndsWhole(*bytes)) o.cutBackup = true;
    }
    size_t fixed = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = upperCase("Tool" + std::to_string(i));
        if (present.count(name)) continue;
        o.anyDeleted = true;
        ++fixed;
        if (!backedUp.count(name)) o.lost = true;
    }
    EXPECT_EQ(fixed, report.fixed);
    return o;
}

TEST(BackupFullDisk, NoValueGoesWithoutItsBlockWhereverTheDiskFillsUp) {
    constexpr int kValues = 900;
    test::TempDir dir;
    buildMachine(dir.path(), kValues);
    const auto rows = runRows(kValues);
    // The whole backup, to know where the disk may fill up.
    int64_t full = 0;
    {
        SmallDiskMachine m(dir.path(), int64_t(1) << 40);
        auto report = fixProblems(m, rows, kBackup, false);
        ASSERT_EQ(report.fixed, size_t(kValues));
        full = int64_t(readBackup(m).value_or("").size());
        m.registry().discard();
        m.files().deleteFile(kBackup);
    }
    ASSERT_GT(full, int64_t(256) << 10) << "the backup should need more than one piece";
    int tried = 0, lost = 0, cut = 0, listedEmpty = 0;
    for (bool flushEach : {false, true}) {
        for (int64_t budget :
             {int64_t(0), int64_t(5), int64_t(11), int64_t(4000), int64_t(256) << 10,
              (int64_t(256) << 10) + 777, full / 2 + 13, full - 200, full - 1}) {
            SmallDiskMachine m(dir.path(), budget);
            auto report = fixProblems(m, rows, kBackup, flushEach);
            ++tried;
            Outcome o = check(m, report, kValues);
            lost += o.lost;
            cut += o.cutBackup;
            EXPECT_FALSE(o.lost) << "budget " << budget << " flushEach " << flushEach;
            EXPECT_FALSE(o.cutBackup) << "budget " << budget << " flushEach " << flushEach;
            EXPECT_TRUE(report.stopped || report.notBackedUp) << budget;
            // Deletions that wait for the commit all stay when the backup fails.
            if (!flushEach) EXPECT_FALSE(o.anyDeleted) << budget;
            // A backup that holds nothing is not left to be listed.
            auto list = listBackups(m.files(), "C:\\Backup");
            ASSERT_TRUE(list);
            if (!o.anyDeleted && !list->empty()) ++listedEmpty;
            m.registry().discard();
            m.files().deleteFile(kBackup);
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(cut, 0);
    EXPECT_EQ(listedEmpty, 0);
    std::printf("[ figures  ] full-disk fixes tried %d, lost values %d, cut backups %d\n", tried,
                lost, cut);
}

// The backup folder on a real small file system.
TEST(BackupFullDisk, BackupFolderOnASmallTmpfs) {
    constexpr int kValues = 400;
    test::TempDir dir;
    buildMachine(dir.path(), kValues);
    const auto folder = dir.path() / "Backup";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    struct Unmount {
        std::filesystem::path p;
        ~Unmount() { ::umount(p.c_str()); }
    } unmount{folder};
    ImageMachine m(dir.path());
    auto report = fixProblems(m, runRows(kValues), kBackup, false);
    Outcome o = check(m, report, kValues);
    EXPECT_GT(report.notBackedUp, 0u);
    EXPECT_EQ(report.fixed, 0u);
    EXPECT_FALSE(o.anyDeleted);
    EXPECT_FALSE(o.cutBackup);
    ASSERT_TRUE(m.registry().commit());
    EXPECT_EQ(presentValues(m).size(), size_t(kValues));
    // Nothing was deleted, so nothing is left to list.
    auto list = listBackups(m.files(), "C:\\Backup");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

}  // namespace
}  // namespace brisko
