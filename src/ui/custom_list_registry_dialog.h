#pragma once
// "Add Registry": one registry entry of the custom list: a key to delete, the
// values and subkeys of a key, or one value. The entry is checked when the
// user presses OK; a refused one is explained and the dialog stays open.
#include <QDialog>
#include <string>
#include <string_view>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace brisko {

class Machine;
class RegistryEntryBox;

class TfrmAddRegistry final : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmAddRegistry(Machine& machine, QWidget* parent = nullptr);

    // The entry the choices make: "KEY", "KEY," or "KEY,VALUE" (UTF-8).
    std::string entry() const;
    // Fills the dialog from a row of the list, for "&Edit".
    void setEntry(std::string_view row);

    QLineEdit* eKey() const;
    QLineEdit* eValueName() const { return eValueName_; }
    QRadioButton* rbDeleteKey() const { return rbDeleteKey_; }
    QRadioButton* rbDeleteValues() const { return rbDeleteValues_; }
    QRadioButton* rbDeleteValue() const { return rbDeleteValue_; }
    QPushButton* bRegedit() const;
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;

    void bOKClick();
    void bRegeditClick();

  private:
    void updateControls();

    RegistryEntryBox* box_ = nullptr;
    QLineEdit* eValueName_ = nullptr;
    QRadioButton* rbDeleteKey_ = nullptr;
    QRadioButton* rbDeleteValues_ = nullptr;
    QRadioButton* rbDeleteValue_ = nullptr;
};

}  // namespace brisko
