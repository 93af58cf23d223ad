// The restore-point dialog under the offscreen platform.
#include <QProgressBar>
#include <QtTest>

#include "core/machine/image/image_machine.h"
#include "core/messages.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"
#include "ui/system_point_dialog.h"

using namespace brisko;

namespace {
class NoSystemRestore : public ImageMachine {
  public:
    using ImageMachine::ImageMachine;
    RestorePointService* restorePoints() override { return nullptr; }
};

class Answer : public Prompter {
  public:
    explicit Answer(int a) : a_(a) {}
    int ask(std::string_view, unsigned) override {
        ++asked;
        return a_;
    }
    int asked = 0;

  private:
    int a_;
};

void build(const std::filesystem::path& dir) {
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\A]\n");
    b.write(dir);
}
}  // namespace

class SystemPointDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void madeRestorePointGoesOnWithoutAQuestion() {
        test::TempDir dir;
        build(dir.path());
        ImageMachine m(dir.path());
        Answer no(IDNO);
        QVERIFY(TfrmSystemPoint::Execute(m, no));
        QCOMPARE(no.asked, 0);
        QCOMPARE(m.restorePoints()->listRestorePoints().size(), size_t(1));
    }

    void failureAsksAndNoStopsTheCaller() {
        test::TempDir dir;
        build(dir.path());
        NoSystemRestore m(dir.path());
        Answer no(IDNO), yes(IDYES);
        QVERIFY(!TfrmSystemPoint::Execute(m, no));
        QCOMPARE(no.asked, 1);
        QVERIFY(TfrmSystemPoint::Execute(m, yes));
    }

    void barCreepsWithTheTimer() {
        test::TempDir dir;
        build(dir.path());
        ImageMachine m(dir.path());
        Answer yes(IDYES);
        TfrmSystemPoint dialog(m, yes);
        for (int i = 0; i < 6; ++i) dialog.Timer1Timer();
        QCOMPARE(dialog.progressBar()->value(), 50);
        // Closed before the worker reported (it never started): the caller stops.
        dialog.reject();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(SystemPointDialogTest)
#include "system_point_dialog_test.moc"
