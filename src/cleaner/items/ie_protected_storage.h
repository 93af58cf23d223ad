#pragma once
// Protected Storage as the autocomplete item uses it: the current user's store
// through the system provider, its types, subtypes and item names, and item
// deletion. Lists are handed to the caller, who owns them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace brisko {

class Machine;
class ProtectedStorageService;

// A type or subtype identifier (a GUID, 16 bytes).
using PStoreId = std::array<uint8_t, 16>;

// "{e161255a-37c3-11d2-bcaa-00c04fd929db}" <-> its 16 bytes (GUID byte order);
// false for text that is not a GUID.
bool parsePStoreId(const std::string& text, PStoreId& out);
std::string formatPStoreId(const PStoreId& id);

// The lists Protected Storage hands out: identifiers, or item names (each cut
// to 255 characters, as the store's short strings hold them).
template <typename T>
class TEnumList {
  public:
    void add(T v) { items_.push_back(std::move(v)); }
    size_t Count() const { return items_.size(); }
    const T& operator[](size_t i) const { return items_[i]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<T> items_;
};
using TIDList = TEnumList<PStoreId>;
using TItemList = TEnumList<std::string>;

inline constexpr size_t kPStoreItemNameMax = 255;

class TPStorage {
  public:
    explicit TPStorage(Machine& machine);
    // Whether the machine has Protected Storage at all (pstorec.dll).
    bool Available() const;
    // The current user's store through the system provider; false when not available.
    bool Open();
    void Close();
    TIDList EnumTypes();
    TIDList EnumSubtypes(const PStoreId& type);
    TItemList EnumItems(const PStoreId& type, const PStoreId& subtype);
    std::string GetTypeName(const PStoreId& type);
    bool DeleteItem(const PStoreId& type, const PStoreId& subtype, const std::string& name);

  private:
    ProtectedStorageService* service_;
    bool opened_ = false;
};

}  // namespace brisko
