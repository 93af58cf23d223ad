// What a registry scan finds on the demo machine: traces of two programs
// removed long ago ("Old Photo Editor" and Winamp) and of a few other slips,
// beside healthy entries of every kind whose files are all present
// (Firefox, VLC, 7-Zip and Windows' own), which a scan must leave alone.
#include <string>

#include "base/text.h"
#include "demo/demo_content.h"
#include "demo/machine_builder.h"
#include "demo/shortcut_file.h"

namespace brisko {

namespace {
const char* kRegistry = R"reg(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\Program Files\\7-Zip\\7-zip.dll"=dword:00000001
"C:\\Windows\\system32\\mfc42.dll"=dword:00000004
"C:\\Program Files\\Common Files\\Old Photo Editor\\pecore.dll"=dword:00000002
"C:\\Windows\\system32\\msvcr71.dll"=dword:00000000

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\firefox.exe]
@="C:\\Program Files\\Mozilla Firefox\\firefox.exe"
"Path"="C:\\Program Files\\Mozilla Firefox"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\7zFM.exe]
@="C:\\Program Files\\7-Zip\\7zFM.exe"
"Path"="C:\\Program Files\\7-Zip"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\photoed.exe]
@="\"C:\\Program Files\\Old Photo Editor\\photoed.exe\""
"Path"="C:\\Program Files\\Old Photo Editor"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\winamp.exe]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Arial (TrueType)"="arial.ttf"
"Times New Roman (TrueType)"="times.ttf"
"Segoe UI (TrueType)"="segoeui.ttf"
"Old Script Regular (TrueType)"="C:\\Program Files\\Old Photo Editor\\Fonts\\oldscript.ttf"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"windows.hlp"="C:\\Windows\\Help"
"photoed.hlp"="C:\\Program Files\\Old Photo Editor\\Help\\"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Html Help]
"mmc.chm"="C:\\Windows\\Help"
"photoed.chm"="C:\\Program Files\\Old Photo Editor\\Help"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"PhotoEditorAgent"="\"C:\\Program Files\\Old Photo Editor\\agent.exe\" /tray"
"WinampAgent"="C:\\Program Files\\Winamp\\winampa.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"VLC Tray"="\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\" --started-from-file"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSConfig\startupreg\PhotoEditorUpdate]
"key"="SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
"item"="peupdate"
"command"="C:\\Program Files\\Old Photo Editor\\peupdate.exe -check"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\7-Zip]
"DisplayName"="7-Zip 9.20"
"DisplayIcon"="C:\\Program Files\\7-Zip\\7zFM.exe"
"InstallLocation"="C:\\Program Files\\7-Zip\\"
"UninstallString"="\"C:\\Program Files\\7-Zip\\Uninstall.exe\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\VLC media player]
"DisplayName"="VLC media player 2.0.5"
"DisplayIcon"="C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"
"UninstallString"="C:\\Program Files\\VideoLAN\\VLC\\uninstall.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Old Photo Editor]
"DisplayName"="Old Photo Editor 4.2"
"DisplayIcon"="C:\\Program Files\\Old Photo Editor\\photoed.exe,0"
"Publisher"="Old Photo Software"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Winamp]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3C5E9A71-2B4D-4F8E-9A1C-6D7E8F9A0B1C}\Patches]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders]
"C:\\Program Files\\7-Zip\\"=""
"C:\\Program Files\\VideoLAN\\VLC\\"=""
"C:\\Program Files\\Old Photo Editor\\Filters\\"=""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Management\ARPCache\7-Zip]
"SlowInfoCache"=hex:28,02,00,00,01,00,00,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Management\ARPCache\RealPlayer 10.5]
"SlowInfoCache"=hex:28,02,00,00,01,00,00,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Old Photo Editor]
"InstallDir"="C:\\Program Files\\Old Photo Editor\\"
"Version"="4.2"

[HKEY_LOCAL_MACHINE\SOFTWARE\OldToolbar\Settings]

[HKEY_CURRENT_USER\Software\Old Photo Editor\Recent]
"File1"="C:\\Users\\Alex\\Pictures\\holiday 2009.jpg"
"File2"="C:\\Users\\Alex\\Pictures\\tree.jpg"

[HKEY_CURRENT_USER\Software\Old Photo Editor\Plugins\Filters]

[HKEY_CURRENT_USER\Software\Winamp]

[HKEY_CURRENT_USER\Software\7-Zip]
"Path"="C:\\Program Files\\7-Zip\\"

[HKEY_CURRENT_USER\Software\VideoLAN\VLC]
"IsFirstRun"=dword:00000000

[HKEY_CLASSES_ROOT\.txt]
@="txtfile"
"PerceivedType"="text"

[HKEY_CLASSES_ROOT\txtfile]
@="Text Document"

[HKEY_CLASSES_ROOT\.pdn]

[HKEY_CLASSES_ROOT\.phe]
@=""

[HKEY_CLASSES_ROOT\.7z]
@="7-Zip.7z"

[HKEY_CLASSES_ROOT\7-Zip.7z]
@="7z Archive"

[HKEY_CURRENT_USER\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\MuiCache]
"LangID"=hex:09,04
"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"="VLC media player"

[HKEY_CURRENT_USER\Software\Classes\VLC.mp4]
@="MP4 Video"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.txt\OpenWithList]
"a"="notepad.exe"
"MRUList"="a"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdn]

[HKEY_CLASSES_ROOT\CLSID\{23170F69-40C1-278A-1000-000100020000}]
@="7-Zip Shell Extension"

[HKEY_CLASSES_ROOT\CLSID\{23170F69-40C1-278A-1000-000100020000}\InprocServer32]
@="C:\\Program Files\\7-Zip\\7-zip.dll"
"ThreadingModel"="Apartment"

[HKEY_CLASSES_ROOT\CLSID\{9A3D4E52-7C1B-4F0E-A2D6-5B8C1E3F7A90}]
@="Old Photo Editor Thumbnail Handler"

[HKEY_CLASSES_ROOT\CLSID\{9A3D4E52-7C1B-4F0E-A2D6-5B8C1E3F7A90}\InprocServer32]
@="C:\\Program Files\\Old Photo Editor\\PhotoShellExt.dll"
"ThreadingModel"="Apartment"

[HKEY_CLASSES_ROOT\CLSID\{4C7E2B18-93A5-4D61-8F0B-2E6A9D3C5B71}]
@="Old Photo Editor Automation"
"AppID"="{E1B2C3D4-5F60-4A7B-8C9D-0E1F2A3B4C5D}"

[HKEY_CLASSES_ROOT\CLSID\{4C7E2B18-93A5-4D61-8F0B-2E6A9D3C5B71}\LocalServer32]
@="\"C:\\Program Files\\Old Photo Editor\\photoed.exe\" /automation"

[HKEY_CLASSES_ROOT\CLSID\{13709620-C279-11CE-A49E-444553540000}]
@="Shell Automation Service"
"AppID"="{13709620-C279-11CE-A49E-444553540000}"

[HKEY_CLASSES_ROOT\CLSID\{13709620-C279-11CE-A49E-444553540000}\InprocServer32]
@="C:\\Windows\\system32\\shell32.dll"
"ThreadingModel"="Apartment"

[HKEY_CLASSES_ROOT\AppID\{13709620-C279-11CE-A49E-444553540000}]
@="Shell Automation Service"

[HKEY_CLASSES_ROOT\CLSID\{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}]
@="CAccPropServicesClass"
"AppID"="{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}"

[HKEY_CLASSES_ROOT\CLSID\{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}\InprocServer32]
@="C:\\Windows\\system32\\oleacc.dll"
"ThreadingModel"="Both"

[HKEY_CLASSES_ROOT\Interface\{B196B28F-BAB4-101A-B69C-00AA00341D07}]
@="IClassFactory2"

[HKEY_CLASSES_ROOT\Interface\{B196B28F-BAB4-101A-B69C-00AA00341D07}\TypeLib]
@="{00020430-0000-0000-C000-000000000046}"

[HKEY_CLASSES_ROOT\Interface\{5D6E7F80-91A2-4B3C-8D4E-5F60718293A4}]
@="IPhotoFilter"

[HKEY_CLASSES_ROOT\Interface\{5D6E7F80-91A2-4B3C-8D4E-5F60718293A4}\TypeLib]
@="{8A9B0C1D-2E3F-4051-9263-748596A7B8C9}"
"Version"="1.0"

[HKEY_CLASSES_ROOT\TypeLib\{00020430-0000-0000-C000-000000000046}\2.0]
@="OLE Automation"

[HKEY_CLASSES_ROOT\TypeLib\{00020430-0000-0000-C000-000000000046}\2.0\0\win32]
@="C:\\Windows\\system32\\stdole2.tlb"

[HKEY_CLASSES_ROOT\TypeLib\{50A7E9B0-70EF-11D1-B75A-00A0C90564FE}\1.0]
@="Microsoft Shell Controls And Automation"

[HKEY_CLASSES_ROOT\TypeLib\{50A7E9B0-70EF-11D1-B75A-00A0C90564FE}\1.0\0\win32]
@="C:\\Windows\\system32\\shell32.dll"

[HKEY_CLASSES_ROOT\TypeLib\{7E1C4A2F-6B3D-4E5F-8A9B-0C1D2E3F4A5B}\1.0]
@="Old Photo Editor Filters 1.0"

[HKEY_CLASSES_ROOT\TypeLib\{7E1C4A2F-6B3D-4E5F-8A9B-0C1D2E3F4A5B}\1.0\0\win32]
@="C:\\Program Files\\Old Photo Editor\\PhotoShellExt.dll"

[HKEY_CLASSES_ROOT\Applications\vlc.exe\shell\Open\command]
@="\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\" --started-from-file \"%1\""

[HKEY_CLASSES_ROOT\Applications\notepad.exe\shell\open\command]
@="C:\\Windows\\system32\\NOTEPAD.EXE %1"

[HKEY_CLASSES_ROOT\Applications\photoed.exe\shell\open\command]
@="\"C:\\Program Files\\Old Photo Editor\\photoed.exe\" \"%1\""

[HKEY_CLASSES_ROOT\Applications\photoed.exe\shell\edit\command]
@="\"C:\\Program Files\\Old Photo Editor\\photoed.exe\" /edit \"%1\""

[HKEY_CLASSES_ROOT\Applications\iview.exe\shell\open\command]
@=""

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs\VideoLAN]
"Order"=hex:08,00,00,00,02,00,00,00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs\Winamp]
"Order"=hex:08,00,00,00,02,00,00,00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\jpg]
"a"="C:\\Users\\Alex\\Pictures\\holiday 2009.jpg"
"b"="C:\\Users\\Alex\\Pictures\\tree.jpg"
"MRUList"="ba"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\MailBeep\.Current]
@="C:\\Program Files\\Old Photo Editor\\Sounds\\chime.wav"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\Notify\.Current]
@="Windows Notify.wav"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\PhotoEditor\ExportDone\.Current]
@="C:\\Program Files\\Old Photo Editor\\Sounds\\done.wav"
)reg";

void setValue(RegTreeKey& hive, std::string_view path, std::string_view name, uint32_t type,
              std::vector<uint8_t> data) {
    hive.find(path, true)->setValue(name, type, std::move(data));
}

void setExpand(RegTreeKey& hive, std::string_view path, std::string_view name,
               std::string_view text) {
    setValue(hive, path, name, REG_EXPAND_SZ, utf8ToUtf16le(text));
}

// UserAssist value names are stored with their letters rotated by 13.
std::string rot13(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = char('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z')
            c = char('A' + (c - 'A' + 13) % 26);
    }
    return s;
}

// The XP-era usage record of UserAssist: session, run count, last run.
std::vector<uint8_t> usage(uint32_t runs) {
    std::vector<uint8_t> d(16, 0);
    d[0] = 1;
    for (int i = 0; i < 4; ++i) d[4 + i] = uint8_t(runs >> (8 * i));
    const uint64_t lastRun = 129000000000000000ull;  // 2009
    for (int i = 0; i < 8; ++i) d[8 + i] = uint8_t(lastRun >> (8 * i));
    return d;
}

void addValues(MachineBuilder& b) {
    b.addRegText(kRegistry);

    auto& system = b.hive("SYSTEM");
    setExpand(system, "ControlSet001\\Services\\Dhcp", "ImagePath",
              "%SystemRoot%\\system32\\svchost.exe -k LocalServiceNetworkRestricted");
    setExpand(system, "ControlSet001\\Services\\Beep", "ImagePath", "system32\\DRIVERS\\beep.sys");
    setExpand(system, "ControlSet001\\Services\\OldPhotoSvc", "ImagePath",
              "\"C:\\Program Files\\Old Photo Editor\\pesvc.exe\" -service");

    auto& software = b.hive("SOFTWARE");
    setExpand(software, "Microsoft\\Windows\\CurrentVersion\\Run", "SoundMan",
              "%SystemRoot%\\SoundMan.exe");

    auto& user = b.hive("NTUSER");
    const std::string schemes = "AppEvents\\Schemes\\Apps\\.Default\\";
    setExpand(user, schemes + "SystemAsterisk\\.Current", "",
              "%SystemRoot%\\media\\Windows Ding.wav");
    setExpand(user, schemes + ".Default\\.Current", "", "%SystemRoot%\\media\\Windows Ding.wav");
    const std::string counts =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
        "{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";
    setValue(user, counts, rot13("UEME_RUNPATH:C:\\Program Files\\Mozilla Firefox\\firefox.exe"),
             REG_BINARY, usage(20));
    setValue(user, counts, rot13("UEME_RUNPATH:C:\\Program Files\\Old Photo Editor\\photoed.exe"),
             REG_BINARY, usage(4));
    setValue(user, counts, rot13("UEME_RUNPATH:C:\\Windows\\system32\\calc.exe"), REG_BINARY,
             usage(0));
}

void addFiles(MachineBuilder& b) {
    for (const char* f : {
             "C:\\Program Files\\Mozilla Firefox\\firefox.exe",
             "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe",
             "C:\\Program Files\\VideoLAN\\VLC\\uninstall.exe",
             "C:\\Program Files\\7-Zip\\7zFM.exe",
             "C:\\Program Files\\7-Zip\\7-zip.dll",
             "C:\\Program Files\\7-Zip\\Uninstall.exe",
             "C:\\Windows\\notepad.exe",
             "C:\\Windows\\system32\\notepad.exe",
             "C:\\Windows\\system32\\calc.exe",
             "C:\\Windows\\system32\\shell32.dll",
             "C:\\Windows\\system32\\svchost.exe",
             "C:\\Windows\\system32\\oleacc.dll",
             "C:\\Windows\\system32\\stdole2.tlb",
             "C:\\Windows\\system32\\mfc42.dll",
             "C:\\Windows\\system32\\msvcr71.dll",
             "C:\\Windows\\system32\\drivers\\beep.sys",
             "C:\\Windows\\Fonts\\arial.ttf",
             "C:\\Windows\\Fonts\\times.ttf",
             "C:\\Windows\\Fonts\\segoeui.ttf",
             "C:\\Windows\\Help\\windows.hlp",
             "C:\\Windows\\Help\\mmc.chm",
             "C:\\Windows\\media\\Windows Ding.wav",
             "C:\\Windows\\media\\Windows Notify.wav",
             "C:\\Users\\Alex\\Pictures\\tree.jpg",
             // What the base installation's own values name.
             "C:\\Windows\\Web\\Wallpaper\\Windows\\img0.jpg",
         })
        b.addFile(f, std::string(512, '\0'));
    b.addFolder("C:\\Windows\\system32\\config\\systemprofile");

    // Shortcuts, healthy and dead. The Old Photo Editor folder of the Start
    // Menu outlived the program; Winamp's order key outlived its folder.
    const std::string programs =
        "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const std::string common = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const std::string desktop = "C:\\Users\\Alex\\Desktop\\";
    const std::string recent = "C:\\Users\\Alex\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\";
    struct Link {
        std::string file;
        const char* target;
        bool folder = false;
    };
    const Link links[] = {
        {programs + "Accessories\\Notepad.lnk", "C:\\Windows\\system32\\notepad.exe"},
        {programs + "Old Photo Editor\\Old Photo Editor.lnk",
         "C:\\Program Files\\Old Photo Editor\\photoed.exe"},
        {common + "7-Zip\\7-Zip File Manager.lnk", "C:\\Program Files\\7-Zip\\7zFM.exe"},
        {common + "VideoLAN\\VLC media player.lnk", "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"},
        {desktop + "Mozilla Firefox.lnk", "C:\\Program Files\\Mozilla Firefox\\firefox.exe"},
        {desktop + "Old Photo Editor.lnk", "C:\\Program Files\\Old Photo Editor\\photoed.exe"},
        {desktop + "Pictures.lnk", "C:\\Users\\Alex\\Pictures", true},
        {"C:\\Users\\Public\\Desktop\\VLC media player.lnk",
         "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"},
        {recent + "holiday 2009.lnk", "C:\\Users\\Alex\\Pictures\\holiday 2009.jpg"},
        // Started at logon: one per Startup folder, for the Startup manager.
        {programs + "Startup\\7-Zip File Manager.lnk", "C:\\Program Files\\7-Zip\\7zFM.exe"},
        {common + "Startup\\VLC media player.lnk", "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"},
    };
    for (const auto& l : links) b.addFile(l.file, shortcutFileBytes(l.target, l.folder));
}
}  // namespace

void addDemoRegistryProblems(MachineBuilder& b) {
    addValues(b);
    addFiles(b);
}

}  // namespace brisko
