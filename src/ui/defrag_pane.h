#pragma once
// The Defrag pane: the hive list with the sizes of the last analysis and its
// totals, "Analyze Registry" (compact copies through the progress dialog) and
// "Defrag Registry" (the copies replace the hives at the next restart). The
// unattended "/Regscan FILE" and "/Regdefrag" run the same steps without a
// question.
#include <QWidget>
#include <vector>

#include "defrag/defrag_run.h"
#include "defrag/hive_list.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace brisko {

class Machine;
struct MainModel;
class Prompter;

class DefragPane final : public QWidget {
    Q_OBJECT

  public:
    DefragPane(Machine& machine, MainModel& model, Prompter& prompter, QWidget* parent = nullptr);

    // The steps of the main window's life that concern the pane.
    void createHiveLists();
    void showUnsupportedDefrag();
    void buildHiveList();
    void deleteHiveCopies();

    // "Analyze Registry": true when the analysis completed and passed its checks.
    bool bAnalyzeRegistryClick();
    // "Defrag Registry"; false when nothing was scheduled (stopped, or failures).
    bool bDefragRegistryClick();
    // WM_RUN_REGSCAN / WM_RUN_REGDEFRAG, after which the program ends.
    // False when the job did not complete.
    bool runRegscan(const std::string& reportFile);
    bool runRegdefrag();

    // After a restart of the machine the program ends, as on Windows.
    void setRestartHandler(std::function<void()> handler) { onRestart_ = std::move(handler); }

    const std::vector<HiveEntry>& hives() const { return hives_; }
    bool isWow64() const { return IsWow64_; }
    QTreeWidget* lvMain() const { return lvMain_; }
    QPushButton* analyzeButton() const { return bAnalyzeRegistry_; }
    QPushButton* defragButton() const { return bDefragRegistry_; }
    QLabel* compactPercentLabel() const { return lCompactPercent_; }
    QLabel* currentSizeLabel() const { return lCurrentRegistrySize_; }
    const AnalysisResult& lastAnalysis() const { return last_; }

  private:
    void showSizes(const DefragSizes& sizes);

    Machine& machine_;
    MainModel& model_;
    Prompter& prompter_;
    std::vector<HiveEntry> hives_;
    bool IsWow64_ = false;
    AnalysisResult last_;
    std::function<void()> onRestart_;
    QTreeWidget* lvMain_ = nullptr;
    QPushButton* bAnalyzeRegistry_ = nullptr;
    QPushButton* bDefragRegistry_ = nullptr;
    QLabel* lCurrentRegistrySize_ = nullptr;
    QLabel* lNewRegistrySize_ = nullptr;
    QLabel* lSizeReduction_ = nullptr;
    QLabel* lCompactPercent_ = nullptr;
};

}  // namespace brisko
