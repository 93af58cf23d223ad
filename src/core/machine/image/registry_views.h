#pragma once
// The keys ImageRegistry hands out: keys inside a hive, virtual keys (the
// HKLM and HKU roots, the hive list) and the merged HKEY_CLASSES_ROOT view.
// Where Windows links one key into another (CurrentControlSet, the user's
// Software\Classes, the current hardware profile, the hive list), a hive key
// shows the link among its subkeys and opens its target.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/image/image_registry.h"
#include "hive/hive.h"

namespace brisko::regview {

// One hive as it is mounted.
struct Mount {
    enum class Role { Other, System, Software, User, UserClasses };
    HiveSpec hiveSpec;
    std::shared_ptr<hive::Hive> hive;
    bool machine = false;  // under \REGISTRY\MACHINE, else under \REGISTRY\USER
    std::string leaf;      // "SOFTWARE", ".DEFAULT", "S-1-5-21-..._Classes"
    Role role = Role::Other;
    const Mount* classes = nullptr;  // a user hive's _Classes hive

    // Where links attach, recomputed when the hive changes.
    std::mutex anchorMutex;
    uint64_t anchorGen = 0;
    hive::HiveNode controlSet = 0;  // SYSTEM: ControlSet00N named by Select\Current
    hive::HiveNode control = 0;     // SYSTEM: its Control key (holds the hive list)
    hive::HiveNode profiles = 0;    // SYSTEM: its Hardware Profiles key
    hive::HiveNode profile = 0;     // SYSTEM: the current profile when no "Current" key is stored
    hive::HiveNode software = 0;    // user hive: Software (where Classes is linked in)
};

struct Link {
    enum class Kind { ControlSet, HiveList, Profile, UserClasses };
    std::string name;
    Kind kind;
};

// What every key shares: the mounts and the current user.
struct State {
    std::vector<std::unique_ptr<Mount>> mounts;
    std::string currentSid;
    // Asked before every change to a hive; false refuses it (a read-only
    // hive, another program writing the machine).
    std::function<bool(const Mount&)> allowEdit;

    const Mount* find(bool machine, std::string_view leaf) const;
    // The mount a hive path names: "\REGISTRY\MACHINE\SOFTWARE", also
    // "HKEY_LOCAL_MACHINE\SOFTWARE" and "HKEY_USERS\S-1-5-...".
    const Mount* byKeyPath(std::string_view keyPath) const;
    std::vector<Link> links(Mount& m, hive::HiveNode node);
    std::vector<RegValue> hiveListValues() const;
};

class KeyBase : public KeyHandle {
  public:
    // One path component; Create adds it when missing.
    virtual std::unique_ptr<KeyBase> child(std::string_view name, KeyAccess access) = 0;
    virtual bool removeChild(std::string_view name) = 0;
    virtual std::unique_ptr<KeyBase> reopen(KeyAccess access) = 0;

    std::unique_ptr<KeyBase> openPath(std::string_view relPath, KeyAccess access);
    std::unique_ptr<KeyHandle> openSubkey(std::string_view relPath, KeyAccess access) override {
        return openPath(relPath, access);
    }
    bool deleteSubkey(std::string_view relPath) override;
};

// The root of a mounted hive; nullptr when the hive is not there.
std::unique_ptr<KeyBase> openHiveRoot(std::shared_ptr<State> state, const Mount* mount,
                                      KeyAccess access);

// A read-only key with fixed subkeys and values.
struct VirtualChild {
    std::string name;
    std::function<std::unique_ptr<KeyBase>(KeyAccess)> open;
};
std::unique_ptr<KeyBase> makeVirtualKey(std::vector<VirtualChild> children,
                                        std::vector<RegValue> values);

// HKEY_CLASSES_ROOT over the user's and the machine's Classes keys.
std::unique_ptr<KeyBase> makeMergedKey(std::unique_ptr<KeyBase> user,
                                       std::unique_ptr<KeyBase> machine);

}  // namespace brisko::regview
