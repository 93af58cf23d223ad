#pragma once
// "Edit Custom Item": the editor of the user's custom list ("<New List>" in
// Custom.dat), opened from the label of "Custom Lists - <New List>" in the
// clean tree. Rows are added through "Add File and Folder" and "Add
// Registry", registry rows can be edited, any row removed; "&OK" writes the
// list (it needs at least one row), "&Cancel" leaves the file as it was.
#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace brisko {

class Machine;

class TfrmNewCustomItem final : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmNewCustomItem(Machine& machine, QWidget* parent = nullptr);

    std::vector<std::string> rows() const;

    QListWidget* lbContent() const { return lbContent_; }
    QPushButton* bAddFolder() const { return bAddFolder_; }
    QPushButton* bAddRegistry() const { return bAddRegistry_; }
    QPushButton* bEdit() const { return bEdit_; }
    QPushButton* bRemove() const { return bRemove_; }
    QPushButton* okButton() const { return bOK_; }
    QPushButton* cancelButton() const { return bCancel_; }

    void bAddFolderClick();
    void bAddRegistryClick();
    void bEditClick();
    void bRemoveClick();
    void bOKClick();

  private:
    void addRow(const std::string& entry);
    void updateButtons();

    Machine& machine_;
    QListWidget* lbContent_ = nullptr;
    QPushButton* bAddFolder_ = nullptr;
    QPushButton* bAddRegistry_ = nullptr;
    QPushButton* bEdit_ = nullptr;
    QPushButton* bRemove_ = nullptr;
    QPushButton* bOK_ = nullptr;
    QPushButton* bCancel_ = nullptr;
};

}  // namespace brisko
