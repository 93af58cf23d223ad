#include "cleaner/items/ie_protected_storage.h"

#include <cstdio>

#include "core/machine/machine.h"

namespace brisko {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

TIDList idsOf(const std::vector<std::string>& names) {
    TIDList list;
    for (const auto& n : names) {
        PStoreId id;
        if (parsePStoreId(n, id)) list.add(id);
    }
    return list;
}

}  // namespace

bool parsePStoreId(const std::string& text, PStoreId& out) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}; the first three groups are
    // stored little-endian, the last two byte by byte.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    std::string hex;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-') return false;
            continue;
        }
        if (hexValue(text[i]) < 0) return false;
        hex += text[i];
    }
    uint8_t b[16];
    for (int i = 0; i < 16; ++i)
        b[i] = uint8_t(hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1]));
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = b[order[i]];
    return true;
}

std::string formatPStoreId(const PStoreId& id) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}", id[3],
                  id[2], id[1], id[0], id[5], id[4], id[7], id[6], id[8], id[9], id[10], id[11],
                  id[12], id[13], id[14], id[15]);
    return buf;
}

TPStorage::TPStorage(Machine& machine) : service_(machine.protectedStorage()) {}

bool TPStorage::Available() const {
    return service_ != nullptr;
}

bool TPStorage::Open() {
    Close();
    opened_ = service_ != nullptr;
    return opened_;
}

void TPStorage::Close() {
    opened_ = false;
}

TIDList TPStorage::EnumTypes() {
    if (!opened_) return {};
    return idsOf(service_->types());
}

TIDList TPStorage::EnumSubtypes(const PStoreId& type) {
    if (!opened_) return {};
    return idsOf(service_->subtypes(formatPStoreId(type)));
}

TItemList TPStorage::EnumItems(const PStoreId& type, const PStoreId& subtype) {
    TItemList list;
    if (!opened_) return list;
    for (auto& n : service_->items(formatPStoreId(type), formatPStoreId(subtype)))
        list.add(n.size() > kPStoreItemNameMax ? n.substr(0, kPStoreItemNameMax) : n);
    return list;
}

std::string TPStorage::GetTypeName(const PStoreId& type) {
    if (!opened_) return {};
    return service_->typeName(formatPStoreId(type));
}

bool TPStorage::DeleteItem(const PStoreId& type, const PStoreId& subtype, const std::string& name) {
    if (!opened_) return false;
    return service_->deleteItem(formatPStoreId(type), formatPStoreId(subtype), name);
}

}  // namespace brisko
