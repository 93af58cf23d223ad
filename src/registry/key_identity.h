#pragma once
// What a full key path names, whatever root it is written under. Windows
// links several roots into one another: HKEY_CURRENT_USER is
// HKEY_USERS\<the user's SID>, a user's Software\Classes is
// HKEY_USERS\<SID>_Classes, and HKEY_CLASSES_ROOT\X is the machine's
// Software\Classes\X merged with the user's Classes\X. Ignore lists, the
// built-in exclusions and the duplicate test compare these spellings alike.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class RegistryApi;

// Which Classes hold a key below HKEY_CLASSES_ROOT.
enum ClassesSource : unsigned { kMachineClasses = 1, kUserClasses = 2, kBothClasses = 3 };

class KeyIdentity {
  public:
    // rest: the key's path below HKEY_CLASSES_ROOT, upper-cased.
    using SourceFn = std::function<unsigned(std::string_view rest)>;

    // Nothing known of the user: every path names only itself.
    KeyIdentity() = default;
    explicit KeyIdentity(std::string currentSid, SourceFn classesSource = {});
    // The current user, and the registry (in the view the scan used) that
    // tells where a class lives; it must outlive the identity.
    static KeyIdentity of(std::string currentSid, RegistryApi& registry);

    struct Form {
        std::string text;
        // For a form of a HKEY_CLASSES_ROOT path: the Classes it names
        // (a row's key may lie in only one of them); 0 otherwise.
        unsigned source = 0;
    };
    // An upper-cased full path, then its spellings under the roots it is
    // linked to (none when it has no other).
    std::vector<Form> forms(std::string_view upperPath) const;
    // Whether forms() can give more than the path itself: false for the
    // roots nothing is linked to (HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG).
    static bool mayBeLinked(std::string_view upperPath);
    // Where the HKEY_CLASSES_ROOT key rest (upper-cased) lies; both when
    // that cannot be told.
    unsigned classesSource(std::string_view upperRest) const;

  private:
    std::string sid_;  // upper-cased; empty when unknown
    SourceFn source_;
};

}  // namespace brisko
