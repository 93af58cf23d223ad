#include "core/machine/registry_key.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/text.h"

namespace brisko {

namespace {
struct RootNameEntry {
    RootKey root;
    std::string_view name;
    std::string_view shortName;
};
constexpr std::array<RootNameEntry, 5> kRoots{{
    {RootKey::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {RootKey::CurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RootKey::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootKey::Users, "HKEY_USERS", "HKU"},
    {RootKey::CurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
}};

std::string_view stripLeadingBackslash(std::string_view p) {
    while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
    return p;
}
}  // namespace

std::string_view rootName(RootKey root) {
    for (const auto& r : kRoots)
        if (r.root == root) return r.name;
    return {};
}

std::optional<RootKey> parseRoot(std::string_view fullPath, std::string* subPath) {
    for (const auto& r : kRoots) {
        for (std::string_view n : {r.name, r.shortName}) {
            if (!startsWithNoCase(fullPath, n)) continue;
            std::string_view rest = fullPath.substr(n.size());
            if (!rest.empty() && rest.front() != '\\') continue;
            if (subPath) *subPath = std::string(stripLeadingBackslash(rest));
            return r.root;
        }
    }
    return std::nullopt;
}

std::unique_ptr<KeyHandle> RegistryKey::openRelative(std::string_view subPath, KeyAccess access) {
    bool absolute = !subPath.empty() && subPath.front() == '\\';
    subPath = stripLeadingBackslash(subPath);
    if (key_ && !absolute) return key_->openSubkey(subPath, access);
    if (view_ != RegistryView::Native) return api_.openKeyInView(view_, root_, subPath, access);
    return api_.openKey(root_, subPath, access);
}

bool RegistryKey::openKey(std::string_view subPath, bool create) {
    auto k = openRelative(subPath, create ? KeyAccess::Create : KeyAccess::ReadWrite);
    if (!k) return false;
    key_ = std::move(k);
    return true;
}

bool RegistryKey::openKeyReadOnly(std::string_view subPath) {
    auto k = openRelative(subPath, KeyAccess::Read);
    if (!k) return false;
    key_ = std::move(k);
    return true;
}

bool RegistryKey::keyExists(std::string_view subPath) {
    return openRelative(subPath, KeyAccess::Read) != nullptr;
}

bool RegistryKey::deleteKey(std::string_view subPath) {
    bool absolute = !subPath.empty() && subPath.front() == '\\';
    subPath = stripLeadingBackslash(subPath);
    if (subPath.empty()) return false;
    if (key_ && !absolute) return key_->deleteSubkey(subPath);
    auto rootKey = openRelative("\\", KeyAccess::ReadWrite);
    return rootKey && rootKey->deleteSubkey(subPath);
}

bool RegistryKey::valueExists(std::string_view name) {
    return key_ && key_->value(name).has_value();
}

std::vector<std::string> RegistryKey::subkeyNames() {
    return key_ ? key_->subkeyNames() : std::vector<std::string>{};
}

std::vector<std::string> RegistryKey::valueNames() {
    return key_ ? key_->valueNames() : std::vector<std::string>{};
}

std::optional<uint32_t> RegistryKey::dataType(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v) return std::nullopt;
    return v->type;
}

std::optional<size_t> RegistryKey::dataSize(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v) return std::nullopt;
    return v->data.size();
}

std::optional<std::string> decodeRegString(const RegValue& v) {
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return std::nullopt;
    return utf16leToUtf8(v.data);
}

std::optional<std::string> RegistryKey::readString(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v) return std::nullopt;
    return decodeRegString(*v);
}

std::optional<int32_t> RegistryKey::readInteger(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v || v->type != REG_DWORD || v->data.size() < 4) return std::nullopt;
    int32_t r;
    std::memcpy(&r, v->data.data(), 4);
    return r;
}

std::optional<std::vector<uint8_t>> RegistryKey::readBinary(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v) return std::nullopt;
    return std::move(v->data);
}

std::vector<std::string> splitMultiString(const std::vector<uint8_t>& data) {
    std::vector<std::string> items;
    std::string all = utf16leToUtf8(data, false);
    for (size_t start = 0;;) {
        size_t end = all.find('\0', start);
        items.push_back(all.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    // "a\0b\0\0" splits into a, b, "", "": the last string's end and the list's.
    if (!items.empty() && items.back().empty()) items.pop_back();
    if (!items.empty() && items.back().empty()) items.pop_back();
    return items;
}

std::vector<std::string> decodeMultiString(const std::vector<uint8_t>& data) {
    std::vector<std::string> items = splitMultiString(data);
    // The empty string ends the list.
    items.erase(std::find(items.begin(), items.end(), std::string()), items.end());
    return items;
}

std::vector<uint8_t> encodeMultiString(const std::vector<std::string>& items) {
    std::vector<uint8_t> out;
    for (const auto& s : items) {
        auto b = utf8ToUtf16le(s, true);
        out.insert(out.end(), b.begin(), b.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::optional<std::vector<std::string>> RegistryKey::readMultiString(std::string_view name) {
    if (!key_) return std::nullopt;
    auto v = key_->value(name);
    if (!v || v->type != REG_MULTI_SZ) return std::nullopt;
    return decodeMultiString(v->data);
}

bool RegistryKey::writeString(std::string_view name, std::string_view value) {
    return key_ && key_->setValue(name, REG_SZ, utf8ToUtf16le(value));
}

bool RegistryKey::writeExpandString(std::string_view name, std::string_view value) {
    return key_ && key_->setValue(name, REG_EXPAND_SZ, utf8ToUtf16le(value));
}

bool RegistryKey::writeInteger(std::string_view name, int32_t value) {
    uint8_t b[4];
    std::memcpy(b, &value, 4);
    return key_ && key_->setValue(name, REG_DWORD, b);
}

bool RegistryKey::writeBinary(std::string_view name, const std::vector<uint8_t>& data) {
    return key_ && key_->setValue(name, REG_BINARY, data);
}

bool RegistryKey::writeMultiString(std::string_view name, const std::vector<std::string>& items) {
    return key_ && key_->setValue(name, REG_MULTI_SZ, encodeMultiString(items));
}

bool RegistryKey::deleteValue(std::string_view name) {
    return key_ && key_->deleteValue(name);
}

std::optional<KeyInfo> RegistryKey::keyInfo() {
    if (!key_) return std::nullopt;
    return key_->info();
}

bool RegistryKey::hasSubKeys() {
    return key_ && key_->info().subkeys > 0;
}

std::unique_ptr<KeyHandle> openFullPath(RegistryApi& api, std::string_view fullPath,
                                        KeyAccess access, RegistryView view) {
    std::string sub;
    auto root = parseRoot(fullPath, &sub);
    if (!root) return nullptr;
    if (view != RegistryView::Native) return api.openKeyInView(view, *root, sub, access);
    return api.openKey(*root, sub, access);
}

bool deleteFullPath(RegistryApi& api, std::string_view fullPath) {
    std::string sub;
    auto root = parseRoot(fullPath, &sub);
    if (!root || sub.empty()) return false;
    auto rootKey = api.openKey(*root, "", KeyAccess::ReadWrite);
    return rootKey && rootKey->deleteSubkey(sub);
}

}  // namespace brisko
