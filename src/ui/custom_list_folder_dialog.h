#pragma once
// "Add File and Folder": one file entry of the custom list: a single file of
// a folder, a whole folder, or the files of a folder that match a mask. The
// folder may be typed (a BASE token such as %windir% or {Local AppData} may
// begin it) or picked from the machine's folders. The entry is checked when
// the user presses OK; a refused one is explained and the dialog stays open.
#include <QDialog>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace brisko {

class Machine;

class TfrmAddFolder final : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmAddFolder(Machine& machine, QWidget* parent = nullptr);

    // "FOLDER,FILE", "FOLDER" or "FOLDER,MASK" as chosen (UTF-8); the folder
    // text as typed.
    std::string entry() const;

    QRadioButton* rbSingleFile() const { return rbSingleFile_; }
    QRadioButton* rbMultipleFiles() const { return rbMultipleFiles_; }
    QLineEdit* eFolder() const { return eFolder_; }
    QPushButton* bBrowse() const { return bBrowse_; }
    QGroupBox* gbSelectFile() const { return gbSelectFile_; }
    QListWidget* lbFiles() const { return lbFiles_; }
    QGroupBox* gbDeletingMode() const { return gbDeletingMode_; }
    QRadioButton* rbDeleteFolder() const { return rbDeleteFolder_; }
    QRadioButton* rbWildcard() const { return rbWildcard_; }
    QLineEdit* eMask() const { return eMask_; }
    QPushButton* okButton() const { return bOK_; }
    QPushButton* cancelButton() const { return bCancel_; }

    void bBrowseClick();
    void bOKClick();

  private:
    // Where the typed folder is on the machine; empty when it is not a folder there.
    std::string existingFolder() const;
    void fillFiles();
    void updateControls();

    Machine& machine_;
    QRadioButton* rbSingleFile_ = nullptr;
    QRadioButton* rbMultipleFiles_ = nullptr;
    QLineEdit* eFolder_ = nullptr;
    QPushButton* bBrowse_ = nullptr;
    QGroupBox* gbSelectFile_ = nullptr;
    QListWidget* lbFiles_ = nullptr;
    QGroupBox* gbDeletingMode_ = nullptr;
    QRadioButton* rbDeleteFolder_ = nullptr;
    QRadioButton* rbWildcard_ = nullptr;
    QLineEdit* eMask_ = nullptr;
    QPushButton* bOK_ = nullptr;
    QPushButton* bCancel_ = nullptr;
};

}  // namespace brisko
