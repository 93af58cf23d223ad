// Writing .reg text: the layout regedit uses for an export, so that files we
// write read the same in the Windows registry editor and in our own import.
#include <cstdio>
#include <functional>

#include "base/text.h"
#include "core/machine/code_page.h"
#include "core/machine/reg_file.h"

namespace brisko {

std::string escapeRegString(std::string_view s, bool lineBreaks) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
            out.push_back(c);
        } else if (lineBreaks && (c == '\n' || c == '\r')) {
            out += c == '\n' ? "\\n" : "\\r";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> plainRegString(const std::vector<uint8_t>& data) {
    // Plain ASCII ending in one terminator, the usual case, is its low bytes.
    const size_t n = data.size();
    if (n >= 2 && n % 2 == 0 && data[n - 2] == 0 && data[n - 1] == 0) {
        std::string text;
        text.reserve(n / 2);
        for (size_t i = 0; i + 2 < n; i += 2) {
            uint8_t c = data[i];
            if (c == 0 || c >= 0x80 || data[i + 1] != 0 || c == '\r' || c == '\n') {
                text.clear();
                break;
            }
            text.push_back(char(c));
        }
        if (text.size() == n / 2 - 1) return text;
    }
    std::string text = utf16leToUtf8(data);
    if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
    if (utf8ToUtf16le(text) != data) return std::nullopt;
    return text;
}

namespace {

// regedit breaks hex data once a line has reached this many characters.
constexpr size_t kHexLineLimit = 77;
// Far deeper than Windows allows; only a damaged hive with a loop gets here.
constexpr int kMaxDepth = 512;

// Characters, not bytes, count for the line width.
size_t displayWidth(std::string_view s) {
    size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) ++n;
    return n;
}

// 8-bit text for a REGEDIT4 file: ANSI where every character has an ANSI form,
// UTF-8 otherwise (our import reads either). ANSI bytes that would also read as
// valid UTF-8 ("\xC3\xA9" for "Ã©") are written as UTF-8 too, so the import
// cannot take them for something else.
std::string eightBitFor(const std::string& utf8) {
    auto ansi = utf8ToAnsi(utf8);
    if (!ansi || (*ansi != utf8 && isValidUtf8(*ansi))) return utf8;
    return *ansi;
}

std::vector<uint8_t> toEightBit(const std::vector<uint8_t>& data) {
    std::string bytes = eightBitFor(utf16leToUtf8(data, false));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

class Exporter {
  public:
    Exporter(RegFileFormat format, const std::function<bool(std::string_view)>& skip)
        : format_(format), skip_(skip) {}

    std::string take() { return std::move(out_); }

    void header() {
        out_ += format_ == RegFileFormat::Version5 ? "Windows Registry Editor Version 5.00"
                                                   : "REGEDIT4";
        out_ += "\r\n\r\n";
    }

    void key(KeyHandle& k, const std::string& path, int depth) {
        out_ += '[';
        out_ += path;
        out_ += "]\r\n";
        for (const auto& name : k.valueNames())
            if (auto v = k.value(name)) value(*v);
        out_ += "\r\n";
        if (depth >= kMaxDepth) return;
        for (const auto& name : k.subkeyNames()) {
            std::string subPath = path + "\\" + name;
            if (skip_ && skip_(subPath)) continue;
            if (auto sub = k.openSubkey(name, KeyAccess::Read)) key(*sub, subPath, depth + 1);
        }
    }

  private:
    void value(const RegValue& v) {
        size_t lineStart = out_.size();
        if (v.name.empty()) {
            out_ += '@';
        } else {
            out_ += '"';
            out_ += escapeRegString(v.name, true);
            out_ += '"';
        }
        out_ += '=';
        if (v.type == REG_SZ) {
            if (auto text = plainRegString(v.data)) {
                out_ += '"';
                out_ += escapeRegString(*text, false);
                out_ += "\"\r\n";
                return;
            }
        }
        if (v.type == REG_DWORD && v.data.size() == 4) {
            uint32_t d = v.data[0] | (uint32_t(v.data[1]) << 8) | (uint32_t(v.data[2]) << 16) |
                         (uint32_t(v.data[3]) << 24);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%08x", d);
            out_ += "dword:";
            out_ += buf;
            out_ += "\r\n";
            return;
        }
        if (v.type == REG_BINARY) {
            out_ += "hex:";
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            out_ += buf;
        }
        bool ansi = format_ == RegFileFormat::Regedit4 &&
                    (v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ);
        hexBytes(ansi ? toEightBit(v.data) : v.data,
                 displayWidth(std::string_view(out_).substr(lineStart)));
        out_ += "\r\n";
    }

    // "xx," per byte; once the line has reached the limit it ends in "\" and
    // the next one starts indented by two spaces.
    void hexBytes(const std::vector<uint8_t>& data, size_t column) {
        static constexpr char kDigits[] = "0123456789abcdef";
        for (size_t i = 0; i < data.size(); ++i) {
            out_ += kDigits[data[i] >> 4];
            out_ += kDigits[data[i] & 15];
            if (i + 1 == data.size()) break;
            out_ += ',';
            column += 3;
            if (column >= kHexLineLimit) {
                out_ += "\\\r\n  ";
                column = 2;
            }
        }
    }

    RegFileFormat format_;
    const std::function<bool(std::string_view)>& skip_;
    std::string out_;
};

}  // namespace

std::optional<std::string> exportRegText(RegistryApi& registry, std::string_view fullKeyPath,
                                         RegFileFormat format,
                                         const std::function<bool(std::string_view)>& skip) {
    std::string sub;
    auto root = parseRoot(fullKeyPath, &sub);
    if (!root) return std::nullopt;
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    auto key = registry.openKey(*root, sub, KeyAccess::Read);
    if (!key) return std::nullopt;
    std::string path(rootName(*root));
    if (!sub.empty()) path += "\\" + sub;
    Exporter exporter(format, skip);
    exporter.header();
    exporter.key(*key, path, 0);
    return exporter.take();
}

std::string exportWholeRegistry(RegistryApi& registry, RegFileFormat format) {
    // Outside the hive files: a symbolic link to the current control set, the
    // list of loaded hives, which Windows builds at each start, and the
    // hardware Windows finds at each start.
    auto skip = [](std::string_view path) {
        std::string upper;
        for (char c : path) upper += char(c >= 'a' && c <= 'z' ? c - 32 : c);
        return upper == "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET" ||
               upper == "HKEY_LOCAL_MACHINE\\HARDWARE" ||
               (upper.starts_with("HKEY_LOCAL_MACHINE\\SYSTEM\\") &&
                upper.ends_with("\\CONTROL\\HIVELIST"));
    };
    std::string text;
    for (const auto& hive : registry.hiveList()) {
        std::string_view mount = hive.keyPath;  // "\REGISTRY\MACHINE\SOFTWARE"
        std::string full;
        if (mount.starts_with("\\REGISTRY\\MACHINE\\"))
            full = "HKEY_LOCAL_MACHINE\\" + std::string(mount.substr(18));
        else if (mount.starts_with("\\REGISTRY\\USER\\"))
            full = "HKEY_USERS\\" + std::string(mount.substr(15));
        else
            continue;
        auto part = exportRegText(registry, full, format, skip);
        if (!part) continue;
        // One file header: the parts after the first start at their first key.
        text += text.empty() ? *part : part->substr(part->find("\r\n\r\n") + 4);
    }
    // A registry that names no hive files (Wine keeps no hive list): the two
    // roots the others are views of, as the registry editor's full export.
    if (text.empty()) {
        for (std::string_view root : {"HKEY_LOCAL_MACHINE", "HKEY_USERS"}) {
            auto part = exportRegText(registry, root, format, skip);
            if (!part) continue;
            text += text.empty() ? *part : part->substr(part->find("\r\n\r\n") + 4);
        }
    }
    return text;
}

std::string encodeRegFileBytes(const std::string& text, RegFileFormat format) {
    if (format == RegFileFormat::Regedit4) return eightBitFor(text);
    std::vector<uint8_t> wide = utf8ToUtf16le(text, false);
    std::string out("\xFF\xFE", 2);
    out.append(reinterpret_cast<const char*>(wide.data()), wide.size());
    return out;
}

}  // namespace brisko
