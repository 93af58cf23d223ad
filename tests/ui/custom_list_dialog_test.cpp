// The Custom Lists editor and its entry dialogs on the demo machine, under the
// offscreen platform.
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "cleaner/clean_catalog.h"
#include "cleaner/items/custom_list.h"
#include "core/machine/image/image_machine.h"
#include "core/settings.h"
#include "core/startup.h"
#include "demo/demo_machine.h"
#include "support/test_machine.h"
#include "ui/check_tree_view.h"
#include "ui/cleaner_pane.h"
#include "ui/custom_list_dialog.h"
#include "ui/custom_list_folder_dialog.h"
#include "ui/custom_list_registry_dialog.h"
#include "ui/qt_prompter.h"
#include "ui/registry_viewer.h"

using namespace brisko;
namespace fs = std::filesystem;

namespace {

// Hands each modal window that appears to the next step of a script; a step
// returns false while the window it waits for has not come up yet.
class Script {
  public:
    using Step = std::function<bool(QWidget*)>;
    explicit Script(std::deque<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || steps_.empty()) return;
            if (steps_.front()(w)) steps_.pop_front();
        });
        timer_.start(10);
    }
    bool done() const { return steps_.empty(); }

  private:
    std::deque<Step> steps_;
    QTimer timer_;
};

// A step for a window of type T. What it does runs from a timer of its own:
// a click that opens a message box waits in that box's loop, where the
// script's timer must keep running.
template <class T>
Script::Step on(std::function<void(T*)> act) {
    return [act](QWidget* w) {
        auto* d = qobject_cast<T*>(w);
        if (!d) return false;
        QTimer::singleShot(0, d, [act, d] { act(d); });
        return true;
    };
}

// A message box is answered with its default button; its text is kept.
Script::Step messageBox(QString* text) {
    return [text](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return false;
        if (text) *text = box->text();
        box->accept();
        return true;
    };
}

}  // namespace

class CustomListDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> demo_;
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<ImageMachine> machine_;

  private slots:
    void initTestCase() {
        demo_ = std::make_unique<test::TempDir>();
        createDemoMachine(demo_->path() / "m");
    }
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        fs::copy(demo_->path() / "m", dir_->path() / "m", fs::copy_options::recursive);
        machine_ = std::make_unique<ImageMachine>(dir_->path() / "m");
    }
    void cleanup() {
        machine_.reset();
        dir_.reset();
    }

    // Adding a registry row, a file row and a refused one, editing the
    // registry row, removing rows, and saving with the list's numbering.
    void testAddEditRemoveAndSave() {
        TfrmNewCustomItem editor(*machine_);
        QCOMPARE(editor.lbContent()->count(), 0);
        QVERIFY(!editor.okButton()->isEnabled());
        QVERIFY(!editor.bEdit()->isEnabled());
        QVERIFY(!editor.bRemove()->isEnabled());

        QString refusal;
        {
            Script s({on<TfrmAddRegistry>([](TfrmAddRegistry* d) {
                d->eKey()->setText("HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory");
                d->rbDeleteValue()->setChecked(true);
                QVERIFY(!d->okButton()->isEnabled());  // a value needs its name
                d->eValueName()->setText("0");
                d->okButton()->click();
            })});
            editor.bAddRegistryClick();
            QVERIFY(s.done());
        }
        {
            Script s({on<TfrmAddFolder>([](TfrmAddFolder* d) {
                          d->eFolder()->setText("Q:\\Temp");
                          d->rbMultipleFiles()->setChecked(true);
                          d->bOKClick();  // refused: stays open
                      }),
                      messageBox(&refusal), on<TfrmAddFolder>([](TfrmAddFolder* d) {
                          QVERIFY(d->isVisible());
                          d->eFolder()->setText("%windir%\\Temp");
                          d->rbWildcard()->setChecked(true);
                          QVERIFY(!d->okButton()->isEnabled());  // "*." is no mask yet
                          d->eMask()->setText("*.log");
                          d->okButton()->click();
                      })});
            editor.bAddFolderClick();
            QTRY_VERIFY(s.done());
        }
        QVERIFY(refusal.contains("not a drive of this machine"));
        QCOMPARE(editor.rows(),
                 (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory,0",
                                           "%windir%\\Temp,*.log"}));
        QVERIFY(editor.okButton()->isEnabled());

        // Only registry rows are edited; the dialog comes up filled from the row.
        editor.lbContent()->setCurrentRow(1);
        QVERIFY(!editor.bEdit()->isEnabled());
        editor.lbContent()->setCurrentRow(0);
        QVERIFY(editor.bEdit()->isEnabled());
        {
            Script s({on<TfrmAddRegistry>([](TfrmAddRegistry* d) {
                QCOMPARE(d->eKey()->text(),
                         QString("HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory"));
                QVERIFY(d->rbDeleteValue()->isChecked());
                QCOMPARE(d->eValueName()->text(), QString("0"));
                d->rbDeleteValues()->setChecked(true);
                QVERIFY(!d->eValueName()->isEnabled());
                d->okButton()->click();
            })});
            editor.bEditClick();
            QVERIFY(s.done());
        }
        QCOMPARE(editor.lbContent()->item(0)->text(),
                 QString("HKEY_CURRENT_USER\\Software\\WinRAR\\ArcHistory,"));

        // Removing the last row selects the new last one.
        editor.lbContent()->addItem("{Current AppData}\\Zoom\\logs");
        editor.lbContent()->setCurrentRow(2);
        editor.bRemoveClick();
        QCOMPARE(editor.lbContent()->count(), 2);
        QCOMPARE(editor.lbContent()->currentRow(), 1);
        editor.lbContent()->setCurrentRow(0);
        editor.bRemoveClick();
        QCOMPARE(editor.lbContent()->currentRow(), 0);
        QCOMPARE(editor.rows(), std::vector<std::string>{"%windir%\\Temp,*.log"});
        editor.lbContent()->addItem("HKEY_CURRENT_USER\\Software\\Zoom\\MRU");

        editor.bOKClick();
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QCOMPARE(
            test::readFile(dir_->path() / "m" / "Program Files" / "Brisko Cleaner" / "Custom.dat"),
            std::string("[<New List>]\r\nDelFile1=%windir%\\Temp,*.log\r\n"
                        "DelRegValue1=HKEY_CURRENT_USER\\Software\\Zoom\\MRU\r\n"));
        TfrmNewCustomItem again(*machine_);
        QCOMPARE(again.rows(), loadCustomList(*machine_));
        QCOMPARE(again.lbContent()->count(), 2);

        // The list cannot be emptied through the editor.
        again.lbContent()->setCurrentRow(0);
        again.bRemoveClick();
        again.bRemoveClick();
        QVERIFY(!again.okButton()->isEnabled());
    }

    void testRegistryDialogRules() {
        TfrmAddRegistry d(*machine_);
        QCOMPARE(d.windowTitle(), QString("Add Registry"));
        QVERIFY(d.rbDeleteKey()->isChecked());
        QVERIFY(!d.eValueName()->isEnabled());
        QVERIFY(!d.okButton()->isEnabled());
        d.eKey()->setText("software\\hkey_x");  // "HKEY_" anywhere enables OK
        QVERIFY(d.okButton()->isEnabled());
        QCOMPARE(d.entry(), std::string("software\\hkey_x"));
        d.rbDeleteValues()->setChecked(true);
        QCOMPARE(d.entry(), std::string("software\\hkey_x,"));
        // ... but the entry is refused when it does not begin with a root.
        QString refusal;
        Script s({messageBox(&refusal)});
        d.bOKClick();
        QTRY_VERIFY(s.done());
        QVERIFY(refusal.contains("registry root written in full"));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        // No registry editor on an image: the button opens the viewer at the
        // key typed, or as near to it as the registry goes.
        d.eKey()->setText("HKEY_CURRENT_USER\\Software\\Microsoft\\NoSuchKey");
        d.findChild<QPushButton*>("bRegedit")->click();
        auto* viewer = d.findChild<TfrmRegistryViewer*>();
        QVERIFY(viewer && viewer->isVisible());
        QCOMPARE(viewer->currentKey(), std::string("HKEY_CURRENT_USER\\Software\\Microsoft"));
        viewer->close();
        d.setEntry("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor");
        QVERIFY(d.rbDeleteKey()->isChecked());
        d.bOKClick();
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void testFolderDialogRules() {
        TfrmAddFolder d(*machine_);
        QCOMPARE(d.windowTitle(), QString("Add File and Folder"));
        QVERIFY(d.rbSingleFile()->isChecked());
        QCOMPARE(d.eMask()->text(), QString("*."));
        d.eFolder()->setText("{Current AppData}\\Zoom\\logs");
        QCOMPARE(d.lbFiles()->count(), 2);  // the folder's own files
        QVERIFY(!d.okButton()->isEnabled());
        d.lbFiles()->setCurrentRow(0);
        QVERIFY(d.okButton()->isEnabled());
        QCOMPARE(d.entry(), std::string("{Current AppData}\\Zoom\\logs,installer.log"));
        d.rbMultipleFiles()->setChecked(true);
        QVERIFY(d.gbDeletingMode()->isVisibleTo(&d));
        QVERIFY(!d.gbSelectFile()->isVisibleTo(&d));
        QVERIFY(d.rbDeleteFolder()->isChecked());
        QCOMPARE(d.entry(), std::string("{Current AppData}\\Zoom\\logs"));
        d.eFolder()->setText("C:\\No such folder");
        QVERIFY(!d.okButton()->isEnabled());
        d.eFolder()->setText("Q:\\Temp");  // not a drive of this machine: refused on OK
        QString refusal;
        Script s({messageBox(&refusal)});
        d.bOKClick();
        QTRY_VERIFY(s.done());
        QVERIFY(refusal.contains("not a drive of this machine"));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        // The documents are asked about when the list runs, not refused here.
        d.eFolder()->setText("C:\\Users\\Alex\\Documents");
        d.bOKClick();
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    // A press on the label of "<New List>" opens the editor once the press is over.
    void testNewListLabelOpensTheEditor() {
        CheckTree tree = buildCleanTree();
        TOptionsSetting settings;
        QtPrompter prompter;
        RunFlags flags;
        QWidget host;
        auto* view = new CheckTreeView(&host);
        view->setObjectName("tvCleanItems");
        view->setTree(&tree);
        CleanerPane pane({*machine_, settings, tree, prompter, nullptr, &flags}, &host);
        host.show();
        bool opened = false;
        Script s({on<TfrmNewCustomItem>([&](TfrmNewCustomItem* d) {
            opened = true;
            d->cancelButton()->click();
        })});
        emit view->labelPressed(tree.findByLogCaption("Windows - Clipboard"));
        emit view->labelPressed(tree.findByLogCaption("Custom Lists - <New List>"));
        QTRY_VERIFY(opened);
        QVERIFY(
            !fs::exists(dir_->path() / "m" / "Program Files" / "Brisko Cleaner" / "Custom.dat"));
    }
};

QTEST_MAIN(CustomListDialogTest)
#include "custom_list_dialog_test.moc"
