#include "cleaner/clean_run.h"

#include <gtest/gtest.h>

#include <semaphore>

#include "cleaner/clean_catalog.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"
#include "core/check_tree.h"

namespace brisko {
namespace {

using test::CleanTestMachine;
using test::ScriptedPrompter;

class RecordingView : public CleanRunView {
  public:
    bool confirmAnswer = true;
    int confirmations = 0;
    std::string testCaption = "Test";
    bool logHidden = false;
    bool timer = false;
    std::vector<int> positions;
    std::vector<std::string> events;

    bool confirmClean() override {
        ++confirmations;
        return confirmAnswer;
    }
    void setTestButtonCaption(std::string_view c) override { testCaption = c; }
    void setProgress(int p) override { positions.push_back(p); }
    void setLogTextHidden(bool h) override {
        logHidden = h;
        events.push_back(h ? "hide log" : "show log");
    }
    void clearLog() override { events.push_back("clear log"); }
    void setAnimationTimer(bool on) override { timer = on; }
};

// The log as the pane keeps it: clearLog empties it.
class PaneLog : public MemoryCleanLog {};

struct Pane {
    MachineBuilder builder;
    std::unique_ptr<CleanTestMachine> machine;
    TOptionsSetting settings = test::cleanSettings(false);
    CheckTree tree = buildCleanTree();
    RecordingView view;
    ScriptedPrompter prompter;
    MemoryCleanLog log;
    MessageQueue queue;
    ItemTable table;
    std::unique_ptr<CleanRunController> run;
    // Fast Mode as each pass of a run saw it.
    std::vector<bool> fastModeSeen;

    Pane() {
        builder.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp", std::string(3000, 'a'));
        builder.addFile("C:\\Users\\User\\AppData\\Local\\Temp\\x\\b.tmp", "b");
        builder.addRegText(
            "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
            "Explorer\\RunMRU]\r\n\"a\"=\"cmd\\\\1\"\r\n\"MRUList\"=\"a\"\r\n");
        machine = std::make_unique<CleanTestMachine>(builder);
        table.add("Windows - Temporary Files", [this](CleanContext& ctx) {
            fastModeSeen.push_back(ctx.fastScan());
            ctx.addItemBytes(WipeFolder(ctx, "C:\\Users\\User\\AppData\\Local\\Temp", false, true,
                                        "", ctx.ItemCount));
        });
        table.add("Windows - Start Run", [](CleanContext& ctx) {
            ctx.ItemCount = DeleteUserKey(
                ctx, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU");
        });
        settings.IsAskBeforeClear = false;
        run = std::make_unique<CleanRunController>(CleanRunController::Inputs{
            *machine, settings, tree, view, prompter, log, queue, &table});
        view.events.clear();
    }
    void check(std::string_view caption) {
        CheckNode* n = tree.findByLogCaption(caption);
        ASSERT_NE(n, nullptr) << caption;
        setChecked(*n, true);
    }
    void loop() { ASSERT_TRUE(runMessageLoop(*run, queue)); }
};

TEST(CleanRun, NothingSelectedIsToldUnlessUnattended) {
    Pane p;
    EXPECT_EQ(p.run->bTestClick(), StartResult::NothingSelected);
    EXPECT_EQ(p.prompter.asked, std::vector<std::string>{std::string(kSelectSectionsText)});
    EXPECT_EQ(p.run->startUnattendedClean(), StartResult::NothingSelected);
    EXPECT_EQ(p.prompter.asked.size(), 1u);
    EXPECT_FALSE(p.run->Busy());
}

TEST(CleanRun, TestAndCleanAgreeAndOnlyCleanChangesTheMachine) {
    Pane p;
    p.check("Windows - Temporary Files");
    p.check("Windows - Start Run");
    auto before = p.machine->snapshot();
    ASSERT_EQ(p.run->bTestClick(), StartResult::Started);
    EXPECT_EQ(p.view.testCaption, "Cancel");
    EXPECT_TRUE(p.view.timer);
    p.loop();
    ASSERT_TRUE(p.machine->registry().commit());
    EXPECT_EQ(p.machine->snapshot(), before);
    auto tested = p.run->lastWorker()->results();
    EXPECT_EQ(p.run->progressText(), kFinished);
    EXPECT_EQ(p.run->progressPosition(), 1000);
    EXPECT_EQ(p.view.testCaption, "Test");
    EXPECT_FALSE(p.view.timer);

    ASSERT_EQ(p.run->bCleanClick(), StartResult::Started);
    EXPECT_EQ(p.run->progressText(), kPrepareToClean);
    p.loop();
    auto cleaned = p.run->lastWorker()->results();
    ASSERT_EQ(cleaned.size(), tested.size());
    for (size_t i = 0; i < tested.size(); ++i) {
        EXPECT_EQ(cleaned[i].caption, tested[i].caption);
        EXPECT_EQ(cleaned[i].count, tested[i].count) << tested[i].caption;
        EXPECT_EQ(cleaned[i].bytes, tested[i].bytes) << tested[i].caption;
    }
    EXPECT_EQ(tested[0].count, 2);
    EXPECT_EQ(tested[1].count, 2);
    EXPECT_EQ(p.run->PreCountTotal(), 4);
    EXPECT_EQ(p.run->RunMode(), kRunCleanPass);
    EXPECT_FALSE(
        std::filesystem::exists(p.machine->host("C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp")));
    EXPECT_EQ(
        p.machine->registry().openKey(
            RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
            KeyAccess::Read),
        nullptr);
}

TEST(CleanRun, CleanButtonCountsInFastModeUnseenThenLogsEveryEntry) {
    Pane p;
    p.check("Windows - Temporary Files");
    ASSERT_EQ(p.run->bCleanClick(), StartResult::Started);
    EXPECT_TRUE(p.view.logHidden);
    EXPECT_TRUE(p.settings.FastScan);
    EXPECT_FALSE(p.view.timer);  // the hidden pass does not animate
    p.loop();
    EXPECT_EQ(p.fastModeSeen, (std::vector<bool>{true, false}));
    EXPECT_FALSE(p.settings.FastScan);
    EXPECT_FALSE(p.view.logHidden);
    EXPECT_EQ(p.view.events, (std::vector<std::string>{"hide log", "clear log", "clear log",
                                                       "show log", "clear log"}));
    auto lines = p.log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Clean: deleting C:\\Users\\User\\AppData\\Local\\Temp\\a.tmp"),
              lines.end());
    EXPECT_EQ(p.view.positions.back(), 1000);
    EXPECT_EQ(p.run->progressText(), kFinished);
    EXPECT_FALSE(p.run->Busy());
}

TEST(CleanRun, AHiddenPassThatCountsNothingLeavesTheBarAtZero) {
    Pane p;
    p.check("Windows - Clipboard");  // no routine in this table: the data-file fallback
    ASSERT_EQ(p.run->bCleanClick(), StartResult::Started);
    p.loop();
    EXPECT_EQ(p.run->PreCountTotal(), 0);
    auto pos = p.view.positions;
    ASSERT_GE(pos.size(), 2u);
    EXPECT_TRUE(std::all_of(pos.begin(), pos.end() - 1, [](int v) { return v == 0; }));
    EXPECT_EQ(pos.back(), 1000);
    EXPECT_EQ(p.run->progressText(), kFinished);
}

TEST(CleanRun, RunningBrowsersBlockCleaningButNotTesting) {
    Pane p;
    p.machine->windows = {WindowRef{1, "Chrome_WidgetWin_1", "Chrome"}};
    p.check("Google Chrome - Cookies");
    p.check("Windows - Start Run");
    EXPECT_EQ(p.run->bCleanClick(), StartResult::BrowserRunning);
    EXPECT_EQ(p.prompter.asked.back(), kCloseChromeText);
    EXPECT_FALSE(p.run->Busy());
    EXPECT_EQ(p.run->bTestClick(), StartResult::Started);
    p.loop();

    // A group left unchecked by the settings file with an item checked below it.
    p.tree.uncheckAll();
    p.machine->windows = {WindowRef{2, "MozillaWindowClass", "Firefox"}};
    p.tree.findByLogCaption("Mozilla Firefox - Cookies")->checked = true;
    EXPECT_EQ(p.run->startUnattendedClean(), StartResult::BrowserRunning);
    EXPECT_EQ(p.prompter.asked.back(), kCloseFirefoxText);
}

TEST(CleanRun, ConfirmationDeclinedStartsNothing) {
    Pane p;
    p.settings.IsAskBeforeClear = true;
    p.check("Windows - Start Run");
    p.view.confirmAnswer = false;
    EXPECT_EQ(p.run->bCleanClick(), StartResult::NotConfirmed);
    EXPECT_FALSE(p.run->Busy());
    EXPECT_EQ(p.run->bTestClick(), StartResult::Started);  // a Test run is not confirmed
    p.loop();
    EXPECT_EQ(p.view.confirmations, 1);
    p.run->AutoClearRun = true;
    EXPECT_EQ(p.run->bCleanClick(), StartResult::Started);
    p.loop();
    EXPECT_EQ(p.view.confirmations, 1);
}

TEST(CleanRun, CancelDuringTheHiddenPassRestoresAndTheNextTestStaysATest) {
    Pane p;
    std::binary_semaphore entered(0), release(0);
    p.table.add("Windows - Search Assistant", [&](CleanContext&) {
        entered.release();
        release.acquire();
    });
    p.check("Windows - Search Assistant");
    p.check("Windows - Start Run");
    ASSERT_EQ(p.run->bCleanClick(), StartResult::Started);
    entered.acquire();
    EXPECT_EQ(p.run->bTestClick(), StartResult::Busy);  // the Cancel button
    EXPECT_FALSE(p.run->Busy());
    EXPECT_FALSE(p.settings.FastScan);
    EXPECT_FALSE(p.view.logHidden);
    EXPECT_EQ(p.view.testCaption, "Test");
    EXPECT_EQ(p.run->progressText(), kCancelled);
    // The cancelled worker is still on its entry: no new run may begin.
    EXPECT_EQ(p.run->bTestClick(), StartResult::Busy);
    release.release();
    p.run->waitForWorker();
    while (auto m = p.queue.next(std::chrono::milliseconds(0)))
        p.run->handleMessage(m->msg, m->wParam, m->lParam);  // late messages change nothing
    EXPECT_FALSE(p.run->Busy());

    p.table.add("Windows - Search Assistant", [](CleanContext&) {});
    ASSERT_EQ(p.run->bTestClick(), StartResult::Started);
    p.loop();
    EXPECT_EQ(p.run->RunMode(), kRunTest);
    EXPECT_EQ(p.run->progressText(), kFinished);
    EXPECT_EQ(p.queue.pending(), 0u);  // no clean pass was asked for
    EXPECT_NE(
        p.machine->registry().openKey(
            RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
            KeyAccess::Read),
        nullptr);
}

TEST(CleanRun, TimerAnimatesAVisibleTestRunAndWraps) {
    Pane p;
    p.check("Windows - Start Run");
    std::binary_semaphore entered(0), release(0);
    p.table.add("Windows - Start Run", [&](CleanContext&) {
        entered.release();
        release.acquire();
    });
    ASSERT_EQ(p.run->bTestClick(), StartResult::Started);
    entered.acquire();
    EXPECT_EQ(p.run->TimerStep(), 50);
    for (int i = 0; i < 19; ++i) p.run->onTimer();
    EXPECT_EQ(p.run->progressPosition(), 950);
    p.run->onTimer();
    EXPECT_EQ(p.run->progressPosition(), 0);
    release.release();
    p.loop();
    EXPECT_FALSE(p.view.timer);
}

// The hidden count of a Clean shows the user nothing: a message the list gives
// comes once per Clean, from the removing pass.
TEST(CleanRun, TheAdministratorMessageComesOncePerClean) {
    MachineBuilder b;
    b.addFile("C:\\machine.ini", "[Machine]\r\nAdministrator=0\r\n");
    b.addRegText(
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"a\"=\"1\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\r\n");
    CleanTestMachine m(b);
    test::writeFile(m.host("C:\\Program Files\\Brisko Cleaner\\Custom.dat"),
                    "[<New List>]\r\nDelRegValue1=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor,a\r\n"
                    "DelRegValue2=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor,\r\n");
    TOptionsSetting settings = test::cleanSettings();
    settings.IsAskBeforeClear = false;
    CheckTree tree = buildCleanTree();
    CheckNode* item = tree.findByLogCaption("Custom Lists - <New List>");
    ASSERT_NE(item, nullptr);
    setChecked(*item, true);
    RecordingView view;
    ScriptedPrompter prompter;
    MemoryCleanLog log;
    MessageQueue queue;
    CleanRunController run({m, settings, tree, view, prompter, log, queue});
    ASSERT_EQ(run.bCleanClick(), StartResult::Started);
    ASSERT_TRUE(runMessageLoop(run, queue));
    EXPECT_EQ(prompter.asked, std::vector<std::string>{"You must have administrators user."});
    // A Test run of its own tells it as well.
    ASSERT_EQ(run.bTestClick(), StartResult::Started);
    ASSERT_TRUE(runMessageLoop(run, queue));
    EXPECT_EQ(prompter.asked.size(), 2u);
}

}  // namespace
}  // namespace brisko
