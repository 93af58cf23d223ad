#pragma once
// The index.dat viewer: lists every address an Internet Explorer index file
// still holds, with its time. The file is read on a worker thread; pressing
// "&Show" again or closing the dialog stops that read first, so the list is
// only ever filled by the read the user asked for last. A hidden "&Delete"
// (Ctrl+Alt+S shows it) blanks the file and closes the dialog.
#include <QAbstractTableModel>
#include <QDialog>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cleaner/indexdat/index_dat.h"
#include "core/settings.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QFrame;

namespace brisko {

class Machine;

// The rows of lvIndexDat, supplied on demand from the listed entries.
class IndexDatListModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void setEntries(std::vector<IndexDatEntry> entries);
    const std::vector<IndexDatEntry>& entries() const { return entries_; }

  private:
    std::vector<IndexDatEntry> entries_;
};

class TfrmIndexDatViewer final : public QDialog {
    Q_OBJECT

  public:
    TfrmIndexDatViewer(Machine& machine, const TOptionsSetting& settings,
                       QWidget* parent = nullptr);
    ~TfrmIndexDatViewer() override;

    // Opens the viewer modally, as the Tools pane's "Index.dat Viewer..." does.
    static void showModal(Machine& machine, const TOptionsSetting& settings, QWidget* parent);

    QLineEdit* eFileName() const { return eFileName_; }
    QTableView* lvIndexDat() const { return lvIndexDat_; }
    QLabel* Panel1() const { return Panel1_; }
    QProgressBar* ProgressBar1() const { return ProgressBar1_; }
    QPushButton* bShow() const { return bShow_; }
    QPushButton* bDelete() const { return bDelete_; }
    QPushButton* bClose() const { return suiButton3_; }
    const IndexDatListModel& model() const { return *model_; }
    bool reading() const { return reading_; }

    void bShowClick();
    void bDeleteClick();
    void bBrowseFolderClick();
    void bShowDetailClick();
    void lvIndexDatDblClick(const QModelIndex& index);
    // The hidden menu item "Show" (Ctrl+Alt+S).
    void miShowClick();

  signals:
    // Emitted on the window thread when a read has filled the list.
    void readFinished();

  private:
    void stopReading();
    void readDone(unsigned generation, std::shared_ptr<std::vector<IndexDatEntry>> entries);
    void readProgress(unsigned generation, int percent);

    Machine& machine_;
    const TOptionsSetting settings_;
    QLineEdit* eFileName_ = nullptr;
    QPushButton* bBrowseFolder_ = nullptr;
    QTableView* lvIndexDat_ = nullptr;
    IndexDatListModel* model_ = nullptr;
    QLabel* Panel1_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QFrame* Panel2_ = nullptr;
    QPushButton* bShow_ = nullptr;
    QPushButton* bShowDetail_ = nullptr;
    QPushButton* suiButton3_ = nullptr;
    QPushButton* bDelete_ = nullptr;

    std::jthread reader_;
    unsigned generation_ = 0;
    bool reading_ = false;
};

// "C:\x\index.dat" for a host file inside one of the machine's drive folders;
// empty when the file lies outside every drive.
std::string machinePathOfHostFile(Machine& machine, const std::string& hostPath);

}  // namespace brisko
