#include "core/startup.h"

#include <gtest/gtest.h>

#include "core/ini_file.h"
#include "core/main_lifecycle.h"
#include "core/messages.h"
#include "fake_machine.h"

namespace brisko {
namespace {

OsVersion os(OsVersion::Platform p, int major, int minor) {
    OsVersion v;
    v.platform = p;
    v.major = major;
    v.minor = minor;
    return v;
}

TEST(WindowsVersion, EveryRowOfTheTable) {
    const auto k9x = OsVersion::Win9x, kNt = OsVersion::NT;
    struct Row {
        OsVersion::Platform p;
        int major, minor, code;
    } rows[] = {
        {k9x, 4, 0, 1},   {k9x, 4, 10, 3}, {k9x, 4, 90, 8}, {k9x, 4, 3, 10}, {k9x, 5, 0, 10},
        {kNt, 3, 51, 5},  {kNt, 4, 0, 6},  {kNt, 5, 0, 7},  {kNt, 5, 1, 9},  {kNt, 5, 2, 10},
        {kNt, 6, 0, 11},  {kNt, 6, 1, 12}, {kNt, 6, 2, 13}, {kNt, 6, 3, 11}, {kNt, 6, 4, 11},
        {kNt, 10, 0, 10}, {kNt, 2, 0, 10}, {kNt, 5, 3, 10},
    };
    for (const auto& r : rows)
        EXPECT_EQ(WindowsVersionCode(os(r.p, r.major, r.minor)), r.code)
            << r.major << "." << r.minor;

    for (int code : {5, 6, 7, 9, 10, 11, 12, 13}) EXPECT_TRUE(registryAnalysisAvailable(code));
    for (int code : {1, 2, 3, 4, 8, 14}) EXPECT_FALSE(registryAnalysisAvailable(code));
    for (int code : {1, 2, 3, 4, 8}) EXPECT_TRUE(hidesWindowsBackup(code));
    for (int code : {5, 9, 12}) EXPECT_FALSE(hidesWindowsBackup(code));
}

TEST(StartSwitches, AutoIsExactTheOthersIgnoreCase) {
    EXPECT_EQ(parseStartSwitch("/Auto"), StartSwitch::Auto);
    EXPECT_EQ(parseStartSwitch("/auto"), StartSwitch::None);
    EXPECT_EQ(parseStartSwitch("/AUTO"), StartSwitch::None);
    EXPECT_EQ(parseStartSwitch("/cLEAR"), StartSwitch::Clear);
    EXPECT_EQ(parseStartSwitch("/REGDEFRAG"), StartSwitch::Regdefrag);
    EXPECT_EQ(parseStartSwitch("/regscan"), StartSwitch::Regscan);
    EXPECT_EQ(parseStartSwitch("/Clear "), StartSwitch::None);
    EXPECT_EQ(parseStartSwitch("Clear"), StartSwitch::None);
    EXPECT_EQ(parseStartSwitch(""), StartSwitch::None);

    // The registry switches need registry analysis.
    EXPECT_EQ(effectiveStartSwitch(StartSwitch::Regscan, 1), StartSwitch::None);
    EXPECT_EQ(effectiveStartSwitch(StartSwitch::Regdefrag, 8), StartSwitch::None);
    EXPECT_EQ(effectiveStartSwitch(StartSwitch::Regdefrag, 9), StartSwitch::Regdefrag);
    EXPECT_EQ(effectiveStartSwitch(StartSwitch::Clear, 1), StartSwitch::Clear);
    EXPECT_FALSE(isUnattendedSwitch(StartSwitch::Auto));
    EXPECT_TRUE(isUnattendedSwitch(StartSwitch::Regscan));
}

TEST(StartSwitches, OurOptionsComeOffTheFrontOnly) {
    const char* argv[] = {"brisko-cleaner", "--machine", "/m",        "--machine=/n",
                          "/Regscan",       "r.ini",     "--machine", "x"};
    StartArgs a = parseStartArgs(8, argv);
    EXPECT_EQ(a.machineDir, "/n");
    EXPECT_EQ(a.startSwitch(), StartSwitch::Regscan);
    EXPECT_EQ(a.reportFile(), "r.ini");
    EXPECT_EQ(a.args.size(), 4u);

    // Only the first argument is a switch.
    StartArgs b = parseStartArgs({"foo", "/Clear"});
    EXPECT_EQ(b.startSwitch(), StartSwitch::None);
    EXPECT_EQ(parseStartArgs({"/Regscan"}).reportFile(), "");
    EXPECT_EQ(parseStartArgs({"/Clear", "x"}).reportFile(), "");
    EXPECT_EQ(parseStartArgs({"--", "--machine", "d"}).first(), "--machine");
    EXPECT_EQ(parseStartArgs({}).startSwitch(), StartSwitch::None);
    EXPECT_THROW(parseStartArgs({"--machine"}), StartArgsError);
    EXPECT_THROW(parseStartArgs({"--machine="}), StartArgsError);
}

TEST(Schedule, IntervalTable) {
    EXPECT_EQ(scheduleIntervalMs(0), 900000);
    EXPECT_EQ(scheduleIntervalMs(1), 1800000);
    EXPECT_EQ(scheduleIntervalMs(2), 3600000);
    EXPECT_EQ(scheduleIntervalMs(3), 14400000);
    EXPECT_EQ(scheduleIntervalMs(4), 28800000);
    EXPECT_EQ(scheduleIntervalMs(7), 900000);
    EXPECT_EQ(scheduleIntervalMs(-1), 900000);
}

// Records what the lifecycle asks of the window, in order.
class FakeView : public MainWindowView {
  public:
    std::vector<std::string> calls;
    bool cleaning = false, scanning = false;
    std::string throwIn;  // name of a call that throws

    void note(const std::string& c) {
        calls.push_back(c);
        if (c == throwIn) throw std::runtime_error(c);
    }
    bool has(const std::string& c) const {
        return std::find(calls.begin(), calls.end(), c) != calls.end();
    }

    void setupWindow() override { note("setupWindow"); }
    void addApplicationItems() override { note("addApplicationItems"); }
    void scrollCleanTreeToTop() override { note("scrollCleanTreeToTop"); }
    void showCleanTreeChecks() override { note("showCleanTreeChecks"); }
    void addTrayIcon() override { note("addTrayIcon"); }
    void rememberExtendedStyle() override { note("rememberExtendedStyle"); }
    void expandTopNodes() override { note("expandTopNodes"); }
    void setFastMode(bool on) override { note(std::string("setFastMode ") + (on ? "1" : "0")); }
    void unregisterHotkey() override { note("unregisterHotkey"); }
    void registerHotkey() override { note("registerHotkey"); }
    void hideWindowsBackup() override { note("hideWindowsBackup"); }
    void createHiveLists() override { note("createHiveLists"); }
    void showUnsupportedDefrag() override { note("showUnsupportedDefrag"); }
    void showCleanerPane() override { note("showCleanerPane"); }
    void layoutPanes() override { note("layoutPanes"); }
    void showSectionTreeChecks() override { note("showSectionTreeChecks"); }
    void setMinimumSize(int w, int h) override {
        note("setMinimumSize " + std::to_string(w) + "x" + std::to_string(h));
    }
    void buildHiveList() override { note("buildHiveList"); }
    void maximize() override { note("maximize"); }
    void setBounds(int l, int t, int w, int h) override {
        note("setBounds " + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(w) +
             "," + std::to_string(h));
    }
    void armScheduleTimer(bool enabled, int ms) override {
        note("armScheduleTimer " + std::to_string(enabled) + " " + std::to_string(ms));
    }
    void postMessage(uint32_t msg, uintptr_t w, intptr_t l) override {
        char buf[64];
        snprintf(buf, sizeof buf, "post %#x %#lx %ld", unsigned(msg), (unsigned long)w, long(l));
        note(buf);
    }
    bool cleanInProgress() override { return cleaning; }
    bool scanInProgress() override { return scanning; }
    void cancelClean() override {
        note("cancelClean");
        cleaning = false;
    }
    void cancelScan() override {
        note("cancelScan");
        scanning = false;
    }
    void releaseJobList() override { note("releaseJobList"); }
    void storeTreeState() override { note("storeTreeState"); }
    WindowPlacement windowPlacement() override {
        note("windowPlacement");
        return WindowPlacement{1, 11, 22, 700, 500};
    }
    void showHiddenBrowsers() override { note("showHiddenBrowsers"); }
    void deleteHiveCopies() override { note("deleteHiveCopies"); }
    void terminate() override { note("terminate"); }
    void startUnattendedClean() override {
        note("startUnattendedClean");
        cleaning = true;
    }
    bool waitForCleanRun(std::chrono::milliseconds limit) override {
        note("waitForCleanRun " + std::to_string(limit.count()));
        return true;
    }
    WindowMetrics windowMetrics() override { return WindowMetrics{1000, 800, 700, 480}; }
};

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        CheckNode& g = model.cleanTree.addTopLevel("Windows", 2);
        model.cleanTree.addChild(g, "Clipboard", 2);
        CheckNode& root = model.sectionTree.addTopLevel("My Computers", 1, 1);
        CheckNode& ff = model.sectionTree.addChild(root, "Files and Folders", 2, 2);
        model.sectionTree.addChild(ff, "HKEY_CLASSES_ROOT", 3, 3);
        model.sectionTree.addChild(root, "Shared DLLs", 7, 7);
    }
    void settings(std::string_view text) {
        test::writeFile(machine.hostOf(machine.settingsFile()), text);
    }
    void start(std::vector<std::string> args) { model.start = parseStartArgs(args); }
    // The calls from the first one named on.
    std::vector<std::string> from(const std::string& first) {
        auto it = std::find(view.calls.begin(), view.calls.end(), first);
        return {it, view.calls.end()};
    }

    test::FakeMachine machine;
    FakeView view;
    MainModel model;
    MainLifecycle life{view, machine, model};
};

TEST_F(Lifecycle, CreationRunsItsStepsInOrder) {
    settings(
        "[Hotkey]\r\nEnableHotkey=1\r\n[Settings]\r\nFastScan=0\r\n"
        "[NodeSelected]\r\nSelectedCount=1\r\n1=Windows - Clipboard\r\n");
    start({"/Auto"});
    model.flags.Busy = true;
    life.onCreate();
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"setupWindow", "addApplicationItems",
                                        "scrollCleanTreeToTop", "showCleanTreeChecks",
                                        "addTrayIcon", "rememberExtendedStyle", "expandTopNodes",
                                        "setFastMode 0", "unregisterHotkey", "registerHotkey",
                                        "expandTopNodes", "createHiveLists", "showCleanerPane"}));
    EXPECT_FALSE(model.flags.Busy);
    EXPECT_EQ(model.windowsVersionCode, 12);
    EXPECT_TRUE(model.cleanTree.findByLogCaption("Windows - Clipboard")->checked);
    EXPECT_TRUE(model.cleanTree.topLevelByCaption("Windows")->expanded);
    for (CheckNode* n : model.sectionTree.nodes()) EXPECT_TRUE(n->expanded);
}

TEST_F(Lifecycle, OldWindowsHidesBackupAndDefrag) {
    machine.os = os(OsVersion::Win9x, 4, 0);
    start({"/regdefrag"});
    life.onCreate();
    EXPECT_TRUE(view.has("hideWindowsBackup"));
    EXPECT_TRUE(view.has("showUnsupportedDefrag"));
    EXPECT_FALSE(view.has("addTrayIcon"));
    view.calls.clear();
    life.onFirstShow();
    EXPECT_FALSE(view.has("buildHiveList"));  // the registry switches do nothing here
    EXPECT_FALSE(model.flags.UnattendedRun);
}

TEST_F(Lifecycle, FirstShowPostsTheRegistrySwitchesAndMaximises) {
    settings("[Window]\r\nState=3\r\n[TreeViewNodeCheck]\r\n3=0\r\n");
    start({"/REGSCAN", "report.ini"});
    life.onCreate();
    view.calls.clear();
    life.onFirstShow();
    life.onFirstShow();  // once only
    EXPECT_EQ(view.calls, (std::vector<std::string>{"layoutPanes", "showSectionTreeChecks",
                                                    "setMinimumSize 626x455", "buildHiveList",
                                                    "post 0x6427 0 0", "post 0x112 0xf030 0"}));
    EXPECT_TRUE(model.flags.UnattendedRun);
    EXPECT_FALSE(model.sectionTree.findByImageIndex(3)->checked);
    EXPECT_TRUE(model.sectionTree.findByImageIndex(7)->checked);
}

TEST_F(Lifecycle, ActivationAppliesBoundsAndSwitchesOnce) {
    settings(
        "[Window]\r\nLeft=5\r\nTop=6\r\nWidth=700\r\nHeight=500\r\n"
        "[SChedule]\r\nAutoClean=1\r\nCleanInterval=2\r\n");
    life.onCreate();
    view.calls.clear();
    life.onActivate();
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"setBounds 5,6,700,500", "armScheduleTimer 1 3600000"}));
    view.calls.clear();
    life.onActivate();  // after a modal dialog, say
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(Lifecycle, AutoHidesToTheTrayAndCleansOnlyWithStartClean) {
    start({"/Auto"});
    life.onCreate();
    view.calls.clear();
    life.onActivate();
    EXPECT_EQ(from("post 0x112 0xf020 1"),
              (std::vector<std::string>{"post 0x112 0xf020 1", "armScheduleTimer 0 900000"}));

    FakeView v2;
    MainModel m2;
    m2.start = parseStartArgs({"/Auto"});
    settings("[SChedule]\r\nStartClean=1\r\n");
    MainLifecycle l2(v2, machine, m2);
    l2.onCreate();
    v2.calls.clear();
    l2.onActivate();
    EXPECT_EQ(v2.calls[1], "post 0x112 0xf020 1");
    EXPECT_EQ(v2.calls[2], "post 0x5407 0 0");
}

TEST_F(Lifecycle, ClearSetsAutoClearRunInsteadOfTheSchedule) {
    settings("[SChedule]\r\nAutoClean=1\r\n");
    start({"/clear"});
    life.onCreate();
    view.calls.clear();
    life.onActivate();
    EXPECT_TRUE(model.flags.AutoClearRun);
    EXPECT_EQ(view.calls.back(), "post 0x5407 0 0");
    EXPECT_FALSE(view.has("armScheduleTimer 1 900000"));
}

TEST_F(Lifecycle, CloseSavesAndEndsEvenWhenAStepThrows) {
    settings("[Hotkey]\r\nEnableHotkey=1\r\n");
    life.onCreate();
    life.onFirstShow();
    model.cleanTree.topLevelByCaption("Windows")->expanded = false;
    model.flags.BrowsersHidden = true;
    view.cleaning = view.scanning = true;
    view.throwIn = "cancelClean";
    view.calls.clear();
    life.onClose();
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"cancelClean", "cancelScan", "releaseJobList",
                                        "storeTreeState", "windowPlacement", "unregisterHotkey",
                                        "showHiddenBrowsers", "deleteHiveCopies", "terminate"}));
    EXPECT_EQ(life.closeFailures(), 1u);
    IniFile ini(test::readFile(machine.hostOf(machine.settingsFile())));
    EXPECT_EQ(ini.readInteger("FirstNodeExpand", "2", 1), 0);
    EXPECT_EQ(ini.readInteger("Window", "Left", 0), 11);
    EXPECT_FALSE(model.flags.BrowsersHidden);
    EXPECT_TRUE(model.Settings.IgnoreKeyList.empty());

    view.calls.clear();
    life.onClose();  // a second close request does nothing
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(Lifecycle, CloseSavesWithoutAPlacementAndGoesOnWhenSavingFails) {
    life.onCreate();
    view.throwIn = "windowPlacement";
    life.onClose();
    EXPECT_EQ(life.closeFailures(), 1u << 3);
    EXPECT_EQ(view.calls.back(), "terminate");
    IniFile ini(test::readFile(machine.hostOf(machine.settingsFile())));
    EXPECT_TRUE(ini.sectionExists("Options"));
    EXPECT_FALSE(ini.sectionExists("Window"));

    FakeView v2;
    MainModel m2;
    MainLifecycle l2(v2, machine, m2);
    l2.onCreate();
    machine.files_.failCreate = true;
    l2.onClose();
    EXPECT_EQ(l2.closeFailures(), 0u);  // a failed write is not reported
    EXPECT_EQ(v2.calls.back(), "terminate");
}

TEST_F(Lifecycle, EndOfLogonCleansWaitsSavesAndCloses) {
    settings("[SChedule]\r\nShutdownClean=1\r\n");
    life.onCreate();
    view.calls.clear();
    EXPECT_TRUE(life.onQueryEndSession());
    EXPECT_EQ(model.flags.RunMode, kRunModeUnattended);
    EXPECT_EQ(view.calls[0], "startUnattendedClean");
    EXPECT_EQ(view.calls[1], "waitForCleanRun 15000");
    EXPECT_EQ(view.calls[2], "windowPlacement");
    EXPECT_EQ(from("cancelClean").size(), 6u);  // the close cancels what still runs
    EXPECT_EQ(view.calls.back(), "terminate");
    EXPECT_TRUE(life.closed());

    // Without ShutdownClean, or while a clean runs, no run is started.
    FakeView v2;
    MainModel m2;
    MainLifecycle l2(v2, machine, m2);
    settings("[SChedule]\r\nShutdownClean=1\r\n");
    l2.onCreate();
    v2.cleaning = true;
    v2.calls.clear();
    l2.onQueryEndSession();
    EXPECT_FALSE(v2.has("startUnattendedClean"));
}

}  // namespace
}  // namespace brisko
