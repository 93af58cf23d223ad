#pragma once
// The About box: the program, its version, the machine it has open, and its pages.
#include <QDialog>
#include <functional>
#include <string_view>

namespace brisko {

class Machine;

class TfrmAbout final : public QDialog {
    Q_OBJECT

  public:
    TfrmAbout(Machine& machine, std::function<void(std::string_view page)> openPage,
              QWidget* parent = nullptr);
};

}  // namespace brisko
