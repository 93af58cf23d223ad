#include "registry/key_identity.h"

#include "base/text.h"
#include "core/machine/registry_api.h"

namespace brisko {

namespace {
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";
constexpr std::string_view kUsers = "HKEY_USERS\\";
constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";
constexpr std::string_view kMachineClassesPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES";
constexpr std::string_view kSoftwareClasses = "\\SOFTWARE\\CLASSES";

// p is root, then nothing or a backslash and more: the rest, with its backslash.
bool underRoot(std::string_view p, std::string_view root, std::string_view& rest) {
    if (!p.starts_with(root)) return false;
    rest = p.substr(root.size());
    return rest.empty() || rest.front() == '\\';
}

// "HKEY_USERS\X\SOFTWARE\CLASSES..." is "HKEY_USERS\X_CLASSES...".
std::string userClasses(std::string p) {
    if (!p.starts_with(kUsers)) return p;
    size_t slash = p.find('\\', kUsers.size());
    if (slash == std::string::npos) return p;
    std::string_view after = std::string_view(p).substr(slash);
    if (!after.starts_with(kSoftwareClasses)) return p;
    std::string_view tail = after.substr(kSoftwareClasses.size());
    if (!tail.empty() && tail.front() != '\\') return p;  // "SOFTWARE\CLASSESX"
    std::string_view user = std::string_view(p).substr(kUsers.size(), slash - kUsers.size());
    if (endsWithNoCase(user, "_CLASSES")) return p;
    return std::string(kUsers) + std::string(user) + "_CLASSES" + std::string(tail);
}
}  // namespace

KeyIdentity::KeyIdentity(std::string currentSid, SourceFn classesSource)
    : sid_(upperCase(currentSid)), source_(std::move(classesSource)) {}

KeyIdentity KeyIdentity::of(std::string currentSid, RegistryApi& registry) {
    return KeyIdentity(std::move(currentSid), [&registry](std::string_view rest) {
        std::string path = "Software\\Classes\\" + std::string(rest);
        unsigned source = 0;
        if (registry.openKey(RootKey::LocalMachine, path, KeyAccess::Read))
            source |= kMachineClasses;
        if (registry.openKey(RootKey::CurrentUser, path, KeyAccess::Read)) source |= kUserClasses;
        return source ? source : unsigned(kBothClasses);
    });
}

bool KeyIdentity::mayBeLinked(std::string_view p) {
    std::string_view rest;
    return underRoot(p, kClassesRoot, rest) || underRoot(p, kCurrentUser, rest) ||
           p.starts_with(kUsers);
}

std::vector<KeyIdentity::Form> KeyIdentity::forms(std::string_view p) const {
    std::vector<Form> out{{std::string(p), 0}};
    std::string_view rest;
    if (underRoot(p, kClassesRoot, rest)) {
        out.push_back({std::string(kMachineClassesPath) + std::string(rest), kMachineClasses});
        if (!sid_.empty())
            out.push_back(
                {std::string(kUsers) + sid_ + "_CLASSES" + std::string(rest), kUserClasses});
        return out;
    }
    std::string canonical(p);
    if (!sid_.empty() && underRoot(p, kCurrentUser, rest))
        canonical = std::string(kUsers) + sid_ + std::string(rest);
    canonical = userClasses(std::move(canonical));
    if (canonical != p) out.push_back({std::move(canonical), 0});
    return out;
}

unsigned KeyIdentity::classesSource(std::string_view upperRest) const {
    if (!source_) return kBothClasses;
    try {
        return source_(upperRest);
    } catch (const std::exception&) {
        return kBothClasses;
    }
}

}  // namespace brisko
