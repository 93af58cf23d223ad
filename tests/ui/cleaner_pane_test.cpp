// The Cleaner pane on the demo machine, under the offscreen platform.
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <thread>

#include "cleaner/clean_catalog.h"
#include "core/check_tree.h"
#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/settings.h"
#include "core/startup.h"
#include "demo/demo_machine.h"
#include "support/test_machine.h"
#include "ui/ask_delete_dialog.h"
#include "ui/check_tree_view.h"
#include "ui/clean_log_model.h"
#include "ui/cleaner_pane.h"
#include "ui/main_window.h"
#include "ui/qt_prompter.h"

using namespace brisko;
namespace fs = std::filesystem;

namespace {

const char* const kTempFile = "Users/Alex/AppData/Local/Temp/jusched.log";

bool contains(const std::vector<std::string>& lines, std::string_view text) {
    for (const auto& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

size_t countStarting(const std::vector<std::string>& lines, std::string_view prefix) {
    size_t n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}

void check(CheckTree& tree, std::string_view caption) {
    CheckNode* n = tree.findByLogCaption(caption);
    QVERIFY(n);
    setChecked(*n, true);
}

// Answers every modal dialog that appears with fn, until stopped.
class ModalAnswerer {
  public:
    explicit ModalAnswerer(std::function<bool(QWidget*)> fn) {
        QObject::connect(&timer_, &QTimer::timeout, [this, fn] {
            if (QWidget* w = QApplication::activeModalWidget(); w && fn(w)) ++answered;
        });
        timer_.start(20);
    }
    int answered = 0;

  private:
    QTimer timer_;
};

// A pane on its own, whose messages the test delivers one by one.
struct Rig {
    explicit Rig(const fs::path& dir) : machine(dir) {
        tree = buildCleanTree();
        settings.IsAskBeforeClear = false;
        host.resize(640, 400);
        pane = std::make_unique<CleanerPane>(
            CleanerPane::Inputs{machine, settings, tree, prompter, &queue, &flags}, &host);
        auto* grid = new QGridLayout(&host);
        grid->addWidget(pane->lMain(), 0, 0);
        grid->addWidget(pane->controlRow(), 1, 0);
        host.show();
    }
    // Hands queued messages to the pane until pred holds.
    bool deliverUntil(const std::function<bool()>& pred, int limitMs = 20000) {
        QElapsedTimer t;
        t.start();
        while (!pred()) {
            if (t.elapsed() > limitMs) return false;
            QCoreApplication::processEvents();
            if (auto m = queue.next(std::chrono::milliseconds(20)))
                pane->handleMessage(m->msg, m->wParam, m->lParam);
        }
        return true;
    }
    bool runToEnd() {
        return deliverUntil([&] { return !pane->controller().Busy(); });
    }
    QColor logText() const { return pane->lMain()->palette().color(QPalette::Text); }
    QColor logBase() const { return pane->lMain()->palette().color(QPalette::Base); }

    ImageMachine machine;
    TOptionsSetting settings;
    CheckTree tree;
    QtPrompter prompter;
    MessageQueue queue;
    RunFlags flags;
    QWidget host;
    std::unique_ptr<CleanerPane> pane;
};

}  // namespace

class CleanerPaneTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> demo_;  // built once, copied for each test
    std::unique_ptr<test::TempDir> dir_;
    fs::path machineDir() const { return dir_->path() / "m"; }

  private slots:
    void initTestCase() {
        demo_ = std::make_unique<test::TempDir>();
        createDemoMachine(demo_->path() / "m");
    }
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        fs::copy(demo_->path() / "m", machineDir(), fs::copy_options::recursive);
    }
    void cleanup() { dir_.reset(); }

    void testRunFillsTheLogAndFinishes() {
        Rig r(machineDir());
        check(r.tree, "Windows - Temporary Files");
        check(r.tree, "Windows - Memory Dumps");
        QProgressBar* bar = r.pane->ProgressBar1();
        QVERIFY(!bar->isVisible());
        QVERIFY(!r.pane->aSaveText()->isEnabled());

        r.pane->bTest()->click();
        QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Cancel"));
        QVERIFY(r.flags.Busy && r.flags.RunMode == kRunModeTest);
        QVERIFY(bar->isVisible() && !bar->isTextVisible());
        QVERIFY(r.pane->Timer1()->isActive());  // a visible Test run animates the bar

        QVERIFY(r.runToEnd());
        QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Test"));
        QVERIFY(!r.flags.Busy && !r.pane->Timer1()->isActive());
        QCOMPARE(bar->value(), 1000);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(bar->format(), QStringLiteral("Finished!"));

        auto lines = r.pane->logLines();
        QCOMPARE(r.pane->logModel().rowCount(), int(lines.size()));  // all shown at the end
        QCOMPARE(lines.front(), "Test: Clearing Windows - Temporary Files ...");
        QVERIFY(contains(lines, "Test: Clearing Windows - Memory Dumps ..."));
        QVERIFY(countStarting(lines, "Test: deleting ") > 5);
        QCOMPARE(lines[lines.size() - 3], std::string(107, '-'));
        QVERIFY(lines[lines.size() - 2].rfind("Total items will be removed = ", 0) == 0);
        QVERIFY(r.pane->aSaveText()->isEnabled());
        // The rows are as wide as the widest line, so the list scrolls sideways to it.
        QVERIFY(r.pane->logModel().itemWidth() >= r.pane->logModel().widestLineWidth() + 10);
        QVERIFY(fs::exists(machineDir() / kTempFile));  // a Test run removes nothing
    }

    void cleanRunCountsHiddenThenCleansWithProgress() {
        Rig r(machineDir());
        r.settings.FastScan = false;
        r.pane->setFastMode(false);
        check(r.tree, "Windows - Temporary Files");
        check(r.tree, "Windows - Memory Dumps");
        QSignalSpy ended(r.pane.get(), &CleanerPane::cleanRunEnded);
        const QColor visible = r.logText();
        QProgressBar* bar = r.pane->ProgressBar1();

        r.pane->bClean()->click();
        // The hidden count: invisible lines, Fast Mode on, no animation.
        QVERIFY(r.pane->controller().hiddenPassRunning());
        QCOMPARE(r.logText(), r.logBase());
        QVERIFY(r.settings.FastScan);
        QVERIFY(!r.pane->cbFastMode()->isChecked());
        QCOMPARE(bar->format(), QStringLiteral("Prepare to clean..."));
        QVERIFY(bar->isTextVisible());
        QVERIFY(!r.pane->Timer1()->isActive());
        QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Cancel"));

        // Its end clears the log and asks for the clean pass.
        QVERIFY(r.deliverUntil([&] { return r.pane->controller().PreCountTotal() > 0; }));
        QVERIFY(r.pane->controller().hiddenPassRunning());
        QCOMPARE(r.pane->logModel().rowCount(), 0);
        QVERIFY(r.flags.Busy);
        QVERIFY(r.deliverUntil([&] { return r.pane->controller().RunMode() == kRunCleanPass; }));
        QCOMPARE(r.logText(), visible);
        QVERIFY(!r.settings.FastScan);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(bar->format(), QStringLiteral("%p%"));
        QVERIFY(r.flags.Busy && r.flags.RunMode == kRunModeCleanPass);

        // Each item moves the bar to its share of the count.
        std::vector<int> seen;
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { seen.push_back(v); });
        QVERIFY(r.runToEnd());
        QVERIFY(seen.size() >= 2 && seen.front() > 0 && seen.front() < 1000);
        QCOMPARE(bar->format(), QStringLiteral("Finished!"));
        QCOMPARE(bar->value(), 1000);
        auto lines = r.pane->logLines();
        QCOMPARE(lines.front(), "Clean: Clearing Windows - Temporary Files ...");
        QVERIFY(countStarting(lines, "Clean: deleting ") > 5);  // Fast Mode was off
        QVERIFY(!fs::exists(machineDir() / kTempFile));
        QCOMPARE(ended.count(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), true);
    }

    void cancelRestoresTheIdleState() {
        // During a Test run.
        {
            Rig r(machineDir());
            check(r.tree, "Windows - Temporary Files");
            QSignalSpy ended(r.pane.get(), &CleanerPane::cleanRunEnded);
            r.pane->bTest()->click();
            r.pane->bTest()->click();  // Cancel
            QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Test"));
            QVERIFY(!r.flags.Busy);
            QVERIFY(!r.pane->Timer1()->isActive());
            QTRY_COMPARE(ended.count(), 1);
            QCOMPARE(ended.at(0).at(0).toBool(), false);
        }
        // During the hidden count of a Clean run.
        {
            Rig r(machineDir());
            r.settings.FastScan = false;
            r.pane->setFastMode(false);
            check(r.tree, "Windows - Temporary Files");
            const QColor visible = r.logText();
            r.pane->bClean()->click();
            QCOMPARE(r.logText(), r.logBase());
            r.pane->bTest()->click();  // Cancel
            QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Test"));
            QCOMPARE(r.logText(), visible);
            QVERIFY(!r.settings.FastScan);
            QVERIFY(!r.flags.Busy);
            // The bar says the run was cancelled; no clean pass follows.
            QCOMPARE(r.pane->ProgressBar1()->format(), QStringLiteral("Cancelled"));
        }
    }

    void fastModeFollowsTheBoxAndTheSettings() {
        Rig r(machineDir());
        check(r.tree, "Windows - Temporary Files");
        r.pane->cbFastMode()->click();
        QVERIFY(r.settings.FastScan);
        r.pane->cbFastMode()->click();
        QVERIFY(!r.settings.FastScan);

        // Settings read after the pane was made reach the worker through setFastMode.
        r.settings.FastScan = true;
        r.pane->setFastMode(true);
        QVERIFY(r.pane->cbFastMode()->isChecked());
        r.pane->bTest()->click();
        QVERIFY(r.runToEnd());
        QCOMPARE(countStarting(r.pane->logLines(), "Test: deleting "), size_t(0));
    }

    void savingTheLogWritesHeaderAndLines() {
        Rig r(machineDir());
        check(r.tree, "Windows - Memory Dumps");
        r.pane->bTest()->click();
        QVERIFY(r.runToEnd());
        const auto lines = r.pane->logLines();

        const fs::path chosen = dir_->path() / "cleaning";
        auto saveAs = [&](const fs::path& name) {
            ModalAnswerer answer([&](QWidget* w) {
                auto* dlg = qobject_cast<QFileDialog*>(w);
                if (!dlg) return false;
                // Typed, as a user would.
                dlg->setDirectory(QString::fromStdString(name.parent_path().string()));
                dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QString::fromStdString(name.filename().string()));
                static_cast<QDialog*>(dlg)->accept();
                return true;
            });
            r.pane->aSaveText()->trigger();
            return answer.answered;
        };
        QCOMPARE(saveAs(chosen), 1);
        const fs::path saved = dir_->path() / "cleaning.txt";
        QVERIFY(fs::exists(saved));
        std::string expected =
            "This file was generated by Brisko Cleaner\r\nVisit "
            "https://brisko-cleaner.example.org/ for the latest version\r\n\r\n";
        for (const auto& l : lines) expected += l + "\r\n";
        QCOMPARE(test::readFile(saved), expected);

        // An existing file: the question's default answer (No) keeps it.
        test::writeFile(saved, "keep me");
        QCOMPARE(saveAs(saved), 1);
        QCOMPARE(test::readFile(saved), std::string("keep me"));
        // Yes replaces it.
        r.prompter.setAlwaysAsk(true);
        ModalAnswerer yes([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->text().endsWith(QStringLiteral(" has existed,overite it?")))
                return false;
            box->button(QMessageBox::Yes)->click();
            return true;
        });
        QCOMPARE(saveAs(saved), 1);
        QCOMPARE(yes.answered, 1);
        QCOMPARE(test::readFile(saved), expected);
        // A file that cannot be written is reported, not passed over.
        ModalAnswerer failed([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->text().startsWith(QStringLiteral("The log could not be saved")))
                return false;
            box->button(QMessageBox::Ok)->click();
            return true;
        });
        fs::create_directory(dir_->path() / "blocked.txt");
        QCOMPARE(saveAs(dir_->path() / "blocked"), 1);
        QCOMPARE(failed.answered, 1);
    }

    void askDeleteDialogAndItsBox() {
        TOptionsSetting settings;
        settings.IsAskBeforeClear = true;
        {
            TfrmAskDelete dlg(settings);
            QCOMPARE(dlg.windowTitle(), QStringLiteral("Run Cleaner"));
            dlg.cbDontShow()->click();
            QVERIFY(!settings.IsAskBeforeClear);
            dlg.cbDontShow()->click();
            QVERIFY(settings.IsAskBeforeClear);
        }

        // Cancel in the dialog starts nothing; OK starts the run.
        Rig r(machineDir());
        r.settings.IsAskBeforeClear = true;
        r.prompter.setAlwaysAsk(true);
        check(r.tree, "Windows - Temporary Files");
        bool accept = false;
        ModalAnswerer answer([&](QWidget* w) {
            auto* dlg = qobject_cast<TfrmAskDelete*>(w);
            if (!dlg) return false;
            (accept ? dlg->bOK() : dlg->bCancel())->click();
            return true;
        });
        r.pane->bClean()->click();
        QCOMPARE(answer.answered, 1);
        QVERIFY(!r.flags.Busy);
        QCOMPARE(r.pane->bTest()->text(), QStringLiteral("Test"));
        accept = true;
        r.pane->bClean()->click();
        QCOMPARE(answer.answered, 2);
        QVERIFY(r.flags.Busy);
        QVERIFY(r.runToEnd());
        QVERIFY(!fs::exists(machineDir() / kTempFile));
    }

    void largeLogArrivesInOrderAndScrollsSideways() {
        CleanLogModel model;
        int scrolls = 0;
        QtCleanLog sink(model, [&] { ++scrolls; });
        const std::string wide = "Test: deleting C:\\" + std::string(300, 'w');
        std::thread worker([&] {
            for (int i = 0; i < 100000; ++i) {
                sink.addLine(i == 70000 ? wide : "line " + std::to_string(i));
                if (i % 50 == 0) sink.scrollToEnd();
            }
        });
        worker.join();
        QTRY_COMPARE(model.rowCount(), 100000);
        QCOMPARE(model.lines()[0], "line 0");
        QCOMPARE(model.lines()[70000], wide);
        QCOMPARE(model.lines()[99999], "line 99999");
        QVERIFY(scrolls >= 1);
        QVERIFY(model.widestLineWidth() >= 300 * QFontMetrics(QFont()).horizontalAdvance('w'));

        QListView view;
        view.setUniformItemSizes(true);
        view.setModel(&model);
        view.resize(300, 200);
        view.show();
        model.setItemWidth(model.widestLineWidth() + 10);
        QTRY_VERIFY(view.horizontalScrollBar()->maximum() >= model.widestLineWidth() + 10 - 300);
    }

    void windowRoutesTheRunAndCleansUnattended() {
        {
            ImageMachine m(machineDir());
            TfrmMain w(m, parseStartArgs(std::vector<std::string>{}));
            CleanerPane* pane = w.cleanerPane();
            QVERIFY(pane);
            QCOMPARE(pane->lMain()->parentWidget()->objectName(), QStringLiteral("gbCleaner"));
            check(w.model().cleanTree, "Windows - Temporary Files");
            check(w.model().cleanTree, "Windows - Memory Dumps");
            check(w.model().cleanTree, "Windows - Chkdsk File Fragments");
            w.findChild<CheckTreeView*>("tvCleanItems")->refreshChecks();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            pane->bTest()->click();
            QVERIFY(w.cleanInProgress());
            QTRY_COMPARE(pane->ProgressBar1()->format(), QStringLiteral("Finished!"));
            QVERIFY(!w.model().flags.Busy);
            QVERIFY(contains(pane->logLines(), "Total items will be removed = "));
            if (qEnvironmentVariableIsSet("BRISKO_SCREENSHOT"))
                w.grab().save(qEnvironmentVariable("BRISKO_SCREENSHOT"));

            // Closing during a run cancels it.
            pane->bTest()->click();
            QVERIFY(w.cleanInProgress());
            w.close();
            QVERIFY(!w.cleanInProgress());
            QCOMPARE(pane->bTest()->text(), QStringLiteral("Test"));
        }
        // "/Clear" cleans the saved selection and ends once the clean is over.
        ImageMachine m(machineDir());
        {
            IniFile ini = readIniFile(m, LocateSettings(m).fileName).value_or(IniFile());
            ini.writeBool("Options", "IsAskBeforeClear", true);
            QVERIFY(writeIniFile(m, LocateSettings(m).fileName, ini));
        }
        TfrmMain w(m, parseStartArgs(std::vector<std::string>{"/Clear"}));
        QSignalSpy ended(&w, &TfrmMain::terminated);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 20000);
        QVERIFY(!w.isVisible());
        QVERIFY(!fs::exists(machineDir() / kTempFile));
    }
};

QTEST_MAIN(CleanerPaneTest)
#include "cleaner_pane_test.moc"
