#include "registry/scan_run.h"

#include <gtest/gtest.h>

#include <atomic>

#include "core/machine/image/image_machine.h"
#include "core/settings.h"
#include "demo/machine_builder.h"
#include "registry/scan_fake_machine.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

using test::MessageLog;
using test::ScanFakeMachine;

struct Pane {
    ScanFakeMachine machine;
    TOptionsSetting settings;
    MessageLog log;
    DefaultPrompter prompter;
    ScannerTable table;
    std::unique_ptr<ScanRun> run;

    Pane() { settings.IncludeRemoveMedia = true; }
    ScanRun& make(int version = 9) {
        run = std::make_unique<ScanRun>(machine, settings, version, log, prompter, table);
        return *run;
    }
    // Runs the window's message loop until the scan has ended.
    void pump() {
        while (run->scanning()) {
            uint32_t m = log.wait();
            ASSERT_NE(m, 0u) << "no message from the worker";
            run->handleMessage(m);
        }
    }
};

ScannerFn rows(std::vector<std::pair<std::string, std::string>> list) {
    return [list](ScanContext& ctx) {
        for (auto& [problem, key] : list) ctx.AddProblem(problem, "data", key, pkKey);
    };
}

TEST(ScanRun, ScanChecksAndFiltersTheResult) {
    Pane p;
    p.table.add(10, rows({{"Obsolete Software Entry", "HKEY_CURRENT_USER\\Software\\Gone"},
                          {"Obsolete Software Entry", "HKEY_CURRENT_USER\\Software\\Lexmark"}}));
    p.table.add(19, rows({{"Non-existent Sound File", "HKEY_CURRENT_USER\\AppEvents\\x"},
                          {"Non-existent Sound File", "HKEY_CURRENT_USER\\Software\\Mine\\y"}}));
    p.settings.IgnoreKeyList = {"", "HKEY_CURRENT_USER\\Software\\Mine"};
    auto& run = p.make();
    EXPECT_EQ(run.buttonCaption(), "Scan");
    EXPECT_TRUE(run.start({1, 10, 19}));
    EXPECT_EQ(run.buttonCaption(), "Cancel");
    EXPECT_FALSE(run.restoreVisible());
    EXPECT_TRUE(run.keyDisplayVisible());
    EXPECT_EQ(run.progressStep(), 10);
    p.pump();

    EXPECT_EQ(run.buttonCaption(), "Scan");
    EXPECT_EQ(run.titleText(), "Select the sections to scan");
    EXPECT_FALSE(run.keyDisplayVisible());
    EXPECT_TRUE(run.restoreVisible());
    EXPECT_EQ(run.progressPosition(), 1000);
    EXPECT_EQ(run.progressCaption(), "Finished!");
    auto list = run.rows();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].keyPath, "HKEY_CURRENT_USER\\Software\\Gone");
    EXPECT_EQ(list[1].keyPath, "HKEY_CURRENT_USER\\AppEvents\\x");
    EXPECT_TRUE(list[0].checked && list[1].checked);
    EXPECT_EQ(run.statusText(), " 2 Errors Found,  2 Errors Selected.");
}

TEST(ScanRun, NothingSelected) {
    Pane p;
    auto& run = p.make();
    EXPECT_FALSE(run.start({}));
    EXPECT_EQ(p.prompter.lastText,
              "Please select the sections which you want to scan from the left list.");
    EXPECT_FALSE(run.scanning());
    EXPECT_TRUE(run.restoreVisible());

    Pane unattended;
    auto& quiet = unattended.make();
    bool closed = false;
    quiet.autoClearRun = true;
    quiet.hooks.closeWindow = [&] { closed = true; };
    EXPECT_FALSE(quiet.start({}));
    EXPECT_TRUE(closed);
    EXPECT_TRUE(unattended.prompter.lastText.empty());
}

TEST(ScanRun, UnattendedRunFixesAfterTheScan) {
    Pane p;
    p.table.add(7, rows({{"Non-existent Shared Dlls", "HKEY_LOCAL_MACHINE\\x"}}));
    auto& run = p.make();
    size_t rowsAtFix = 0;
    run.autoClearRun = true;
    run.hooks.autoFixAndClose = [&] { rowsAtFix = run.rowCount() + 100; };
    run.start({7});
    p.pump();
    EXPECT_EQ(rowsAtFix, 101u);
}

TEST(ScanRun, RowActions) {
    Pane p;
    p.table.add(8, rows({{"Software Locations Issue", "HKEY_LOCAL_MACHINE\\a"},
                         {"Software Locations Issue", "HKEY_LOCAL_MACHINE\\b"}}));
    p.table.add(9, rows({{"Old Start Menu Key", "HKEY_CURRENT_USER\\c"}}));
    auto& run = p.make();
    run.start({8, 9});
    p.pump();
    EXPECT_FALSE(run.actionEnabled("aSelectAllType"));
    EXPECT_TRUE(run.actionEnabled("aSaveText"));
    run.selectNone();
    EXPECT_EQ(run.statusText(), " 3 Errors Found,  0 Errors Selected.");
    run.selectAllOfType();  // no row selected: nothing
    EXPECT_EQ(run.statusText(), " 3 Errors Found,  0 Errors Selected.");
    run.setSelectedRow(1);
    run.selectAllOfType();
    EXPECT_EQ(run.statusText(), " 3 Errors Found,  2 Errors Selected.");
    run.setSelectedRow(2);
    run.selectItem();
    run.setSelectedRow(0);
    run.deselectItem();
    EXPECT_EQ(run.statusText(), " 3 Errors Found,  2 Errors Selected.");
    EXPECT_EQ(run.addToIgnoreLists(), 1u);
    EXPECT_EQ(p.settings.IgnoreKeyList, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\a"}));
    EXPECT_FALSE(run.selectedRow());
    EXPECT_EQ(run.statusText(), " 2 Errors Found,  2 Errors Selected.");
    run.setSelectedRow(5);  // out of range: no selection
    EXPECT_FALSE(run.rowSelected());
}

TEST(ScanRun, ProgressFollowsTheSectionsDone) {
    Pane p;
    std::atomic<bool> go{false};
    p.table.add(3, [&](ScanContext& ctx) {
        while (!go && !ctx.terminated()) std::this_thread::yield();
    });
    auto& run = p.make();
    run.start({3, 4, 5, 6, 25});
    for (int i = 0; i < 1000; ++i) run.progressTick();
    EXPECT_EQ(run.progressPosition(), 0);  // ticks alone do not move it
    go = true;
    p.pump();
    EXPECT_EQ(run.progressPosition(), 1000);
    EXPECT_EQ(run.progressCaption(), "Finished!");
}

// The group nodes come with the ticked sections but scan nothing: the bar
// stays at the start until the one hive walk is done.
TEST(ScanRun, ProgressCountsOnlySectionsThatScan) {
    Pane p;
    std::atomic<bool> go{false};
    p.table.add(3, [&](ScanContext& ctx) {
        while (!go && !ctx.terminated()) std::this_thread::yield();
    });
    auto& run = p.make();
    run.start({1, 2, 3});
    for (int i = 0; i < 2; ++i) {
        uint32_t m = p.log.wait();
        ASSERT_EQ(m, uint32_t(WM_REGSCAN_SECTION));
        run.handleMessage(m);
    }
    EXPECT_EQ(run.progressPosition(), 0);
    go = true;
    p.pump();
    EXPECT_EQ(run.progressPosition(), 1000);
}

// Cancel in the middle of a section: the worker stops, nothing more arrives,
// and the rows found so far are checked and filtered like a finished scan.
TEST(ScanRun, CancelInTheMiddle) {
    Pane p;
    std::atomic<int> found{0};
    p.table.add(4, [&](ScanContext& ctx) {
        for (int i = 0; !ctx.terminated(); ++i) {
            ctx.showKey("HKEY_CURRENT_USER\\k" + std::to_string(i));
            ctx.AddProblem("Non-existent File or Folder", "C:\\x",
                           i % 2 ? "HKEY_CURRENT_USER\\Software\\Lexmark\\v"
                                 : "HKEY_CURRENT_USER\\Software\\App" + std::to_string(i),
                           pkKey);
            ++found;
        }
    });
    p.table.add(5, rows({{"never", "HKEY_LOCAL_MACHINE\\never"}}));
    auto& run = p.make();
    std::atomic<int> changes{0};
    run.hooks.changed = [&] { ++changes; };
    run.start({4, 5});
    while (found < 50) {
        (void)run.statusText();  // the window reads while the worker writes
        (void)run.keyText();
        std::this_thread::yield();
    }
    run.scanButtonClick({4, 5});
    EXPECT_FALSE(run.scanning());
    EXPECT_EQ(run.buttonCaption(), "Scan");
    EXPECT_TRUE(run.restoreVisible());
    EXPECT_FALSE(run.keyDisplayVisible());
    auto list = run.rows();
    EXPECT_GT(list.size(), 20u);
    // Every row the worker added stays (rows arrive whole); the Lexmark rows
    // went with the filter.
    EXPECT_EQ(list.size(), size_t(found) / 2 + (found % 2));
    for (const auto& r : list) {
        EXPECT_TRUE(r.checked);
        EXPECT_NE(r.keyPath.find("App"), std::string::npos);
    }
    EXPECT_EQ(p.log.all(), std::vector<uint32_t>{});  // stopped inside section 4
    run.handleMessage(WM_REGSCAN_DONE);               // stray: ignored
    EXPECT_EQ(run.rowCount(), list.size());
    EXPECT_GT(changes.load(), 0);
}

TEST(ScanRun, LateDoneOfACancelledScanIsIgnored) {
    Pane p;
    p.table.add(7, rows({{"Non-existent Shared Dlls", "HKEY_LOCAL_MACHINE\\x"}}));
    std::atomic<bool> go{false};
    p.table.add(8, [&](ScanContext& ctx) {
        while (!go && !ctx.terminated()) std::this_thread::yield();
    });
    auto& run = p.make();
    run.start({7});
    // Let the first scan finish, but cancel before its messages are handled.
    while (!run.worker()->finished()) std::this_thread::yield();
    run.cancel();
    EXPECT_EQ(run.rowCount(), 1u);  // its one row, complete, stays
    run.start({8});
    run.handleMessage(WM_REGSCAN_SECTION);
    run.handleMessage(WM_REGSCAN_DONE);  // the first scan's: stale
    EXPECT_TRUE(run.scanning());
    go = true;
    while (run.scanning()) run.handleMessage(p.log.wait());
    EXPECT_FALSE(run.scanning());
}

// The real scanners on an image machine, cancelled while the hive walk runs:
// they must notice the stop, and the pane must end as after any scan.
TEST(ScanRun, CancelARealScan) {
    test::TempDir dir;
    MachineBuilder builder("Alex");
    std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < 3000; ++i)
        reg += "[HKEY_CURRENT_USER\\Software\\App" + std::to_string(i) +
               "]\r\n\"Path\"=\"C:\\\\Gone\\\\app" + std::to_string(i) + ".exe\"\r\n\r\n";
    builder.addRegText(reg);
    builder.write(dir.path());
    ImageMachine machine(dir.path());
    TOptionsSetting settings;
    settings.IncludeRemoveMedia = true;
    MessageLog log;
    DefaultPrompter prompter;
    ScanRun run(machine, settings, 12, log, prompter);
    run.start({4, 6, 25});
    while (run.rowCount() < 10 && !run.worker()->finished()) std::this_thread::yield();
    run.cancel();
    EXPECT_FALSE(run.scanning());
    EXPECT_TRUE(run.worker()->finished());
    for (const auto& r : run.rows()) {
        EXPECT_TRUE(r.checked);
        EXPECT_EQ(r.problem, "Non-existent File or Folder");
    }
    // The same machine scanned to the end finds every reference.
    run.start({4});
    while (run.scanning()) run.handleMessage(log.wait());
    EXPECT_EQ(run.rowCount(), 3000u);
}

// Rows handed over as found: filtered (repeats and ignored keys dropped) and
// checked in the order of the list, the status line counting them; a cancel
// keeps what was handed over, and the list itself stays empty.
TEST(ScanRun, RowsHandedOverAsFound) {
    Pane p;
    p.table.add(10, rows({{"Obsolete Software Entry", "HKEY_CURRENT_USER\\Software\\Gone"},
                          {"Obsolete Software Entry", "HKEY_CURRENT_USER\\Software\\Lexmark"},
                          {"Obsolete Software Entry", "HKEY_CURRENT_USER\\Software\\Gone"}}));
    p.table.add(19, rows({{"Non-existent Sound File", "HKEY_CURRENT_USER\\AppEvents\\x"}}));
    std::atomic<bool> stop{false};
    p.table.add(25, [&](ScanContext& ctx) {
        ctx.AddProblem("Empty Registry Keys", "", "HKEY_CURRENT_USER\\Software\\Empty", pkKey);
        stop = true;
        while (!ctx.terminated()) std::this_thread::yield();
    });
    auto& run = p.make();
    std::vector<RegistryProblem> handed;
    run.handRowsTo([&](RegistryProblem&& r) { handed.push_back(std::move(r)); });
    run.start({10, 19});
    p.pump();
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed[0].keyPath, "HKEY_CURRENT_USER\\Software\\Gone");
    EXPECT_EQ(handed[1].keyPath, "HKEY_CURRENT_USER\\AppEvents\\x");
    EXPECT_TRUE(handed[0].checked && handed[1].checked);
    EXPECT_TRUE(run.rows().empty());
    EXPECT_EQ(run.rowCount(), 2u);
    EXPECT_EQ(run.statusText(), " 2 Errors Found,  2 Errors Selected.");

    handed.clear();
    run.start({25});
    while (!stop) std::this_thread::yield();
    run.cancel();
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(run.statusText(), " 1 Errors Found,  1 Errors Selected.");
}

}  // namespace
}  // namespace brisko
