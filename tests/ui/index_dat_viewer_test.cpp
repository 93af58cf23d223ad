// The index.dat viewer on the demo's IE 8 traces, under the offscreen platform.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "cleaner/indexdat/index_dat.h"
#include "core/machine/image/image_machine.h"
#include "demo/demo_content.h"
#include "demo/machine_builder.h"
#include "indexdat/index_dat_writer.h"
#include "support/test_machine.h"
#include "ui/index_dat_viewer.h"

using namespace brisko;

namespace {

const std::string kContent =
    "C:\\Users\\Alex\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Content.IE5\\";

// Answers the next message box with its default button.
void closeNextMessageBox() {
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
}

}  // namespace

class IndexDatViewerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<ImageMachine> machine_;
    TOptionsSetting settings_;

    void waitForRead(TfrmIndexDatViewer& v) { QTRY_VERIFY_WITH_TIMEOUT(!v.reading(), 20000); }

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        MachineBuilder b("Alex");
        addDemoWindows(b);
        addDemoInternetExplorer(b);
        // A large index beside the small one, for reads that take a while.
        std::vector<indexdat::NewRecord> many(20000);
        for (size_t i = 0; i < many.size(); ++i) many[i].url = "http://big/" + std::to_string(i);
        b.addFile(kContent + "big.DAT", indexdat::writeIndexDat(many));
        b.addFile(kContent + "index.bak", "Client UrlCache MMF Ver 5.2");
        b.write(dir_->path());
        machine_ = std::make_unique<ImageMachine>(dir_->path());
    }
    void cleanup() {
        machine_.reset();
        dir_.reset();
    }

    void showsTheCacheIndex() {
        TfrmIndexDatViewer v(*machine_, settings_);
        QCOMPARE(v.windowTitle(), QStringLiteral("Index.dat file viewer"));
        QCOMPARE(v.eFileName()->text().toStdString(), kContent + "index.dat");
        QVERIFY(v.ProgressBar1()->isHidden());
        v.bShowClick();
        waitForRead(v);
        QCOMPARE(v.Panel1()->text(), QStringLiteral("7"));
        QCOMPARE(v.model().rowCount(), 7);
        QCOMPARE(v.ProgressBar1()->value(), 100);
        QVERIFY(!v.ProgressBar1()->isHidden());
        QCOMPARE(v.model().data(v.model().index(0, 0), Qt::DisplayRole).toString(),
                 QStringLiteral("http://www.example-news.com/"));
        QVERIFY(v.model().data(v.model().index(0, 1), Qt::DisplayRole).toString() !=
                QString::fromStdString(std::string(kTimeNotAvailable)));
    }

    void refusesWhatIsNotADatFile() {
        TfrmIndexDatViewer v(*machine_, settings_);
        for (std::string name : {"index.bak", "missing.dat"}) {
            v.eFileName()->setText(QString::fromStdString(kContent + name));
            closeNextMessageBox();
            v.bShowClick();
            QVERIFY(!v.reading());
            QCOMPARE(v.model().rowCount(), 0);
        }
        v.eFileName()->setText(QString::fromStdString(kContent + "big.DAT"));  // upper case
        v.bShowClick();
        waitForRead(v);
        QCOMPARE(v.model().rowCount(), 20000);
    }

    void showAgainOrCloseMidReadIsSafe() {
        {
            TfrmIndexDatViewer v(*machine_, settings_);
            v.eFileName()->setText(QString::fromStdString(kContent + "big.DAT"));
            v.bShowClick();
            v.eFileName()->setText(QString::fromStdString(kContent + "index.dat"));
            v.bShowClick();  // the first read is stopped; only the second fills the list
            waitForRead(v);
            QTest::qWait(50);
            QCOMPARE(v.model().rowCount(), 7);
            QCOMPARE(v.Panel1()->text(), QStringLiteral("7"));
            v.eFileName()->setText(QString::fromStdString(kContent + "big.DAT"));
            v.bShowClick();
        }  // closed while reading
        QTest::qWait(50);
    }

    void hiddenDeleteBlanksTheFile() {
        const std::string path = kContent + "index.dat";
        const auto size = machine_->files().fileInfo(path)->size;
        {
            TfrmIndexDatViewer v(*machine_, settings_);
            QVERIFY(v.bDelete()->isHidden());
            v.show();
            v.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&v));
            QTest::keyClick(&v, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
            QVERIFY(!v.bDelete()->isHidden());
            v.bDeleteClick();
            QCOMPARE(v.result(), int(QDialog::Rejected));
        }
        QCOMPARE(machine_->files().fileInfo(path)->size, size);
        TfrmIndexDatViewer again(*machine_, settings_);
        again.bShowClick();
        waitForRead(again);
        QCOMPARE(again.Panel1()->text(), QStringLiteral("0"));
    }

    void hostFilesMapIntoTheMachine() {
        auto host = (dir_->path() / "Users" / "Alex" / "x.dat").string();
        QCOMPARE(machinePathOfHostFile(*machine_, host), std::string("C:\\Users\\Alex\\x.dat"));
        QCOMPARE(machinePathOfHostFile(*machine_, "/etc/passwd"), std::string());
    }
};

QTEST_MAIN(IndexDatViewerTest)
#include "index_dat_viewer_test.moc"
