// The Options dialog over an image machine: every control's round trip,
// OK and Cancel, the auto-start value in the machine's hive, the Boss Key
// capture and test, the cookie keep list editor and the ignore lists.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/messages.h"
#include "core/options_edit.h"
#include "core/settings.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"
#include "ui/hotkey_edit.h"
#include "ui/options_dialog.h"
#include "ui/reg_add_registry_dialog.h"

using namespace brisko;

namespace {

const std::string kCookies = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Cookies\\";

class FakeHotkeys : public HotkeyService {
  public:
    bool registerHotkey(int id, unsigned modifiers, unsigned key) override {
        tried.push_back({id, int(modifiers), int(key)});
        return !refuse && !noAtom;
    }
    Failure lastFailure() const override {
        return noAtom ? Failure::NoIdentifier : refuse ? Failure::KeyRefused : Failure::None;
    }
    void unregisterHotkey(int id) override { withdrawn.push_back(id); }
    bool refuse = false;
    bool noAtom = false;
    std::vector<std::array<int, 3>> tried;
    std::vector<int> withdrawn;
};

class HotkeyMachine : public ImageMachine {
  public:
    using ImageMachine::ImageMachine;
    HotkeyService* hotkeys() override { return &service; }
    FakeHotkeys service;
};

// The program installed on the machine it runs on, as on Windows.
class InstalledMachine : public ImageMachine {
  public:
    using ImageMachine::ImageMachine;
    std::string programFile() override { return "C:\\Program Files\\Brisko\\brisko-cleaner.exe"; }
};

// Records every box and answers its default button.
class RecordingPrompter : public Prompter {
  public:
    int ask(std::string_view text, unsigned flags) override {
        asked.emplace_back(text);
        return (flags & 0xF) == MB_YESNO ? IDYES : IDOK;
    }
    std::vector<std::string> asked;
};

void buildMachine(const test::TempDir& dir) {
    MachineBuilder b;
    b.addRegText(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n");
    b.addFile(kCookies + "user@a[1].txt", "id\n1\na.example.com/\n");
    b.addFile(kCookies + "user@b[1].txt", "id\n1\nb.example.com/path/\n");
    b.addFile(kCookies + "user@c[1].txt", "id\n1\nc.example.com\n");
    b.addFolder("C:\\Program Files\\Brisko Cleaner");
    b.addFolder("C:\\Backups");
    b.addFolder("C:\\Other Backups");
    b.write(dir.path());
}

TOptionsSetting baseSettings() {
    TOptionsSetting s;
    s.WipeNumber = 1;
    s.OutputDirectory = "C:\\Backups";
    s.IgnoreValueList = {"HKEY_CURRENT_USER\\Software\\A\\v"};
    s.IgnoreKeyList = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\K1", "HKEY_LOCAL_MACHINE\\SOFTWARE\\K2"};
    return s;
}

QStringList items(QListWidget* l) {
    QStringList out;
    for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
    return out;
}

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlRoundTripsThroughOk() {
        test::TempDir dir;
        buildMachine(dir);
        InstalledMachine m(dir.path());
        TOptionsSetting s = baseSettings();
        s.WipeNumber = 10;
        s.CleanInterval = 3;
        s.EnableHotkey = false;
        RecordingPrompter prompter;
        int armed = 0, rehooked = 0;
        OptionsHost host;
        host.armSchedule = [&] { ++armed; };
        host.reregisterHotkey = [&] { ++rehooked; };
        host.commitRegistry = [&] { return m.registry().commit(); };
        TfrmOptions d(m, s, prompter, host);
        QCOMPARE(d.pages()->currentIndex(), 0);
        QCOMPARE(d.cbWipeNumber->currentText(), QStringLiteral("10"));
        QVERIFY(d.rbInterval[3]->isChecked());
        QVERIFY(!d.rgWashInterval->isEnabled());  // follows "Automatic clean enabled"
        QVERIFY(d.suiRadioButton1->isChecked());
        QCOMPARE(d.eOutputFolder->text(), QStringLiteral("C:\\Backups"));
        QCOMPARE(d.lvKeys->topLevelItemCount(), 2);
        // On an image there are no hot keys: said once, in the Boss Key tab.
        QVERIFY(!d.lHotkeyService->isHidden());

        for (QCheckBox* cb : {d.cbAskClear, d.cbWipeFile, d.cbDeleteBackupFile,
                              d.cbIgnoreRemoveMedia, d.cbIncludeCDdrive, d.cbCreateRestore,
                              d.cbFastScan, d.cbShowLogTempInternetFiles, d.cbShowLogRecycleBin,
                              d.cbShutdownWash, d.cbIE, d.cbNetscape, d.cbFirefox, d.cbOpera})
            cb->setChecked(true);
        d.cbAutoWash->click();
        QVERIFY(d.rgWashInterval->isEnabled());
        d.rbInterval[1]->setChecked(true);
        d.cbWipeNumber->setCurrentIndex(4);
        d.eOutputFolder->setText(QStringLiteral("C:\\Other Backups"));
        d.cbStartWash->setChecked(true);  // turns the auto start on with it
        d.suiRadioButton2->setChecked(true);
        QTest::keyClick(d.eHide, Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier);
        d.bOK->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(s.IsAskBeforeClear && s.IsWipeFile && s.DeleteBackupFile && s.IncludeRemoveMedia &&
                s.IncludeCDdrive && s.RestorePoint && s.FastScan && s.ShowLogTempInternetFiles &&
                s.ShowLogRecycleBin && s.ShutdownClean && s.StartClean && s.AutoClean);
        QVERIFY(s.EnableIE && s.EnableNetscape && s.EnableFirefox && s.EnableOpera);
        QCOMPARE(s.WipeNumber, 5);
        QCOMPARE(s.CleanInterval, 1);
        QCOMPARE(s.OutputDirectory, std::string("C:\\Other Backups"));
        QVERIFY(s.EnableHotkey);
        QCOMPARE(s.Hotkey, (TShortcut{true, false, true, "F5", 116}));
        QCOMPARE(armed, 1);
        QCOMPARE(rehooked, 1);
        QVERIFY(d.cbAutoStart->isChecked());
        QVERIFY(AutoStartEnabled(m));

        // What was written is what the program reads at its next start.
        TOptionsSetting again;
        LoadSettings(m, again, nullptr, WindowMetrics{});
        QCOMPARE(again.WipeNumber, 5);
        QCOMPARE(again.Hotkey, s.Hotkey);
        QCOMPARE(again.IgnoreKeyList, s.IgnoreKeyList);
        QVERIFY(prompter.asked.empty());

        // Off again: the value leaves the Run key, in the hive file too.
        TfrmOptions d2(m, s, prompter, host);
        QVERIFY(d2.cbAutoStart->isEnabled());
        QVERIFY(d2.cbAutoStart->isChecked());
        d2.cbStartWash->setChecked(false);
        d2.cbAutoStart->setChecked(false);
        d2.bOK->click();
        ImageMachine reopened(dir.path());
        QVERIFY(!AutoStartEnabled(reopened));
    }

    void cancelAndRefusedOkChangeNothing() {
        test::TempDir dir;
        buildMachine(dir);
        ImageMachine m(dir.path());
        TOptionsSetting s = baseSettings();
        const TOptionsSetting before = s;
        RecordingPrompter prompter;
        {
            TfrmOptions d(m, s, prompter, {});
            d.cbAskClear->setChecked(true);
            d.cbAutoStart->setChecked(true);
            d.bCancel->click();
            QCOMPARE(d.result(), int(QDialog::Rejected));
        }
        QVERIFY(s == before);
        QVERIFY(!AutoStartEnabled(m));

        TfrmOptions d(m, s, prompter, {});
        d.pages()->setCurrentIndex(2);
        d.cbAskClear->setChecked(true);
        d.eOutputFolder->setText(QStringLiteral("C:\\Missing"));
        d.bOK->click();
        QCOMPARE(prompter.asked.back(), std::string("C:\\Missing,can not find the backup folder."));
        QCOMPARE(d.pages()->currentIndex(), 0);
        QVERIFY(d.result() != int(QDialog::Accepted));
        QVERIFY(s == before);
    }

    void autoStartIsOffWhereNoProgramIsInstalled() {
        test::TempDir dir;
        buildMachine(dir);
        ImageMachine m(dir.path());
        TOptionsSetting s = baseSettings();
        RecordingPrompter prompter;
        TfrmOptions d(m, s, prompter, {});
        QVERIFY(!d.cbAutoStart->isEnabled());
        QVERIFY(d.cbAutoStart->toolTip().contains(QStringLiteral("not installed")));
        d.cbStartWash->setChecked(true);
        d.bOK->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(s.StartClean);
        QVERIFY(!AutoStartEnabled(m));
        QVERIFY(prompter.asked.empty());
    }

    void hotkeyCaptureNamesKeys() {
        HotkeyEdit e;
        auto press = [&](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(&e, Qt::Key(key), mods);
            return std::make_pair(e.text(), QString::fromStdString(e.keyName()));
        };
        QCOMPARE(press(Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier),
                 std::make_pair(QStringLiteral("Ctrl  Alt  F5"), QStringLiteral("F5")));
        QCOMPARE(e.keyCode(), 116u);
        QCOMPARE(press(Qt::Key_Control, Qt::ControlModifier).first, QStringLiteral("Ctrl  "));
        QCOMPARE(e.keyCode(), 0u);
        QCOMPARE(e.keyName(), std::string());
        QCOMPARE(press(Qt::Key_Delete).second, QStringLiteral("Del"));
        QCOMPARE(press(Qt::Key_7, Qt::KeypadModifier).second, QStringLiteral("Num 7"));
        QCOMPARE(press(Qt::Key_F13).second, QStringLiteral("F13"));
        QCOMPARE(press(Qt::Key_Semicolon, Qt::ControlModifier).first, QString());
        // Typing writes nothing.
        QTest::keyClicks(&e, QStringLiteral("abc"));
        QCOMPARE(e.text(), QStringLiteral("C"));  // the last key's name, not the typed text
    }

    void hotkeyTestOnAMachineWithHotkeys() {
        test::TempDir dir;
        buildMachine(dir);
        HotkeyMachine m(dir.path());
        TOptionsSetting s = baseSettings();
        s.EnableHotkey = true;
        s.Hotkey = {true, false, false, "H", 72};
        RecordingPrompter prompter;
        TfrmOptions d(m, s, prompter, {});
        QVERIFY(d.lHotkeyService->isHidden());
        QCOMPARE(d.eHide->text(), QStringLiteral("Ctrl  H"));
        // Refused by the system: the box goes back, the dialog stays open.
        m.service.refuse = true;
        QTest::keyClick(d.eHide, Qt::Key_F7, Qt::ShiftModifier);
        d.bOK->click();
        QCOMPARE(prompter.asked.back(),
                 std::string("The hotkey for Boss Key failed, please try to use other key!"));
        QCOMPARE(d.eHide->text(), QStringLiteral("Ctrl  H"));
        QVERIFY(d.result() != int(QDialog::Accepted));
        QCOMPARE(m.service.tried.back(), (std::array<int, 3>{0xC002, 4, 118}));
        // No identifier to be had: the key stays in the box for another try.
        m.service.refuse = false;
        m.service.noAtom = true;
        QTest::keyClick(d.eHide, Qt::Key_F7, Qt::ShiftModifier);
        d.bOK->click();
        QCOMPARE(prompter.asked.back(),
                 std::string("Hotkey setting failed, please run application again!"));
        QCOMPARE(d.eHide->text(), QStringLiteral("Shift  F7"));
        QVERIFY(d.result() != int(QDialog::Accepted));
        m.service.noAtom = false;
        // Accepted: tried and withdrawn at once.
        m.service.refuse = false;
        QTest::keyClick(d.eHide, Qt::Key_F7, Qt::ShiftModifier);
        d.bOK->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(m.service.withdrawn.back(), 0xC002);
        QCOMPARE(s.Hotkey, (TShortcut{false, true, false, "F7", 118}));

        // Turned on with an empty box: refused before any registration.
        TOptionsSetting blank = baseSettings();
        TfrmOptions d2(m, blank, prompter, {});
        size_t tries = m.service.tried.size();
        d2.suiRadioButton2->setChecked(true);
        d2.bOK->click();
        QCOMPARE(prompter.asked.back(), std::string("The hotkey setting cannot be blank."));
        QCOMPARE(m.service.tried.size(), tries);
    }

    void cookieKeepListEditor() {
        test::TempDir dir;
        buildMachine(dir);
        ImageMachine m(dir.path());
        QVERIFY(WriteCookieKeepList(m, {"c.example.com"}));
        TOptionsSetting s = baseSettings();
        RecordingPrompter prompter;
        TfrmOptions d(m, s, prompter, {});
        QCOMPARE(items(d.ListBox1), QStringList({"a.example.com", "b.example.com/path"}));
        QCOMPARE(items(d.ListBox2), QStringList({"c.example.com"}));
        d.bAddCookies->click();  // nothing selected: nothing moves
        QCOMPARE(d.ListBox2->count(), 1);
        d.ListBox1->setCurrentRow(0);
        d.bAddCookies->click();
        QCOMPARE(items(d.ListBox2), QStringList({"c.example.com", "a.example.com"}));
        QCOMPARE(d.ListBox1->currentRow(), 0);  // the entry that followed
        QCOMPARE(d.ListBox2->currentRow(), 0);
        d.bRemoveAll->click();
        QCOMPARE(d.ListBox2->count(), 0);
        QCOMPARE(d.ListBox1->count(), 3);
        d.bAddAll->click();
        QCOMPARE(d.ListBox1->count(), 0);
        QCOMPARE(items(d.ListBox2),
                 QStringList({"b.example.com/path", "c.example.com", "a.example.com"}));
        emit d.ListBox2->itemDoubleClicked(d.ListBox2->item(0));
        QCOMPARE(items(d.ListBox1), QStringList({"b.example.com/path"}));
        d.bOK->click();
        QCOMPARE(ReadCookieKeepList(m),
                 (std::vector<std::string>{"c.example.com", "a.example.com"}));
    }

    void ignoreListsAddEditRemove() {
        test::TempDir dir;
        buildMachine(dir);
        ImageMachine m(dir.path());
        TOptionsSetting s = baseSettings();
        RecordingPrompter prompter;
        TfrmOptions d(m, s, prompter, {});
        d.pcIgnore->setCurrentIndex(1);
        // The entry dialog is modal: answer it once it shows.
        QTimer::singleShot(0, [] {
            auto* dlg = qobject_cast<TfrmRegAddRegistry*>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            dlg->eRegistryKey()->setText(QStringLiteral("HKEY_CURRENT_USER\\Software\\New"));
            dlg->okButton()->click();
        });
        d.bAdd->click();
        QCOMPARE(d.lvKeys->topLevelItemCount(), 3);
        d.lvKeys->setCurrentItem(d.lvKeys->topLevelItem(0));
        QTimer::singleShot(0, [] {
            auto* dlg = qobject_cast<TfrmRegAddRegistry*>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            QCOMPARE(dlg->eRegistryKey()->text(),
                     QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\K1"));
            dlg->eRegistryKey()->setText(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\K1b"));
            dlg->okButton()->click();
        });
        d.bEdit->click();
        d.lvKeys->topLevelItem(1)->setCheckState(0, Qt::Checked);
        d.lvValues->topLevelItem(0)->setCheckState(0, Qt::Checked);  // not the visible list
        d.bRemove->click();
        d.bOK->click();
        QCOMPARE(s.IgnoreKeyList, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\K1b",
                                                            "HKEY_CURRENT_USER\\Software\\New"}));
        QCOMPARE(s.IgnoreValueList.size(), size_t(1));
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
