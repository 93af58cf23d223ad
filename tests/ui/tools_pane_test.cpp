// The Tools pane on small image machines: the Startup manager's list, its
// check boxes and deletion with backup, and the tool buttons.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/messages.h"
#include "core/settings.h"
#include "demo/machine_builder.h"
#include "demo/shortcut_file.h"
#include "support/test_machine.h"
#include "ui/elided_label.h"
#include "ui/restore_dialog.h"
#include "ui/tools_pane.h"

using namespace brisko;

namespace {

const std::string kUserStartup =
    "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";
const std::string kCommonStartup =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\";

std::unique_ptr<ImageMachine> buildMachine(const test::TempDir& dir, bool withBackupProgram) {
    MachineBuilder b;
    b.addRegText(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"Agent"="C:\\Apps\\agent.exe /tray"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"Tray"="C:\\Apps\\tray.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce]
"Once"="C:\\Apps\\once.exe"
)");
    b.addFile(kUserStartup + "Notes.lnk", shortcutFileBytes("C:\\Apps\\notes.exe"));
    b.addFile(kCommonStartup + "Shared.lnk", shortcutFileBytes("C:\\Apps\\shared.exe"));
    b.addFolder("C:\\Windows\\System32");
    if (withBackupProgram) b.addFile("C:\\Windows\\System32\\sdclt.exe", "MZ");
    b.addFolder("C:\\Backups");
    b.write(dir.path());
    return std::make_unique<ImageMachine>(dir.path());
}

QStringList column(QTreeWidget* list, int c) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(c);
    return out;
}

}  // namespace

class ToolsPaneTest : public QObject {
    Q_OBJECT

  private slots:
    void fillsOnlyWhenAskedInSourceOrder() {
        test::TempDir dir;
        auto m = buildMachine(dir, false);
        TOptionsSetting s;
        s.OutputDirectory = "C:\\Backups";
        DefaultPrompter prompter;
        ToolsPane pane(*m, s, prompter, 12);
        QCOMPARE(pane.lvStartup()->topLevelItemCount(), 0);  // nothing read when it opens
        pane.findChild<QPushButton*>("bStartup")->click();
        QCOMPARE(column(pane.lvStartup(), 0),
                 QStringList({"Agent", "Tray", "Once", "Notes.lnk", "Shared.lnk"}));
        QCOMPARE(
            column(pane.lvStartup(), 2),
            QStringList({"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                         "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                         "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                         "RunOnce",
                         "Startup", "Common Startup"}));
        QCOMPARE(pane.lvStartup()->topLevelItem(3)->text(1), QStringLiteral("C:\\Apps\\notes.exe"));
        // Cut cells show in full as a tool tip.
        QCOMPARE(pane.lvStartup()->topLevelItem(0)->toolTip(1),
                 QStringLiteral("C:\\Apps\\agent.exe /tray"));
        QVERIFY(!pane.findChild<QPushButton*>("bDeleteEntry")->isEnabled());
        pane.findChild<QPushButton*>("bSelectAll")->click();
        QVERIFY(pane.findChild<QPushButton*>("bDeleteEntry")->isEnabled());
        pane.findChild<QPushButton*>("bSelectNone")->click();
        QVERIFY(!pane.findChild<QPushButton*>("bDeleteEntry")->isEnabled());

        // Windows Backup: disabled, and says why, on a machine without it.
        QPushButton* backup = pane.bWindowsBackup();
        QVERIFY(!backup->isEnabled());
        QVERIFY(backup->toolTip().contains(QLatin1String("no Windows backup program")));
        test::TempDir dir2;
        auto withBackup = buildMachine(dir2, true);
        ToolsPane pane2(*withBackup, s, prompter, 12);
        QVERIFY(pane2.bWindowsBackup()->isEnabled());
        // An image cannot start programs: the click says so rather than pretend.
        pane2.bWindowsBackup()->click();
        QVERIFY(
            QString::fromStdString(prompter.lastText).contains(QLatin1String("cannot be started")));
    }

    void deletesTickedRowsBottomUpWithBackups() {
        test::TempDir dir;
        auto m = buildMachine(dir, false);
        TOptionsSetting s;
        s.OutputDirectory = "C:\\Backups\\Startup";  // missing: created after asking
        DefaultPrompter prompter;  // the default button of "creates a new directory?" is Yes
        ToolsPane pane(*m, s, prompter, 12);
        int commits = 0;
        pane.commitRegistry = [&] {
            ++commits;
            return m->registry().commit();
        };
        pane.bStartupClick();
        QTreeWidget* list = pane.lvStartup();
        for (int i : {0, 3, 4}) list->topLevelItem(i)->setCheckState(0, Qt::Checked);
        pane.findChild<QPushButton*>("bDeleteEntry")->click();
        QCOMPARE(column(list, 0), QStringList({"Tray", "Once"}));
        QCOMPARE(commits, 1);
        QVERIFY(m->files().directoryExists("C:\\Backups\\Startup"));
        auto regs = m->files().findFiles("C:\\Backups\\Startup", "*.reg");
        QVERIFY(regs && regs->size() == 1);
        QVERIFY(!m->files().fileExists(kUserStartup + "Notes.lnk"));
        RegistryKey run(m->registry(), RootKey::CurrentUser);
        QVERIFY(run.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
        QVERIFY(!run.valueExists("Agent"));
        // The status line names the whole backup: cut in the middle when the
        // pane is narrow, in full in its tool tip.
        const QString full = QStringLiteral("3 deleted; backup in C:\\Backups\\Startup\\") +
                             QString::fromStdString((*regs)[0].name);
        QCOMPARE(pane.statusLine()->toolTip(), full);
        pane.resize(720, 300);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QVERIFY(pane.statusLine()->width() > 0);
        QVERIFY(pane.statusLine()->text() != full);
        QVERIFY(pane.statusLine()->text().startsWith(QLatin1String("3 deleted")));
        QVERIFY(pane.statusLine()->text().endsWith(QLatin1String("_startup.reg")));
        // Pressing "Startup" again shows the real state.
        pane.bStartupClick();
        QCOMPARE(list->topLevelItemCount(), 2);

        // "Restore..." lists the startup backups only.
        m->files().createFile("C:\\Backups\\Startup\\2013_07_04_093005.reg");
        QStringList listed;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<TfrmRestore*>(QApplication::activeModalWidget());
            if (!d) return;
            listed = column(d->listView(), 0);
            d->reject();
        });
        pane.bRestoreStartup()->click();
        QCOMPARE(listed, QStringList({QString::fromStdString((*regs)[0].name)}));
        QCOMPARE(list->topLevelItemCount(), 2);
    }

    void withoutABackupNothingIsDeletedAndTheRowsStay() {
        test::TempDir dir;
        auto m = buildMachine(dir, false);
        TOptionsSetting s;
        s.OutputDirectory = "C:\\Backups\\x";
        m->files().createFile("C:\\Backups\\x");  // a file where the folder would go
        DefaultPrompter prompter;
        ToolsPane pane(*m, s, prompter, 12);
        pane.bStartupClick();
        pane.bSelectAllClick();
        s.OutputDirectory = "C:\\Backups\\x\\y";
        pane.bDeleteEntryClick();
        QCOMPARE(pane.lvStartup()->topLevelItemCount(), 5);
        QVERIFY(m->files().fileExists(kCommonStartup + "Shared.lnk"));
        QVERIFY(
            QString::fromStdString(prompter.lastText).startsWith(QLatin1String("Cannot create")));
    }
};

QTEST_MAIN(ToolsPaneTest)
#include "tools_pane_test.moc"
