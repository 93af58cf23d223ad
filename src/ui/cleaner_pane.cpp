#include "ui/cleaner_pane.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <iostream>

#include "cleaner/clean_catalog.h"
#include "core/startup.h"
#include "ui/ask_delete_dialog.h"
#include "ui/check_tree_view.h"
#include "ui/clean_log_model.h"
#include "ui/custom_list_dialog.h"
#include "ui/qt_message_target.h"
#include "ui/qt_prompter.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {

constexpr int kTimer1Interval = 500;
constexpr int kButtonGap = 20;  // between the secondary and the primary button

}  // namespace

CleanerPane::CleanerPane(Inputs inputs, QWidget* host) : QObject(host), in_(inputs), host_(host) {
    setObjectName(QStringLiteral("CleanerPane"));
    if (!in_.window) ownTarget_ = std::make_unique<QtMessageTarget>(this);
    model_ = std::make_unique<CleanLogModel>();
    createControls();
    sink_ = std::make_unique<QtCleanLog>(*model_, [this] { lMain_->scrollToBottom(); });
    controller_ = std::make_unique<CleanRunController>(
        CleanRunController::Inputs{in_.machine, in_.settings, in_.cleanTree, *this, in_.prompter,
                                   *sink_, in_.window ? *in_.window : *ownTarget_});
    setFastMode(in_.settings.FastScan);
    // The clean tree is the pane's neighbour in the same group box.
    if (auto* tree = host_->findChild<CheckTreeView*>(QStringLiteral("tvCleanItems")))
        connect(tree, &CheckTreeView::labelPressed, this, &CleanerPane::tvCleanItemsLabelPressed);
}

void CleanerPane::tvCleanItemsLabelPressed(CheckNode* node) {
    if (!node || !node->parent || node->caption != kNewListItem ||
        node->parent->caption != kCustomListsGroup)
        return;
    // After the press: a modal dialog opened inside it would leave the tree
    // waiting for its release.
    QTimer::singleShot(0, this, &CleanerPane::openCustomListEditor);
}

void CleanerPane::openCustomListEditor() {
    TfrmNewCustomItem editor(in_.machine, host_->window());
    editor.exec();
}

CleanerPane::~CleanerPane() {
    // The worker writes into the sink and the model; it goes first.
    controller_.reset();
    sink_.reset();
    if (lMain_) lMain_->setModel(nullptr);
    model_.reset();
    if (ownTarget_) ownTarget_->detach();
}

void CleanerPane::createControls() {
    lMain_ = new QListView(host_);
    lMain_->setObjectName(QStringLiteral("lMain"));
    lMain_->setModel(model_.get());
    lMain_->setUniformItemSizes(true);
    lMain_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lMain_->setSelectionMode(QAbstractItemView::SingleSelection);
    lMain_->setTextElideMode(Qt::ElideNone);
    lMain_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lMain_->setContextMenuPolicy(Qt::CustomContextMenu);
    lMain_->viewport()->installEventFilter(this);
    model_->setFont(lMain_->font());
    connect(lMain_, &QWidget::customContextMenuRequested, this, &CleanerPane::showLogMenu);

    pmLog_ = new QMenu(lMain_);
    pmLog_->setObjectName(QStringLiteral("pmLog"));
    aSaveText_ = pmLog_->addAction(QStringLiteral("S&ave to text file"));
    aSaveText_->setObjectName(QStringLiteral("aSaveText"));
    aSaveText_->setIcon(lMain_->style()->standardIcon(QStyle::SP_DialogSaveButton));
    connect(aSaveText_, &QAction::triggered, this, &CleanerPane::aSaveTextExecute);
    connect(model_.get(), &QAbstractItemModel::rowsInserted, this, &CleanerPane::updateSaveEnabled);
    connect(model_.get(), &QAbstractItemModel::modelReset, this, &CleanerPane::updateSaveEnabled);
    updateSaveEnabled();

    controlRow_ = new QWidget(host_);
    controlRow_->setObjectName(QStringLiteral("pCleanButtons"));
    auto* row = new QHBoxLayout(controlRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    cbFastMode_ = new QCheckBox(QStringLiteral("Fast Mode"), controlRow_);
    cbFastMode_->setObjectName(QStringLiteral("cbFastMode"));
    cbFastMode_->setToolTip(
        QStringLiteral("List only what each item comes to, not every file and entry"));
    connect(cbFastMode_, &QCheckBox::clicked, this, &CleanerPane::cbFastModeClick);

    ProgressBar1_ = new QProgressBar(controlRow_);
    ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1_->setRange(0, 1000);
    ProgressBar1_->setValue(0);
    ProgressBar1_->setTextVisible(false);
    ProgressBar1_->setAlignment(Qt::AlignCenter);
    ProgressBar1_->setFixedHeight(22);
    // Hidden until the first run, without the buttons moving when it appears.
    QSizePolicy keep = ProgressBar1_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ProgressBar1_->setSizePolicy(keep);
    ProgressBar1_->hide();

    bTest_ = new QPushButton(QStringLiteral("Test"), controlRow_);
    bTest_->setObjectName(QStringLiteral("bTest"));
    bTest_->setIcon(bTest_->style()->standardIcon(QStyle::SP_FileDialogContentsView));
    bClean_ = new QPushButton(QStringLiteral("Clean"), controlRow_);
    bClean_->setObjectName(QStringLiteral("bClean"));
    bClean_->setIcon(bClean_->style()->standardIcon(QStyle::SP_TrashIcon));
    for (QPushButton* b : {bTest_, bClean_}) {
        b->setMinimumWidth(92);
        b->setAutoDefault(false);
    }
    connect(bTest_, &QPushButton::clicked, this, &CleanerPane::bTestClick);
    connect(bClean_, &QPushButton::clicked, this, &CleanerPane::bCleanClick);

    row->addWidget(cbFastMode_);
    row->addWidget(ProgressBar1_, 1);
    row->addSpacing(kButtonGap - row->spacing());
    row->addWidget(bTest_);
    row->addSpacing(kButtonGap - row->spacing());
    row->addWidget(bClean_);

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kTimer1Interval);
    connect(Timer1_, &QTimer::timeout, this, &CleanerPane::Timer1Timer);

    workerWatch_ = new QTimer(this);
    workerWatch_->setInterval(50);
    connect(workerWatch_, &QTimer::timeout, this, [this] {
        if (controller_->workerAlive()) return;
        workerWatch_->stop();
        emit cleanRunEnded(watchRemoving_);
    });
}

// ------------------------------------------------------------------ flags and runs

void CleanerPane::syncFlags() {
    if (!in_.flags) return;
    in_.flags->Busy = controller_->Busy();
    in_.flags->RunMode = controller_->RunMode();
}

void CleanerPane::afterStart(StartResult) {
    syncFlags();
}

bool CleanerPane::cleanInProgress() const {
    return bTest_->text() == QLatin1String("Cancel");
}

void CleanerPane::bTestClick() {
    if (cleanInProgress()) {
        cancelClean();
        return;
    }
    afterStart(controller_->bTestClick());
}

void CleanerPane::bCleanClick() {
    if (controller_->Busy()) return;
    afterStart(controller_->bCleanClick());
}

void CleanerPane::cancelClean() {
    const bool wasBusy = controller_->Busy() || cleanInProgress();
    const bool removing = controller_->RunMode() != kRunModeTest;
    controller_->cancel();
    syncFlags();
    if (wasBusy) watchCancelledWorker(removing);
}

void CleanerPane::watchCancelledWorker(bool removing) {
    // What a cancelled removing worker did until it stopped is to be written
    // too, once it has let go of the registry.
    watchRemoving_ = removing;
    workerWatch_->start();
}

StartResult CleanerPane::startUnattendedClean() {
    if (in_.flags) controller_->AutoClearRun = in_.flags->AutoClearRun;
    StartResult r = controller_->startUnattendedClean();
    afterStart(r);
    return r;
}

bool CleanerPane::waitForCleanRun(std::chrono::milliseconds limit) {
    if (!controller_->Busy()) return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!controller_->Busy()) loop.quit();
    });
    deadline.start(limit);
    poll.start(20);
    loop.exec();
    return !controller_->Busy();
}

void CleanerPane::setFastMode(bool on) {
    cbFastMode_->setChecked(on);
    // The worker reads the controller's copy, which must follow a FastScan
    // loaded or edited elsewhere; the hidden count keeps its own until it ends.
    if (!controller_->hiddenPassRunning()) controller_->cbFastModeClick(on);
}

void CleanerPane::cbFastModeClick() {
    controller_->cbFastModeClick(cbFastMode_->isChecked());
}

void CleanerPane::Timer1Timer() {
    // The bar only moves while someone can see it.
    if (!host_->isVisible()) return;
    controller_->onTimer();
}

void CleanerPane::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (msg != WM_CLEAN_PROGRESS && msg != WM_CLEAN_DONE && msg != WM_CLEAN_PASS) return;
    const bool wasBusy = controller_->Busy();
    const int mode = controller_->RunMode();
    // Every line the worker wrote before posting is in the list before the
    // message acts on it.
    sink_->flush();
    controller_->handleMessage(msg, wParam, lParam);
    syncFlags();
    if (wasBusy && !controller_->Busy())
        emit cleanRunEnded(msg == WM_CLEAN_DONE && mode != kRunModeTest);
}

bool CleanerPane::event(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        auto* m = static_cast<MessageEvent*>(event);
        handleMessage(m->msg, m->wParam, m->lParam);
        return true;
    }
    return QObject::event(event);
}

// ------------------------------------------------------------------ the view

bool CleanerPane::confirmClean() {
    if (in_.prompter.headless()) {
        // Nobody to ask: the dialog's default button.
        std::cerr << kProgramTitle << ": " << kAskDeleteQuestion << "\n  -> OK (no one to ask)"
                  << std::endl;
        return true;
    }
    TfrmAskDelete dlg(in_.settings, host_->window());
    return dlg.exec() == QDialog::Accepted;
}

void CleanerPane::setTestButtonCaption(std::string_view caption) {
    bTest_->setText(qs(caption));
    bTest_->setIcon(bTest_->style()->standardIcon(
        caption == "Cancel" ? QStyle::SP_BrowserStop : QStyle::SP_FileDialogContentsView));
}

void CleanerPane::showProgressBar() {
    ProgressBar1_->show();
}

void CleanerPane::setProgress(int position) {
    ProgressBar1_->setValue(position);
}

void CleanerPane::setProgressText(std::string_view text, bool shown) {
    ProgressBar1_->setFormat(text.empty() ? QStringLiteral("%p%") : qs(text));
    ProgressBar1_->setTextVisible(shown);
}

void CleanerPane::setLogTextHidden(bool hidden) {
    if (hidden == logTextHidden_) return;
    logTextHidden_ = hidden;
    if (hidden) {
        // Lines of the hidden count are written in the background colour.
        QPalette pal = lMain_->palette();
        pal.setColor(QPalette::Text, pal.color(QPalette::Base));
        pal.setColor(QPalette::HighlightedText, pal.color(QPalette::Highlight));
        lMain_->setPalette(pal);
    } else {
        lMain_->setPalette(QPalette());
    }
}

void CleanerPane::clearLog() {
    sink_->discardPending();
    model_->clear();
    fittedWidth_ = 0;
    updateItemWidth();
    lMain_->horizontalScrollBar()->setValue(0);
}

void CleanerPane::setLogDoubleBuffered(bool) {
    // Qt widgets always paint through a back buffer.
}

void CleanerPane::fitLogAndScrollToEnd() {
    sink_->flush();
    fittedWidth_ = model_->widestLineWidth() + 10;
    updateItemWidth();
    lMain_->scrollToBottom();
}

void CleanerPane::setAnimationTimer(bool enabled) {
    if (enabled)
        Timer1_->start();
    else
        Timer1_->stop();
}

void CleanerPane::updateItemWidth() {
    // Rows span the list at least; after a run, as wide as the widest line.
    const int frame = 2 * lMain_->spacing() + 4;
    model_->setItemWidth(std::max(fittedWidth_, lMain_->viewport()->width() - frame));
}

bool CleanerPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lMain_->viewport() && event->type() == QEvent::Resize) updateItemWidth();
    return QObject::eventFilter(watched, event);
}

// ------------------------------------------------------------------ saving the log

std::vector<std::string> CleanerPane::logLines() {
    sink_->flush();
    return model_->lines();
}

void CleanerPane::updateSaveEnabled() {
    aSaveText_->setEnabled(model_->rowCount() > 0);
}

void CleanerPane::showLogMenu(const QPoint& pos) {
    sink_->flush();
    updateSaveEnabled();
    pmLog_->popup(lMain_->viewport()->mapToGlobal(pos));
}

void CleanerPane::aSaveTextExecute() {
    const std::vector<std::string> lines = logLines();
    if (lines.empty()) return;
    QFileDialog dlg(host_->window(), QStringLiteral("Save as Text"));
    dlg.setObjectName(QStringLiteral("dlgSaveText"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilter(QStringLiteral("Text files (*.txt)"));
    // The overwrite question is ours, asked about the name with ".txt".
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    const QByteArray chosen = QFile::encodeName(dlg.selectedFiles().constFirst());
    const std::filesystem::path path(chosen.toStdString());
    if (saveLogToText(path, lines, in_.prompter) == SaveLogResult::Failed) {
        in_.prompter.ask("The log could not be saved to " + logTextFileName(path).string() + ".",
                         MB_OK | MB_ICONERROR);
    }
}

}  // namespace brisko
