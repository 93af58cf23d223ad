// The main window on small image machines, under the offscreen platform.
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/machine_builder.h"
#include "core/machine/registry_key.h"
#include "core/settings.h"
#include "support/test_machine.h"
#include "ui/check_tree_view.h"
#include "ui/main_window.h"
#include "ui/qt_message_target.h"
#include "ui/qt_prompter.h"
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
        QVERIFY(!navButton(w, "bOptions")->isEnabled());

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
        QCOMPARE(w.frameGeometry().size(), QSize(700, 480));
        QVERIFY(w.screen()->availableGeometry().intersects(w.frameGeometry()));
    }

    void messagesAndWebPages() {
        auto m = openMachine();
        TfrmMain w(*m, args());
        showAndActivate(w);
        w.hide();
        w.messageTarget().post(WM_SHOW_MAIN);
        QTRY_VERIFY(w.isVisible());

        w.findChild<QLabel*>("lUpdate")->linkActivated(QString::fromLatin1(kUpdatePage.data()));
        QTest::mouseClick(w.findChild<QLabel*>("lTitle"), Qt::LeftButton);
        QCOMPARE(m->shell.size(), size_t(2));
        QCOMPARE(m->shell[0], "Open|https://brisko-cleaner.example.org/|");
        QCOMPARE(m->shell[1], "Open|https://brisko-cleaner.example.org/|");
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
            // A problem the scan of "/Clear" finds, and this version cannot fix.
            RegistryKey run(m->registry(), RootKey::CurrentUser);
            QVERIFY(run.openKey("Software\\Microsoft\\Windows\\CurrentVersion\\Run", true));
            QVERIFY(run.writeString("Gone", "C:\\Gone\\gone.exe"));
            TfrmMain w(*m, args({sw}));
            QSignalSpy ended(&w, &TfrmMain::terminated);
            w.show();
            QTRY_COMPARE(ended.count(), 1);
            // Nothing ran, and the exit code must not claim otherwise.
            QCOMPARE(ended.at(0).at(0).toInt(), 1);
            QVERIFY(!w.isVisible());
            QVERIFY(readOptions(*m).sectionExists("Options"));
        }
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
