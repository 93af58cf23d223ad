#include "ui/index_dat_viewer.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <filesystem>

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine_time_format.h"
#include "ui/qt_text.h"
#include "ui/web_pages.h"

namespace brisko {

namespace {

const char* const kCaption = "Index.dat file viewer";
constexpr std::string_view kIndexDatPage = "https://brisko-cleaner.example.org/index-dat";

}  // namespace

// --- The list --------------------------------------------------------------

int IndexDatListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int IndexDatListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant IndexDatListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto& e = entries_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        // Addresses are 8-bit text in the browser's code page; Latin-1 shows
        // every byte as one character.
        return index.column() == 0 ? QString::fromLatin1(e.Url.data(), qsizetype(e.Url.size()))
                                   : qs(e.TimeText);
    }
    if (role == Qt::DecorationRole && index.column() == 0)
        return QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon);
    return {};
}

QVariant IndexDatListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("URL") : QStringLiteral("Last Modified");
}

void IndexDatListModel::setEntries(std::vector<IndexDatEntry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

// --- The dialog ------------------------------------------------------------

TfrmIndexDatViewer::TfrmIndexDatViewer(Machine& machine, const TOptionsSetting& settings,
                                       QWidget* parent)
    : QDialog(parent), machine_(machine), settings_(settings) {
    setWindowTitle(kCaption);
    auto* layout = new QVBoxLayout(this);

    auto* location = new QGroupBox(QStringLiteral("Index.dat file location"), this);
    auto* locLayout = new QHBoxLayout(location);
    eFileName_ = new QLineEdit(location);
    bBrowseFolder_ = new QPushButton(QStringLiteral("..."), location);
    bBrowseFolder_->setFixedWidth(32);
    locLayout->addWidget(eFileName_);
    locLayout->addWidget(bBrowseFolder_);
    layout->addWidget(location);

    model_ = new IndexDatListModel(this);
    lvIndexDat_ = new QTableView(this);
    lvIndexDat_->setModel(model_);
    lvIndexDat_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvIndexDat_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvIndexDat_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvIndexDat_->verticalHeader()->hide();
    lvIndexDat_->verticalHeader()->setDefaultSectionSize(20);
    lvIndexDat_->horizontalHeader()->setStretchLastSection(false);
    lvIndexDat_->setColumnWidth(0, 480);
    lvIndexDat_->setColumnWidth(1, 170);
    lvIndexDat_->setToolTip(QStringLiteral("Double click the item to link to the URL"));
    layout->addWidget(lvIndexDat_, 1);

    auto* totals = new QHBoxLayout;
    totals->addWidget(new QLabel(QStringLiteral("Total Record:"), this));
    Panel1_ = new QLabel(QStringLiteral("0"), this);
    Panel1_->setMinimumWidth(80);
    totals->addWidget(Panel1_);
    ProgressBar1_ = new QProgressBar(this);
    ProgressBar1_->setRange(0, 100);
    ProgressBar1_->setTextVisible(true);
    ProgressBar1_->hide();
    totals->addWidget(ProgressBar1_, 1);
    Panel2_ = new QFrame(this);
    Panel2_->setFrameShape(QFrame::HLine);
    totals->addWidget(Panel2_, 1);
    layout->addLayout(totals);

    auto* buttons = new QHBoxLayout;
    bShowDetail_ = new QPushButton(QStringLiteral("&More Index.dat"), this);
    bDelete_ = new QPushButton(QStringLiteral("&Delete"), this);
    bDelete_->hide();
    bShow_ = new QPushButton(QStringLiteral("&Show"), this);
    suiButton3_ = new QPushButton(QStringLiteral("&Close"), this);
    buttons->addWidget(bShowDetail_);
    buttons->addStretch(1);
    buttons->addWidget(bDelete_);
    buttons->addWidget(bShow_);
    buttons->addWidget(suiButton3_);
    layout->addLayout(buttons);
    bShow_->setDefault(true);

    auto* miShow = new QAction(QStringLiteral("Show"), this);
    miShow->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    addAction(miShow);

    connect(bShow_, &QPushButton::clicked, this, &TfrmIndexDatViewer::bShowClick);
    connect(bDelete_, &QPushButton::clicked, this, &TfrmIndexDatViewer::bDeleteClick);
    connect(bBrowseFolder_, &QPushButton::clicked, this, &TfrmIndexDatViewer::bBrowseFolderClick);
    connect(bShowDetail_, &QPushButton::clicked, this, &TfrmIndexDatViewer::bShowDetailClick);
    connect(suiButton3_, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvIndexDat_, &QTableView::doubleClicked, this, &TfrmIndexDatViewer::lvIndexDatDblClick);
    connect(miShow, &QAction::triggered, this, &TfrmIndexDatViewer::miShowClick);

    setFixedSize(700, 460);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    // The browser writes what it holds before the folder is looked up.
    if (auto* cache = machine_.urlCache()) cache->endBrowserSession();
    std::string cache = machine_.specialFolder(32);
    if (!cache.empty())
        eFileName_->setText(qs(includeTrailingBackslash(cache) + "Content.IE5\\index.dat"));
}

TfrmIndexDatViewer::~TfrmIndexDatViewer() {
    stopReading();
}

void TfrmIndexDatViewer::showModal(Machine& machine, const TOptionsSetting& settings,
                                   QWidget* parent) {
    TfrmIndexDatViewer dialog(machine, settings, parent);
    dialog.exec();
}

void TfrmIndexDatViewer::stopReading() {
    if (reader_.joinable()) {
        reader_.request_stop();
        reader_.join();
    }
    ++generation_;  // whatever the stopped read still posted is dropped
    reading_ = false;
}

void TfrmIndexDatViewer::bShowClick() {
    const std::string path = eFileName_->text().toStdString();
    if (!machine_.files().fileExists(path) || upperCase(extractFileExt(path)) != ".DAT") {
        QMessageBox::information(this, kCaption,
                                 QStringLiteral("Please enter the correct index.dat file name."));
        eFileName_->setFocus();
        return;
    }
    stopReading();
    model_->setEntries({});
    Panel1_->setText(QStringLiteral("0"));
    Panel2_->hide();
    ProgressBar1_->setValue(0);
    ProgressBar1_->show();

    // The file is opened here and read on the worker through its own handle.
    std::shared_ptr<FileHandle> file = machine_.files().openFile(path, FileMode::Read);
    const unsigned generation = generation_;
    reading_ = true;
    reader_ = std::jthread([this, file, generation](std::stop_token stop) {
        auto entries = std::make_shared<std::vector<IndexDatEntry>>();
        if (file)
            *entries = ReadIndexDat(*file, 0, [&](int percent) {
                QMetaObject::invokeMethod(
                    this, [this, generation, percent] { readProgress(generation, percent); },
                    Qt::QueuedConnection);
                return !stop.stop_requested();
            });
        if (stop.stop_requested()) return;
        QMetaObject::invokeMethod(
            this, [this, generation, entries] { readDone(generation, entries); },
            Qt::QueuedConnection);
    });
}

void TfrmIndexDatViewer::readProgress(unsigned generation, int percent) {
    if (generation == generation_) ProgressBar1_->setValue(percent);
}

void TfrmIndexDatViewer::readDone(unsigned generation,
                                  std::shared_ptr<std::vector<IndexDatEntry>> entries) {
    if (generation != generation_) return;
    if (reader_.joinable()) reader_.join();
    reading_ = false;
    // Times as the machine's user has Windows show them, not in one fixed format.
    const MachineTimeFormat format = machineTimeFormat(machine_);
    for (auto& e : *entries)
        if (std::string text = formatMachineTime(e.FileTime, format); !text.empty())
            e.TimeText = std::move(text);
    model_->setEntries(std::move(*entries));
    Panel1_->setText(QString::number(model_->rowCount()));
    ProgressBar1_->setValue(100);
    emit readFinished();
}

void TfrmIndexDatViewer::bDeleteClick() {
    stopReading();
    const std::string path = eFileName_->text().toStdString();
    if (machine_.files().fileExists(path)) WipeIndexDat(machine_.files(), path, settings_);
    reject();
}

void TfrmIndexDatViewer::miShowClick() {
    bDelete_->show();
}

void TfrmIndexDatViewer::bShowDetailClick() {
    // An offline machine has no browser to show the page in: its own
    // index.dat files are what there is to see more of.
    if (!machine_.shellExecute("Open", kIndexDatPage, "")) bBrowseFolderClick();
}

void TfrmIndexDatViewer::lvIndexDatDblClick(const QModelIndex& index) {
    if (!index.isValid() || index.row() >= model_->rowCount()) return;
    const std::string& url = model_->entries()[static_cast<size_t>(index.row())].Url;
    // An offline machine has no browser to start: the address is shown instead.
    if (machine_.shellExecute("Open", url, "")) return;
    QMessageBox box(QMessageBox::Information, kCaption,
                    QString::fromLatin1(url.data(), qsizetype(url.size())), QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

void TfrmIndexDatViewer::bBrowseFolderClick() {
    std::string start;
    for (const auto& d : machine_.files().drives())
        if (d.letter == 'C' && !d.hostPath.empty()) start = d.hostPath;
    QString chosen = QFileDialog::getOpenFileName(this, kCaption, qs(start),
                                                  QStringLiteral("Index dat file (*.dat *.DAT)"));
    if (chosen.isEmpty()) return;
    std::string winPath = machinePathOfHostFile(machine_, chosen.toStdString());
    if (winPath.empty()) {
        QMessageBox::information(this, kCaption,
                                 QStringLiteral("Please enter the correct index.dat file name."));
        return;
    }
    eFileName_->setText(qs(winPath));
}

std::string machinePathOfHostFile(Machine& machine, const std::string& hostPath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path file = fs::weakly_canonical(hostPath, ec);
    if (ec) return {};
    for (const auto& d : machine.files().drives()) {
        if (d.hostPath.empty()) continue;
        fs::path root = fs::weakly_canonical(d.hostPath, ec);
        if (ec) continue;
        fs::path rel = file.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..") continue;
        std::string out{d.letter, ':'};
        for (const auto& part : rel) out += "\\" + part.string();
        return out;
    }
    return {};
}

}  // namespace brisko
