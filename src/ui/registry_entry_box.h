#pragma once
// What the two registry entry dialogs (a custom-list entry, an ignore-list
// entry) have in common: a group box with a bold caption, a muted hint and the
// key field, a row for the dialog's own choices, and the registry editor
// button on a row of its own; under it, "&OK" and "&Cancel".
#include <QGroupBox>
#include <string>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace brisko {

class Machine;

class RegistryEntryBox final : public QGroupBox {
    Q_OBJECT

  public:
    // The key field is named keyName (each dialog has its own name for it).
    RegistryEntryBox(Machine& machine, const QString& caption, const QString& hint,
                     const QString& keyName, const QString& regeditCaption, QDialog* dialog);

    QLabel* caption() const { return caption_; }
    QLabel* hint() const { return hint_; }
    QLineEdit* keyEdit() const { return key_; }
    QPushButton* regeditButton() const { return regedit_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // Between the key field and the registry editor button.
    QVBoxLayout* choices() const { return choices_; }

    // The key field as typed (UTF-8).
    std::string key() const;
    // Whether the text names a root: "HKEY_" anywhere, in any case.
    bool keyNamesRoot() const;
    // Opens the registry editor without waiting; where none can be started
    // (an image), the program's registry viewer at the key in the field.
    void launchRegedit();

  private:
    Machine& machine_;
    QLabel* caption_ = nullptr;
    QLabel* hint_ = nullptr;
    QLineEdit* key_ = nullptr;
    QPushButton* regedit_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QVBoxLayout* choices_ = nullptr;
};

}  // namespace brisko
