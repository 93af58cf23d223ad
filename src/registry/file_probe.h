#pragma once
// File and folder existence as the registry scan asks for it: thousands of
// prefixes of the same few references, answered from folder listings.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brisko {

class FileApi;

// Where a file name may end inside a command line: a blank before switches,
// a comma before an icon index, and the like.
bool isNameSeparator(char c);

// File and folder existence for the length of one scan. Answers come from
// folder listings taken once, so the thousands of prefixes the path test tries
// for a long reference cost a hash lookup each. Paths the listing cannot
// answer exactly (odd components, non-ASCII names) go to the file API, cached.
// 8.3 aliases ("PROGRA~1") name what the file API would find under them: a
// folder reached through one shares the listing of its long name.
class FileProbe {
  public:
    explicit FileProbe(FileApi& files) : files_(files) {}
    FileProbe(const FileProbe&) = delete;
    FileProbe& operator=(const FileProbe&) = delete;

    bool fileExists(std::string_view path);    // a file, not a folder
    bool folderExists(std::string_view path);  // a trailing backslash is allowed; "C:" is "C:\"
    bool exists(std::string_view path, bool acceptFolders) {
        return fileExists(path) || (acceptFolders && folderExists(path));
    }
    // Whether some prefix of p ("X:\...") names an existing file, or a prefix
    // that ends before a separator character does with ".exe", ".com" or
    // ".bat" appended: the search of the path test when p's folder part is
    // missing, in one pass. p must hold no "\.", "/" or "\\", so that a
    // missing folder ends it.
    bool programPrefixExists(std::string_view p);
    // p with each 8.3 alias of an existing file or folder replaced by its long
    // name (upper-cased); p itself when it holds none.
    std::string longPath(std::string_view p);
    // Whether p ("X:\...") passes, within folders that exist, through an 8.3
    // alias the file system does not store: what such an alias names is only
    // a guess, so whether p exists is not known.
    bool throughGuessedAlias(std::string_view p);

  private:
    static constexpr uint8_t kMissing = 0, kFile = 1, kFolder = 2;
    // Looked up by string_view, so probing allocates nothing.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    template <class V>
    using Map = std::unordered_map<std::string, V, Hash, std::equal_to<>>;
    struct Folder {
        std::string key;  // the long spelling, upper-cased, with trailing backslash
        bool exists = false;
        bool listed = false;         // names below hold every entry
        Map<uint8_t> names;          // upper-cased name -> kFile/kFolder
        bool aliased = false;        // aliases below are filled in
        bool aliasesStored = false;  // the file system keeps them; else guessed
        Map<std::string> aliases;    // upper-cased 8.3 alias -> its key in names
    };
    // The folder "X:\a\b\" (upper-cased, with trailing backslash), looked up
    // through its parent's listing.
    Folder& folder(const std::string& upperFolder);
    uint8_t kindOf(std::string_view path);
    // The entry upperName of a listed folder, by its own name or as an 8.3
    // alias; longName, when given, is set to the name the listing holds.
    uint8_t inFolder(Folder& f, std::string_view upperName, std::string* longName = nullptr);
    void fillAliases(Folder& f);
    uint8_t kindDirect(std::string_view path);

    FileApi& files_;
    Map<Folder*> folders_;  // by every spelling met so far
    std::vector<std::unique_ptr<Folder>> store_;
    Map<uint8_t> direct_;
    std::string key_;  // the listing key of the path being probed
};

}  // namespace brisko
