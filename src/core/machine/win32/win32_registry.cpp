#include "core/machine/win32/win32_registry.h"

#include <windows.h>

#include <vector>

#include "base/text.h"
#include "core/machine/win32/wide.h"

namespace brisko::win32 {

namespace {

HKEY rootHandle(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RootKey::CurrentUser:
            return HKEY_CURRENT_USER;
        case RootKey::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RootKey::Users:
            return HKEY_USERS;
        case RootKey::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

REGSAM accessMask(KeyAccess access) {
    return access == KeyAccess::Read ? KEY_READ : KEY_ALL_ACCESS;
}

// RegDeleteKeyExW exists from XP x64 on; without it the key is deleted in the
// view the process has, which on 32-bit Windows is the only one.
using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
LONG deleteOneKey(HKEY parent, const std::wstring& name, REGSAM wow) {
    static auto fn = reinterpret_cast<RegDeleteKeyExWFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (fn && wow) return fn(parent, name.c_str(), wow, 0);
    return RegDeleteKeyW(parent, name.c_str());
}

// Deletes parent\name with everything below it. The subkeys are listed anew
// after each deletion, so keys that appear meanwhile are taken as well.
bool deleteTree(HKEY parent, const std::wstring& name, REGSAM wow) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE | DELETE | wow, &key) !=
        ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (int guard = 0; guard < 1'000'000; ++guard) {
        wchar_t child[256];
        DWORD len = 256;
        LONG r = RegEnumKeyExW(key, 0, child, &len, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;
        if (!deleteTree(key, std::wstring(child, len), wow)) {
            ok = false;
            break;
        }
    }
    RegCloseKey(key);
    return ok && deleteOneKey(parent, name, wow) == ERROR_SUCCESS;
}

std::wstring relWide(std::string_view relPath) {
    std::string p(relPath);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    while (!p.empty() && p.front() == '\\') p.erase(0, 1);
    return widen(p);
}

class Win32Key : public KeyHandle {
  public:
    Win32Key(HKEY key, bool owned, KeyAccess access, REGSAM wow)
        : key_(key), owned_(owned), access_(access), wow_(wow) {}
    ~Win32Key() override {
        if (owned_) RegCloseKey(key_);
    }

    std::vector<std::string> subkeyNames() override {
        std::vector<std::string> out;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD len = 256;
            LONG r = RegEnumKeyExW(key_, i, name, &len, nullptr, nullptr, nullptr, nullptr);
            if (r != ERROR_SUCCESS) break;
            out.push_back(narrow(std::wstring_view(name, len)));
        }
        return out;
    }

    std::vector<std::string> valueNames() override {
        std::vector<std::string> out;
        DWORD maxName = 0;
        RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, nullptr, nullptr, nullptr);
        std::vector<wchar_t> name(std::max<DWORD>(maxName, 16383) + 1);
        for (DWORD i = 0;; ++i) {
            DWORD len = DWORD(name.size());
            LONG r = RegEnumValueW(key_, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
            if (r != ERROR_SUCCESS) break;
            out.push_back(narrow(std::wstring_view(name.data(), len)));
        }
        return out;
    }

    std::optional<RegValue> value(std::string_view name) override {
        std::wstring w = widen(name);
        DWORD type = 0, size = 0;
        LONG r = RegQueryValueExW(key_, w.c_str(), nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS) return std::nullopt;
        RegValue v;
        v.name = std::string(name);
        // The value may grow between the two calls; ask again with its new size.
        for (int attempt = 0; attempt < 4; ++attempt) {
            v.data.resize(size);
            DWORD got = size;
            r = RegQueryValueExW(key_, w.c_str(), nullptr, &type, v.data.data(), &got);
            if (r == ERROR_MORE_DATA) {
                size = got > size ? got : size * 2 + 16;
                continue;
            }
            if (r != ERROR_SUCCESS) return std::nullopt;
            v.data.resize(got);
            v.type = type;
            return v;
        }
        return std::nullopt;
    }

    bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) override {
        if (access_ == KeyAccess::Read) return false;
        return RegSetValueExW(key_, widen(name).c_str(), 0, type, data.data(),
                              DWORD(data.size())) == ERROR_SUCCESS;
    }

    bool deleteValue(std::string_view name) override {
        if (access_ == KeyAccess::Read) return false;
        return RegDeleteValueW(key_, widen(name).c_str()) == ERROR_SUCCESS;
    }

    std::unique_ptr<KeyHandle> openSubkey(std::string_view relPath, KeyAccess access) override {
        return open(key_, relPath, access, wow_);
    }

    bool deleteSubkey(std::string_view relPath) override {
        if (access_ == KeyAccess::Read) return false;
        std::wstring rel = relWide(relPath);
        if (rel.empty()) return false;
        return deleteTree(key_, rel, wow_);
    }

    KeyInfo info() override {
        KeyInfo k;
        wchar_t cls[1024];
        DWORD clsLen = 1024;
        DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
        FILETIME ft{};
        if (RegQueryInfoKeyW(key_, cls, &clsLen, nullptr, &subkeys, &maxSub, nullptr, &values,
                             &maxName, &maxData, nullptr, &ft) != ERROR_SUCCESS)
            return k;
        k.subkeys = subkeys;
        k.values = values;
        k.maxSubkeyLen = maxSub;
        k.maxValueNameLen = maxName;
        k.maxValueLen = maxData;
        k.lastWrite = int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
        k.className = narrow(std::wstring_view(cls, clsLen));
        return k;
    }

    bool writable() const override { return access_ != KeyAccess::Read; }

    static std::unique_ptr<KeyHandle> open(HKEY parent, std::string_view relPath, KeyAccess access,
                                           REGSAM wow) {
        std::wstring rel = relWide(relPath);
        HKEY key = nullptr;
        LONG r;
        if (access == KeyAccess::Create) {
            r = RegCreateKeyExW(parent, rel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                accessMask(access) | wow, nullptr, &key, nullptr);
        } else {
            r = RegOpenKeyExW(parent, rel.c_str(), 0, accessMask(access) | wow, &key);
        }
        if (r != ERROR_SUCCESS) return nullptr;
        return std::make_unique<Win32Key>(key, true, access, wow);
    }

  private:
    HKEY key_;
    bool owned_;
    KeyAccess access_;
    REGSAM wow_;
};

// "\REGISTRY\MACHINE\SOFTWARE" -> HKLM and "SOFTWARE".
bool splitHivePath(std::string_view keyPath, HKEY* root, std::wstring* sub) {
    std::string up = upperCase(keyPath);
    for (auto [prefix, handle] : {std::pair{"\\REGISTRY\\MACHINE\\", HKEY_LOCAL_MACHINE},
                                  std::pair{"\\REGISTRY\\USER\\", HKEY_USERS}}) {
        std::string_view p(prefix);
        if (up.starts_with(p) && up.size() > p.size()) {
            *root = handle;
            *sub = widen(keyPath.substr(p.size()));
            return true;
        }
    }
    return false;
}

}  // namespace

Win32Registry::Win32Registry(std::function<bool(std::string_view)> privilege, bool isWow64)
    : privilege_(std::move(privilege)), isWow64_(isWow64) {}

std::unique_ptr<KeyHandle> Win32Registry::openKey(RootKey root, std::string_view subPath,
                                                  KeyAccess access) {
    return openKeyInView(RegistryView::Native, root, subPath, access);
}

std::unique_ptr<KeyHandle> Win32Registry::openKeyInView(RegistryView view, RootKey root,
                                                        std::string_view subPath,
                                                        KeyAccess access) {
    HKEY base = rootHandle(root);
    if (!base) return nullptr;
    // 32-bit Windows has one view; older releases refuse the flags.
    REGSAM wow = 0;
    if (isWow64_) wow = view == RegistryView::Wow64_32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    if (relWide(subPath).empty()) {
        // The root itself: its predefined handle, never closed.
        return std::make_unique<Win32Key>(
            base, false, access == KeyAccess::Create ? KeyAccess::ReadWrite : access, wow);
    }
    return Win32Key::open(base, subPath, access, wow);
}

std::string Win32Registry::devicePathToDrivePath(std::string_view devicePath) {
    std::string up = upperCase(devicePath);
    wchar_t drives[512];
    DWORD n = GetLogicalDriveStringsW(512, drives);
    if (n == 0 || n > 512) return {};
    for (const wchar_t* d = drives; *d; d += wcslen(d) + 1) {
        wchar_t name[3] = {d[0], L':', 0};
        wchar_t target[1024];
        if (!QueryDosDeviceW(name, target, 1024)) continue;
        std::string dev = upperCase(narrow(target));
        if (dev.empty()) continue;
        if (up.starts_with(dev) && (up.size() == dev.size() || up[dev.size()] == '\\'))
            return narrow(std::wstring_view(name, 2)) + std::string(devicePath.substr(dev.size()));
    }
    return {};
}

std::vector<HiveMount> Win32Registry::hiveList() {
    std::vector<HiveMount> out;
    auto key = openKey(RootKey::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\hivelist",
                       KeyAccess::Read);
    if (!key) return out;
    for (const auto& name : key->valueNames()) {
        auto v = key->value(name);
        if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) continue;
        std::wstring dev(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / 2);
        while (!dev.empty() && dev.back() == L'\0') dev.pop_back();
        if (dev.empty()) continue;  // a volatile hive has no file
        std::string file = devicePathToDrivePath(narrow(dev));
        if (file.empty()) continue;
        out.push_back({name, file});
    }
    return out;
}

bool Win32Registry::saveHive(std::string_view keyPath, std::string_view targetFile) {
    HKEY root;
    std::wstring sub;
    if (!splitHivePath(keyPath, &root, &sub)) return false;
    privilege_("SeBackupPrivilege");
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, sub.c_str(), REG_OPTION_BACKUP_RESTORE, KEY_READ, &key) !=
            ERROR_SUCCESS &&
        RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    std::wstring target = widen(targetFile);
    // RegSaveKeyExW with the latest format writes the compact form XP and later
    // load; Windows 2000 has only RegSaveKeyW.
    using SaveExFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPSECURITY_ATTRIBUTES, DWORD);
    auto saveEx = reinterpret_cast<SaveExFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegSaveKeyExW")));
    LONG r = saveEx ? saveEx(key, target.c_str(), nullptr, 2 /* REG_LATEST_FORMAT */)
                    : RegSaveKeyW(key, target.c_str(), nullptr);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

bool Win32Registry::replaceHive(std::string_view keyPath, std::string_view newFile,
                                std::string_view oldFile) {
    HKEY root;
    std::wstring sub;
    if (!splitHivePath(keyPath, &root, &sub)) return false;
    privilege_("SeBackupPrivilege");
    privilege_("SeRestorePrivilege");
    return RegReplaceKeyW(root, sub.c_str(), widen(newFile).c_str(), widen(oldFile).c_str()) ==
           ERROR_SUCCESS;
}

}  // namespace brisko::win32
