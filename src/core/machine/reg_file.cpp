#include "core/machine/reg_file.h"

#include <cstring>

#include "base/text.h"
#include "core/machine/code_page.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

RegFileError errorAt(int line, const std::string& what) {
    return RegFileError{"line " + std::to_string(line) + ": " + what};
}

const uint8_t* asBytes(std::string_view s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// Whatever the file's encoding, the parser works on UTF-8 text.
std::string decodeFileText(std::string_view bytes) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::string text;
    if (bytes.size() >= 2 && at(0) == 0xff && at(1) == 0xfe) {
        text = utf16leToUtf8(asBytes(bytes) + 2, bytes.size() - 2, false);
    } else if (bytes.size() >= 2 && at(0) == 0xfe && at(1) == 0xff) {
        std::vector<uint8_t> swapped(asBytes(bytes) + 2, asBytes(bytes) + bytes.size());
        for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
        text = utf16leToUtf8(swapped.data(), swapped.size(), false);
    } else if (bytes.size() >= 3 && at(0) == 0xef && at(1) == 0xbb && at(2) == 0xbf) {
        text = eightBitToUtf8(bytes.substr(3));
    } else if (bytes.size() >= 4 && at(0) != 0 && at(1) == 0 && at(3) == 0) {
        // UTF-16LE saved without a byte-order mark.
        text = utf16leToUtf8(asBytes(bytes), bytes.size(), false);
    } else {
        text = eightBitToUtf8(bytes);
    }
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return text;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (isSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Hex data and numbers may carry a comment after a ';'.
std::string_view dropComment(std::string_view s) {
    size_t p = s.find(';');
    return trimRight(p == std::string_view::npos ? s : s.substr(0, p));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits.
std::optional<uint32_t> parseHex32(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | uint32_t(d);
    }
    return v;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing
// quote. Escapes are those regedit writes (\\ and \") plus \n and \r for line
// breaks in names; any other backslash stays as written.
bool readQuoted(std::string_view s, size_t& pos, std::string& out) {
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            char n = s[i + 1];
            if (n == '\\' || n == '"' || n == 'n' || n == 'r') {
                out.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return false;
}

class Parser {
  public:
    explicit Parser(std::string text) : text_(std::move(text)) { splitLines(); }

    RegFileParse run() {
        size_t i = 0;
        while (i < lines_.size() && trim(lines_[i]).empty()) ++i;
        std::string_view header = i < lines_.size() ? trim(lines_[i]) : std::string_view{};
        if (equalsNoCase(header, kHeader4)) {
            result_.unicode = false;
        } else if (equalsNoCase(header, kHeader5)) {
            result_.unicode = true;
        } else {
            throw RegFileError{"not a registry file (no REGEDIT4 header)"};
        }
        next_ = i + 1;
        while (next_ < lines_.size()) {
            int lineNo = int(next_ + 1);
            std::string_view line = trimLeft(lines_[next_++]);
            if (trimRight(line).empty() || line.front() == ';') continue;
            if (line.front() == '[') {
                keyLine(line, lineNo);
            } else if (line.front() == '"' || line.front() == '@') {
                valueLine(line, lineNo);
            } else {
                throw errorAt(lineNo, "not a key, value or comment line");
            }
        }
        return std::move(result_);
    }

  private:
    void splitLines() {
        std::string_view t = text_;
        size_t start = 0;
        while (start <= t.size()) {
            size_t end = t.find('\n', start);
            if (end == std::string_view::npos) end = t.size();
            std::string_view line = t.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            lines_.push_back(line);
            start = end + 1;
        }
    }

    void keyLine(std::string_view line, int lineNo) {
        size_t close = line.rfind(']');
        if (close == std::string_view::npos) throw errorAt(lineNo, "key name without closing ']'");
        std::string_view path = line.substr(1, close - 1);
        bool remove = !path.empty() && path.front() == '-';
        if (remove) path.remove_prefix(1);
        while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
        if (path.empty()) throw errorAt(lineNo, "empty key name");
        RegFileOp op;
        op.kind = remove ? RegFileOp::DeleteKey : RegFileOp::CreateKey;
        op.keyPath = std::string(path);
        op.line = lineNo;
        if (remove) {
            currentKey_.reset();
            afterDeletedKey_ = true;
        } else {
            currentKey_ = op.keyPath;
        }
        result_.ops.push_back(std::move(op));
    }

    // Hex data may go on over several lines, each but the last ending in '\'.
    std::string joinContinuations(std::string_view first, int lineNo) {
        std::string joined(dropComment(first));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            if (next_ >= lines_.size())
                throw errorAt(lineNo, "the value is cut short: the file ends where it goes on");
            joined += dropComment(trimLeft(lines_[next_++]));
        }
        return joined;
    }

    // Whether the value that ended on the line before next_ is the end of a
    // file that stops without a line end: a file cut there.
    bool endsUnfinished() const { return next_ == lines_.size() && !text_.ends_with('\n'); }

    void valueLine(std::string_view line, int lineNo) {
        size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else if (!readQuoted(line, pos, name)) {
            throw errorAt(lineNo, "value name without closing quote");
        }
        while (pos < line.size() && isSpace(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=')
            throw errorAt(lineNo, "expected '=' after the value name");
        std::string_view data = trimLeft(line.substr(pos + 1));
        std::string hexData;
        bool isHex = startsWithNoCase(data, "hex");
        if (isHex) hexData = joinContinuations(data, lineNo);

        if (!currentKey_) {
            // Values of a key the file deletes are ignored, as regedit does.
            if (afterDeletedKey_) return;
            throw errorAt(lineNo, "value line outside of a key");
        }
        RegFileOp op;
        op.kind = RegFileOp::SetValue;
        op.keyPath = *currentKey_;
        op.valueName = std::move(name);
        op.line = lineNo;
        if (isHex) {
            hexValue(hexData, lineNo, op);
        } else if (!data.empty() && data.front() == '"') {
            size_t p = 0;
            std::string text;
            if (!readQuoted(data, p, text)) throw errorAt(lineNo, "string without closing quote");
            std::string_view rest = trimRight(data.substr(p));
            if (!rest.empty() && rest.front() != ';')
                throw errorAt(lineNo, "unexpected text after the string");
            op.type = REG_SZ;
            op.data = utf8ToUtf16le(text);
        } else if (dropComment(data) == "-") {
            op.kind = RegFileOp::DeleteValue;
        } else if (startsWithNoCase(data, "dword:")) {
            std::string_view digits = dropComment(data.substr(6));
            auto v = parseHex32(digits);
            if (!v) throw errorAt(lineNo, "bad dword value (1 to 8 hex digits expected)");
            if (digits.size() != 8 && endsUnfinished())
                throw errorAt(lineNo, "the value is cut short: the file ends in its digits");
            op.type = REG_DWORD;
            op.data = {uint8_t(*v), uint8_t(*v >> 8), uint8_t(*v >> 16), uint8_t(*v >> 24)};
        } else {
            throw errorAt(lineNo, "unknown value type");
        }
        result_.ops.push_back(std::move(op));
    }

    void hexValue(std::string_view s, int lineNo, RegFileOp& op) {
        s.remove_prefix(3);
        if (!s.empty() && s.front() == '(') {
            size_t close = s.find(')');
            std::optional<uint32_t> type;
            if (close != std::string_view::npos) type = parseHex32(s.substr(1, close - 1));
            if (!type || close + 1 >= s.size() || s[close + 1] != ':')
                throw errorAt(lineNo, "bad value type in hex(...)");
            op.type = *type;
            s.remove_prefix(close + 2);
        } else if (!s.empty() && s.front() == ':') {
            op.type = REG_BINARY;
            s.remove_prefix(1);
        } else {
            throw errorAt(lineNo, "unknown value type");
        }
        op.data = parseBytes(s, lineNo);
        // Strings are whole UTF-16 units; an odd count where the file stops
        // without a line end is a value cut short, not one stored that way.
        bool utf16 = op.type == REG_SZ ||
                     (result_.unicode && (op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ));
        if (utf16 && op.data.size() % 2 && endsUnfinished())
            throw errorAt(lineNo,
                          "the value is cut short: an odd number of bytes at the end "
                          "of the file");
        // REGEDIT4 files carry these strings in the ANSI code page; the registry
        // keeps them in UTF-16LE.
        if (!result_.unicode && (op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ)) {
            std::string_view ansi(reinterpret_cast<const char*>(op.data.data()), op.data.size());
            op.data = utf8ToUtf16le(eightBitToUtf8(ansi), false);
        }
    }

    static std::vector<uint8_t> parseBytes(std::string_view s, int lineNo) {
        std::vector<uint8_t> out;
        // A list that ends in a comma was cut ("hex:" alone is empty data).
        if (std::string_view t = trim(s); !t.empty() && t.back() == ',')
            throw errorAt(lineNo, "the value is cut short: a ',' with no byte after it");
        out.reserve(s.size() / 3 + 1);
        size_t pos = 0;
        while (pos < s.size()) {
            size_t comma = s.find(',', pos);
            bool last = comma == std::string_view::npos;
            std::string_view tok = trim(s.substr(pos, last ? std::string_view::npos : comma - pos));
            if (tok.empty()) {
                if (last && pos == 0) break;  // "hex:" and blanks
                throw errorAt(lineNo, "empty hex byte");
            }
            if (tok.size() > 2 || hexDigit(tok[0]) < 0 || (tok.size() == 2 && hexDigit(tok[1]) < 0))
                throw errorAt(lineNo, "bad hex byte '" + std::string(tok.substr(0, 8)) + "'");
            out.push_back(uint8_t(tok.size() == 2 ? hexDigit(tok[0]) * 16 + hexDigit(tok[1])
                                                  : hexDigit(tok[0])));
            if (last) break;
            pos = comma + 1;
        }
        return out;
    }

    std::string text_;
    std::vector<std::string_view> lines_;
    size_t next_ = 0;
    RegFileParse result_;
    std::optional<std::string> currentKey_;
    bool afterDeletedKey_ = false;
};

}  // namespace

RegFileParse parseRegText(std::string_view bytes) {
    return Parser(decodeFileText(bytes)).run();
}

bool regFileEndsWhole(std::string_view bytes) {
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                             (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    if (utf16 && bytes.size() % 2) return false;
    const std::string text = decodeFileText(bytes);
    if (!text.ends_with('\n')) return false;
    std::string_view t(text);
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || isSpace(t.back())))
        t.remove_suffix(1);
    // A last line that promised more.
    return t.empty() || (t.back() != '\\' && t.back() != ',');
}

std::string importFailureText(const RegistryApi& registry, std::string_view file, size_t failed,
                              size_t total, std::string_view verb) {
    std::string text;
    for (const auto& r : registry.refusedEdits()) text += r + "\n";
    text += std::string(file) + ": ";
    if (failed)
        text += std::to_string(failed) + " of " + std::to_string(total) +
                " operations could not be carried out. ";
    if (!registry.changesWaitForCommit() && failed < total)
        text += "The other " + std::to_string(total - failed) +
                " operations were carried out and stay in the registry.";
    else
        text += "Nothing was " + std::string(verb) + ".";
    return text;
}

size_t applyRegOps(RegistryApi& registry, const std::vector<RegFileOp>& ops) {
    size_t failed = 0;
    // Consecutive operations mostly name the same key; keep it open.
    std::string openPath;
    std::unique_ptr<KeyHandle> open;
    auto keyFor = [&](const std::string& path, KeyAccess access) -> KeyHandle* {
        if (!open || openPath != path) {
            open = openFullPath(registry, path, access);
            openPath = path;
        }
        return open.get();
    };
    for (const auto& op : ops) {
        if (!parseRoot(op.keyPath)) continue;
        switch (op.kind) {
            case RegFileOp::CreateKey:
                open.reset();
                if (!keyFor(op.keyPath, KeyAccess::Create)) ++failed;
                break;
            case RegFileOp::DeleteKey:
                open.reset();
                // A key that is not there is already what the file asks for.
                if (openFullPath(registry, op.keyPath, KeyAccess::Read) &&
                    !deleteFullPath(registry, op.keyPath))
                    ++failed;
                break;
            case RegFileOp::SetValue: {
                if (open && !open->writable()) open.reset();
                KeyHandle* k = keyFor(op.keyPath, KeyAccess::Create);
                if (!k || !k->setValue(op.valueName, op.type, op.data)) ++failed;
                break;
            }
            case RegFileOp::DeleteValue: {
                auto k = openFullPath(registry, op.keyPath, KeyAccess::ReadWrite);
                if (k && k->value(op.valueName) && !k->deleteValue(op.valueName)) ++failed;
                break;
            }
        }
    }
    return failed;
}

}  // namespace brisko
