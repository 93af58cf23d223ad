#include "ui/registry_pane.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <thread>

#include "core/machine/registry_view.h"
#include "core/main_lifecycle.h"
#include "registry/problem_report.h"
#include "registry/registry_fix.h"
#include "registry/scan_run.h"
#include "registry/section_tree.h"
#include "ui/check_tree_view.h"
#include "ui/problem_list_model.h"
#include "ui/qt_text.h"
#include "ui/registry_viewer.h"
#include "ui/restore_dialog.h"
#include "ui/system_point_dialog.h"

namespace brisko {

namespace {

// How long the worker's changes are gathered before the pane shows them.
constexpr int kGatherMs = 40;

const char* const kPaneStyle = R"(
#lScanTitle { font-weight: bold; color: #1F3B57; }
#Memo1 { color: #3E5366; background: palette(window); border: 1px solid #C9D1D9; padding: 1px 3px; }
#lRegistryStatus { color: #1F3B57; }
#lScanFailures { color: #9A2A1C; }
)";

}  // namespace

RegistryPane::RegistryPane(Machine& machine, MainModel& model, MessageTarget& target,
                           Prompter& prompter, const ScannerTable& scanners,
                           CheckTreeView* tvRegistry, QWidget* parent)
    : QWidget(parent),
      machine_(machine),
      mainModel_(model),
      target_(target),
      prompter_(prompter),
      scanners_(scanners),
      uiThread_(std::this_thread::get_id()),
      model_(std::make_unique<ProblemListModel>()) {
    setObjectName(QStringLiteral("pRegistry"));
    createControls(tvRegistry);
    createActions();
    refresh();
}

RegistryPane::~RegistryPane() {
    // The worker writes into the run: stop it before anything it reaches goes.
    lvRegistryData_->setModel(nullptr);
    model_->setRun(nullptr);
    run_.reset();
}

ScanRun& RegistryPane::run() {
    if (!run_) {
        run_ =
            std::make_unique<ScanRun>(machine_, mainModel_.Settings, mainModel_.windowsVersionCode,
                                      target_, prompter_, scanners_);
        run_->hooks.changed = [this] { changedFromAnyThread(); };
        run_->hooks.closeWindow = [this] { emit closeRequested(); };
        run_->hooks.autoFixAndClose = [this] { emit autoClearScanEnded(); };
        model_->setRun(run_.get());
    }
    return *run_;
}

// ---------------------------------------------------------------- controls

void RegistryPane::createControls(CheckTreeView* tvRegistry) {
    setStyleSheet(QString::fromLatin1(kPaneStyle));

    lScanTitle_ = new QLabel(this);
    lScanTitle_->setObjectName(QStringLiteral("lScanTitle"));
    lScanTitle_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Memo1_ = new QLineEdit(this);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setReadOnly(true);
    Memo1_->setFocusPolicy(Qt::NoFocus);

    lvRegistryData_ = new QTreeView(this);
    lvRegistryData_->setObjectName(QStringLiteral("lvRegistryData"));
    lvRegistryData_->setModel(model_.get());
    lvRegistryData_->setRootIsDecorated(false);
    lvRegistryData_->setItemsExpandable(false);
    lvRegistryData_->setUniformRowHeights(true);  // what keeps 50,000 rows fast
    lvRegistryData_->setAlternatingRowColors(true);
    lvRegistryData_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvRegistryData_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvRegistryData_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRegistryData_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lvRegistryData_->setContextMenuPolicy(Qt::CustomContextMenu);
    lvRegistryData_->header()->setStretchLastSection(true);
    lvRegistryData_->header()->setSectionsMovable(false);
    connect(lvRegistryData_, &QWidget::customContextMenuRequested, this, &RegistryPane::showPopup);
    connect(lvRegistryData_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RegistryPane::onViewSelectionChanged);

    lStatus_ = new QLabel(this);
    lStatus_->setObjectName(QStringLiteral("lRegistryStatus"));
    lStatus_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Sections whose scanner failed: the title showed it only while it ran.
    lScanFailures_ = new QLabel(this);
    lScanFailures_->setObjectName(QStringLiteral("lScanFailures"));
    lScanFailures_->setWordWrap(true);
    lScanFailures_->hide();

    pbRegistry_ = new QProgressBar(this);
    pbRegistry_->setObjectName(QStringLiteral("pbRegistry"));
    pbRegistry_->setRange(0, kProgressMax);
    pbRegistry_->setFixedHeight(20);
    pbRegistry_->setAlignment(Qt::AlignCenter);

    bScan_ = new QPushButton(this);
    bScan_->setObjectName(QStringLiteral("bScan"));
    bScan_->setMinimumWidth(96);
    bScan_->setDefault(true);
    connect(bScan_, &QPushButton::clicked, this, &RegistryPane::bScanClick);
    bFixErrors_ = new QPushButton(QStringLiteral("Fix Errors"), this);
    bFixErrors_->setObjectName(QStringLiteral("bFixErrors"));
    bFixErrors_->setMinimumWidth(96);
    connect(bFixErrors_, &QPushButton::clicked, this, [this] { bFixErrorsClick(); });
    bRestoreRegistry_ = new QPushButton(QStringLiteral("Restore"), this);
    bRestoreRegistry_->setObjectName(QStringLiteral("bRestoreRegistry"));
    bRestoreRegistry_->setMinimumWidth(96);
    connect(bRestoreRegistry_, &QPushButton::clicked, this, &RegistryPane::bRestoreRegistryClick);

    auto* listColumn = new QVBoxLayout;
    listColumn->setSpacing(4);
    listColumn->addWidget(lScanTitle_);
    listColumn->addWidget(Memo1_);
    listColumn->addWidget(lvRegistryData_, 1);
    listColumn->addWidget(lStatus_);
    listColumn->addWidget(lScanFailures_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(20);
    buttons->addWidget(pbRegistry_, 1);
    buttons->addStretch(0);
    buttons->addWidget(bRestoreRegistry_);
    buttons->addWidget(bFixErrors_);
    buttons->addWidget(bScan_);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    if (tvRegistry) {
        tvRegistry->setParent(this);
        // Wide enough for the section captions; the list takes the rest.
        tvRegistry->setIndentation(14);
        const QAbstractItemView* view = tvRegistry;  // the hint is public there
        const int captions = view->sizeHintForColumn(0) + 2 * tvRegistry->frameWidth() +
                             tvRegistry->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        // Grows with the window (a share of it), so its captions are not cut.
        tvRegistry->setMinimumWidth(std::clamp(captions, 170, 215));
        grid->addWidget(tvRegistry, 0, 0);
    }
    grid->addLayout(listColumn, 0, 1);
    grid->addLayout(buttons, 1, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 2);

    progressTimer_ = new QTimer(this);
    progressTimer_->setObjectName(QStringLiteral("tmRegistryProgress"));
    progressTimer_->setInterval(kProgressTimerMs);
    connect(progressTimer_, &QTimer::timeout, this, [this] {
        if (run_) run_->progressTick();
    });
    gatherTimer_ = new QTimer(this);
    gatherTimer_->setSingleShot(true);
    gatherTimer_->setInterval(kGatherMs);
    connect(gatherTimer_, &QTimer::timeout, this, &RegistryPane::refresh);
}

void RegistryPane::createActions() {
    pmRegistry_ = new QMenu(this);
    pmRegistry_->setObjectName(QStringLiteral("pmRegistry"));
    struct Handler {
        std::string_view name;
        void (RegistryPane::*fn)();
    };
    static const Handler handlers[] = {
        {"aSelectItem", &RegistryPane::aSelectItemExecute},
        {"aDeselectItem", &RegistryPane::aDeselectItemExecute},
        {"aSelectAllType", &RegistryPane::aSelectAllTypeExecute},
        {"aUnselectAllType", &RegistryPane::aUnselectAllTypeExecute},
        {"aSelectAll", &RegistryPane::aSelectAllExecute},
        {"aSelectNone", &RegistryPane::aSelectNoneExecute},
        {"aIgnoreListAdd", &RegistryPane::aIgnoreListAddExecute},
        {"aSaveText", &RegistryPane::aSaveTextExecute},
        {"aOpenRegedit", &RegistryPane::aOpenRegeditExecute},
    };
    bool pendingSeparator = false;
    for (const ProblemMenuItem& item : problemListMenu()) {
        if (item.separator()) {
            pendingSeparator = !pmRegistry_->isEmpty();
            continue;
        }
        const Handler* h = nullptr;
        for (const Handler& c : handlers)
            if (c.name == item.action) h = &c;
        if (!h) continue;
        if (pendingSeparator) pmRegistry_->addSeparator();
        pendingSeparator = false;
        auto* a = new QAction(qs(item.caption), this);
        a->setObjectName(qs(item.action));
        connect(a, &QAction::triggered, this, h->fn);
        pmRegistry_->addAction(a);
        addAction(a);
    }
    connect(pmRegistry_, &QMenu::aboutToShow, this, &RegistryPane::updateActions);
}

QAction* RegistryPane::action(std::string_view name) const {
    return findChild<QAction*>(qs(name), Qt::FindDirectChildrenOnly);
}

void RegistryPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!columnsSized_) {
        columnsSized_ = true;
        sizeColumnsForEmptyList();
    }
}

void RegistryPane::sizeColumnsForEmptyList() {
    const int width = lvRegistryData_->viewport()->width();
    for (int i = 0; i < 3; ++i)
        lvRegistryData_->setColumnWidth(i, width * kColumnShares[i] / kColumnShareBase);
}

void RegistryPane::fitColumnsToContents() {
    // The view measures the rows it shows and a sample beyond; enough for
    // lists of any length. A long path in "Data" would push the key column out
    // of sight, so that column is held to half the width (its tip shows it all).
    const int most = lvRegistryData_->viewport()->width() / 2;
    for (int i = 0; i < 3; ++i) lvRegistryData_->resizeColumnToContents(i);
    if (lvRegistryData_->columnWidth(1) > most) lvRegistryData_->setColumnWidth(1, most);
}

// ---------------------------------------------------------------- scan

void RegistryPane::bScanClick() {
    ScanRun& r = run();
    if (r.scanning()) {
        resetList_ = true;  // the last row goes and the filter runs
        r.cancel();
        return;
    }
    r.autoClearRun = mainModel_.flags.AutoClearRun;
    if (r.start(checkedSectionCodes(mainModel_.sectionTree))) {
        columnsSized_ = true;
        sizeColumnsForEmptyList();
    }
}

void RegistryPane::handleMessage(uint32_t msg) {
    if (run_) run_->handleMessage(msg);
}

bool RegistryPane::scanInProgress() const {
    return run_ && run_->scanning();
}

void RegistryPane::cancelScan() {
    if (scanInProgress()) bScanClick();
}

// ---------------------------------------------------------------- showing the state

void RegistryPane::changedFromAnyThread() {
    if (std::this_thread::get_id() == uiThread_) {
        refresh();
        return;
    }
    // One request in flight at a time; the refresh clears the flag first, so
    // a change that arrives while it runs asks again.
    if (refreshQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!gatherTimer_->isActive()) gatherTimer_->start();
        },
        Qt::QueuedConnection);
}

void RegistryPane::refresh() {
    if (refreshing_) {
        refreshAgain_ = true;
        return;
    }
    refreshing_ = true;
    do {
        refreshAgain_ = false;
        refreshQueued_.store(false);
        if (!run_) {
            lScanTitle_->setText(qs(kScanIdleTitle));
            bScan_->setText(qs(kScanCaption));
            Memo1_->hide();
            pbRegistry_->hide();
            lStatus_->setText(qs(problemStatusText(0, 0)));
            bFixErrors_->setEnabled(false);
            break;
        }
        ScanRun& r = *run_;
        const bool scanning = r.scanning();
        const bool started = scanning && !wasScanning_;
        const bool ended = !scanning && wasScanning_;
        wasScanning_ = scanning;
        syncingSelection_ = true;
        model_->sync(resetList_ || started || ended);
        syncingSelection_ = false;
        resetList_ = false;
        if (ended && model_->shownRows() > 0) fitColumnsToContents();

        bScan_->setText(qs(r.buttonCaption()));
        lScanTitle_->setText(qs(r.titleText()));
        const QString key = qs(r.keyText());
        if (Memo1_->text() != key) {
            Memo1_->setText(key);
            Memo1_->setCursorPosition(0);
        }
        Memo1_->setVisible(r.keyDisplayVisible());

        pbRegistry_->setVisible(r.progressVisible());
        pbRegistry_->setValue(r.progressPosition());
        const std::string_view caption = r.progressCaption();
        pbRegistry_->setTextVisible(!caption.empty());
        pbRegistry_->setFormat(qs(caption));
        if (r.progressTimerRunning() != progressTimer_->isActive()) {
            if (r.progressTimerRunning())
                progressTimer_->start();
            else
                progressTimer_->stop();
        }

        lStatus_->setText(qs(r.statusText()));
        bFixErrors_->setEnabled(!scanning && r.rowCount() > 0);
        bRestoreRegistry_->setVisible(r.restoreVisible());
        QStringList notes;
        if (!scanning)
            for (const ScanFailure& f : r.failures()) notes << qs(f.message);
        if (!r.fixNote().empty()) notes << qs(r.fixNote());
        lScanFailures_->setText(notes.join(QLatin1Char('\n')));
        lScanFailures_->setVisible(!notes.isEmpty());
        syncSelection();
        updateActions();
    } while (refreshAgain_);
    refreshing_ = false;
}

void RegistryPane::updateActions() {
    for (const ProblemMenuItem& item : problemListMenu()) {
        if (item.separator()) continue;
        if (QAction* a = action(item.action))
            a->setEnabled(run_ ? run_->actionEnabled(item.action)
                               : menuItemEnabled(item, false, false));
    }
}

// ---------------------------------------------------------------- selection

void RegistryPane::syncSelection() {
    const std::optional<size_t> want = run_ ? run_->selectedRow() : std::nullopt;
    QItemSelectionModel* sm = lvRegistryData_->selectionModel();
    const QModelIndexList rows = sm->selectedRows();
    const int have = rows.isEmpty() ? -1 : rows.first().row();
    const int target = want && *want < size_t(model_->shownRows()) ? int(*want) : -1;
    if (have == target) return;
    syncingSelection_ = true;
    if (target < 0) {
        sm->clearSelection();
    } else {
        QModelIndex idx = model_->index(target, 0);
        sm->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        lvRegistryData_->scrollTo(idx);
    }
    syncingSelection_ = false;
}

void RegistryPane::onViewSelectionChanged() {
    if (syncingSelection_) return;
    const QModelIndexList rows = lvRegistryData_->selectionModel()->selectedRows();
    std::optional<size_t> row;
    if (!rows.isEmpty()) row = size_t(rows.first().row());
    run().setSelectedRow(row);
}

void RegistryPane::selectRow(std::optional<size_t> row) {
    run().setSelectedRow(row);
}

void RegistryPane::showPopup(const QPoint& pos) {
    updateActions();
    pmRegistry_->popup(lvRegistryData_->viewport()->mapToGlobal(pos));
}

// ---------------------------------------------------------------- list actions

void RegistryPane::aSelectAllExecute() {
    run().selectAll();
}

void RegistryPane::aSelectNoneExecute() {
    run().selectNone();
}

void RegistryPane::aSelectItemExecute() {
    run().selectItem();
}

void RegistryPane::aDeselectItemExecute() {
    run().deselectItem();
}

void RegistryPane::aSelectAllTypeExecute() {
    run().selectAllOfType();
}

void RegistryPane::aUnselectAllTypeExecute() {
    run().deselectAllOfType();
}

void RegistryPane::aIgnoreListAddExecute() {
    resetList_ = true;  // the rows that went into a list leave it
    run().addToIgnoreLists();
}

// ---------------------------------------------------------------- fix and backups

bool RegistryPane::bFixErrorsClick() {
    ScanRun& r = run();
    if (r.scanning()) return false;
    FixErrorsSteps steps;
    steps.restorePoint = [this] { return TfrmSystemPoint::Execute(machine_, prompter_, window()); };
    // Deletions reach the hives at the commit below; the backup is flushed before it.
    steps.flushEachBlock = false;
    // What the deletions leave behind (a key left empty) joins the list, unchecked.
    steps.rescan = [&r] { return r.scanAgain(); };
    std::string error;
    auto report = fixErrors(machine_, r.rows(), mainModel_.Settings, mainModel_.windowsVersionCode,
                            prompter_, steps, &error);
    if (!report) {
        if (!error.empty()) prompter_.ask(error, MB_OK | MB_ICONERROR);
        return false;
    }
    if (!machine_.registry().commit()) {
        machine_.registry().discard();
        prompter_.ask(commitFailed(*report, r.rows(),
                                   "The registry changes could not be saved to the hive files of "
                                   "this machine."),
                      MB_OK | MB_ICONERROR);
        report->leftovers.clear();  // found in what was just forgotten
    }
    resetList_ = true;
    r.fixFinished(*report);
    std::string text;
    for (const auto& m : report->messages) text += m + "\n";
    if (!text.empty()) prompter_.ask(text, MB_OK | MB_ICONWARNING);
    return true;
}

void RegistryPane::bRestoreRegistryClick() {
    TfrmRestore dialog(machine_, mainModel_.Settings, prompter_, window());
    dialog.exec();
}

void RegistryPane::aSaveTextExecute() {
    QString typed =
        QFileDialog::getSaveFileName(window(), qs(kSaveTextTitle), QString(), qs(kSaveTextFilter),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (!typed.isEmpty()) saveAsText(typed);
}

bool RegistryPane::saveAsText(const QString& typed) {
    const std::string name = saveAsTextName(typed.toUtf8().toStdString());
    QFile file(QString::fromStdString(name));
    if (file.exists() &&
        prompter_.ask(name + std::string(kOverwriteSuffix), MB_YESNO | MB_DEFBUTTON2) != IDYES)
        return false;
    const std::string text = problemReportText(run().rows());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.flush()) {
        prompter_.ask("Cannot write " + name + ".", MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

void RegistryPane::aOpenRegeditExecute() {
    auto row = run().selectedRow() ? run().row(*run().selectedRow()) : std::nullopt;
    if (!row) return;
    auto target = findRegeditTarget(machine_.registry(), programView(machine_.isWow64()),
                                    regeditTargetPath(*row));
    if (!target) {
        prompter_.ask(kNoRegeditTargetText, MB_OK | MB_ICONINFORMATION);
        return;
    }
    // The editor's remembered key, where a registry editor started on this
    // machine would open.
    if (rememberRegeditKey(machine_.registry(), machine_.version().major, target->key))
        machine_.registry().commit();
    else
        machine_.registry().discard();
    auto* viewer = new TfrmRegistryViewer(machine_, window());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    // The viewer also selects the value a value row names.
    viewer->navigate(target->key, target->value.empty() ? rowValueName(*row) : target->value);
    viewer->show();
}

}  // namespace brisko
