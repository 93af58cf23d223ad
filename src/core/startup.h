#pragma once
// What the program decides at start: which Windows it runs on, which switch it
// was started with, the run flags of the main window, and the schedule period.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/machine.h"

namespace brisko {

// Window messages and system commands the main window posts to itself, beside
// those of core/messages.h.
inline constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
inline constexpr uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr uintptr_t SC_MINIMIZE = 0xF020;
inline constexpr uintptr_t SC_MAXIMIZE = 0xF030;

inline constexpr std::string_view kMainWindowClass = "Brisko Cleaner Made by Brisko Software";
inline constexpr std::string_view kProgramVersion = "3.8";
inline constexpr std::string_view kMainCaption = "Brisko Cleaner 3.8";
inline constexpr std::string_view kTitleHint = "Optimize your computer performance";
inline constexpr int kDesignClientWidth = 697;
inline constexpr int kDesignClientHeight = 456;
inline constexpr int kMinWindowWidth = 626;
inline constexpr int kMinWindowHeight = 455;

// 1 Windows 95, 3 Windows 98, 8 Me, 5 NT 3, 6 NT 4, 7 Windows 2000, 9 XP,
// 10 Server 2003 or anything unrecognised, 11 Vista, 12 Windows 7, 13 Windows 8.
int WindowsVersionCode(const OsVersion& v);
inline bool isWin9xCode(int code) {
    return code == 1 || code == 3 || code == 8;
}
// Registry analysis and defragmentation work on NT systems only.
inline bool registryAnalysisAvailable(int code) {
    return (code >= 5 && code <= 7) || (code >= 9 && code <= 13);
}
// Windows Backup is not offered on the 9x family.
inline bool hidesWindowsBackup(int code) {
    return (code >= 1 && code <= 4) || code == 8;
}

enum class StartSwitch { None, Auto, Clear, Regdefrag, Regscan };

// The switch named by the first argument: "/Auto" exactly, the other three in
// any letter case. Anything else is None (an interactive start).
StartSwitch parseStartSwitch(std::string_view firstArg);
// The switch as it acts on this Windows: the two registry switches need
// registry analysis and are an interactive start without it.
StartSwitch effectiveStartSwitch(StartSwitch sw, int versionCode);
// Switches that end the program by themselves when their job is done
// (a front end may run them without a display).
inline bool isUnattendedSwitch(StartSwitch sw) {
    return sw == StartSwitch::Clear || sw == StartSwitch::Regdefrag || sw == StartSwitch::Regscan;
}

// The program's arguments once our own options are taken off the front.
struct StartArgs {
    std::string machineDir;         // --machine DIR / --machine=DIR; empty: not given
    std::vector<std::string> args;  // the rest; args[0] is the switch, args[1] the report file

    std::string_view first() const { return args.empty() ? std::string_view{} : args[0]; }
    std::string_view second() const { return args.size() < 2 ? std::string_view{} : args[1]; }
    StartSwitch startSwitch() const { return parseStartSwitch(first()); }
    // The report file of "/Regscan"; empty when none was given.
    std::string reportFile() const;
};

struct StartArgsError {
    std::string message;
};

// Takes "--machine DIR" and "--machine=DIR" off the front of argv (argv[0] is
// the program and is skipped) and stops at the first other argument, or after
// "--". Throws StartArgsError when --machine has no folder.
StartArgs parseStartArgs(int argc, const char* const* argv);
StartArgs parseStartArgs(const std::vector<std::string>& argsWithoutProgram);

// The run flags of the main window.
struct RunFlags {
    bool Busy = false;            // a clean run is being prepared or runs
    int RunMode = 0;              // 0 clean pass, 1 unattended clean, 2 Test run, 3 Clean request
    bool AutoClearRun = false;    // started with "/Clear"
    bool UnattendedRun = false;   // started with "/Regdefrag" or "/Regscan"
    bool BrowsersHidden = false;  // the hot key has hidden the browser windows
};

inline constexpr int kRunModeCleanPass = 0;
inline constexpr int kRunModeUnattended = 1;
inline constexpr int kRunModeTest = 2;
inline constexpr int kRunModeCleanRequest = 3;

// Period of the schedule timer for a CleanInterval code, in milliseconds:
// 0 15 minutes, 1 30 minutes, 2 1 hour, 3 4 hours, 4 8 hours, others 15 minutes.
int scheduleIntervalMs(int cleanInterval);

}  // namespace brisko
