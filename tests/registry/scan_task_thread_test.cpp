#include "registry/scan_task_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "registry/scan_fake_machine.h"

namespace brisko {
namespace {

using test::MessageLog;
using test::ScanFakeMachine;

// Remembers every call of the worker, in order, from any thread.
class Journal : public ScanDisplay {
  public:
    void showTitle(std::string_view t) override { add("title:" + std::string(t)); }
    void showKey(std::string_view k) override { add("key:" + std::string(k)); }
    void addProblem(RegistryProblem r) override { add("row:" + r.keyPath); }
    std::vector<std::string> lines() {
        std::lock_guard lock(m_);
        return lines_;
    }

  private:
    void add(std::string s) {
        std::lock_guard lock(m_);
        lines_.push_back(std::move(s));
    }
    std::mutex m_;
    std::vector<std::string> lines_;
};

ScannerFn rowScanner(std::string key) {
    return [key](ScanContext& ctx) { ctx.AddProblem("P", "", key, pkKey); };
}

TEST(ScanWorker, RunsTheSectionsInOrderAndPostsAfterEach) {
    ScanFakeMachine m;
    ScannerTable table;
    table.add(7, rowScanner("HKEY_LOCAL_MACHINE\\seven"));
    table.add(22, rowScanner("HKEY_LOCAL_MACHINE\\twentytwo"));
    table.add(4, rowScanner("HKEY_CURRENT_USER\\four"));
    Journal journal;
    MessageLog log;
    TScanTaskThread worker(m, {}, {1, 2, 4, 22, 7}, table, journal, log);
    worker.start();
    worker.join();
    EXPECT_EQ(
        journal.lines(),
        (std::vector<std::string>{
            "title:", "key:", "title:Scanning: HKEY_CURRENT_USER", "row:HKEY_CURRENT_USER\\four",
            // Applications keeps the previous title.
            "row:HKEY_LOCAL_MACHINE\\twentytwo", "title:Scanning: Shared DLLs",
            "row:HKEY_LOCAL_MACHINE\\seven", "title:Optimizing...Do not close the dialog.",
            "key:Please wait..."}));
    // One section message per code, the grouping nodes included, then done.
    EXPECT_EQ(log.all(), (std::vector<uint32_t>{0x6413, 0x6413, 0x6413, 0x6413, 0x6413, 0x6414}));
    EXPECT_TRUE(worker.completed());
}

TEST(ScanWorker, GroupingNodesAloneRunNothing) {
    ScanFakeMachine m;
    ProblemCollector rows;
    MessageLog log;
    TScanTaskThread worker(m, {}, {1, 2}, ScannerTable{}, rows, log);
    worker.start();
    worker.join();
    EXPECT_TRUE(rows.rows.empty());
    EXPECT_EQ(log.all().back(), uint32_t(WM_REGSCAN_DONE));
}

TEST(ScanWorker, AFailingScannerCostsOnlyItsSection) {
    ScanFakeMachine m;
    ScannerTable table;
    table.add(12, [](ScanContext& ctx) {
        ctx.AddProblem("Invalid Windows Fonts", "a.ttf", "HKEY_LOCAL_MACHINE\\Fonts\\a", pkValue);
        throw std::runtime_error("bad font key");
    });
    table.add(13, [](ScanContext&) { throw 42; });
    table.add(14, rowScanner("HKEY_CURRENT_USER\\Run\\x"));
    ProblemCollector rows;
    MessageLog log;
    TScanTaskThread worker(m, {}, {12, 13, 14}, table, rows, log);
    worker.start();
    worker.join();
    ASSERT_EQ(rows.rows.size(), 2u);  // the row found before the failure stays
    EXPECT_EQ(rows.rows[1].keyPath, "HKEY_CURRENT_USER\\Run\\x");
    EXPECT_EQ(log.all(), (std::vector<uint32_t>{0x6413, 0x6413, 0x6413, 0x6414}));
    auto failures = worker.failures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].code, 12);
    EXPECT_EQ(failures[0].message,
              "Skipped \"Fonts Section\": the section could not be scanned (bad font key).");
    EXPECT_EQ(failures[1].message,
              "Skipped \"Help File Paths\": the section could not be scanned.");
}

TEST(ScanWorker, StopEndsTheRunningSectionAndPostsNothingMore) {
    ScanFakeMachine m;
    std::atomic<int> started{0};
    std::atomic<bool> secondRan{false};
    ScannerTable table;
    // Walks "keys" until told to stop, as every real scanner does.
    table.add(3, [&](ScanContext& ctx) {
        started = 1;
        for (int i = 0; !ctx.terminated(); ++i) {
            ctx.showKey("HKEY_CLASSES_ROOT\\k" + std::to_string(i));
            if (i % 100 == 0) ctx.AddProblem("P", "", "HKEY_CLASSES_ROOT\\k", pkKey);
            std::this_thread::yield();
        }
    });
    table.add(4, [&](ScanContext&) { secondRan = true; });
    Journal journal;
    MessageLog log;
    TScanTaskThread worker(m, {}, {3, 4}, table, journal, log);
    worker.start();
    while (!started) std::this_thread::yield();
    worker.stopAndWait();
    EXPECT_TRUE(worker.finished());
    EXPECT_FALSE(worker.completed());
    EXPECT_FALSE(secondRan);
    EXPECT_TRUE(log.all().empty());
}

TEST(ScanWorker, ProgressStepFollowsTheLongSections) {
    EXPECT_EQ(scanProgressStep({}), 10);
    EXPECT_EQ(scanProgressStep({1, 2, 7, 8, 24}), 10);
    EXPECT_EQ(scanProgressStep({25}), 5);
    EXPECT_EQ(scanProgressStep({3, 4}), 4);
    EXPECT_EQ(scanProgressStep({3, 4, 5}), 3);
    EXPECT_EQ(scanProgressStep({3, 4, 5, 6}), 2);
    EXPECT_EQ(scanProgressStep({1, 2, 3, 4, 5, 6, 7, 25}), 1);
}

TEST(ScanEnvironment, DrivesAndFlags) {
    ScanFakeMachine m;
    m.fileApi.addDrive('a', DriveKind::Removable, false);
    m.fileApi.addDrive('b', DriveKind::Removable, true);
    m.fileApi.addDrive('d', DriveKind::CdRom);
    m.fileApi.addDrive('e', DriveKind::Fixed);
    m.fileApi.addDrive('f', DriveKind::Removable);
    m.wow64 = true;

    auto env = makeScanEnvironment(m, true, 12);
    EXPECT_EQ(env.CheckedDrives, "ce");
    EXPECT_EQ(m.fileApi.volumeProbes, 0);  // removable media ignored: no probing
    EXPECT_TRUE(env.IsWow64);
    EXPECT_TRUE(env.isWin7or8);
    EXPECT_FALSE(env.isWin8);

    env = makeScanEnvironment(m, false, 13);
    EXPECT_EQ(env.CheckedDrives, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_FALSE(env.floppyAReady);
    EXPECT_TRUE(env.floppyBReady);
    EXPECT_TRUE(env.isWin8);
}

TEST(ScanEnvironment, DriveTestsOfTheContext) {
    ScanFakeMachine m;
    ProblemCollector rows;
    ScanEnvironment env;
    env.CheckedDrives = "ce";
    ScanContext ctx(m, env, {5, 16}, rows);
    EXPECT_TRUE(ctx.onCheckedDrive("c:\\x"));
    EXPECT_TRUE(ctx.onCheckedDrive("E:\\"));
    EXPECT_FALSE(ctx.onCheckedDrive("D:\\x"));
    EXPECT_FALSE(ctx.onCheckedDrive("C:x"));
    EXPECT_FALSE(ctx.onCheckedDrive("\\\\server\\share"));
    EXPECT_FALSE(ctx.noMediaRule("A:\\x"));  // removable media ignored
    EXPECT_TRUE(ctx.sectionSelected(5));
    EXPECT_FALSE(ctx.sectionSelected(4));

    env.ignoreRemovableMedia = false;
    env.floppyBReady = true;
    ScanContext open(m, env, {}, rows);
    EXPECT_TRUE(open.noMediaRule("a:\\file.txt"));
    EXPECT_FALSE(open.noMediaRule("B:\\file.txt"));
    EXPECT_FALSE(open.noMediaRule("C:\\file.txt"));
}

TEST(ScanSections, Texts) {
    EXPECT_EQ(sectionStatusText(10), "Scanning: Software Locations");
    EXPECT_EQ(sectionStatusText(22), "");
    EXPECT_EQ(sectionProblemText(21), "Installer Refrence Issue");
    EXPECT_EQ(sectionProblemText(1), "");
    EXPECT_EQ(sectionProblemText(26), "");
    ScannerTable t;
    t.add(0, rowScanner("x"));
    t.add(26, rowScanner("x"));
    for (int c = 0; c <= 27; ++c) EXPECT_FALSE(t.has(c));
}

}  // namespace
}  // namespace brisko
