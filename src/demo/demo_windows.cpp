// Windows 7 Professional SP1, 32-bit, with one user "Alex".
#include <string>

#include "base/text.h"
#include "demo/demo_content.h"
#include "demo/machine_builder.h"

namespace brisko {

namespace {
constexpr const char* kSid = "S-1-5-21-1004336348-1177238915-682003330-1000";

void setString(RegTreeKey& hive, std::string_view path, std::string_view name,
               std::string_view value, uint32_t type = REG_SZ) {
    hive.find(path, true)->setValue(name, type, utf8ToUtf16le(value));
}

const char* kMachineReg = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.1"
"CurrentBuild"="7601"
"CurrentBuildNumber"="7601"
"CSDVersion"="Service Pack 1"
"ProductName"="Windows 7 Professional"
"EditionID"="Professional"
"RegisteredOwner"="Alex"
"SystemRoot"="C:\\Windows"
"CurrentType"="Multiprocessor Free"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files"
"CommonFilesDir"="C:\\Program Files\\Common Files"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common AppData"="C:\\ProgramData"
"Common Desktop"="C:\\Users\\Public\\Desktop"
"Common Documents"="C:\\Users\\Public\\Documents"
"Common Programs"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
"Common Start Menu"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu"
"Common Startup"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"
"Common Templates"="C:\\ProgramData\\Microsoft\\Windows\\Templates"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName]
"ComputerName"="ALEX-PC"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"ComSpec"="C:\\Windows\\system32\\cmd.exe"
"NUMBER_OF_PROCESSORS"="2"
"OS"="Windows_NT"
"PROCESSOR_ARCHITECTURE"="x86"
"windir"="C:\\Windows"
"TEMP"="C:\\Windows\\TEMP"
"TMP"="C:\\Windows\\TEMP"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\IDConfigDB]
"CurrentConfig"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Hardware Profiles\0001]
"FriendlyName"="Current"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Hardware Profiles\0001\Software\Fonts]
"LogPixels"=dword:00000060

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters]
"Hostname"="ALEX-PC"

[HKEY_LOCAL_MACHINE\SAM\SAM\Domains\Account\Users\Names\Alex]

[HKEY_LOCAL_MACHINE\SECURITY\Policy]

[HKEY_USERS\.DEFAULT\Control Panel\Desktop]
"Wallpaper"=""

[HKEY_CURRENT_USER\Control Panel\Desktop]
"Wallpaper"="C:\\Windows\\Web\\Wallpaper\\Windows\\img0.jpg"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer]

[HKEY_CURRENT_USER\Software\Classes\Local Settings]
)";

struct ShellFolder {
    const char* name;
    const char* rel;  // below the profile
};
constexpr ShellFolder kUserFolders[] = {
    {"AppData", "AppData\\Roaming"},
    {"Cache", "AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files"},
    {"Cookies", "AppData\\Roaming\\Microsoft\\Windows\\Cookies"},
    {"Desktop", "Desktop"},
    {"Favorites", "Favorites"},
    {"History", "AppData\\Local\\Microsoft\\Windows\\History"},
    {"Local AppData", "AppData\\Local"},
    {"My Music", "Music"},
    {"My Pictures", "Pictures"},
    {"My Video", "Videos"},
    {"NetHood", "AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {"Personal", "Documents"},
    {"PrintHood", "AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {"Programs", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {"Recent", "AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {"SendTo", "AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {"Start Menu", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {"Startup", "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {"Templates", "AppData\\Roaming\\Microsoft\\Windows\\Templates"},
};

constexpr const char* kSystemFolders[] = {
    "C:\\Windows\\System32\\config",
    "C:\\Windows\\System32\\drivers\\etc",
    "C:\\Windows\\Fonts",
    "C:\\Windows\\Help",
    "C:\\Windows\\Temp",
    "C:\\Windows\\Web\\Wallpaper\\Windows",
    "C:\\Program Files\\Common Files",
    "C:\\Program Files\\Brisko Cleaner",
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    "C:\\ProgramData\\Microsoft\\Windows\\Templates",
    "C:\\Users\\Public\\Desktop",
    "C:\\Users\\Public\\Documents",
    "C:\\Users\\Default",
};
}  // namespace

void addDemoWindows(MachineBuilder& b) {
    b.addRegText(kMachineReg);

    auto& software = b.hive("SOFTWARE");
    std::string profileList = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    setString(software, profileList, "ProfilesDirectory", "%SystemDrive%\\Users", REG_EXPAND_SZ);
    setString(software, profileList, "ProgramData", "%SystemDrive%\\ProgramData", REG_EXPAND_SZ);
    setString(software, profileList, "Public", "%SystemDrive%\\Users\\Public", REG_EXPAND_SZ);
    setString(software, profileList, "Default", "%SystemDrive%\\Users\\Default", REG_EXPAND_SZ);
    for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20"})
        setString(software, profileList + "\\" + sid, "ProfileImagePath",
                  "%systemroot%\\system32\\config\\systemprofile", REG_EXPAND_SZ);
    setString(software, profileList + "\\" + kSid, "ProfileImagePath", "C:\\Users\\Alex",
              REG_EXPAND_SZ);

    auto& user = b.hive("NTUSER");
    const std::string profile = "C:\\Users\\Alex\\";
    for (const auto& f : kUserFolders) {
        setString(user, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  f.name, profile + f.rel);
        setString(user,
                  "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                  f.name, std::string("%USERPROFILE%\\") + f.rel, REG_EXPAND_SZ);
        b.addFolder(profile + f.rel);
    }
    setString(user, "Environment", "TEMP", "%USERPROFILE%\\AppData\\Local\\Temp", REG_EXPAND_SZ);
    setString(user, "Environment", "TMP", "%USERPROFILE%\\AppData\\Local\\Temp", REG_EXPAND_SZ);
    setString(user, "Volatile Environment", "APPDATA", profile + "AppData\\Roaming");
    setString(user, "Volatile Environment", "LOCALAPPDATA", profile + "AppData\\Local");
    setString(user, "Volatile Environment", "USERNAME", "Alex");
    setString(user, "Volatile Environment", "USERPROFILE", "C:\\Users\\Alex");

    for (const char* f : kSystemFolders) b.addFolder(f);
    b.addFolder(profile + "AppData\\Local\\Temp");
    b.addFile("C:\\Windows\\System32\\drivers\\etc\\hosts",
              "# Copyright (c) 1993-2009 Microsoft Corp.\r\n#\r\n127.0.0.1       localhost\r\n");
    b.addFile("C:\\Windows\\win.ini", "; for 16-bit app support\r\n[fonts]\r\n[extensions]\r\n");
    b.addFile(profile + "Documents\\Budget 2026.xlsx", std::string(18432, 'x'));
    b.addFile(profile + "Documents\\Letter to the landlord.docx", std::string(24576, 'd'));
    b.addFile(profile + "Desktop\\notes.txt", "Buy milk.\r\n");
}

}  // namespace brisko
