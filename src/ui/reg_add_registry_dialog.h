#pragma once
// The ignore-list entry dialog: the user types a key or value path for one of
// the two ignore lists. "&OK" is enabled only while the text names a root
// ("HKEY_" anywhere, any case); nothing else is checked.
#include <QDialog>
#include <string>
#include <string_view>

class QLineEdit;
class QPushButton;

namespace brisko {

class Machine;
class RegistryEntryBox;

class TfrmRegAddRegistry final : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmRegAddRegistry(Machine& machine, QWidget* parent = nullptr);

    // The entry as typed (UTF-8).
    std::string registryKey() const;
    // Fills the field, for editing an entry that exists.
    void setRegistryKey(std::string_view text);

    QLineEdit* eRegistryKey() const;
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;
    QPushButton* regeditButton() const;

    // "&Launch Registry Editor": opens the registry editor without waiting.
    void bRegeditClick();

  private:
    void eRegistryKeyChange();

    RegistryEntryBox* box_ = nullptr;
};

}  // namespace brisko
