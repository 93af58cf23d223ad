#pragma once
// The registry viewer "&RegEdit..." opens where the machine has no registry
// editor of its own (an image): the key tree on the left, the values of the
// selected key on the right, read-only, opened at a key and value.
#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace brisko {

class Machine;

class TfrmRegistryViewer : public QDialog {
    Q_OBJECT

  public:
    // Keys are read through machine.registry() each time: the machine may read
    // its hives again while the window is open (after a restore).
    explicit TfrmRegistryViewer(Machine& machine, QWidget* parent = nullptr);

    // Expands the tree down to the key (a full key path as the registry
    // keeps it) and selects it, and the value when one is named. False when
    // the key is not there.
    bool navigate(std::string_view fullKey, std::string_view valueName = {});

    QTreeWidget* keyTree() const { return tvKeys_; }
    QTreeWidget* valueList() const { return lvValues_; }
    // The selected key's full path ("HKEY_CURRENT_USER\Software").
    std::string currentKey() const;

  private:
    void fillChildren(QTreeWidgetItem* item);
    void showValues();

    Machine& machine_;
    QTreeWidget* tvKeys_ = nullptr;
    QTreeWidget* lvValues_ = nullptr;
};

// The data of a value as the registry editor's list shows it.
QString registryValueText(uint32_t type, const std::vector<uint8_t>& data);

}  // namespace brisko
