#pragma once
// The scanner of every registry scan section, and the walks they are built
// from. addFileReferenceScanners and addComScanners (scan_context.h) put them
// into the scanner table by section code.
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_api.h"
#include "registry/scan_context.h"

namespace brisko {

class PathChecks;

// Sections whose entries point at files.
void scanSharedDlls(ScanContext& ctx);         // 7
void scanSoftwareLocations(ScanContext& ctx);  // 8, App Paths
void scanStartMenu(ScanContext& ctx);          // 9, menu order keys
void scanFonts(ScanContext& ctx);              // 12
void scanHelpFiles(ScanContext& ctx);          // 13
void scanStartupPrograms(ScanContext& ctx);    // 14
void scanAddRemovePrograms(ScanContext& ctx);  // 15
void scanWindowsServices(ScanContext& ctx);    // 17
void scanShortcuts(ScanContext& ctx);          // 18
void scanInstaller(ScanContext& ctx);          // 21
void scanApplications(ScanContext& ctx);       // 22
void scanMruLists(ScanContext& ctx);           // 24

// Sections that judge registry structure.
void scanHive(ScanContext& ctx, int section);   // 3 to 6, the "Files and Folders" walks
void scanObsoleteSoftware(ScanContext& ctx);    // 10
void scanFileExtensions(ScanContext& ctx);      // 11
void scanCustomControls(ScanContext& ctx);      // 16
void scanSoundEvents(ScanContext& ctx);         // 19
void scanInvalidActiveX(ScanContext& ctx);      // 20
void scanUninstallerEntries(ScanContext& ctx);  // 23
void scanEmptyKeys(ScanContext& ctx);           // 25

// A key with a "command" subkey below an Applications entry.
struct CommandKey {
    std::string path;        // relative to the root, like startPath
    std::string command;     // the command's default value; empty when absent
    bool delegated = false;  // a DelegateExecute value: a COM handler runs the verb
};
// Every key from start down, depth first, that has a "command" subkey whose
// default value is absent or a string; such a key is not descended into.
std::vector<CommandKey> FindCommandKey(KeyHandle& start, std::string_view startPath,
                                       const ScanContext& ctx);

// False when an empty key at this path must be left alone (exact case).
bool IsReportableEmptyKey(std::string_view path, bool isWin7or8, bool isWin8);
// The Empty Keys walk leaves these subtrees alone (ignoring case).
bool inEmptyKeysSkipList(std::string_view path);

// Reports the empty subkeys of root\path; for section 23 also walks each subkey.
void ScanEmptyKeys(ScanContext& ctx, RootKey root, std::string_view path, int section);
// The Empty Keys walk of HKEY_USERS from path ("" for the whole root).
void ScanEmptyUserKeys(ScanContext& ctx, std::string_view path);
// The class-key walk of Custom Controls: every key's string default value.
void ScanClsidTree(PathChecks& checks, RootKey root, std::string_view path);
// The sound scheme walk: default values of ".current", ".default", "utopia0".
void ScanSoundTree(PathChecks& checks, RootKey root, std::string_view path);

}  // namespace brisko
