// Fix Errors, the restore dialog with its registry-editor child process, and
// the registry viewer of "&RegEdit...", under the offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/main_lifecycle.h"
#include "demo/machine_builder.h"
#include "registry/scan_context.h"
#include "registry/scan_run.h"
#include "registry/section_tree.h"
#include "support/test_machine.h"
#include "ui/backup_hint_dialog.h"
#include "ui/check_tree_view.h"
#include "ui/qt_message_target.h"
#include "ui/registry_pane.h"
#include "ui/registry_viewer.h"
#include "ui/restore_dialog.h"

using namespace brisko;

namespace {

constexpr const char* kRunKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class Forwarder : public QObject {
  public:
    RegistryPane* pane = nullptr;
    bool event(QEvent* e) override {
        if (e->type() != MessageEvent::eventType()) return QObject::event(e);
        if (pane) pane->handleMessage(static_cast<MessageEvent*>(e)->msg);
        return true;
    }
};

void startupScanner(ScanContext& ctx) {
    RegistryKey key(ctx.machine.registry(), RootKey::CurrentUser);
    if (!key.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run")) return;
    for (const std::string& name : key.valueNames()) {
        auto file = key.readString(name);
        if (file && !ctx.machine.files().fileExists(*file))
            ctx.AddProblem("Non-existent Startup Programs", *file,
                           std::string(kRunKey) + "\\" + name, pkValue);
    }
}

struct Fixture {
    test::TempDir dir;
    std::unique_ptr<ImageMachine> machine;
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
            "\"Here\"=\"C:\\\\Windows\\\\notepad.exe\"\r\n");
        b.addFile("C:\\Windows\\notepad.exe", "MZ");
        b.write(dir.path());
        machine = std::make_unique<ImageMachine>(dir.path());
        model.Settings.OutputDirectory = "C:\\Brisko Backup";
        model.Settings.DeleteBackupFile = true;
        table.add(kSecStartupPrograms, startupScanner);
        model.sectionTree = buildSectionTree();
        model.sectionTree.uncheckAll();
        setChecked(*model.sectionTree.findByImageIndex(kSecStartupPrograms), true);
        host = std::make_unique<QWidget>();
        auto* tree = new CheckTreeView;
        tree->setTree(&model.sectionTree);
        pane = new RegistryPane(*machine, model, target, prompter, table, tree, host.get());
        (new QHBoxLayout(host.get()))->addWidget(pane);
        receiver.pane = pane;
        host->show();
    }
    bool scan() {
        pane->bScanClick();
        QElapsedTimer t;
        t.start();
        while (pane->scanInProgress() && t.elapsed() < 20000) QTest::qWait(10);
        return !pane->scanInProgress() && pane->run().rowCount() == 1;
    }
    bool goneThere() {
        auto k = openFullPath(machine->registry(), kRunKey, KeyAccess::Read);
        return k && k->value("Gone").has_value();
    }
};

// The brisko program of this build, for the registry editor's child process.
std::string briskoOfThisBuild() {
    return (std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / ".." /
            "brisko")
        .lexically_normal()
        .string();
}

// Presses "Stop" of the progress hint once it is up.
void stopHintSoon() {
    QTimer::singleShot(400, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* hint = qobject_cast<TfrmBackupHint*>(w); hint && hint->isVisible())
                hint->bStop()->click();
    });
}

}  // namespace

class RegistryFixTest : public QObject {
    Q_OBJECT

  private slots:
    void fixErrorsThenRestoreBringsTheValueBack() {
        qputenv("BRISKO_BIN", QByteArray::fromStdString(briskoOfThisBuild()));
        Fixture f;
        QVERIFY(!f.pane->fixButton()->isEnabled());
        QVERIFY(f.scan());
        QVERIFY(f.pane->fixButton()->isEnabled());
        QVERIFY(f.pane->bFixErrorsClick());
        // The backup folder was missing: the question's default button made it.
        QVERIFY(f.prompter.lastText.find("can not find the backup folder.") != std::string::npos);
        QCOMPARE(f.pane->run().rowCount(), size_t(0));
        QCOMPARE(f.pane->progressBar()->text(), QStringLiteral("Fix errors finished!"));
        QVERIFY(!f.goneThere());
        // What the fix deleted is in the hive file, not only in memory.
        f.machine->reloadRegistry();
        QVERIFY(!f.goneThere());

        TfrmRestore restore(*f.machine, f.model.Settings, f.prompter);
        restore.show();
        QCOMPARE(restore.eFolder()->text(), QStringLiteral("C:\\Brisko Backup"));
        QCOMPARE(restore.listView()->topLevelItemCount(), 1);
        QVERIFY(restore.listView()->topLevelItem(0)->text(0).endsWith(QStringLiteral(".reg")));
        QCOMPARE(restore.listView()->topLevelItem(0)->text(2), QStringLiteral("1 KB"));
        QVERIFY(!restore.bRestore()->isEnabled());
        restore.listView()->setCurrentItem(restore.listView()->topLevelItem(0));
        QVERIFY(restore.bRestore()->isEnabled());

        // A restore the user stops keeps its backup, DeleteBackupFile or not.
        qputenv("BRISKO_BIN", QByteArray::fromStdString((f.dir.path() / "slow.sh").string()));
        test::writeFile(f.dir.path() / "slow.sh", "#!/bin/sh\nsleep 30\n");
        std::filesystem::permissions(f.dir.path() / "slow.sh", std::filesystem::perms::owner_all);
        stopHintSoon();
        restore.bRestoreClick();
        QCOMPARE(restore.listView()->topLevelItemCount(), 1);
        QVERIFY(!f.goneThere());

        // The real import in a child process; the window reads the hives again.
        qputenv("BRISKO_BIN", QByteArray::fromStdString(briskoOfThisBuild()));
        restore.listView()->setCurrentItem(restore.listView()->topLevelItem(0));
        restore.bRestoreClick();
        QVERIFY(f.goneThere());
        QCOMPARE(restore.listView()->topLevelItemCount(), 0);  // DeleteBackupFile
    }

    void restoreWithoutRegistryEditorSaysSoAndKeepsTheBackup() {
        qputenv("BRISKO_BIN", "/nonexistent/brisko");
        Fixture f;
        QVERIFY(f.scan());
        QVERIFY(f.pane->bFixErrorsClick());
        TfrmRestore restore(*f.machine, f.model.Settings, f.prompter);
        restore.show();
        restore.listView()->setCurrentItem(restore.listView()->topLevelItem(0));
        restore.bRestoreClick();
        QCOMPARE(QString::fromStdString(f.prompter.lastText),
                 QStringLiteral("Please check if Regedit.exe exists."));
        QCOMPARE(restore.listView()->topLevelItemCount(), 1);
        restore.bDeleteClick();
        QCOMPARE(restore.listView()->topLevelItemCount(), 0);
        restore.setFolder(QStringLiteral("C:\\Nowhere"));
        QCOMPARE(QString::fromStdString(f.prompter.lastText),
                 QStringLiteral("can not find the backup folder."));
    }

    void regeditOpensTheViewerAtTheValueAndRemembersTheKey() {
        Fixture f;
        QVERIFY(f.scan());
        f.pane->selectRow(0);
        f.pane->aOpenRegeditExecute();
        TfrmRegistryViewer* viewer = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<TfrmRegistryViewer*>(w)) viewer = v;
        QVERIFY(viewer);
        QCOMPARE(
            QString::fromStdString(viewer->currentKey()),
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
        QVERIFY(viewer->valueList()->currentItem());
        QCOMPARE(viewer->valueList()->currentItem()->text(0), QStringLiteral("Gone"));
        RegistryKey k(f.machine->registry(), RootKey::CurrentUser);
        QVERIFY(
            k.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit"));
        QCOMPARE(QString::fromStdString(k.readString("LastKey").value_or("")),
                 QStringLiteral("Computer\\HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                "CurrentVersion\\Run"));
        viewer->close();
    }
};

QTEST_MAIN(RegistryFixTest)
#include "registry_fix_test.moc"
