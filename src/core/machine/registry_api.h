#pragma once
// The registry as the machine offers it: five roots, keys opened by path,
// raw values (type + bytes as stored in the hive). Backends implement
// RegistryApi and KeyHandle; logic uses the RegistryKey wrapper.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/reg_value.h"

namespace brisko {

enum class RootKey : uint32_t {
    ClassesRoot = 0x80000000,
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
    Users = 0x80000003,
    CurrentConfig = 0x80000005,
};

struct KeyInfo {
    uint32_t subkeys = 0;
    uint32_t values = 0;
    uint32_t maxSubkeyLen = 0;
    uint32_t maxValueNameLen = 0;
    uint32_t maxValueLen = 0;
    int64_t lastWrite = 0;  // FILETIME, 100 ns since 1601
    std::string className;
};

enum class KeyAccess {
    Read,       // read-only open; never creates
    ReadWrite,  // full access; fails when the key is absent
    Create,     // full access; creates missing keys along the path
};

// The views 64-bit Windows keeps of its registry (KEY_WOW64_32KEY,
// KEY_WOW64_64KEY). Native is what openKey serves: the system's own keys.
// Wow64_32 is what a 32-bit program sees: HKLM\Software and parts of the
// Classes redirected to Wow6432Node, as Windows 7 does it.
enum class RegistryView { Native, Wow64_32, Wow64_64 };

// One open key. Handles are not shared between threads.
class KeyHandle {
  public:
    virtual ~KeyHandle() = default;
    // Names in the order the registry returns them (for hives: stored order).
    virtual std::vector<std::string> subkeyNames() = 0;
    virtual std::vector<std::string> valueNames() = 0;
    virtual std::optional<RegValue> value(std::string_view name) = 0;
    // Each value with its data, in the order valueNames() lists them, until f
    // returns false; values whose data cannot be read are left out. The value
    // lent to f lasts until f returns. Walks of many keys go this way: a
    // backend can read a key's values in one go, without a lookup by name.
    virtual void forEachValue(const std::function<bool(const RegValue&)>& f);
    virtual bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) = 0;
    virtual bool deleteValue(std::string_view name) = 0;
    // relPath may hold several components separated by '\'.
    virtual std::unique_ptr<KeyHandle> openSubkey(std::string_view relPath, KeyAccess access) = 0;
    // Each subkey opened with `access`, in the order subkeyNames() lists them,
    // until f returns false; a subkey gone between the listing and its open
    // is left out. The handle lent to f lasts until f returns.
    virtual void forEachSubkey(KeyAccess access,
                               const std::function<bool(std::string_view name, KeyHandle&)>& f);
    // Removes the key at relPath with its whole subtree.
    virtual bool deleteSubkey(std::string_view relPath) = 0;
    virtual KeyInfo info() = 0;
    virtual bool writable() const = 0;
};

// What a whole hive is called and where its file lives.
struct HiveMount {
    std::string keyPath;   // "\REGISTRY\MACHINE\SOFTWARE"
    std::string filePath;  // Windows path of the hive file, "C:\Windows\System32\config\SOFTWARE"
};

class RegistryApi {
  public:
    virtual ~RegistryApi() = default;
    // Empty subPath opens the root itself. Nullptr when absent or not allowed.
    virtual std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                               KeyAccess access) = 0;
    // openKey in a view; keys opened below the handle stay in it. A registry
    // without a 32-bit view (32-bit Windows: no Software\Wow6432Node) serves
    // openKey's keys in every view. Backends that serve the system's own keys
    // through openKey need not override it (registry_view.cpp).
    virtual std::unique_ptr<KeyHandle> openKeyInView(RegistryView view, RootKey root,
                                                     std::string_view subPath, KeyAccess access);
    // Writes every changed hive to disk, all of them or none. Called at the end
    // of each job that succeeded; nothing else writes. False when a hive could
    // not be written (the changes are then still there to retry or discard).
    virtual bool commit() = 0;
    // Forgets every change since the last commit (a job that failed).
    virtual void discard() {}
    // True when changes wait for commit() and discard() really forgets them;
    // false where each change is made at once (the running Windows).
    virtual bool changesWaitForCommit() const { return false; }
    // Why changes were refused since the last commit or discard, one line each
    // for a person ("The registry hive ... is damaged ...; nothing was changed.").
    // A key handle only answers false; this says why.
    virtual std::vector<std::string> refusedEdits() const { return {}; }
    // Why each hive that refuses every change does so (damaged, logs that
    // cannot be applied); empty when every hive can be written.
    virtual std::vector<std::string> readOnlyHives() { return {}; }
    // The mounted file-backed hives, as the hive list key shows them.
    virtual std::vector<HiveMount> hiveList() = 0;
    // RegSaveKey: writes a compact copy of the hive mounted at keyPath
    // (e.g. "\REGISTRY\MACHINE\SOFTWARE") to a Windows path.
    virtual bool saveHive(std::string_view keyPath, std::string_view targetFile) = 0;
    // Reads a copy written by saveHive back and compares it key by key with
    // the hive; false, with why for a person, when it differs or the hive is
    // damaged. Windows' own hive save needs no such check.
    virtual bool verifyHiveCopy(std::string_view keyPath, std::string_view copyFile,
                                std::string* why) {
        (void)keyPath, (void)copyFile, (void)why;
        return true;
    }
    // RegReplaceKey: at the next restart newFile replaces the hive file and the
    // old file is kept as oldFile.
    virtual bool replaceHive(std::string_view keyPath, std::string_view newFile,
                             std::string_view oldFile) = 0;
    // Whether a replacement waiting for the next restart (scheduled by this
    // program or another) puts this file in place: nothing may delete or
    // overwrite it before then.
    virtual bool waitsForRestart(std::string_view file) {
        (void)file;
        return false;
    }
};

// Names of the roots as written in full key paths.
std::string_view rootName(RootKey root);
// Finds the root of an upper-cased or mixed-case full key path
// ("HKEY_LOCAL_MACHINE\SOFTWARE\x"); also accepts HKLM, HKCU, HKCR, HKU, HKCC.
// Returns the sub-path after the root and its backslash.
std::optional<RootKey> parseRoot(std::string_view fullPath, std::string* subPath = nullptr);

}  // namespace brisko
