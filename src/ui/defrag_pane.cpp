#include "ui/defrag_pane.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <iostream>

#include "core/machine/machine.h"
#include "core/main_lifecycle.h"
#include "core/messages.h"
#include "tools/restore_point.h"
#include "ui/hive_progress_dialog.h"
#include "ui/qt_text.h"
#include "ui/system_point_dialog.h"

namespace brisko {

namespace {
constexpr std::string_view kNoHiveFiles =
    "This Windows lists no registry hive files (the key "
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\hivelist names none), so its "
    "registry can be neither analyzed nor defragmented.";
}  // namespace

DefragPane::DefragPane(Machine& machine, MainModel& model, Prompter& prompter, QWidget* parent)
    : QWidget(parent), machine_(machine), model_(model), prompter_(prompter) {
    setObjectName(QStringLiteral("DefragPane"));
    lvMain_ = new QTreeWidget(this);
    lvMain_->setObjectName(QStringLiteral("lvMain"));
    lvMain_->setRootIsDecorated(false);
    lvMain_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMain_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMain_->setHeaderLabels({QStringLiteral("Hive Name"), QStringLiteral("Current Size"),
                              QStringLiteral("New Size"), QStringLiteral("Reduction")});
    lvMain_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    lvMain_->header()->setStretchLastSection(false);
    for (int c = 1; c < 4; ++c) {
        lvMain_->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        lvMain_->setColumnWidth(c, 100);
    }

    auto* totals = new QGridLayout;
    auto addTotal = [&](int row, int col, const char* caption, const char* name) {
        totals->addWidget(new QLabel(QString::fromLatin1(caption), this), row, col);
        auto* value = new QLabel(this);
        value->setObjectName(QString::fromLatin1(name));
        totals->addWidget(value, row, col + 1);
        return value;
    };
    lCurrentRegistrySize_ = addTotal(0, 0, "Current Registry Size:", "lCurrentRegistrySize");
    lNewRegistrySize_ = addTotal(1, 0, "New Registry Size:", "lNewRegistrySize");
    lSizeReduction_ = addTotal(0, 2, "Size Reduction:", "lSizeReduction");
    lCompactPercent_ = addTotal(1, 2, "Compact Percent:", "lCompactPercent");

    bAnalyzeRegistry_ = new QPushButton(QStringLiteral("Analyze Registry"), this);
    bAnalyzeRegistry_->setObjectName(QStringLiteral("bAnalyzeRegistry"));
    bAnalyzeRegistry_->setToolTip(QStringLiteral("Analyze your registry"));
    bDefragRegistry_ = new QPushButton(QStringLiteral("Defrag Registry"), this);
    bDefragRegistry_->setObjectName(QStringLiteral("bDefragRegistry"));
    bDefragRegistry_->setToolTip(QStringLiteral("Defrag your registry"));
    bDefragRegistry_->setEnabled(false);
    connect(bAnalyzeRegistry_, &QPushButton::clicked, this, [this] { bAnalyzeRegistryClick(); });
    connect(bDefragRegistry_, &QPushButton::clicked, this, [this] { bDefragRegistryClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bAnalyzeRegistry_);
    buttons->addWidget(bDefragRegistry_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lvMain_, 1);
    layout->addLayout(totals);
    layout->addLayout(buttons);
}

void DefragPane::createHiveLists() {
    hives_.clear();
    for (QLabel* l : {lCurrentRegistrySize_, lNewRegistrySize_, lSizeReduction_, lCompactPercent_})
        l->clear();
}

void DefragPane::showUnsupportedDefrag() {
    bAnalyzeRegistry_->setEnabled(false);
    lvMain_->clear();
    new QTreeWidgetItem(lvMain_, {qs(kUnsupportedWindows)});
}

void DefragPane::buildHiveList() {
    IsWow64_ = machine_.isWow64();
    hives_ = BuildHiveList(machine_, IsWow64_);
    lvMain_->clear();
    for (const auto& h : hives_) {
        auto* item = new QTreeWidgetItem(lvMain_, {qs(h.name), {}, {}, {}});
        for (int c = 1; c < 4; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void DefragPane::deleteHiveCopies() {
    DeleteHiveCopies(machine_, hives_);
}

bool DefragPane::bAnalyzeRegistryClick() {
    if (hives_.empty()) {
        // Wine, for one, keeps its registry in text files of its own and lists no hives.
        prompter_.ask(kNoHiveFiles, MB_OK | MB_ICONERROR);
        return false;
    }
    if (AnyHiveCopyInUse(machine_.files(), hives_)) {
        prompter_.ask(kCannotAnalyzeNow, MB_OK);
        return false;
    }
    bool unattended = model_.flags.UnattendedRun;
    std::string status;
    std::vector<HiveCopyOutcome> outcomes;
    {
        TfrmGetNewHiveProgess dialog(machine_, hives_, IsWow64_, unattended, window());
        dialog.run();
        status = dialog.statusText();
        outcomes = dialog.outcomes();
    }
    AnalysisResult result = FinishAnalysis(machine_, hives_, status, std::move(outcomes));
    if (!result.completed) {
        bDefragRegistry_->setEnabled(false);
        return false;
    }
    last_ = result;
    bDefragRegistry_->setEnabled(true);
    showSizes(result.sizes);
    // A hive whose copy would not be smaller is left as it is: its row says so.
    for (int i = 0; i < lvMain_->topLevelItemCount() && size_t(i) < result.outcomes.size(); ++i)
        if (result.outcomes[size_t(i)].alreadyCompact)
            for (int column = 0; column < 4; ++column)
                lvMain_->topLevelItem(i)->setToolTip(
                    column, qs(std::string(kAlreadyCompact) + ": left as it is"));
    if (!result.problems.empty()) {
        std::string text = "These hives were not compacted and will be left as they are:";
        for (const auto& p : result.problems) text += "\n" + p;
        if (unattended)
            std::cerr << kProgramTitle << ": " << text << std::endl;
        else
            prompter_.ask(text, MB_OK | MB_ICONWARNING);
    }
    if (NeedsLowFragmentationAdvice(result.sizes) && !unattended)
        prompter_.ask(LowFragmentationAdvice(result.sizes), MB_OK);
    return true;
}

void DefragPane::showSizes(const DefragSizes& sizes) {
    for (int i = 0; i < lvMain_->topLevelItemCount() && size_t(i) < sizes.rows.size(); ++i) {
        auto* item = lvMain_->topLevelItem(i);
        item->setText(1, qs(sizes.rows[size_t(i)].currentSize));
        item->setText(2, qs(sizes.rows[size_t(i)].newSize));
        item->setText(3, qs(sizes.rows[size_t(i)].reduction));
    }
    lCurrentRegistrySize_->setText(qs(sizes.currentRegistrySize));
    lNewRegistrySize_->setText(qs(sizes.newRegistrySize));
    lSizeReduction_->setText(qs(sizes.sizeReduction));
    lCompactPercent_->setText(qs(sizes.compactPercent));
}

bool DefragPane::bDefragRegistryClick() {
    bool unattended = model_.flags.UnattendedRun;
    if (ShouldCreateRestorePoint(model_.Settings.RestorePoint, model_.windowsVersionCode,
                                 unattended) &&
        !TfrmSystemPoint::Execute(machine_, prompter_, window()))
        return false;
    DefragOutcome out = ScheduleHiveReplacements(machine_, hives_, last_.outcomes, prompter_);
    if (unattended) return out.failures.empty();
    if (out.scheduled == 0) return false;
    if (prompter_.ask(kRestartQuestion, MB_YESNO | MB_ICONINFORMATION) != IDNO) {
        // RestartComputer: on an image the pending replacements are carried out now.
        if (!machine_.restart())
            prompter_.ask("The restart did not complete: some pending operations failed.",
                          MB_OK | MB_ICONWARNING);
        if (onRestart_) onRestart_();
    }
    return out.failures.empty();
}

bool DefragPane::runRegscan(const std::string& reportFile) {
    if (reportFile.empty()) {
        bAnalyzeRegistryClick();
        return true;
    }
    bool done = bAnalyzeRegistryClick();
    std::string why;
    bool written = WriteScanResult(machine_, reportFile, done ? &last_.sizes : nullptr, &why);
    if (!written) std::cerr << kProgramTitle << ": " << why << std::endl;
    return done && written;
}

bool DefragPane::runRegdefrag() {
    if (!bAnalyzeRegistryClick()) return false;
    return bDefragRegistryClick();
}

}  // namespace brisko
