#pragma once
// What the Options dialog edits beside the settings record, and the rules it
// checks, shared with `brisko options`: the auto-start value in the Run key,
// the cookie keep list in "Cookies.ini", the names of hot keys, and the
// checks a setting must pass before it is saved.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

namespace brisko {

class Machine;

inline constexpr std::string_view kAutoStartKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kAutoStartValue = "Brisko Cleaner";

// Why the program cannot start itself at logon on this machine; empty when
// it can (it runs from its installed executable there).
std::string AutoStartUnavailableReason(Machine& machine);
// The user's Run value "Brisko Cleaner" exists and its data holds "/Auto".
bool AutoStartEnabled(Machine& machine);
// Writes "\"<the running executable>\" /Auto" or deletes the value; creates
// the Run key when missing. Turning it on fails where the reason above says
// so. The change stays in the registry until it is committed.
bool SetAutoStart(Machine& machine, bool on);

// The name of a virtual key as the Boss Key box shows it ("F5", "Num 7",
// "PageUp"); empty for a key without a name and for Shift, Ctrl and Alt.
std::string HotkeyKeyName(unsigned virtualKey);
// "Ctrl  Shift  Alt  F5": each modifier and two spaces, then the key name.
std::string HotkeyText(const TShortcut& key);

// "Cookies.ini" in the program's folder, section "Cookies to Keep".
std::string CookieKeepFile(Machine& machine);
std::vector<std::string> ReadCookieKeepList(Machine& machine);
bool WriteCookieKeepList(Machine& machine, const std::vector<std::string>& keep);
// The user's cookie folder as the Options dialog lists it (with a trailing
// backslash; "Low" when only it holds cookies), empty when there is none.
std::string CookieFolder(Machine& machine);
// The hosts of the cookie files not kept (the third line of each "*.txt" file,
// one trailing "/" removed), in folder order; duplicates stay. A keep entry
// with ".txt" keeps the file of that name, any other the cookies of that host.
std::vector<std::string> ListCookieHosts(Machine& machine, const std::vector<std::string>& keep);

// Why a setting cannot be saved as the dialog would refuse it; empty when it
// can. Checks: the backup folder exists, "WipeNumber" is 1 to 10,
// "CleanInterval" 0 to 4, and a Boss Key that is on has a key.
std::string CheckOptions(Machine& machine, const TOptionsSetting& s);
// The message the dialog shows for a missing backup folder.
std::string MissingBackupFolderText(std::string_view folder);

}  // namespace brisko
