#pragma once
// "Run Cleaner": the question before a run that removes, with the box that
// turns the question off for good.
#include <QDialog>
#include <string_view>

class QCheckBox;
class QPushButton;

namespace brisko {

struct TOptionsSetting;

inline constexpr std::string_view kAskDeleteCaption = "Run Cleaner";
inline constexpr std::string_view kAskDeleteQuestion =
    "Are you sure you want to start to clean the selected item?";
inline constexpr std::string_view kAskDeleteProceed = "Are you sure you wish to proceed?";
inline constexpr std::string_view kAskDeleteHint[] = {
    "It's better to close all programs you want to clear their",
    " history, the software can not delete the entries being used",
    "by those programs such as Internet Explorer.",
};
inline constexpr std::string_view kAskDeleteDontShow = "Don't show me this message again";

class TfrmAskDelete : public QDialog {
    Q_OBJECT

  public:
    // settings.IsAskBeforeClear follows the check box as soon as it is clicked.
    explicit TfrmAskDelete(TOptionsSetting& settings, QWidget* parent = nullptr);

    QCheckBox* cbDontShow() const { return cbDontShow_; }
    QPushButton* bOK() const { return bOK_; }
    QPushButton* bCancel() const { return bCancel_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    TOptionsSetting& settings_;
    QCheckBox* cbDontShow_ = nullptr;
    QPushButton* bOK_ = nullptr;
    QPushButton* bCancel_ = nullptr;
};

}  // namespace brisko
