#include "core/ini_file.h"

#include <charconv>
#include <limits>
#include <utility>

#include "base/text.h"

namespace brisko {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view trimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool isBlank(std::string_view s) {
    return trimBlanks(s).empty();
}

// "[name]" with optional blanks around; nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
    std::string_view t = trimBlanks(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimBlanks(t.substr(1, close - 1));
}

std::string oneLine(std::string_view s) {
    std::string out(trimBlanks(s));
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::optional<int32_t> parseInteger(std::string_view s) {
    if (s.empty()) return std::nullopt;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.front() == '+' || s.front() == '-') return std::nullopt;
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (base == 16) {
        // Hex text names the bits: $FFFFFFFF is -1, as the 32-bit conversion gives it.
        if (v > 0xFFFFFFFFull) return std::nullopt;
        auto bits = static_cast<uint32_t>(v);
        auto r = static_cast<int32_t>(bits);
        return negative ? static_cast<int32_t>(0u - bits) : r;
    }
    if (negative) {
        if (v > uint64_t(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
        return static_cast<int32_t>(-static_cast<int64_t>(v));
    }
    if (v > uint64_t(std::numeric_limits<int32_t>::max())) return std::nullopt;
    return static_cast<int32_t>(v);
}

}  // namespace

std::optional<std::pair<std::string_view, std::string_view>> splitIniLine(std::string_view line) {
    std::string_view t = trimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = trimBlanks(t.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return std::pair{key, trimBlanks(t.substr(eq + 1))};
}

IniFile::IniFile(std::string_view text) {
    if (text.substr(0, kBom.size()) == kBom) {
        bom_ = true;
        text.remove_prefix(kBom.size());
    }
    bool eolSeen = false;
    sections_.push_back(Section{});  // lines before the first header
    size_t pos = 0;
    while (pos < text.size()) {
        size_t brk = text.find_first_of("\r\n", pos);
        Line line;
        if (brk == std::string_view::npos) {
            line.text = text.substr(pos);
            pos = text.size();
        } else {
            line.text = text.substr(pos, brk - pos);
            size_t len =
                (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1;
            line.eol = text.substr(brk, len);
            pos = brk + len;
            if (!eolSeen) {
                eol_ = line.eol;
                eolSeen = true;
            }
        }
        if (auto name = sectionName(line.text)) {
            Section s;
            s.name = std::string(*name);
            s.hasHeader = true;
            s.lines.push_back(std::move(line));
            sections_.push_back(std::move(s));
        } else {
            sections_.back().lines.push_back(std::move(line));
        }
    }
    for (size_t i = 1; i < sections_.size(); ++i) {
        sectionIndex_.try_emplace(upperCase(sections_[i].name), i);
        indexSection(sections_[i]);
    }
}

void IniFile::indexSection(Section& s) {
    s.keyIndex.clear();
    for (size_t i = s.hasHeader ? 1 : 0; i < s.lines.size(); ++i)
        if (auto kv = splitIniLine(s.lines[i].text))
            s.keyIndex.try_emplace(upperCase(kv->first), i);
}

std::string IniFile::text() const {
    std::string out;
    if (bom_) out += kBom;
    for (const auto& s : sections_)
        for (const auto& l : s.lines) {
            out += l.text;
            out += l.eol;
        }
    return out;
}

const IniFile::Section* IniFile::findSection(std::string_view name) const {
    auto it = sectionIndex_.find(upperCase(trimBlanks(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniFile::Section* IniFile::findSection(std::string_view name) {
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

std::optional<std::string_view> IniFile::rawValue(std::string_view section,
                                                  std::string_view key) const {
    const Section* s = findSection(section);
    if (!s) return std::nullopt;
    auto it = s->keyIndex.find(upperCase(trimBlanks(key)));
    if (it == s->keyIndex.end()) return std::nullopt;
    return splitIniLine(s->lines[it->second].text)->second;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
    auto v = rawValue(section, key);
    if (!v) return std::string(def);
    std::string_view s = *v;
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return std::string(s);
}

int32_t IniFile::readInteger(std::string_view section, std::string_view key, int32_t def) const {
    if (!valueExists(section, key)) return def;
    return parseInteger(readString(section, key)).value_or(def);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::sectionExists(std::string_view section) const {
    return findSection(section) != nullptr;
}

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
    return rawValue(section, key).has_value();
}

std::vector<std::string> IniFile::keys(std::string_view section) const {
    std::vector<std::string> out;
    const Section* s = findSection(section);
    if (!s) return out;
    for (size_t i = 1; i < s->lines.size(); ++i)
        if (auto kv = splitIniLine(s->lines[i].text)) {
            auto it = s->keyIndex.find(upperCase(kv->first));
            if (it != s->keyIndex.end() && it->second == i) out.emplace_back(kv->first);
        }
    return out;
}

std::vector<std::string> IniFile::sections() const {
    std::vector<std::string> out;
    for (size_t i = 1; i < sections_.size(); ++i)
        if (sectionIndex_.at(upperCase(sections_[i].name)) == i) out.push_back(sections_[i].name);
    return out;
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    std::string sec = oneLine(section), k = oneLine(key), v = oneLine(value);
    if (sec.empty() || sec.find(']') != std::string::npos) return false;
    if (k.empty() || k.find('=') != std::string::npos || k.front() == ';' || k.front() == '[')
        return false;

    Section* s = findSection(sec);
    if (!s) {
        // A new section goes at the end of the file, after a line break.
        Section& last = sections_.back();
        if (!last.lines.empty() && last.lines.back().eol.empty()) last.lines.back().eol = eol_;
        Section ns;
        ns.name = sec;
        ns.hasHeader = true;
        ns.lines.push_back(Line{"[" + sec + "]", eol_});
        sections_.push_back(std::move(ns));
        sectionIndex_.emplace(upperCase(sec), sections_.size() - 1);
        s = &sections_.back();
    }

    std::string upperKey = upperCase(k);
    if (auto it = s->keyIndex.find(upperKey); it != s->keyIndex.end()) {
        Line& line = s->lines[it->second];
        std::string existing(splitIniLine(line.text)->first);
        std::string text = existing + "=" + v;
        if (text != line.text) {
            line.text = std::move(text);
            modified_ = true;
        }
        return true;
    }

    // A new key goes after the last non-blank line of its section, so blank
    // lines that separate it from the next section stay where they are.
    size_t at = s->lines.size();
    while (at > 1 && isBlank(s->lines[at - 1].text)) --at;
    if (s->lines[at - 1].eol.empty()) s->lines[at - 1].eol = eol_;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), Line{k + "=" + v, eol_});
    s->keyIndex.emplace(std::move(upperKey), at);
    modified_ = true;
    return true;
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, int64_t value) {
    return writeString(section, key, std::to_string(value));
}

bool IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

bool IniFile::deleteKey(std::string_view section, std::string_view key) {
    Section* s = findSection(section);
    if (!s) return false;
    auto it = s->keyIndex.find(upperCase(trimBlanks(key)));
    if (it == s->keyIndex.end()) return false;
    s->lines.erase(s->lines.begin() + static_cast<std::ptrdiff_t>(it->second));
    indexSection(*s);
    modified_ = true;
    return true;
}

}  // namespace brisko
