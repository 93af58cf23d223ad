#pragma once
// .reg text: "REGEDIT4" and "Windows Registry Editor Version 5.00" files, read
// into a list of operations and written from a key tree of the registry.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_api.h"

namespace brisko {

struct RegFileOp {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind = CreateKey;
    std::string keyPath;    // full key path as written ("HKEY_LOCAL_MACHINE\SOFTWARE\x")
    std::string valueName;  // "" is the default value ("@")
    uint32_t type = REG_SZ;
    std::vector<uint8_t> data;  // as the registry stores it (strings UTF-16LE with NUL)
    int line = 0;
};

struct RegFileParse {
    bool unicode = false;  // "Windows Registry Editor Version 5.00"
    std::vector<RegFileOp> ops;
};

enum class RegFileFormat { Regedit4, Version5 };

struct RegFileError {
    std::string message;  // "line 12: ..." for a person
};

// Reads .reg file contents (UTF-8, ANSI, or UTF-16LE with BOM). Throws
// RegFileError for a file that is not a .reg file or a line that cannot be read.
RegFileParse parseRegText(std::string_view bytes);

// Whether the file ends where a block may end: with a line end, and not in
// a value that goes on. Our backups always do; one that does not was cut
// short (a full disk, a kill) and is not restored.
bool regFileEndsWhole(std::string_view bytes);

// Carries the operations out on a registry; keys with an unknown root are
// skipped. Returns the number of operations that failed.
size_t applyRegOps(RegistryApi& registry, const std::vector<RegFileOp>& ops);

// Text in a quoted .reg string: backslashes and quotes escaped, and with
// lineBreaks \n and \r as well (only a name may hold them; our import reads
// them back).
std::string escapeRegString(std::string_view s, bool lineBreaks);
// REG_SZ data as a quoted string's text, when writing it that way gives back
// the very same bytes (one terminating NUL, no embedded NULs or line breaks,
// sound UTF-16); nullopt otherwise, for hex(1).
std::optional<std::string> plainRegString(const std::vector<uint8_t>& data);

// Why an import of `total` operations did not land whole, for a person: the
// edits the registry refused, how many operations failed, and what became of
// the others (forgotten where changes wait for a commit, which the caller then
// discards; already made on a registry that changes at once). `verb` names the
// job: "imported", "restored".
std::string importFailureText(const RegistryApi& registry, std::string_view file, size_t failed,
                              size_t total, std::string_view verb);

// The key (with its subtree) as .reg text, header included. Empty when the key
// does not exist. Keys for which skip (given a full key path) answers true are
// left out with their subtrees.
std::optional<std::string> exportRegText(RegistryApi& registry, std::string_view fullKeyPath,
                                         RegFileFormat format = RegFileFormat::Version5,
                                         const std::function<bool(std::string_view)>& skip = {});

// The whole registry as the hive files hold it: each mounted hive from its
// root, without what Windows keeps outside the files (the CurrentControlSet
// link, the volatile hive list, HKLM\HARDWARE). What a full backup exports.
std::string exportWholeRegistry(RegistryApi& registry,
                                RegFileFormat format = RegFileFormat::Version5);

// The bytes of a .reg file for text made by exportRegText: UTF-16LE with a
// byte-order mark for Version5; for REGEDIT4 the ANSI code page, or UTF-8 when
// the text holds characters ANSI cannot carry.
std::string encodeRegFileBytes(const std::string& text, RegFileFormat format);

}  // namespace brisko
