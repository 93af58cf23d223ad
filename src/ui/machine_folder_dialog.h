#pragma once
// A folder picker over the machine's own drives: the folders it offers are
// the Windows folders of the machine (an image's drives, not the host's).
#include <QDialog>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;
class QLineEdit;

namespace brisko {

class Machine;

class MachineFolderDialog final : public QDialog {
    Q_OBJECT

  public:
    MachineFolderDialog(Machine& machine, const QString& title, const std::string& start,
                        QWidget* parent = nullptr);

    // The chosen folder, a Windows path without a trailing backslash.
    std::string folder() const;
    QTreeWidget* tree() const { return tree_; }

  private:
    void fill(QTreeWidgetItem* item);
    QTreeWidgetItem* select(const std::string& path);

    Machine& machine_;
    QTreeWidget* tree_ = nullptr;
    QLineEdit* ePath_ = nullptr;
};

}  // namespace brisko
