#pragma once
// "Restore": the backups in the backup folder, newest first, with restore,
// delete and open-folder.
#include <QDialog>
#include <string>
#include <string_view>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace brisko {

class Machine;
class Prompter;
struct TOptionsSetting;

inline constexpr std::string_view kRestoreGroupCaption = "Backup files are stored in the folder";
inline constexpr std::string_view kBrowsePrompt = "Please select the directory to add";
inline constexpr std::string_view kRestoreHint = "Restore registry...";

class TfrmRestore : public QDialog {
    Q_OBJECT

  public:
    TfrmRestore(Machine& machine, const TOptionsSetting& settings, Prompter& prompter,
                QWidget* parent = nullptr);

    // Fills the list from the folder field; "can not find the backup folder."
    // when it does not exist (the list is then left as it was).
    void fillList();
    void bBrowseClick();
    void bOpenDirectoryClick();
    void bRestoreClick();
    void bDeleteClick();
    // Sets the folder field and fills the list anew (what "..." does once a folder is picked).
    void setFolder(const QString& folder);
    // Lists only the backups whose name holds the text (any case), as the
    // Startup manager shows its own.
    void setNameFilter(std::string_view text) { nameFilter_ = text; }

    QLineEdit* eFolder() const { return eFolder_; }
    QTreeWidget* listView() const { return ListView1_; }
    QPushButton* bRestore() const { return bRestore_; }
    QPushButton* bDelete() const { return bDelete_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void updateButtons();
    std::string selectedPath() const;

    Machine& machine_;
    const TOptionsSetting& settings_;
    Prompter& prompter_;
    QLineEdit* eFolder_ = nullptr;
    QTreeWidget* ListView1_ = nullptr;
    QPushButton* bRestore_ = nullptr;
    QPushButton* bDelete_ = nullptr;
    bool shown_ = false;
    std::string nameFilter_;
};

}  // namespace brisko
