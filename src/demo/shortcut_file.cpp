#include "demo/shortcut_file.h"

#include <cstdint>

namespace brisko {

namespace {
void put16(std::string& s, uint16_t v) {
    s.push_back(char(v & 0xff));
    s.push_back(char(v >> 8));
}
void put32(std::string& s, uint32_t v) {
    put16(s, uint16_t(v & 0xffff));
    put16(s, uint16_t(v >> 16));
}
void put64(std::string& s, uint64_t v) {
    put32(s, uint32_t(v & 0xffffffffu));
    put32(s, uint32_t(v >> 32));
}

constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kDriveFixed = 3;
constexpr uint64_t kSomeTime = 130000000000000000ull;  // March 2012, as FILETIME
}  // namespace

std::string shortcutFileBytes(std::string_view targetPath, bool targetIsFolder) {
    std::string lnk;
    put32(lnk, 0x4C);  // header size
    // CLSID_ShellLink {00021401-0000-0000-C000-000000000046}
    lnk += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    put32(lnk, kHasLinkInfo);
    put32(lnk, targetIsFolder ? 0x10 : 0x20);  // directory or archive
    for (int i = 0; i < 3; ++i) put64(lnk, kSomeTime);
    put32(lnk, 0);  // target size
    put32(lnk, 0);  // icon index
    put32(lnk, 1);  // SW_SHOWNORMAL
    put16(lnk, 0);  // hot key
    put16(lnk, 0);
    put32(lnk, 0);
    put32(lnk, 0);

    // Link information: a volume ID for a fixed disk and the local base path.
    const uint32_t headerSize = 0x1C;
    const uint32_t volumeSize = 0x11;  // the fixed part and an empty label
    const uint32_t pathOffset = headerSize + volumeSize;
    const uint32_t suffixOffset = pathOffset + uint32_t(targetPath.size()) + 1;
    const uint32_t infoSize = suffixOffset + 1;
    put32(lnk, infoSize);
    put32(lnk, headerSize);
    put32(lnk, kVolumeIdAndLocalBasePath);
    put32(lnk, headerSize);  // volume ID offset
    put32(lnk, pathOffset);
    put32(lnk, 0);  // no network location
    put32(lnk, suffixOffset);
    put32(lnk, volumeSize);
    put32(lnk, kDriveFixed);
    put32(lnk, 0x2C61F0E4);  // serial number
    put32(lnk, 0x10);        // label offset
    lnk.push_back('\0');     // empty label
    lnk += targetPath;
    lnk.push_back('\0');
    lnk.push_back('\0');  // empty common path suffix
    put32(lnk, 0);        // no extra data blocks
    return lnk;
}

}  // namespace brisko
