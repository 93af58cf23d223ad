#include "cleaner/clear_task_thread.h"

#include <gtest/gtest.h>

#include <semaphore>
#include <stdexcept>

#include "cleaner/clean_run.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"

namespace brisko {
namespace {

using test::cleanSettings;
using test::CleanTestMachine;

struct Worker {
    MachineBuilder builder;
    std::unique_ptr<CleanTestMachine> machine;
    ItemTable table;
    MemoryCleanLog log;
    MessageQueue queue;
    DefaultPrompter prompter;
    std::vector<std::pair<std::string, std::string>> dataFileCalls;

    Worker() {
        builder.addFile("C:\\Temp\\a.tmp", std::string(2049, 'a'));
        builder.addFile("C:\\Temp\\b.tmp", "b");
        machine = std::make_unique<CleanTestMachine>(builder);
        table.add("Windows - Temporary Files", [](CleanContext& ctx) {
            ctx.addItemBytes(WipeFolder(ctx, "C:\\Temp", false, true, "", ctx.ItemCount));
        });
        table.add("Windows - Clipboard", [](CleanContext&) {});
        table.setDataFileRoutine(
            [this](CleanContext&, std::string_view file, std::string_view caption) {
                dataFileCalls.emplace_back(file, caption);
            });
    }

    std::unique_ptr<TClearTaskThread> make(int mode, std::vector<std::string> jobs,
                                           bool fast = false) {
        auto s = cleanSettings(fast);
        return std::make_unique<TClearTaskThread>(TClearTaskThread::Inputs{
            *machine, s, mode, std::move(jobs), prompter, log, &queue, &table});
    }
    std::vector<PostedMessage> messages() {
        std::vector<PostedMessage> all;
        while (auto m = queue.next(std::chrono::milliseconds(0))) all.push_back(*m);
        return all;
    }
};

TEST(ClearTaskThread, LogsEachItemAndTheTotalsExactly) {
    Worker w;
    auto t = w.make(kRunTest, {"Windows - Temporary Files", "Windows - Clipboard"});
    t->start();
    t->join();
    const std::string dashes(107, '-');
    EXPECT_EQ(w.log.lines(),
              (std::vector<std::string>{
                  "Test: Clearing Windows - Temporary Files ...",
                  "Test: deleting C:\\Temp\\a.tmp",
                  "Test: deleting C:\\Temp\\b.tmp",
                  "",
                  "2 items will be removed; 3 KB will be removed.",
                  "",
                  dashes,
                  "Test: Clearing Windows - Clipboard ...",
                  "",
                  "0 items will be removed; 0 KB will be removed.",
                  "",
                  dashes,
                  "Total items will be removed = 2 ; Total files will be removed = 3 KB",
                  dashes,
              }));
    auto msgs = w.messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].msg, WM_CLEAN_PROGRESS);
    EXPECT_EQ(msgs[0].wParam, 2u);
    EXPECT_EQ(msgs[1].msg, WM_CLEAN_PROGRESS);
    EXPECT_EQ(msgs[2].msg, WM_CLEAN_DONE);
    EXPECT_EQ(msgs[2].wParam, 2u);
    EXPECT_TRUE(t->completed());
    ASSERT_EQ(t->results().size(), 2u);
    EXPECT_EQ(t->results()[0].sizeText, "3");
    EXPECT_EQ(t->totalBytes(), 2050);
}

TEST(ClearTaskThread, CleanRunWordingAndOneItemHasNoLeadingSeparator) {
    Worker w;
    auto t = w.make(kRunUnattended, {"Windows - Temporary Files"}, true);
    t->start();
    t->join();
    const std::string dashes(107, '-');
    EXPECT_EQ(w.log.lines(),
              (std::vector<std::string>{
                  "Clean: Clearing Windows - Temporary Files ...", "",
                  "2 items to be removed; 3 KB to be removed.", "", dashes,
                  "Total items to be removed = 2 ; Total files to be removed = 3 KB", dashes}));
    EXPECT_FALSE(std::filesystem::exists(w.machine->host("C:\\Temp\\a.tmp")));
}

TEST(ClearTaskThread, DispatchOrderCustomListsThenTableThenDataFile) {
    Worker w;
    w.table.add("Applications - Custom Lists - X",
                [](CleanContext&) { throw std::logic_error("the table must not be asked first"); });
    auto t =
        w.make(kRunTest, {"Custom Lists - <New List>", "Applications - Custom Lists - X",
                          "Applications - WinZip", "windows - clipboard", "Windows - Clipboard"});
    t->Execute({});
    EXPECT_EQ(w.dataFileCalls,
              (std::vector<std::pair<std::string, std::string>>{
                  {"Custom.dat", "Custom Lists - <New List>"},
                  {"Custom.dat", "Applications - Custom Lists - X"},
                  {"apls.dat", "Applications - WinZip"},
                  {"apls.dat", "windows - clipboard"}}));  // the table is case-sensitive
    EXPECT_TRUE(t->finished());
}

TEST(ClearTaskThread, AFailingItemIsLoggedAndTheRunGoesOn) {
    Worker w;
    w.table.add("Windows - Memory Dumps", [](CleanContext& ctx) {
        ctx.ItemCount = 4;
        throw std::runtime_error("database is locked");
    });
    auto t = w.make(kRunTest, {"Windows - Memory Dumps", "Windows - Temporary Files"}, true);
    t->start();
    t->join();
    auto lines = w.log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Error while clearing Windows - Memory Dumps: database is locked");
    EXPECT_EQ(lines[3], "4 items will be removed; 0 KB will be removed.");
    EXPECT_EQ(lines[lines.size() - 2],
              "Total items will be removed = 6 ; Total files will be removed = 3 KB");
    auto msgs = w.messages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back().msg, WM_CLEAN_DONE);
    EXPECT_EQ(msgs.back().wParam, 6u);
    EXPECT_EQ(t->results()[0].error, "database is locked");
}

TEST(ClearTaskThread, AStopEndsTheRunWithoutTotalsOrDone) {
    Worker w;
    std::binary_semaphore entered(0), release(0);
    w.table.add("Windows - Start Run", [&](CleanContext&) {
        entered.release();
        release.acquire();
    });
    auto t = w.make(kRunTest, {"Windows - Start Run", "Windows - Temporary Files"});
    t->start();
    entered.acquire();
    t->requestStop();
    release.release();
    t->join();
    EXPECT_FALSE(t->completed());
    for (const auto& m : w.messages()) EXPECT_NE(m.msg, WM_CLEAN_DONE);
    for (const auto& l : w.log.lines()) {
        EXPECT_EQ(l.find("Total items"), std::string::npos);
        EXPECT_EQ(l.find("Temporary Files"), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::exists(w.machine->host("C:\\Temp\\a.tmp")));
}

TEST(ClearTaskThread, ARemovingRunWritesTheHivesWhenItEnds) {
    Worker w;
    w.builder.addRegText("REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Trace]\r\n\"a\"=\"1\"\r\n");
    w.machine = std::make_unique<CleanTestMachine>(w.builder);
    w.table.add("Windows - Start Run",
                [](CleanContext& ctx) { ctx.ItemCount = DeleteUserKey(ctx, "Software\\Trace"); });
    auto t = w.make(kRunTest, {"Windows - Start Run"});
    t->Execute({});
    EXPECT_EQ(t->totalCount(), 1);
    auto c = w.make(kRunCleanPass, {"Windows - Start Run"});
    c->Execute({});
    EXPECT_EQ(c->totalCount(), 1);
    ImageMachine reopened(w.machine->folder());
    EXPECT_EQ(reopened.registry().openKey(RootKey::CurrentUser, "Software\\Trace", KeyAccess::Read),
              nullptr);
}

TEST(ClearTaskThread, FastModeFollowsTheLiveBoxDuringARun) {
    Worker w;
    std::atomic<bool> live{true};
    auto s = cleanSettings(false);
    w.table.add("Windows - Start Run", [&](CleanContext& ctx) {
        DeleteOneFile(ctx, "C:\\Temp\\a.tmp", true);
        live = false;
        DeleteOneFile(ctx, "C:\\Temp\\b.tmp", true);
    });
    TClearTaskThread t({*w.machine,
                        s,
                        kRunTest,
                        {"Windows - Start Run"},
                        w.prompter,
                        w.log,
                        nullptr,
                        &w.table,
                        &live});
    t.Execute({});
    auto lines = w.log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Test: deleting C:\\Temp\\a.tmp"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Test: deleting C:\\Temp\\b.tmp"), 1);
}

}  // namespace
}  // namespace brisko
