#pragma once
// An INI file read and written the way the Windows profile functions do it
// (GetPrivateProfileString/Int, WritePrivateProfileString): sections and keys
// match without regard to case, the first section and the first key of a name
// win, a write changes only the line of its key and keeps every other line of
// the file as it was (comments, blank lines, lines we do not understand), a new
// key goes after the last line of its section and a new section at the end.
//
// Our own small module rather than SimpleIni: SimpleIni regenerates the whole
// file in its own layout on save (blank lines, odd spacing and lines without
// '=' are lost or normalised), while the profile functions touch one line.
//
// The text is handled as bytes (ANSI); nothing in it can make parsing fail.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brisko {

class IniFile {
  public:
    IniFile() : IniFile(std::string_view{}) {}
    // Parses text as read from a file. Never fails: lines that are neither a
    // section header nor "key=value" are kept and ignored.
    explicit IniFile(std::string_view text);

    // The file's text with the changes applied (lines end as they ended; new
    // lines end with the file's own line break, CR LF for a new file).
    std::string text() const;
    bool modified() const { return modified_; }

    // GetPrivateProfileString: the trimmed value, one pair of enclosing quotes
    // removed; def when the section or key is missing.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view def = {}) const;
    // Integers as the settings read them: def when the key is missing or its
    // text is not a whole number in the 32-bit range (decimal, or hex with
    // "0x"/"$").
    int32_t readInteger(std::string_view section, std::string_view key, int32_t def) const;
    // Booleans are integers: any non-zero number is true.
    bool readBool(std::string_view section, std::string_view key, bool def) const;

    bool sectionExists(std::string_view section) const;
    bool valueExists(std::string_view section, std::string_view key) const;
    // Key names of a section in file order (first occurrence of each name).
    std::vector<std::string> keys(std::string_view section) const;
    // Section names in file order (first occurrence of each name).
    std::vector<std::string> sections() const;

    // WritePrivateProfileString. Line breaks in key or value would split the
    // line and are replaced by spaces; a key with '=' or a section with ']'
    // cannot be written back and is refused (false).
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInteger(std::string_view section, std::string_view key, int64_t value);
    bool writeBool(std::string_view section, std::string_view key, bool value);
    // WritePrivateProfileString with a null value: removes the key's line.
    bool deleteKey(std::string_view section, std::string_view key);

  private:
    struct Line {
        std::string text;  // without its line break
        std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
    };
    struct Section {
        std::string name;  // as written; empty for the lines before the first header
        bool hasHeader = false;
        std::vector<Line> lines;                           // lines[0] is the header when hasHeader
        std::unordered_map<std::string, size_t> keyIndex;  // upper-cased key -> line
    };

    void indexSection(Section& s);
    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);
    std::optional<std::string_view> rawValue(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_;  // upper-cased name -> first section
    std::string eol_ = "\r\n";
    bool bom_ = false;
    bool modified_ = false;
};

// Splits "key=value" as the profile functions do; nullopt for a line without '='
// or with an empty key. Both parts trimmed of blanks and tabs.
std::optional<std::pair<std::string_view, std::string_view>> splitIniLine(std::string_view line);

}  // namespace brisko
