#pragma once
// Builds a machine folder from .reg text and a list of files: the hives become
// real regf files at the places Windows keeps them, the files land at their
// host paths. Demo and test machines are made this way.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/reg_tree.h"

namespace brisko {

class MachineBuilder {
  public:
    // Throws std::invalid_argument for a user name that is not a plain folder name.
    explicit MachineBuilder(std::string userName = "User",
                            std::string userSid = "S-1-5-21-1004336348-1177238915-682003330-1000");

    // Applies .reg text. Key paths go to the hive Windows keeps them in:
    //  HKEY_LOCAL_MACHINE\SOFTWARE|SYSTEM|SAM|SECURITY, with CurrentControlSet
    //  as the control set Select\Current names; HKEY_USERS\.DEFAULT, the
    //  user's SID and <SID>_Classes; HKEY_CURRENT_USER (its Software\Classes in
    //  UsrClass.dat); HKEY_CLASSES_ROOT as SOFTWARE\Classes; HKEY_CURRENT_CONFIG
    //  as hardware profile 0001. Throws RegFileError for text that cannot be
    //  read or a key no hive holds; then nothing of the text is applied.
    void addRegText(std::string_view regText);

    // "SOFTWARE", "SYSTEM", "SAM", "SECURITY", "DEFAULT", "NTUSER", "USRCLASS"
    // (any case); std::invalid_argument for another name.
    RegTreeKey& hive(std::string_view name);
    // Writes that hive with a free cell of `bytes` after every `every`-th cell,
    // as a hive looks after years of keys added and deleted.
    void fragmentHive(std::string_view name, uint32_t every, uint32_t bytes);

    // Windows paths on drive C: ("C:\Users\User\AppData\Local\Temp\a.tmp").
    // fileTimeOrZero: last-write time as FILETIME; 0 leaves the time of writing.
    // Throws std::invalid_argument for a path off drive C: or with "." or "..".
    void addFile(std::string winPath, std::string content, int64_t fileTimeOrZero = 0);
    void addFolder(std::string winPath);

    // Writes the hives, folders and files below folder, which is drive C:.
    // Path components keep the case they were given in; a folder that already
    // exists in another case is reused, as on Windows. Never writes through a
    // symbolic link. Throws std::runtime_error on failure.
    void write(const std::filesystem::path& folder);

    const std::string& userName() const { return userName_; }
    const std::string& userSid() const { return userSid_; }

  private:
    struct Route {
        RegTreeKey* hive = nullptr;
        std::string path;  // inside the hive; empty for its root key
    };
    struct FileEntry {
        std::vector<std::string> parts;
        std::string content;
        int64_t fileTime = 0;
    };

    bool route(std::string_view fullKeyPath, Route& out);
    std::string controlSet();
    void ensureBaseKeys();

    std::string userName_;
    std::string userSid_;
    std::array<RegTreeKey, 7> hives_;
    std::array<std::pair<uint32_t, uint32_t>, 7> holes_{};  // fragmentHive: every, bytes
    std::vector<std::vector<std::string>> folders_;
    std::vector<FileEntry> files_;
};

}  // namespace brisko
