#pragma once
// "Please select the directory to add": a folder picker over the machine's
// own drives and folders (the machine may be an offline installation, so the
// host's file dialog would show the wrong disk). Folders are listed as they
// are expanded; links are shown but not entered.
#include <QDialog>
#include <string>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace brisko {

class Machine;

class TfrmBrowseFolder final : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmBrowseFolder(Machine& machine, QWidget* parent = nullptr);

    // Expands the tree down to folder, as far as it exists, and selects it.
    void selectFolder(const std::string& folder);
    // The selected folder ("C:\Users\Alex\AppData"); empty when none is.
    std::string folder() const;

    QTreeWidget* tvFolders() const { return tvFolders_; }
    QPushButton* okButton() const { return bOK_; }

  private:
    void fill(QTreeWidgetItem* item);
    QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const QString& name);

    Machine& machine_;
    QTreeWidget* tvFolders_ = nullptr;
    QPushButton* bOK_ = nullptr;
};

}  // namespace brisko
