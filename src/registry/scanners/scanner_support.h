#pragma once
// Small helpers the scanners share: opening keys read-only, reading string
// values, and the row shapes most sections use.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/machine/registry_api.h"
#include "registry/scan_context.h"

namespace brisko::scan {

inline constexpr std::string_view kHKLM = "HKEY_LOCAL_MACHINE\\";
inline constexpr std::string_view kHKCU = "HKEY_CURRENT_USER\\";
inline constexpr std::string_view kHKCR = "HKEY_CLASSES_ROOT\\";
inline constexpr std::string_view kHKU = "HKEY_USERS\\";

// Scanners only read: a key that is absent or cannot be opened is nothing found.
std::unique_ptr<KeyHandle> openRead(ScanContext& ctx, RootKey root, std::string_view path);
std::unique_ptr<KeyHandle> openChild(KeyHandle& parent, std::string_view name);
// The key lists a subkey (without building the list when one is at hand).
bool hasSubkey(KeyHandle& key);

// REG_SZ or REG_EXPAND_SZ data as text, unexpanded; nullopt for other types.
std::optional<std::string> stringOf(const RegValue& v);
std::optional<std::string> stringOf(const std::optional<RegValue>& v);
std::optional<std::string> readString(KeyHandle& key, std::string_view name);

// The row for a value that holds a bad reference: pkValue with the value's
// path, or, when the value name holds a backslash (and so cannot end a
// path), pkDataValue naming the value in data.
void addValueRow(ScanContext& ctx, std::string_view problem, std::string_view keyPath,
                 std::string_view valueName, std::string_view data);

// A little-endian 32-bit word as the registry stores DWORD data.
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Names compared without case (ASCII, as the program compared them).
class NameSet {
  public:
    void add(std::string_view name);
    bool contains(std::string_view name) const;
    // Some name holds `part` (ignoring case). Exact names are tried first, so
    // the usual case, a full identifier, costs one lookup.
    bool anyContains(std::string_view part) const;
    bool empty() const { return names_.empty(); }

  private:
    std::unordered_set<std::string> set_;
    std::vector<std::string> names_;  // upper-cased
};

}  // namespace brisko::scan
