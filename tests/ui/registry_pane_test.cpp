// The Registry pane on small image machines, under the offscreen platform.
#include <QAction>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/main_lifecycle.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"
#include "registry/scan_context.h"
#include "registry/scan_run.h"
#include "registry/section_tree.h"
#include "support/test_machine.h"
#include "ui/check_tree_view.h"
#include "ui/main_window.h"
#include "ui/problem_list_model.h"
#include "ui/qt_message_target.h"
#include "ui/reg_add_registry_dialog.h"
#include "ui/registry_pane.h"

using namespace brisko;

namespace {

constexpr const char* kRunKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class RecordingMachine : public ImageMachine {
  public:
    using ImageMachine::ImageMachine;
    bool shellExecute(std::string_view verb, std::string_view file,
                      std::string_view params) override {
        shell.push_back(std::string(verb) + "|" + std::string(file) + "|" + std::string(params));
        return false;  // an image has no programs to start
    }
    std::vector<std::string> shell;
};

// Hands the worker's messages to the pane, as the main window does.
class Forwarder : public QObject {
  public:
    RegistryPane* pane = nullptr;
    bool event(QEvent* e) override {
        if (e->type() != MessageEvent::eventType()) return QObject::event(e);
        if (pane) pane->handleMessage(static_cast<MessageEvent*>(e)->msg);
        return true;
    }
};

// Startup Programs, the way the real scanner sees it: a Run value whose file
// is missing is a problem.
void startupScanner(ScanContext& ctx) {
    RegistryKey key(ctx.machine.registry(), RootKey::CurrentUser);
    if (!key.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run")) return;
    for (const std::string& name : key.valueNames()) {
        auto file = key.readString(name);
        ctx.showKey(std::string(kRunKey) + "\\" + name);
        if (file && !ctx.machine.files().fileExists(*file))
            ctx.AddProblem("Non-existent Startup Programs", *file,
                           std::string(kRunKey) + "\\" + name, pkValue);
    }
}

ScannerFn rowsScanner(std::vector<RegistryProblem> rows, bool waitForStop = false) {
    return [rows, waitForStop](ScanContext& ctx) {
        for (const auto& r : rows) ctx.AddProblem(r);
        while (waitForStop && !ctx.terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
}

RegistryProblem row(const char* problem, const char* data, std::string key, ProblemKind kind) {
    return RegistryProblem{false, problem, data, std::move(key), kind};
}

struct Fixture {
    test::TempDir dir;
    std::unique_ptr<RecordingMachine> machine;
    MainModel model;
    Forwarder receiver;
    QtMessageTarget target{&receiver};
    DefaultPrompter prompter;
    ScannerTable table;
    std::unique_ptr<QWidget> host;
    RegistryPane* pane = nullptr;

    Fixture() {
        MachineBuilder b;
        b.addRegText(
            "REGEDIT4\r\n"
            "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
            "\"Gone\"=\"C:\\\\Program Files\\\\Gone\\\\gone.exe\"\r\n"
            "\"Here\"=\"C:\\\\Windows\\\\notepad.exe\"\r\n"
            "[HKEY_CURRENT_USER\\Software\\Lexmark\\Printer]\r\n");
        b.addFile("C:\\Windows\\notepad.exe", "MZ");
        b.write(dir.path());
        machine = std::make_unique<RecordingMachine>(dir.path());
        model.Settings.IncludeRemoveMedia = true;
    }
    ~Fixture() { host.reset(); }

    RegistryPane& make(const std::vector<int>& sections) {
        model.sectionTree = buildSectionTree();
        model.sectionTree.uncheckAll();
        for (int code : sections) setChecked(*model.sectionTree.findByImageIndex(code), true);
        host = std::make_unique<QWidget>();
        host->resize(760, 420);
        auto* tree = new CheckTreeView;
        tree->setTree(&model.sectionTree);
        pane = new RegistryPane(*machine, model, target, prompter, table, tree, host.get());
        (new QHBoxLayout(host.get()))->addWidget(pane);
        receiver.pane = pane;
        host->show();
        return *pane;
    }
    ProblemListModel& list() { return *pane->problemModel(); }
    QString cell(int r, int c) { return list().index(r, c).data().toString(); }
    bool checked(int r) {
        return list().index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }
    QString status() { return pane->statusLabel()->text(); }
    void trigger(const char* action) { pane->action(action)->trigger(); }
};

bool waitForScanEnd(RegistryPane& pane) {
    QElapsedTimer t;
    t.start();
    while (pane.scanInProgress() && t.elapsed() < 20000) QTest::qWait(10);
    return !pane.scanInProgress();
}

}  // namespace

class RegistryPaneTest : public QObject {
    Q_OBJECT

  private slots:
    void scanFillsTheListWithEveryRowChecked() {
        Fixture f;
        f.table.add(kSecStartupPrograms, startupScanner);
        f.table.add(kSecObsoleteSoftware,
                    rowsScanner({row("Obsolete Software Entry", "",
                                     "HKEY_CURRENT_USER\\Software\\Lexmark\\Printer", pkKey),
                                 row("Obsolete Software Entry", "",
                                     "HKEY_CURRENT_USER\\Software\\Old", pkKey)}));
        // A failing section costs only itself, and the pane says so after the scan.
        f.table.add(kSecSoundAppevents, [](ScanContext&) { throw std::runtime_error("boom"); });
        RegistryPane& pane =
            f.make({kSecObsoleteSoftware, kSecStartupPrograms, kSecSoundAppevents});
        QVERIFY(QTest::qWaitForWindowExposed(f.host.get()));
        QVERIFY(!pane.failuresLabel()->isVisible());
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Scan"));
        QCOMPARE(pane.titleLabel()->text(), QStringLiteral("Select the sections to scan"));
        QCOMPARE(f.status(), QStringLiteral(" 0 Errors Found,  0 Errors Selected."));
        QVERIFY(!pane.keyDisplay()->isVisible());
        QVERIFY(!pane.progressBar()->isVisible());
        const QStringList headers = {"Problem", "Data", "Registry key"};
        for (int c = 0; c < 3; ++c)
            QCOMPARE(f.list().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                     headers[c]);

        QTest::mouseClick(pane.scanButton(), Qt::LeftButton);
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Cancel"));
        QVERIFY(pane.keyDisplay()->isVisible());
        QVERIFY(pane.progressBar()->isVisible());
        QVERIFY(!pane.progressBar()->isTextVisible());
        QVERIFY(waitForScanEnd(pane));

        // The Lexmark key is on the built-in exclusion list; the rest are checked.
        QCOMPARE(f.list().rowCount(), 2);
        QCOMPARE(f.cell(0, 0), QStringLiteral("Obsolete Software Entry"));
        QCOMPARE(f.cell(0, 2), QStringLiteral("HKEY_CURRENT_USER\\Software\\Old"));
        QCOMPARE(f.cell(1, 0), QStringLiteral("Non-existent Startup Programs"));
        QCOMPARE(f.cell(1, 1), QStringLiteral("C:\\Program Files\\Gone\\gone.exe"));
        QCOMPARE(f.cell(1, 2), QString::fromLatin1(kRunKey) + QStringLiteral("\\Gone"));
        QVERIFY(f.checked(0) && f.checked(1));
        QCOMPARE(f.status(), QStringLiteral(" 2 Errors Found,  2 Errors Selected."));
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Scan"));
        QCOMPARE(pane.titleLabel()->text(), QStringLiteral("Select the sections to scan"));
        QVERIFY(!pane.keyDisplay()->isVisible());
        QCOMPARE(pane.progressBar()->value(), 1000);
        QVERIFY(pane.progressBar()->isTextVisible());
        QCOMPARE(pane.progressBar()->text(), QStringLiteral("Finished!"));
        QVERIFY(!pane.findChild<QTimer*>("tmRegistryProgress")->isActive());
        QVERIFY(pane.failuresLabel()->isVisible());
        QCOMPARE(pane.failuresLabel()->text(),
                 QStringLiteral("Skipped \"Sound and Appevents\": the section could not be scanned "
                                "(boom)."));

        // Nothing ticked: the user is told, and the list stays as it was.
        f.model.sectionTree.uncheckAll();
        pane.bScanClick();
        QCOMPARE(
            f.prompter.lastText,
            std::string("Please select the sections which you want to scan from the left list."));
        QVERIFY(!pane.scanInProgress());
        QCOMPARE(f.list().rowCount(), 2);
    }

    void cancelKeepsAFilteredPartialResult() {
        Fixture f;
        f.table.add(
            kSecObsoleteSoftware,
            rowsScanner(
                {row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\A", pkKey),
                 row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\Lexmark", pkKey),
                 row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\C", pkKey)},
                true));
        f.table.add(kSecStartupPrograms, startupScanner);
        RegistryPane& pane = f.make({kSecObsoleteSoftware, kSecStartupPrograms});
        pane.bScanClick();
        // Rows reach the view while the worker still runs.
        QTRY_COMPARE(f.list().rowCount(), 3);
        QVERIFY(pane.scanInProgress());
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Cancel"));
        QTRY_COMPARE(f.status(), QStringLiteral(" 3 Errors Found,  0 Errors Selected."));
        QVERIFY(pane.findChild<QTimer*>("tmRegistryProgress")->isActive());
        // The row actions work on the rows already there.
        pane.selectRow(0);
        f.trigger("aSelectItem");
        QVERIFY(f.checked(0));
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  1 Errors Selected."));

        QTest::mouseClick(pane.scanButton(), Qt::LeftButton);
        QVERIFY(!pane.scanInProgress());
        // Rows arrive whole, so all stay; Lexmark is filtered out.
        QCOMPARE(f.list().rowCount(), 2);
        QCOMPARE(f.cell(0, 2), QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QCOMPARE(f.cell(1, 2), QStringLiteral("HKEY_CURRENT_USER\\Software\\C"));
        QVERIFY(f.checked(0) && f.checked(1));
        QCOMPARE(f.status(), QStringLiteral(" 2 Errors Found,  2 Errors Selected."));
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Scan"));
        QVERIFY(!pane.keyDisplay()->isVisible());
        QCOMPARE(pane.progressBar()->text(), QStringLiteral("Cancelled"));
        QVERIFY(!pane.findChild<QTimer*>("tmRegistryProgress")->isActive());
        // A message the stopped worker may have left behind changes nothing.
        pane.handleMessage(WM_REGSCAN_DONE);
        QTest::qWait(100);
        QCOMPARE(f.list().rowCount(), 2);
    }

    void selectActionsAndTheirEnabling() {
        Fixture f;
        f.table.add(
            kSecObsoleteSoftware,
            rowsScanner(
                {row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\A", pkKey),
                 row("ActiveX Issue", "x.ocx", "HKEY_CLASSES_ROOT\\CLSID\\{1}", pkKey),
                 row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\B", pkKey)}));
        RegistryPane& pane = f.make({kSecObsoleteSoftware});
        QVERIFY(QTest::qWaitForWindowExposed(f.host.get()));
        pane.bScanClick();
        QVERIFY(waitForScanEnd(pane));
        QCOMPARE(f.list().rowCount(), 3);

        QStringList captions;
        for (QAction* a : pane.popupMenu()->actions())
            captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(captions, QStringList({"&Select Item", "&Deselect Item", "-",
                                        "Select All of T&ype", "Deselect A&ll of Type", "-",
                                        "Select &All", "D&eselect All", "-", "Add to &Ignore Lists",
                                        "-", "Save as &Text...", "-", "&RegEdit..."}));
        const char* rowActions[] = {"aSelectItem",      "aDeselectItem",  "aSelectAllType",
                                    "aUnselectAllType", "aIgnoreListAdd", "aOpenRegedit"};
        for (const char* a : rowActions) QVERIFY2(!pane.action(a)->isEnabled(), a);
        QVERIFY(pane.action("aSelectAll")->isEnabled() && pane.action("aSelectNone")->isEnabled());

        f.trigger("aSelectNone");
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  0 Errors Selected."));
        // A click on a row selects it for the row actions.
        QTreeView* view = pane.problemList();
        QRect r = view->visualRect(f.list().index(2, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(f.pane->run().selectedRow(), std::optional<size_t>(2));
        for (const char* a : rowActions) QVERIFY2(pane.action(a)->isEnabled(), a);
        f.trigger("aSelectAllType");
        QVERIFY(f.checked(0) && !f.checked(1) && f.checked(2));
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  2 Errors Selected."));
        f.trigger("aDeselectItem");
        QVERIFY(f.checked(0) && !f.checked(2));
        f.trigger("aSelectItem");
        f.trigger("aUnselectAllType");
        QVERIFY(!f.checked(0) && !f.checked(1) && !f.checked(2));
        f.trigger("aSelectAll");
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  3 Errors Selected."));
        // The row's check box.
        QVERIFY(f.list().setData(f.list().index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!f.checked(1));
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  2 Errors Selected."));
        QVERIFY(f.list().flags(f.list().index(1, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(f.list().flags(f.list().index(1, 2)) & Qt::ItemIsUserCheckable));
    }

    void addToIgnoreListsMovesRowsIntoTheSettings() {
        Fixture f;
        f.table.add(
            kSecObsoleteSoftware,
            rowsScanner(
                {row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\Old", pkKey),
                 row("Missing ShortCut reference", "C:\\gone.exe",
                     "C:\\Users\\User\\Desktop\\Gone.lnk", pkFile),
                 row("Non-existent Startup Programs", "C:\\x.exe", std::string(kRunKey) + "\\Gone",
                     pkValue),
                 row("Obsolete Software Entry", "", "HKEY_CURRENT_USER\\Software\\Old2", pkKey)}));
        RegistryPane& pane = f.make({kSecObsoleteSoftware});
        pane.bScanClick();
        QVERIFY(waitForScanEnd(pane));
        QCOMPARE(f.list().rowCount(), 4);

        // Nothing selected: nothing happens.
        f.trigger("aIgnoreListAdd");
        QCOMPARE(f.list().rowCount(), 4);

        pane.selectRow(2);  // the Run value
        f.trigger("aIgnoreListAdd");
        QCOMPARE(f.list().rowCount(), 3);
        QCOMPARE(f.model.Settings.IgnoreValueList,
                 std::vector<std::string>{std::string(kRunKey) + "\\Gone"});
        QCOMPARE(f.model.Settings.IgnoreValueCount, 1);
        QVERIFY(!pane.action("aIgnoreListAdd")->isEnabled());  // the row went, and its selection
        QCOMPARE(f.status(), QStringLiteral(" 3 Errors Found,  3 Errors Selected."));

        pane.selectRow(0);
        f.trigger("aIgnoreListAdd");
        QCOMPARE(f.model.Settings.IgnoreKeyList,
                 std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Old"});
        QCOMPARE(f.cell(0, 2), QStringLiteral("C:\\Users\\User\\Desktop\\Gone.lnk"));

        // A shortcut row only leaves the list.
        pane.selectRow(0);
        f.trigger("aIgnoreListAdd");
        QCOMPARE(f.list().rowCount(), 1);
        QCOMPARE(f.model.Settings.IgnoreKeyList.size(), size_t(1));
        QCOMPARE(f.model.Settings.IgnoreValueList.size(), size_t(1));

        // An entry that is listed already leaves the row and the list alone.
        f.model.Settings.IgnoreKeyList.push_back("hkey_current_user\\software\\old2");
        pane.selectRow(0);
        f.trigger("aIgnoreListAdd");
        QCOMPARE(f.list().rowCount(), 1);
        QCOMPARE(f.model.Settings.IgnoreKeyList.size(), size_t(2));

        // The next scan leaves out what the lists now hold; the shortcut comes back.
        pane.bScanClick();
        QVERIFY(waitForScanEnd(pane));
        QCOMPARE(f.list().rowCount(), 1);
        QCOMPARE(f.cell(0, 2), QStringLiteral("C:\\Users\\User\\Desktop\\Gone.lnk"));
    }

    void dialogOkRuleAndRegistryEditor() {
        Fixture f;
        TfrmRegAddRegistry dlg(*f.machine);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Add to Ignore List"));
        QCOMPARE(dlg.findChild<QLabel*>("lRegistryKey")->text(), QStringLiteral("Registry Key"));
        QCOMPARE(
            dlg.findChild<QLabel*>("lHint")->text(),
            QStringLiteral("Enter the value or key like: HKEY_CURRENT_USER\\Software\\Microsoft"));
        QCOMPARE(dlg.okButton()->text(), QStringLiteral("&OK"));
        QCOMPARE(dlg.cancelButton()->text(), QStringLiteral("&Cancel"));
        QCOMPARE(dlg.regeditButton()->text(), QStringLiteral("&Launch Registry Editor"));
        QVERIFY(!dlg.okButton()->isEnabled());

        const std::pair<const char*, bool> cases[] = {
            {"hkcu\\software", false},
            {"hkey_current_user\\software", true},
            {"my HKEY_ key", true},
            {"HKEY", false},
        };
        for (auto [text, enabled] : cases) {
            dlg.eRegistryKey()->clear();
            QTest::keyClicks(dlg.eRegistryKey(), QString::fromLatin1(text));
            QVERIFY2(dlg.okButton()->isEnabled() == enabled, text);
        }
        // Enter does nothing while OK is disabled.
        dlg.show();
        QTest::keyClick(dlg.eRegistryKey(), Qt::Key_Return);
        QVERIFY(dlg.isVisible());

        dlg.setRegistryKey("HKEY_CURRENT_USER\\Software\\Vendor");
        QVERIFY(dlg.okButton()->isEnabled());
        QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.registryKey(), std::string("HKEY_CURRENT_USER\\Software\\Vendor"));

        dlg.show();
        QTest::mouseClick(dlg.cancelButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));

        QTest::mouseClick(dlg.regeditButton(), Qt::LeftButton);
        QCOMPARE(f.machine->shell, std::vector<std::string>{"Open|Regedit.exe|"});
    }

    void fiftyThousandRows() {
        Fixture f;
        constexpr int kRows = 50000;
        f.table.add(kSecEmptyKeys, [](ScanContext& ctx) {
            for (int i = 0; i < kRows; ++i)
                ctx.AddProblem(i % 2 ? "Empty Registry Keys" : "Obsolete Software Entry", "",
                               "HKEY_CURRENT_USER\\Software\\Empty\\Key" + std::to_string(i),
                               pkKey);
        });
        RegistryPane& pane = f.make({kSecEmptyKeys});
        QVERIFY(QTest::qWaitForWindowExposed(f.host.get()));
        QElapsedTimer t;
        t.start();
        pane.bScanClick();
        QVERIFY(waitForScanEnd(pane));
        qInfo("scan of %d rows shown in %lld ms", kRows, t.elapsed());
        QCOMPARE(f.list().rowCount(), kRows);
        QCOMPARE(f.status(), QStringLiteral(" 50000 Errors Found,  50000 Errors Selected."));
        QCOMPARE(f.cell(kRows - 1, 2),
                 QStringLiteral("HKEY_CURRENT_USER\\Software\\Empty\\Key49999"));
        pane.problemList()->scrollToBottom();
        pane.selectRow(kRows - 1);
        f.trigger("aUnselectAllType");
        QCOMPARE(f.status(), QStringLiteral(" 50000 Errors Found,  25000 Errors Selected."));
        QVERIFY(!f.checked(kRows - 1) && f.checked(kRows - 2));
    }

    // The pane inside the main window, with the real scanners on the demo machine.
    void mainWindowScansTheDemoMachine() {
        test::TempDir dir;
        createDemoMachine(dir.path());
        RecordingMachine m(dir.path());
        TfrmMain w(m, parseStartArgs({}));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(w.lifecycle().firstActivationDone());
        w.FlatButtonClick(kTagRegistry);
        RegistryPane& pane = *w.registryPane();
        QVERIFY(pane.isVisible());
        QCOMPARE(w.findChild<QTreeView*>("lvRegistryData"), pane.problemList());

        QTest::mouseClick(pane.scanButton(), Qt::LeftButton);
        QVERIFY(w.scanInProgress());
        QVERIFY(waitForScanEnd(pane));
        const int rows = pane.problemModel()->rowCount();
        QVERIFY(rows > 10);
        for (int r = 0; r < rows; ++r)
            QCOMPARE(pane.problemModel()->index(r, 0).data(Qt::CheckStateRole).toInt(),
                     int(Qt::Checked));
        QCOMPARE(pane.statusLabel()->text(),
                 QStringLiteral(" %1 Errors Found,  %1 Errors Selected.").arg(rows));
        if (qEnvironmentVariableIsSet("BRISKO_SCREENSHOT")) {  // for a look at the pane
            QTest::qWait(50);                                  // the layout settles
            w.grab().save(qEnvironmentVariable("BRISKO_SCREENSHOT"));
        }

        // Closing in the middle of a scan stops it first.
        pane.bScanClick();
        QVERIFY(w.scanInProgress());
        w.close();
        QVERIFY(!w.scanInProgress());
        QCOMPARE(pane.scanButton()->text(), QStringLiteral("Scan"));

        // A window that goes away with a scan running ends the worker first.
        auto other = std::make_unique<TfrmMain>(m, parseStartArgs({}));
        other->registryPane()->bScanClick();
        QVERIFY(other->scanInProgress());
        other.reset();
    }

    // "/Clear": hidden, the scan runs, every problem is fixed and the window closes.
    void clearSwitchScansAndCloses() {
        test::TempDir dir;
        createDemoMachine(dir.path());
        RecordingMachine m(dir.path());
        TfrmMain w(m, parseStartArgs({"/Clear"}));
        QSignalSpy ended(&w, &TfrmMain::terminated);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
        QVERIFY(!w.isVisible());
        ScanRun& run = w.registryPane()->run();
        // Only what the deletions left behind stays, unchecked and said so.
        QCOMPARE(checkedCount(run.rows()), size_t(0));
        QCOMPARE(run.fixNote().empty(), run.rowCount() == 0);
        QCOMPARE(run.progressCaption(), kFixFinishedCaption);
        QCOMPARE(ended.at(0).at(0).toInt(), 0);
        // Their backup is in the backup folder.
        QVERIFY(m.files().findFiles(w.model().Settings.OutputDirectory, "*.reg")->size() == 1);
    }
};

QTEST_MAIN(RegistryPaneTest)
#include "registry_pane_test.moc"
