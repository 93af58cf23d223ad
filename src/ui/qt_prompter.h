#pragma once
// The program's message boxes. Questions from worker threads are shown on the
// UI thread while the worker waits for the answer. Without a display (the
// offscreen platform, or an unattended run) nobody can answer, so the box's
// default button is taken and the exchange is logged to stderr.
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string_view>

#include "core/messages.h"

namespace brisko {

// A message box set up from Windows MB_* flags: caption "Brisko Cleaner",
// buttons, icon and default button. The caller runs it.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, std::string_view text, unsigned flags);
// The Windows answer (IDOK, IDCANCEL, IDYES, IDNO) for the button pressed.
int answerFor(QMessageBox::StandardButton button, unsigned flags);

class QtPrompter : public Prompter {
  public:
    explicit QtPrompter(QWidget* parent = nullptr);

    int ask(std::string_view text, unsigned flags) override;

    // Unattended runs must not wait for a person.
    void setUnattended(bool on) { unattended_ = on; }
    bool unattended() const { return unattended_; }
    bool headless() const;
    // Shows the box even on a platform without a visible display (tests that
    // press its buttons themselves).
    void setAlwaysAsk(bool on) { alwaysAsk_ = on; }
    void setParent(QWidget* parent) { parent_ = parent; }

  private:
    int askOnUiThread(std::string_view text, unsigned flags);

    QPointer<QWidget> parent_;
    std::atomic<bool> unattended_{false};
    std::atomic<bool> alwaysAsk_{false};
};

}  // namespace brisko
