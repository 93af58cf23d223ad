#include "hive/hive_reader.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace brisko::hive {

using namespace regf;

namespace {

// Stored names are Latin-1 ("compressed") or UTF-16LE.
void decodeName(const StoredName& name, std::string& out) {
    const uint8_t* p = name.bytes;
    size_t bytes = name.size;
    out.clear();
    if (!name.compressed) {
        out = utf16leToUtf8(p, bytes, false);
        return;
    }
    size_t ascii = 0;
    while (ascii < bytes && p[ascii] < 0x80) ++ascii;
    out.assign(reinterpret_cast<const char*>(p), ascii);
    for (size_t i = ascii; i < bytes; ++i) {
        if (p[i] < 0x80) {
            out.push_back(char(p[i]));
        } else {
            out.push_back(char(0xC0 | (p[i] >> 6)));
            out.push_back(char(0x80 | (p[i] & 0x3F)));
        }
    }
}

}  // namespace

void HiveReader::reset(std::span<const uint8_t> file) {
    file_ = file;
    bins_ = nullptr;
    binsSize_ = 0;
    minor_ = 0;
    if (file.size() < kBaseBlockSize) return;
    bins_ = file.data() + kBaseBlockSize;
    uint64_t claimed = get32(file.data() + kBaseBinsSize);
    binsSize_ = uint32_t(std::min<uint64_t>(claimed, file.size() - kBaseBlockSize));
    minor_ = get32(file.data() + kBaseMinor);
}

void HiveReader::keyName(const uint8_t* nk, std::string& out) {
    decodeName(storedKeyName(nk), out);
}

void HiveReader::valueName(const uint8_t* vk, std::string& out) {
    decodeName(storedValueName(vk), out);
}

bool HiveReader::valueDataSound(const uint8_t* vk) const {
    uint32_t raw = get32(vk + kVkDataSize);
    uint32_t size = raw & ~kDataInline;
    if (raw & kDataInline) return size <= kMaxInlineData;
    if (size == 0) return true;
    uint32_t avail = 0;
    const uint8_t* data = cell(get32(vk + kVkDataOffset), 0, &avail);
    if (!data) return false;
    if (size > kBigDataSegment && avail >= 8 && data[0] == 'd' && data[1] == 'b') {
        uint32_t segments = get16(data + 2);
        // The segments hold the data once: it cannot be larger than the bins.
        if (uint64_t(segments) * kBigDataSegment < size || size > binsSize_) return false;
        const uint8_t* list = cell(get32(data + 4), 4ull * segments);
        if (!list) return false;
        uint32_t left = size;
        for (uint32_t i = 0; i < segments && left; ++i) {
            uint32_t chunk = std::min(left, kBigDataSegment);
            if (!cell(get32(list + 4 * i), chunk)) return false;
            left -= chunk;
        }
        return left == 0;
    }
    return size <= avail;
}

bool HiveReader::valueData(const uint8_t* vk, std::vector<uint8_t>& out) const {
    std::span<const uint8_t> bytes;
    if (!valueBytes(vk, bytes, out)) {
        out.clear();
        return false;
    }
    // Big data is put together in `out` already; anything else is a view.
    if (bytes.data() != out.data()) out.assign(bytes.begin(), bytes.end());
    return true;
}

bool HiveReader::valueBytes(const uint8_t* vk, std::span<const uint8_t>& out,
                            std::vector<uint8_t>& scratch) const {
    out = {};
    uint32_t raw = get32(vk + kVkDataSize);
    uint32_t size = raw & ~kDataInline;
    if (raw & kDataInline) {
        if (size > kMaxInlineData) return false;
        out = {vk + kVkDataOffset, size};
        return true;
    }
    if (size == 0) return true;
    uint32_t avail = 0;
    const uint8_t* data = cell(get32(vk + kVkDataOffset), 0, &avail);
    if (!data) return false;
    if (size > kBigDataSegment && avail >= 8 && data[0] == 'd' && data[1] == 'b') {
        // Every segment is checked before a byte is copied: a damaged record
        // must not make it allocate up to a gigabyte for nothing.
        if (!valueDataSound(vk)) return false;
        uint32_t segments = get16(data + 2);
        const uint8_t* list = cell(get32(data + 4), 4ull * segments);
        scratch.resize(size);
        uint32_t at = 0;
        for (uint32_t i = 0; i < segments && at < size; ++i) {
            uint32_t chunk = std::min(size - at, kBigDataSegment);
            const uint8_t* seg = cell(get32(list + 4 * i), chunk);
            std::memcpy(scratch.data() + at, seg, chunk);
            at += chunk;
        }
        out = scratch;
        return true;
    }
    if (size > avail) return false;
    out = {data, size};
    return true;
}

std::span<const uint8_t> HiveReader::security(uint32_t off) const {
    uint32_t avail = 0;
    const uint8_t* sk = cell(off, kSkDescriptor, &avail);
    if (!sk || sk[0] != 's' || sk[1] != 'k') return {};
    uint32_t len = get32(sk + kSkDescriptorSize);
    if (uint64_t(len) + kSkDescriptor > avail) return {};
    return {sk + kSkDescriptor, len};
}

bool HiveReader::className(const uint8_t* nk, std::string& out) const {
    out.clear();
    uint32_t len = get16(nk + kNkClassLen);
    uint32_t off = get32(nk + kNkClass);
    if (len == 0 || off == kNone) return true;
    const uint8_t* c = cell(off, len);
    if (!c) return false;
    out = utf16leToUtf8(c, len, false);
    return true;
}

}  // namespace brisko::hive
