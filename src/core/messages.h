#pragma once
// Numbered messages from workers to their window, and the questions a routine
// asks the user. The numbers and the texts are the contract between a worker
// and whatever shows it (the Qt window, the CLI loop, a test).
#include <cstdint>
#include <string>
#include <string_view>

namespace brisko {

enum Message : uint32_t {
    WM_HOTKEY = 0x0312,
    WM_SHOW_MAIN = 0x5405,
    WM_TRAY_NOTIFY = 0x5406,
    WM_AUTO_CLEAN = 0x5407,
    WM_CLEAN_PROGRESS = 0x5408,
    WM_CLEAN_DONE = 0x5409,
    WM_RESTOREPOINT_DONE = 0x5412,
    WM_CLEAN_PASS = 0x5430,
    WM_REGSCAN_SECTION = 0x6413,
    WM_REGSCAN_DONE = 0x6414,
    WM_HIVECOPY_START = 0x6422,
    WM_HIVECOPY_DONE = 0x6423,
    WM_RUN_REGDEFRAG = 0x6426,
    WM_RUN_REGSCAN = 0x6427,
};

// Where a worker posts its messages. post() may be called from any thread and
// never blocks on the receiver.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
};

// Message box flags and answers, Windows values.
enum MessageBoxFlags : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,
};
enum MessageBoxAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The answer a box gives when nobody can press a button: its default button.
int defaultAnswer(unsigned flags);

// Every message box of the program goes through one prompter. Its caption is
// always the program title. May be called from a worker thread.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual int ask(std::string_view text, unsigned flags) = 0;
};

// Answers every box with its default button (and remembers what it was asked).
class DefaultPrompter : public Prompter {
public:
    int ask(std::string_view text, unsigned flags) override;
    std::string lastText;
};

inline constexpr std::string_view kProgramTitle = "Brisko Cleaner";

}  // namespace brisko
