// The Defrag pane, its progress dialog and the unattended switches, under the
// offscreen platform.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "core/ini_file.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/machine/reg_file.h"
#include "core/main_lifecycle.h"
#include "core/startup.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"
#include "support/test_machine.h"
#include "ui/defrag_pane.h"
#include "ui/hive_progress_dialog.h"
#include "ui/main_window.h"

using namespace brisko;
namespace fs = std::filesystem;

namespace {
class Answers : public Prompter {
  public:
    int ask(std::string_view text, unsigned flags) override {
        asked.push_back(std::string(text));
        return (flags & 0xf) == MB_YESNO ? IDNO : IDOK;
    }
    std::vector<std::string> asked;
};

void build(const fs::path& dir) {
    MachineBuilder b("Sam", "S-1-5-21-1-2-3-1001");
    b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n\"a\"=\"1\"\n");
    for (int i = 0; i < 200; ++i)
        b.hive("SOFTWARE")
            .find("Bulk\\K" + std::to_string(i), true)
            ->setValue("v", REG_BINARY, std::vector<uint8_t>(150, uint8_t(i)));
    b.fragmentHive("SOFTWARE", 2, 160);
    b.write(dir);
}

std::string wholeRegistry(Machine& m) {
    std::string all;
    for (const char* root : {"HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SYSTEM",
                             "HKEY_LOCAL_MACHINE\\SAM", "HKEY_USERS"})
        all += exportRegText(m.registry(), root).value_or("");
    return all;
}

int runTool(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}
}  // namespace

class DefragPaneTest : public QObject {
    Q_OBJECT

  private slots:
    void analyzeShowsSizesAndDefragSchedulesEveryHiveThatShrinks() {
        test::TempDir dir;
        build(dir.path());
        ImageMachine m(dir.path());
        MainModel model;
        model.windowsVersionCode = 12;
        Answers answers;
        DefragPane pane(m, model, answers);
        pane.createHiveLists();
        pane.buildHiveList();
        QCOMPARE(pane.lvMain()->topLevelItemCount(), 7);
        QVERIFY(pane.lvMain()->topLevelItem(0)->text(1).isEmpty());
        QVERIFY(!pane.defragButton()->isEnabled());

        QVERIFY(pane.bAnalyzeRegistryClick());
        QVERIFY(pane.defragButton()->isEnabled());
        QVERIFY(pane.compactPercentLabel()->text().endsWith('%'));
        QVERIFY(pane.compactPercentLabel()->text() != "0.0%");
        QVERIFY(!pane.lvMain()->topLevelItem(1)->text(3).isEmpty());
        QVERIFY(answers.asked.empty());  // fragmented enough: no advice

        QVERIFY(pane.bDefragRegistryClick());
        QCOMPARE(answers.asked.back(), std::string(kRestartQuestion));
        // Only SOFTWARE has room to give back; the other hives are already
        // compact, say so on their rows, and are left as they are.
        QCOMPARE(m.imageRegistry().pendingReplacements().size(), size_t(1));
        for (int i = 0; i < 7; ++i) {
            auto* row = pane.lvMain()->topLevelItem(i);
            bool software = row->text(0).endsWith("SOFTWARE");
            QCOMPARE(row->toolTip(3).startsWith("already compact"), !software);
            if (!software) QCOMPARE(row->text(3), QString("0%"));
        }
        // The copies are held until the restart: no new analysis, no deletion.
        QVERIFY(!pane.bAnalyzeRegistryClick());
        QCOMPARE(answers.asked.back(), std::string(kCannotAnalyzeNow));
        pane.deleteHiveCopies();
        QVERIFY(m.files().fileExists("C:\\Windows\\System32\\config\\SOFTWARE.fdc"));
        QVERIFY(m.restart());
        QVERIFY(m.imageRegistry().pendingReplacements().empty());

        // Now compact: the advice, and Defrag stays enabled.
        QVERIFY(pane.bAnalyzeRegistryClick());
        QCOMPARE(pane.compactPercentLabel()->text(), QStringLiteral("0.0%"));
        QVERIFY(
            answers.asked.back().starts_with("The fragment rate of your registry is only 0.0%."));
        QVERIFY(pane.defragButton()->isEnabled());
        pane.deleteHiveCopies();
        QVERIFY(!m.files().fileExists("C:\\Windows\\System32\\config\\SOFTWARE.fdc"));
    }

    void stopBeforeTheFirstHiveLeavesEverythingAsItWas() {
        test::TempDir dir;
        build(dir.path());
        ImageMachine m(dir.path());
        MainModel model;
        Answers answers;
        DefragPane pane(m, model, answers);
        pane.buildHiveList();
        QTimer::singleShot(0, [] {
            auto* d = qobject_cast<TfrmGetNewHiveProgess*>(QApplication::activeModalWidget());
            if (d) d->bStopClick();
        });
        QVERIFY(!pane.bAnalyzeRegistryClick());
        QVERIFY(!pane.defragButton()->isEnabled());
        QVERIFY(pane.lvMain()->topLevelItem(0)->text(1).isEmpty());
        QVERIFY(pane.currentSizeLabel()->text().isEmpty());
    }

    void regscanWritesTheScanResult() {
        test::TempDir dir;
        build(dir.path());
        fs::path ini = dir.path() / "report.ini";
        test::writeFile(ini, "[Scan Result]\nOld=1\n[Other]\nKeep=yes\n");
        {
            ImageMachine m(dir.path());
            TfrmMain w(m, parseStartArgs(std::vector<std::string>{"/Regscan", ini.string()}));
            w.show();
            QTRY_VERIFY_WITH_TIMEOUT(w.lifecycle().closed(), 60000);
            QCOMPARE(w.exitCode(), 0);
            QVERIFY(!m.files().fileExists("C:\\Windows\\System32\\config\\SOFTWARE.fdc"));
        }
        IniFile result(test::readFile(ini));
        QVERIFY(!result.valueExists("Scan Result", "Old"));
        QCOMPARE(result.readString("Other", "Keep", ""), std::string("yes"));
        QVERIFY(result.readString("Scan Result", "Current Size", "").ends_with(" KB"));
        QVERIFY(result.readString("Scan Result", "Compact Percent", "").ends_with("%"));
        QVERIFY(!result.readString("Scan Result", "Time", "").empty());
    }

    void regdefragOnTheDemoMachineKeepsTheRegistryAsItWas() {
        test::TempDir dir;
        fs::path demo = dir.path() / "demo";
        createDemoMachine(demo);
        std::string before;
        {
            ImageMachine m(demo);
            before = wholeRegistry(m);
            TfrmMain w(m, parseStartArgs(std::vector<std::string>{"/Regdefrag"}));
            w.show();
            QTRY_VERIFY_WITH_TIMEOUT(w.lifecycle().closed(), 60000);
            QCOMPARE(w.exitCode(), 0);
            // The demo's SOFTWARE and user hive; the others are already compact.
            QCOMPARE(m.imageRegistry().pendingReplacements().size(), size_t(2));
        }
        ImageMachine m(demo);
        auto software = demo / "Windows" / "System32" / "config" / "SOFTWARE";
        auto oldSize = fs::file_size(software);
        QVERIFY(m.restart());
        QVERIFY(fs::file_size(software) < oldSize);
        QCOMPARE(wholeRegistry(m), before);
        for (const auto& h : m.imageRegistry().hiveStatus()) {
            QVERIFY(h.loaded);
            QCOMPARE(runTool("hivexml '" + h.mount.hostFile.string() + "'"), 0);
            QCOMPARE(runTool("regfexport '" + h.mount.hostFile.string() + "'"), 0);
        }
    }
};

QTEST_MAIN(DefragPaneTest)
#include "defrag_pane_test.moc"
