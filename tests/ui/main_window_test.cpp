// The main window on small image machines, under the offscreen platform.
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/settings.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"
#include "ui/check_tree_view.h"
#include "ui/clean_log_model.h"
#include "ui/cleaner_pane.h"
#include "ui/defrag_pane.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/qt_message_target.h"
#include "ui/qt_prompter.h"
#include "ui/tools_pane.h"
#include "ui/web_pages.h"

using namespace brisko;

Q_DECLARE_METATYPE(brisko::CheckNode*)

namespace {

class FakeHotkeys : public HotkeyService {
  public:
    bool registerHotkey(int id, unsigned modifiers, unsigned key) override {
        registered.push_back({id, int(modifiers), int(key)});
        return !refuse;
    }
    void unregisterHotkey(int id) override { unregistered.push_back(id); }
    bool refuse = false;
    std::vector<std::array<int, 3>> registered;
    std::vector<int> unregistered;
};

// An image machine with what an image cannot show: the shell, a hot key and
// other programs' windows.
class TestMachine : public ImageMachine {
  public:
    explicit TestMachine(const std::filesystem::path& folder) : ImageMachine(folder) {}
    bool shellExecute(std::string_view verb, std::string_view file,
                      std::string_view params) override {
        shell.push_back(std::string(verb) + "|" + std::string(file) + "|" + std::string(params));
        return true;
    }
    std::vector<WindowRef> topLevelWindows() override { return windows; }
    bool showWindow(uint64_t handle, bool show) override {
        for (auto& w : windows)
            if (w.handle == handle) w.visible = show;
        return true;
    }
    HotkeyService* hotkeys() override { return &hotkeyService; }

    std::vector<std::string> shell;
    std::vector<WindowRef> windows;
    FakeHotkeys hotkeyService;
};

// Timers a test ticks itself.
class FakeTimer : public ProgramTimer {
  public:
    explicit FakeTimer(std::function<void()> tick) : tick_(std::move(tick)) {}
    void start(int ms) override {
        active_ = true;
        interval_ = ms;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    int interval() const override { return interval_; }
    void fire() {
        if (active_) tick_();
    }

  private:
    std::function<void()> tick_;
    bool active_ = false;
    int interval_ = 0;
};

class FakeTimers : public TimerService {
  public:
    std::unique_ptr<ProgramTimer> createTimer(const std::string& name,
                                              std::function<void()> onTick) override {
        auto t = std::make_unique<FakeTimer>(std::move(onTick));
        timers[name] = t.get();
        return t;
    }
    std::map<std::string, FakeTimer*> timers;
};

// Catches what would go to the host's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { urls << url; }

  public:
    QList<QUrl> urls;
};

StartArgs args(std::vector<std::string> a = {}) {
    return parseStartArgs(a);
}

QToolButton* navButton(TfrmMain& w, const char* name) {
    return w.findChild<QToolButton*>(QString::fromLatin1(name));
}

QGroupBox* pane(TfrmMain& w, const char* name) {
    return w.findChild<QGroupBox*>(QString::fromLatin1(name));
}

void showAndActivate(TfrmMain& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.lifecycle().firstActivationDone());
}

IniFile readOptions(Machine& m) {
    auto ini = readIniFile(m, LocateSettings(m).fileName);
    return ini ? *ini : IniFile();
}

class Receiver : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() != MessageEvent::eventType()) return QObject::event(e);
        auto* m = static_cast<MessageEvent*>(e);
        ++count;
        sum += m->wParam;
        lastMsg = m->msg;
        return true;
    }
    int count = 0;
    uintptr_t sum = 0;
    uint32_t lastMsg = 0;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<TestMachine> openMachine() {
        return std::make_unique<TestMachine>(dir_->path());
    }

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        MachineBuilder builder;
        builder.write(dir_->path());
    }
    void cleanup() { dir_.reset(); }

    void titlesNavigationAndPanes() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        QCOMPARE(w.windowTitle(), QStringLiteral("Brisko Cleaner 3.8"));
        QCOMPARE(w.size(), QSize(697, 456));
        QCOMPARE(w.findChild<QLabel*>("lTitle")->text(), QStringLiteral("Brisko Cleaner"));
        QCOMPARE(w.findChild<QLabel*>("lTitleHint")->text(),
                 QStringLiteral("Optimize your computer performance"));
        const std::pair<const char*, int> buttons[] = {{"bCleaner", 17},        {"bRegistry", 18},
                                                       {"bTools", 19},          {"bOptions", 20},
                                                       {"bRegistryDefrag", 21}, {"bHelp", 22}};
        const char* captions[] = {"Cleaner", "Registry", "Tools", "Options", "Defrag", "More"};
        for (int i = 0; i < 6; ++i) {
            QToolButton* b = navButton(w, buttons[i].first);
            QVERIFY(b);
            QCOMPARE(b->text(), QString::fromLatin1(captions[i]));
            QCOMPARE(b->property("tag").toInt(), buttons[i].second);
        }
        QVERIFY(navButton(w, "bOptions")->isEnabled());
        QVERIFY(w.findChild<ToolsPane*>());

        showAndActivate(w);
        // The limit is for the whole window, as the frame counts on Windows.
        QCOMPARE(w.minimumSize() + (w.frameGeometry().size() - w.size()), QSize(626, 455));
        QVERIFY(pane(w, "gbCleaner")->isVisible());
        QVERIFY(!pane(w, "gbRegistry")->isVisible());
        QTest::mouseClick(navButton(w, "bRegistry"), Qt::LeftButton);
        QVERIFY(pane(w, "gbRegistry")->isVisible());
        QVERIFY(!pane(w, "gbCleaner")->isVisible());
        QVERIFY(navButton(w, "bRegistry")->isChecked());
        QVERIFY(!navButton(w, "bCleaner")->isChecked());
        QTest::mouseClick(navButton(w, "bRegistryDefrag"), Qt::LeftButton);
        QCOMPARE(w.currentPaneTag(), 21);
        QVERIFY(pane(w, "gbDefrag")->isVisible());
        // Clicking the shown pane's button again keeps it selected.
        QTest::mouseClick(navButton(w, "bRegistryDefrag"), Qt::LeftButton);
        QVERIFY(navButton(w, "bRegistryDefrag")->isChecked());
    }

    void windowDrawsItsTitleBar() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        for (const char* name : {"bCleaner", "bRegistry"}) {
            QTest::mouseClick(navButton(w, name), Qt::LeftButton);
            QImage shot = w.grab().toImage();
            QCOMPARE(shot.size(), w.size());
            if (qEnvironmentVariableIsSet("BRISKO_SCREENSHOT_DIR"))
                shot.save(qEnvironmentVariable("BRISKO_SCREENSHOT_DIR") + "/" + name + ".png");
            // The title bar is dark (its left half) and the pane area light.
            QVERIFY(QColor(shot.pixel(w.width() / 3, 4)).lightness() < 110);
            QVERIFY(QColor(shot.pixel(w.width() / 2, w.height() - 3)).lightness() > 180);
        }
    }

    // The README's pictures: each pane of the program on the demo machine, after
    // its main action. Run by scripts/screenshots.sh.
    void screenshotsOfEveryPane() {
        if (!qEnvironmentVariableIsSet("BRISKO_SCREENSHOT_DIR"))
            QSKIP("set BRISKO_SCREENSHOT_DIR (scripts/screenshots.sh)");
        const QString out = qEnvironmentVariable("BRISKO_SCREENSHOT_DIR");
        test::TempDir demo;
        createDemoMachine(demo.path() / "demo");
        ImageMachine m(demo.path() / "demo");
        TfrmMain w(m, args());
        showAndActivate(w);
        w.resize(900, 620);
        QTest::qWait(300);
        auto shoot = [&](const char* nav, const char* file) {
            QTest::mouseClick(navButton(w, nav), Qt::LeftButton);
            QTest::qWait(200);
            QVERIFY(w.grab().save(out + "/" + file));
        };
        auto* tv = w.findChild<CheckTreeView*>("tvCleanItems");
        for (auto& g : w.model().cleanTree.topLevel())
            if (g->caption == "Windows" || g->caption == "Internet Explorer") tv->toggleNode(*g);
        w.findChild<QPushButton*>("bTest")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().flags.Busy, 60000);
        shoot("bCleaner", "cleaner.png");
        QTest::mouseClick(navButton(w, "bRegistry"), Qt::LeftButton);
        w.findChild<QPushButton*>("bScan")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.scanInProgress(), 120000);
        shoot("bRegistry", "registry.png");
        QTest::mouseClick(navButton(w, "bTools"), Qt::LeftButton);
        w.toolsPane()->bStartupClick();
        shoot("bTools", "tools.png");
        QTest::mouseClick(navButton(w, "bRegistryDefrag"), Qt::LeftButton);
        QVERIFY(w.defragPane()->bAnalyzeRegistryClick());
        shoot("bRegistryDefrag", "defrag.png");
        w.defragPane()->deleteHiveCopies();
        QTimer::singleShot(300, [out] {
            auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->grab().save(out + "/options.png");
            d->pages()->setCurrentIndex(1);
            QTest::qWait(100);
            d->grab().save(out + "/options-cookies.png");
            d->bCancel->click();
        });
        w.bOptionsClick();
    }

    void treesShowTheModel() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        auto* clean = w.findChild<CheckTreeView*>("tvCleanItems");
        auto* reg = w.findChild<CheckTreeView*>("tvRegistry");
        QCOMPARE(clean->topLevelItemCount(), int(w.model().cleanTree.topLevel().size()));
        // Fresh start: every section checked, every group expanded, no item checked.
        for (CheckNode* n : w.model().sectionTree.nodes()) {
            QVERIFY(n->checked);
            QVERIFY(reg->itemFor(n)->isExpanded());
            QCOMPARE(reg->itemFor(n)->checkState(0), Qt::Checked);
        }
        for (auto& g : w.model().cleanTree.topLevel()) {
            QVERIFY(clean->itemFor(g.get())->isExpanded());
            QCOMPARE(clean->itemFor(g.get())->checkState(0), Qt::Unchecked);
        }
        // The registry tree refuses to collapse.
        QTreeWidgetItem* root = reg->topLevelItem(0);
        reg->collapseItem(root);
        QVERIFY(root->isExpanded());
        QVERIFY(w.model().sectionTree.topLevel()[0]->expanded);
    }

    void checkBoxClicksApplyTheRules() {
        CheckTree tree;
        CheckNode& g1 = tree.addTopLevel("Group", 1);
        CheckNode& a = tree.addChild(g1, "A", 1);
        CheckNode& b = tree.addChild(g1, "B", 1);
        tree.addTopLevel("Other", 2);
        tree.setAllExpanded(true);
        CheckTreeView view;
        view.setTree(&tree);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy changed(&view, &CheckTreeView::checkChanged);
        QSignalSpy label(&view, &CheckTreeView::labelPressed);
        auto click = [&](CheckNode& n) {
            QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                              view.checkBoxRect(view.itemFor(&n)).center());
        };

        click(g1);  // a group passes its state down
        QVERIFY(g1.checked && a.checked && b.checked);
        QCOMPARE(view.itemFor(&b)->checkState(0), Qt::Checked);
        click(a);  // one item still checked: the group stays checked
        QVERIFY(!a.checked && b.checked && g1.checked);
        click(b);  // none left: the group follows
        QVERIFY(!b.checked && !g1.checked);
        QCOMPARE(view.itemFor(&g1)->checkState(0), Qt::Unchecked);
        QCOMPARE(changed.count(), 3);

        // A press on the caption is not a check-box click.
        QRect text = view.visualItemRect(view.itemFor(&a));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                          QPoint(text.right() - 5, text.center().y()));
        QVERIFY(!a.checked);
        QCOMPARE(label.count(), 1);
        QCOMPARE(label.at(0).at(0).value<CheckNode*>(), &a);

        // Collapsing is written to the model at once.
        view.collapseItem(view.itemFor(&g1));
        QVERIFY(!g1.expanded);
    }

    void closeSavesAndTheNextStartRestores() {
        {
            auto m = openMachine();
            TfrmMain w(*m, args());
            showAndActivate(w);
            CheckTree& clean = w.model().cleanTree;
            CheckNode* item = clean.topLevel()[0]->children.at(0).get();
            auto* tv = w.findChild<CheckTreeView*>("tvCleanItems");
            tv->toggleNode(*item);
            tv->collapseItem(tv->itemFor(clean.topLevel()[1].get()));
            auto* reg = w.findChild<CheckTreeView*>("tvRegistry");
            reg->toggleNode(*w.model().sectionTree.findByImageIndex(25));
            w.move(120, 90);
            w.resize(680, 470);
            // A registry change of the session reaches the hive at close.
            QVERIFY(m->registry().openKey(RootKey::CurrentUser, "Software\\BriskoTest",
                                          KeyAccess::Create));
            QVERIFY(w.close());
            QVERIFY(w.lifecycle().closed());
            // On disk already, before this machine is closed.
            TestMachine reopened(dir_->path());
            QVERIFY(reopened.registry().openKey(RootKey::CurrentUser, "Software\\BriskoTest",
                                                KeyAccess::Read));
        }
        auto m = openMachine();
        IniFile ini = readOptions(*m);
        QVERIFY(ini.sectionExists("NodeSelected"));
        QCOMPARE(ini.readInteger("TreeViewNodeCheck", "25", 1), 0);
        QVERIFY(
            m->registry().openKey(RootKey::CurrentUser, "Software\\BriskoTest", KeyAccess::Read));

        TfrmMain w(*m, args());
        showAndActivate(w);
        CheckTree& clean = w.model().cleanTree;
        QVERIFY(clean.topLevel()[0]->children.at(0)->checked);
        QVERIFY(clean.topLevel()[0]->checked);
        QVERIFY(!clean.topLevel()[1]->expanded);
        auto* tv = w.findChild<CheckTreeView*>("tvCleanItems");
        QVERIFY(!tv->itemFor(clean.topLevel()[1].get())->isExpanded());
        QCOMPARE(tv->itemFor(clean.topLevel()[0]->children.at(0).get())->checkState(0),
                 Qt::Checked);
        auto* reg = w.findChild<CheckTreeView*>("tvRegistry");
        CheckNode* empty = w.model().sectionTree.findByImageIndex(25);
        QVERIFY(!empty->checked);
        QCOMPARE(reg->itemFor(empty)->checkState(0), Qt::Unchecked);
        QCOMPARE(w.pos(), QPoint(120, 90));
        QCOMPARE(w.size(), QSize(680, 470));
    }

    void storedMaximisedStateAndLostBounds() {
        {
            auto m = openMachine();
            IniFile ini;
            ini.writeInteger("Window", "State", 3);
            QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
            TfrmMain w(*m, args());
            showAndActivate(w);
            QTRY_VERIFY(w.isMaximized());
            w.close();
            QCOMPARE(readOptions(*m).readInteger("Window", "State", 0), 3);
        }
        // Bounds from a screen that is gone still give a reachable window.
        auto m = openMachine();
        IniFile ini;
        ini.writeInteger("Window", "State", 1);
        ini.writeInteger("Window", "Left", 5000);
        ini.writeInteger("Window", "Top", -4000);
        ini.writeInteger("Window", "Width", 700);
        ini.writeInteger("Window", "Height", 480);
        QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
        TfrmMain w(*m, args());
        showAndActivate(w);
        QVERIFY(!w.isMaximized());
        QCOMPARE(w.size(), QSize(700, 480));  // the stored bounds are the client area
        QVERIFY(w.screen()->availableGeometry().intersects(w.frameGeometry()));
    }

    void messagesAndWebPages() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        w.hide();
        w.messageTarget().post(WM_SHOW_MAIN);
        QTRY_VERIFY(w.isVisible());

        // The pages come with the program; a shell that can open them is asked first.
        w.findChild<QLabel*>("lUpdate")->linkActivated(QStringLiteral("update"));
        QTest::mouseClick(w.findChild<QLabel*>("lTitle"), Qt::LeftButton);
        QCOMPARE(m->shell.size(), size_t(2));
        QVERIFY(QString::fromStdString(m->shell[0]).startsWith(QLatin1String("Open|file://")));
        QVERIFY(QString::fromStdString(m->shell[0]).endsWith(QLatin1String("/update.html|")));
        QVERIFY(QString::fromStdString(m->shell[1]).endsWith(QLatin1String("/index.html|")));
        for (std::string_view page : {kHomePage, kOnlineHelpPage, kUpdatePage})
            QVERIFY(QFileInfo(webPageFile(page)).isFile());

        // An image's shell opens nothing: the host's browser does.
        ImageMachine plain(dir_->path());
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        {
            TfrmMain w2(plain, args());
            QStringList captions;
            for (QAction* a : w2.moreMenu()->actions())
                if (!a->isSeparator()) captions << a->text();
            QCOMPARE(captions,
                     QStringList({"Online &Help", "H&omepage", "&Check for Update", "&About..."}));
            for (QAction* a : w2.moreMenu()->actions())
                if (!a->isSeparator() && a->text() != QLatin1String("&About...")) a->trigger();
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 3);
        QVERIFY(catcher.urls[0].toLocalFile().endsWith(QLatin1String("help.html")));
        QVERIFY(catcher.urls[2].toLocalFile().endsWith(QLatin1String("update.html")));
    }

    void minimiseGoesToTheTrayAndBack() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        QVERIFY(!w.trayIcon() || !w.trayIcon()->isVisible());
        w.showMinimized();
        if (QGuiApplication::platformName() != QLatin1String("offscreen") &&
            !QSystemTrayIcon::isSystemTrayAvailable()) {
            // No notification area: hiding would leave no way back, so it stays minimised.
            QTest::qWait(300);
            QVERIFY(w.isMinimized());
            QVERIFY(!w.hiddenToTray());
            QVERIFY(!w.trayIcon());
            return;
        }
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(w.hiddenToTray());
        QVERIFY(w.trayIcon() && w.trayIcon()->isVisible());
        QCOMPARE(w.trayIcon()->toolTip(),
                 QStringLiteral("Left Click to activate Cleaner\nRight Click to popup menu"));
        // Left button down on the icon.
        w.messageTarget().post(WM_TRAY_NOTIFY, 0, 513);
        QTRY_VERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());
        QVERIFY(!w.trayIcon()->isVisible());
        QStringList items;
        for (QAction* a : w.trayMenu()->actions())
            if (!a->isSeparator()) items << a->text();
        QCOMPARE(items, QStringList({"&Open", "Online &Help", "&Exit"}));
        // "&Exit" closes the program.
        QSignalSpy ended(&w, &TfrmMain::terminated);
        w.trayMenu()->actions().last()->trigger();
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(w.lifecycle().closed());
    }

    void scheduleTicksThroughEveryPeriod() {
        const int periods[] = {900000, 1800000, 3600000, 14400000, 28800000, 900000};
        for (int code = 0; code <= 5; ++code) {
            auto m = openMachine();
            IniFile ini;
            ini.writeInteger("SChedule", "AutoClean", 1);
            ini.writeInteger("SChedule", "CleanInterval", code == 5 ? 7 : code);
            QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
            FakeTimers timers;
            TfrmMain w(*m, args(), nullptr, &timers);
            showAndActivate(w);
            FakeTimer* t = timers.timers.at("Timer2");
            QVERIFY(t->isActive());
            QCOMPARE(t->interval(), periods[code]);
            if (code != 2) continue;
            // A tick starts an unattended clean; a tick during a run starts nothing.
            auto* tv = w.findChild<CheckTreeView*>("tvCleanItems");
            tv->toggleNode(*w.model().cleanTree.topLevel()[0]->children.at(0));
            t->fire();
            QVERIFY(w.model().flags.Busy);
            QCOMPARE(w.model().flags.RunMode, kRunModeUnattended);
            w.model().flags.RunMode = 2;
            t->fire();
            QCOMPARE(w.model().flags.RunMode, 2);
            QTRY_VERIFY(!w.model().flags.Busy);
        }
        // Off: not armed.
        auto m = openMachine();
        IniFile off;
        off.writeInteger("SChedule", "AutoClean", 0);
        QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, off));
        FakeTimers timers;
        TfrmMain w(*m, args(), nullptr, &timers);
        showAndActivate(w);
        QVERIFY(!timers.timers.at("Timer2")->isActive());
    }

    void optionsTakeEffectAtOnce() {
        auto m = openMachine();
        m->files().forceDirectories("C:\\Backups");
        FakeTimers timers;
        TfrmMain w(*m, args(), nullptr, &timers);
        showAndActivate(w);
        QTimer::singleShot(0, [] {
            auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->eOutputFolder->setText(QStringLiteral("C:\\Backups"));
            d->cbFastScan->setChecked(true);
            d->cbAutoWash->setChecked(true);
            d->rbInterval[4]->setChecked(true);
            d->bOK->click();
        });
        QVERIFY(w.bOptionsClick());
        QVERIFY(w.model().Settings.FastScan);
        QVERIFY(w.findChild<QCheckBox*>("cbFastMode")->isChecked());
        QVERIFY(timers.timers.at("Timer2")->isActive());
        QCOMPARE(timers.timers.at("Timer2")->interval(), 28800000);
        QCOMPARE(readOptions(*m).readInteger("SChedule", "CleanInterval", 0), 4);
        // Cancel changes nothing.
        QTimer::singleShot(0, [] {
            auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->cbAutoWash->setChecked(false);
            d->bCancel->click();
        });
        QVERIFY(!w.bOptionsClick());
        QVERIFY(timers.timers.at("Timer2")->isActive());
    }

    void geometryStaysPutUnderAWindowManager() {
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("needs a window manager: run through tests/ui/with_openbox.sh");
        QRect first;
        for (int start = 0; start < 4; ++start) {
            auto m = openMachine();
            TfrmMain w(*m, args());
            showAndActivate(w);
            // The window manager frames and places it; a busy machine may take a while.
            if (start == 0) {
                QTest::qWait(300);
                w.setGeometry(140, 160, 720, 500);
                QTRY_COMPARE_WITH_TIMEOUT(w.size(), QSize(720, 500), 5000);
                QTest::qWait(300);
                first = w.geometry();
            } else {
                QTRY_COMPARE_WITH_TIMEOUT(w.geometry(), first, 5000);
            }
            // The minimum size holds, frame included.
            w.resize(500, 300);
            QTRY_VERIFY_WITH_TIMEOUT(w.frameGeometry().width() >= 626 &&
                                         w.frameGeometry().height() >= 455 &&
                                         w.size() != QSize(720, 500),
                                     5000);
            w.setGeometry(first);
            QTRY_COMPARE_WITH_TIMEOUT(w.geometry(), first, 5000);
            w.close();
        }
    }

    void layoutAtDevicePixelRatioTwo() {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
            auto m = openMachine();
            TfrmMain probe(*m, args());
            probe.show();
            QCOMPARE(probe.devicePixelRatio(), 2.0);
        }
        // Run with QT_SCALE_FACTOR=2 too (see tests/CMakeLists.txt): no control
        // of a pane overlaps another and no caption is cut, at the minimum size.
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        w.resize(w.minimumSize());
        for (const char* nav : {"bCleaner", "bRegistry", "bTools"}) {
            QTest::mouseClick(navButton(w, nav), Qt::LeftButton);
            QCoreApplication::processEvents();
            QList<QWidget*> shown;
            for (QWidget* c : w.findChildren<QWidget*>()) {
                if (!c->isVisible() || !qobject_cast<QAbstractButton*>(c)) continue;
                shown << c;
                // A button's caption fits it.
                auto* b = static_cast<QAbstractButton*>(c);
                if (!b->text().isEmpty() && !b->property("nav").toBool())
                    QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(
                                               b->text().remove(QLatin1Char('&'))),
                             qPrintable(b->objectName() + " " + nav));
            }
            for (int i = 0; i < shown.size(); ++i)
                for (int j = i + 1; j < shown.size(); ++j) {
                    QRect a(shown[i]->mapTo(&w, QPoint(0, 0)), shown[i]->size());
                    QRect b(shown[j]->mapTo(&w, QPoint(0, 0)), shown[j]->size());
                    if (shown[i]->isAncestorOf(shown[j]) || shown[j]->isAncestorOf(shown[i]))
                        continue;
                    QVERIFY2(!a.intersects(b), qPrintable(shown[i]->objectName() + " / " +
                                                          shown[j]->objectName() + " " + nav));
                }
        }
    }

    void bossKeyHidesBrowsersUntilClose() {
        auto m = openMachine();
        m->windows = {{1, "IEFrame", "IE", true},
                      {2, "MozillaWindowClass", "Firefox", true},
                      {3, "Notepad", "notes", true}};
        IniFile ini;
        ini.writeInteger("Hotkey", "EnableHotkey", 1);
        ini.writeInteger("Hotkey", "IsShift", 1);
        QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
        TfrmMain w(*m, args());
        QCOMPARE(m->hotkeyService.registered.size(), size_t(1));
        auto reg = m->hotkeyService.registered[0];
        QCOMPARE(reg[1], 2 | 4);  // Ctrl (the default) and Shift
        QCOMPARE(reg[2], 116);    // F5
        showAndActivate(w);

        w.messageTarget().post(WM_HOTKEY, uintptr_t(reg[0]));
        QTRY_VERIFY(w.model().flags.BrowsersHidden);
        QVERIFY(!m->windows[0].visible && !m->windows[1].visible && m->windows[2].visible);
        w.messageTarget().post(WM_HOTKEY, uintptr_t(reg[0]));
        QTRY_VERIFY(!w.model().flags.BrowsersHidden);
        QVERIFY(m->windows[0].visible && m->windows[1].visible);

        w.messageTarget().post(WM_HOTKEY, uintptr_t(reg[0]));
        QTRY_VERIFY(!m->windows[0].visible);
        w.close();
        QVERIFY(m->windows[0].visible && m->windows[1].visible);
        QVERIFY(!m->hotkeyService.unregistered.empty());
    }

    void refusedHotkeyDoesNotStopTheStart() {
        auto m = openMachine();
        m->hotkeyService.refuse = true;
        IniFile ini;
        ini.writeInteger("Hotkey", "EnableHotkey", 1);
        QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
        m->windows = {{1, "IEFrame", "IE", true}};
        TfrmMain w(*m, args());
        showAndActivate(w);
        w.messageTarget().post(WM_HOTKEY, uintptr_t(m->hotkeyService.registered.at(0)[0]));
        QTRY_VERIFY(w.model().flags.BrowsersHidden);
        QVERIFY(m->windows[0].visible);  // no hot key of ours: nothing is hidden
    }

    void unattendedRunsEndOnTheirOwn() {
        for (const char* sw : {"/clear", "/REGDEFRAG"}) {
            auto m = openMachine();
            // A problem the scan of "/Clear" finds and fixes.
            RegistryKey run(m->registry(), RootKey::CurrentUser);
            QVERIFY(run.openKey("Software\\Microsoft\\Windows\\CurrentVersion\\Run", true));
            QVERIFY(run.writeString("Gone", "C:\\Gone\\gone.exe"));
            TfrmMain w(*m, args({sw}));
            QSignalSpy ended(&w, &TfrmMain::terminated);
            w.show();
            QTRY_COMPARE(ended.count(), 1);
            // "/Clear" fixes the problem it found; "/Regdefrag" analyses and
            // schedules the compact hives.
            QCOMPARE(ended.at(0).at(0).toInt(), 0);
            if (std::string_view(sw) == "/clear") {
                RegistryKey after(m->registry(), RootKey::CurrentUser);
                QVERIFY(after.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
                QVERIFY(!after.valueExists("Gone"));
            }
            QVERIFY(!w.isVisible());
            QVERIFY(readOptions(*m).sectionExists("Options"));
        }
    }

    void registrySwitchesOnA9xMachineStartTheWindow() {
        // Windows 98 has no registry analysis: "/Regscan" is an ordinary start.
        test::writeFile(dir_->path() / "machine.ini", "[Machine]\nVersion=4.10\nPlatform=9x\n");
        auto m = openMachine();
        TfrmMain w(*m, args({"/Regscan", "C:\\report.ini"}));
        QSignalSpy ended(&w, &TfrmMain::terminated);
        showAndActivate(w);
        QTest::qWait(300);
        QVERIFY(w.isVisible());
        QCOMPARE(ended.count(), 0);
        QVERIFY(!w.model().flags.UnattendedRun);
        QVERIFY(!w.prompter().unattended());
        QVERIFY(!m->files().fileExists("C:\\report.ini"));
    }

    void trayClickSelectsTheLogsFirstLine() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        auto* log = w.cleanerPane()->lMain();
        w.cleanerPane()->logModel().appendLines({"first line", "second line"});
        QTRY_COMPARE(log->model()->rowCount(), 2);
        log->clearSelection();
        w.messageTarget().post(WM_TRAY_NOTIFY, 0, 513);  // left button down on the icon
        QTRY_VERIFY(log->selectionModel()->isRowSelected(0, QModelIndex()));
    }

    void trayStartAndSchedule() {
        auto m = openMachine();
        IniFile ini;
        ini.writeInteger("SChedule", "AutoClean", 1);
        ini.writeInteger("SChedule", "CleanInterval", 2);
        QVERIFY(writeIniFile(*m, LocateSettings(*m).fileName, ini));
        TfrmMain w(*m, args({"/Auto"}));
        QSignalSpy ended(&w, &TfrmMain::terminated);
        showAndActivate(w);
        // Goes to the tray and stays there, with the schedule armed.
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(w.scheduleTimer()->isActive());
        QCOMPARE(w.scheduleTimer()->interval(), 3600000);
        QTest::qWait(50);
        QCOMPARE(ended.count(), 0);
        w.messageTarget().post(WM_SHOW_MAIN);
        QTRY_VERIFY(w.isVisible());
    }

    void messageTargetAcrossThreads() {
        auto receiver = std::make_unique<Receiver>();
        QtMessageTarget target(receiver.get());
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([&] {
                for (int i = 1; i <= 100; ++i) target.post(WM_CLEAN_PROGRESS, uintptr_t(i));
            });
        for (auto& t : workers) t.join();
        QTRY_COMPARE(receiver->count, 400);
        QCOMPARE(receiver->sum, uintptr_t(4 * 5050));
        QCOMPARE(receiver->lastMsg, uint32_t(WM_CLEAN_PROGRESS));
        // Posts after the receiver is gone are dropped, not delivered to freed memory.
        receiver.reset();
        std::thread late([&] { target.post(WM_CLEAN_DONE, 1); });
        late.join();
        QCoreApplication::processEvents();
    }

    void messageBoxesFromFlags() {
        auto box = makeMessageBox(nullptr, "Delete?", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        QCOMPARE(box->windowTitle(), QStringLiteral("Brisko Cleaner"));
        QCOMPARE(box->text(), QStringLiteral("Delete?"));
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::No));
        box = makeMessageBox(nullptr, "x", MB_YESNOCANCEL | MB_ICONWARNING);
        QCOMPARE(static_cast<QAbstractButton*>(box->defaultButton()),
                 box->button(QMessageBox::Yes));
        QCOMPARE(box->escapeButton(), box->button(QMessageBox::Cancel));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        box = makeMessageBox(nullptr, "x", MB_OK | MB_ICONERROR | MB_DEFBUTTON2);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Ok));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(answerFor(QMessageBox::NoButton, MB_YESNO), int(IDNO));
        QCOMPARE(answerFor(QMessageBox::NoButton, MB_OKCANCEL), int(IDCANCEL));
        QCOMPARE(answerFor(QMessageBox::Yes, MB_YESNOCANCEL), int(IDYES));
    }

    void prompterAnswersWorkersOnTheUiThread() {
        QtPrompter prompter;
        // Offscreen: nobody to ask, the default button answers, even from a worker.
        int headless = 0;
        std::thread([&] { headless = prompter.ask("Sure?", MB_YESNO | MB_DEFBUTTON2); }).join();
        QCOMPARE(headless, int(IDNO));

        // Shown for real: the worker waits while the UI thread runs the box.
        prompter.setAlwaysAsk(true);
        QTimer presser;
        QObject::connect(&presser, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Cancel)->click();
        });
        presser.start(20);
        std::atomic<int> answer = 0;
        std::atomic<bool> asked = false;
        std::thread worker([&] {
            answer = prompter.ask("Go on?", MB_OKCANCEL);
            asked = true;
        });
        QTRY_VERIFY(asked.load());
        worker.join();
        QCOMPARE(answer.load(), int(IDCANCEL));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
