#pragma once
// The registry key object every routine uses: set a root, open a sub-path, read
// or change it, close. Failures are local: an open that fails leaves the object
// closed and every read answers "nothing there".
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_api.h"

namespace brisko {

class RegistryKey {
  public:
    explicit RegistryKey(RegistryApi& api, RootKey root = RootKey::CurrentUser)
        : api_(api), root_(root) {}

    void setRoot(RootKey root) {
        root_ = root;
        closeKey();
    }
    RootKey root() const { return root_; }
    // KEY_WOW64_32KEY / KEY_WOW64_64KEY on the opens that follow; Native
    // (the default) opens as openKey does.
    void setView(RegistryView view) {
        view_ = view;
        closeKey();
    }
    RegistryView view() const { return view_; }
    // Full access, as TRegistry opens by default; create makes missing keys.
    bool openKey(std::string_view subPath, bool create = false);
    bool openKeyReadOnly(std::string_view subPath);
    void closeKey() { key_.reset(); }
    bool isOpen() const { return key_ != nullptr; }
    KeyHandle* handle() { return key_.get(); }

    // Relative to the open key, or to the root when no key is open.
    bool keyExists(std::string_view subPath);
    bool deleteKey(std::string_view subPath);  // with its whole subtree

    bool valueExists(std::string_view name);
    std::vector<std::string> subkeyNames();
    std::vector<std::string> valueNames();
    std::optional<uint32_t> dataType(std::string_view name);
    std::optional<size_t> dataSize(std::string_view name);
    // REG_SZ or REG_EXPAND_SZ only, unexpanded; nullopt on any other type.
    std::optional<std::string> readString(std::string_view name);
    // REG_DWORD only.
    std::optional<int32_t> readInteger(std::string_view name);
    std::optional<std::vector<uint8_t>> readBinary(std::string_view name);
    std::optional<std::vector<std::string>> readMultiString(std::string_view name);
    bool writeString(std::string_view name, std::string_view value);
    bool writeExpandString(std::string_view name, std::string_view value);
    bool writeInteger(std::string_view name, int32_t value);
    bool writeBinary(std::string_view name, const std::vector<uint8_t>& data);
    bool writeMultiString(std::string_view name, const std::vector<std::string>& items);
    bool deleteValue(std::string_view name);
    std::optional<KeyInfo> keyInfo();
    bool hasSubKeys();

  private:
    std::unique_ptr<KeyHandle> openRelative(std::string_view subPath, KeyAccess access);

    RegistryApi& api_;
    RootKey root_;
    RegistryView view_ = RegistryView::Native;
    std::unique_ptr<KeyHandle> key_;
};

// Decoding helpers for raw values.
std::optional<std::string> decodeRegString(const RegValue& v);  // SZ / EXPAND_SZ
std::vector<std::string> decodeMultiString(const std::vector<uint8_t>& data);
// Every string the data holds, empty ones inside it too (PendingFileRenameOperations
// pairs a deletion with an empty target); only the list's terminator is dropped.
std::vector<std::string> splitMultiString(const std::vector<uint8_t>& data);
std::vector<uint8_t> encodeMultiString(const std::vector<std::string>& items);

// Full key path ("HKEY_CURRENT_USER\Software\x") to an open key; nullptr when
// the root is not one of the five or the key is absent.
std::unique_ptr<KeyHandle> openFullPath(RegistryApi& api, std::string_view fullPath,
                                        KeyAccess access, RegistryView view = RegistryView::Native);
// Deletes the key named by a full key path with its subtree.
bool deleteFullPath(RegistryApi& api, std::string_view fullPath);

}  // namespace brisko
