#include "core/machine/registry_view.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "base/text.h"

namespace brisko {

namespace {

constexpr std::string_view kWow = "Wow6432Node";

// Below HKLM\SOFTWARE: the keys Windows 7 shares between the views (with
// everything below them). Everything else there is redirected.
constexpr std::array<std::string_view, 47> kSharedSoftware = {
    "Clients",
    "Microsoft\\COM3",
    "Microsoft\\Cryptography\\Calais\\Current",
    "Microsoft\\Cryptography\\Calais\\Readers",
    "Microsoft\\Cryptography\\Services",
    "Microsoft\\CTF\\SystemShared",
    "Microsoft\\CTF\\TIP",
    "Microsoft\\DFS",
    "Microsoft\\Driver Signing",
    "Microsoft\\EnterpriseCertificates",
    "Microsoft\\EventSystem",
    "Microsoft\\MSMQ",
    "Microsoft\\Non-Driver Signing",
    "Microsoft\\Notepad\\DefaultFonts",
    "Microsoft\\OLE",
    "Microsoft\\RAS",
    "Microsoft\\RPC",
    "Microsoft\\Shared Tools\\MSInfo",
    "Microsoft\\SystemCertificates",
    "Microsoft\\TermServLicensing",
    "Microsoft\\TransactionServer",
    "Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    "Microsoft\\Windows\\CurrentVersion\\Group Policy",
    "Microsoft\\Windows\\CurrentVersion\\Policies",
    "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Setup",
    "Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
    "Microsoft\\Windows NT\\CurrentVersion\\Console",
    "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Microsoft\\Windows NT\\CurrentVersion\\Language Pack",
    "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    "Microsoft\\Windows NT\\CurrentVersion\\Ports",
    "Microsoft\\Windows NT\\CurrentVersion\\Print",
    "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    "Policies",
};
// "RegisteredApplications" is shared too; "Classes" has rules of its own.
constexpr std::string_view kSharedSoftwareTop[] = {"RegisteredApplications"};

// Below any Classes key: what is redirected (to Classes\Wow6432Node).
constexpr std::string_view kRedirectedClasses[] = {"CLSID", "DirectShow", "Interface", "Media Type",
                                                   "MediaFoundation"};

using Parts = std::vector<std::string>;

Parts split(std::string_view path) {
    Parts parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string join(const Parts& parts, size_t from = 0) {
    std::string out;
    for (size_t i = from; i < parts.size(); ++i) {
        if (!out.empty()) out.push_back('\\');
        out += parts[i];
    }
    return out;
}

// The shared table as parts, once.
const std::vector<Parts>& sharedSoftware() {
    static const std::vector<Parts> table = [] {
        std::vector<Parts> t;
        for (auto e : kSharedSoftware) t.push_back(split(e));
        for (auto e : kSharedSoftwareTop) t.push_back(split(e));
        return t;
    }();
    return table;
}

// parts[from..] begins with prefix.
bool startsWith(const Parts& parts, size_t from, const Parts& prefix) {
    if (parts.size() - from < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!equalsNoCase(parts[from + i], prefix[i])) return false;
    return true;
}

bool redirectedClass(std::string_view name) {
    for (auto c : kRedirectedClasses)
        if (equalsNoCase(name, c)) return true;
    return false;
}

// Where a key of the view lies. uniform: the view changes nothing below the
// key, so its physical handle serves the whole subtree.
struct Place {
    std::string physical;
    bool uniform = true;
    bool classesRoot = false;   // a Classes key: some of its children are moved
    bool softwareRoot = false;  // HKLM\SOFTWARE itself
};

Place classes(std::string prefix, const Parts& parts, size_t from) {
    Place p;
    if (from >= parts.size()) {
        p.physical = std::move(prefix);
        p.uniform = false;
        p.classesRoot = true;
        return p;
    }
    std::string rest = join(parts, from);
    if (redirectedClass(parts[from])) rest = std::string(kWow) + "\\" + rest;
    p.physical = prefix.empty() ? rest : prefix + "\\" + rest;
    return p;
}

Place software(const Parts& parts) {
    // parts[0] is SOFTWARE.
    Place p;
    const std::string top = parts[0];
    if (parts.size() == 1) {
        p.physical = top + "\\" + std::string(kWow);
        p.uniform = false;
        p.softwareRoot = true;
        return p;
    }
    if (equalsNoCase(parts[1], kWow)) {  // named outright: the place itself
        p.physical = join(parts);
        return p;
    }
    if (equalsNoCase(parts[1], "Classes")) return classes(top + "\\" + parts[1], parts, 2);
    for (const auto& shared : sharedSoftware()) {
        if (startsWith(parts, 1, shared)) {
            p.physical = join(parts);
            return p;
        }
    }
    p.physical = top + "\\" + std::string(kWow) + "\\" + join(parts, 1);
    // Shared keys further down keep the key from being uniform.
    const Parts below(parts.begin() + 1, parts.end());
    for (const auto& shared : sharedSoftware())
        if (shared.size() > below.size() && startsWith(shared, 0, below)) p.uniform = false;
    return p;
}

// A user hive from its root (HKEY_CURRENT_USER, or HKEY_USERS\<SID>):
// only its Software\Classes is affected.
Place userHive(std::string prefix, const Parts& parts, size_t from) {
    Place p;
    const size_t n = parts.size() - from;
    if (n >= 2 && equalsNoCase(parts[from], "Software") &&
        equalsNoCase(parts[from + 1], "Classes")) {
        std::string classesKey = prefix.empty()
                                     ? parts[from] + "\\" + parts[from + 1]
                                     : prefix + "\\" + parts[from] + "\\" + parts[from + 1];
        return classes(std::move(classesKey), parts, from + 2);
    }
    std::string rest = join(parts, from);
    p.physical = prefix.empty() ? rest : (rest.empty() ? prefix : prefix + "\\" + rest);
    p.uniform = !(n == 0 || (n == 1 && equalsNoCase(parts[from], "Software")));
    return p;
}

Place place(RootKey root, const Parts& parts) {
    switch (root) {
        case RootKey::LocalMachine:
            if (parts.empty()) return {"", false};
            if (equalsNoCase(parts[0], "SOFTWARE")) return software(parts);
            return {join(parts), true};
        case RootKey::ClassesRoot:
            return classes("", parts, 0);
        case RootKey::CurrentUser:
            return userHive("", parts, 0);
        case RootKey::Users:
            if (parts.empty()) return {"", false};
            if (endsWithNoCase(parts[0], "_Classes")) return classes(parts[0], parts, 1);
            return userHive(parts[0], parts, 1);
        case RootKey::CurrentConfig:
            break;
    }
    return {join(parts), true};
}

class Wow32Key final : public KeyHandle {
  public:
    Wow32Key(RegistryApi& physical, RootKey root, Parts logical, Place where,
             std::unique_ptr<KeyHandle> key)
        : physical_(physical),
          root_(root),
          logical_(std::move(logical)),
          where_(std::move(where)),
          key_(std::move(key)) {}

    std::vector<std::string> subkeyNames() override {
        std::vector<std::string> names = key_->subkeyNames();
        // The view's own store is not a key of the view.
        if (where_.classesRoot || where_.softwareRoot)
            std::erase_if(names, [](const std::string& n) { return equalsNoCase(n, kWow); });
        // Children whose place the view moves: listed when they are there.
        for (const auto& name : movedChildren()) {
            auto it = std::find_if(names.begin(), names.end(),
                                   [&](const std::string& n) { return equalsNoCase(n, name); });
            const bool there = openChild(name, KeyAccess::Read) != nullptr;
            if (there && it == names.end()) names.push_back(name);
            if (!there && it != names.end()) names.erase(it);
        }
        return names;
    }
    std::vector<std::string> valueNames() override { return key_->valueNames(); }
    std::optional<RegValue> value(std::string_view name) override { return key_->value(name); }
    bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) override {
        return key_->setValue(name, type, data);
    }
    bool deleteValue(std::string_view name) override { return key_->deleteValue(name); }
    std::unique_ptr<KeyHandle> openSubkey(std::string_view relPath, KeyAccess access) override {
        Parts parts = logical_;
        for (auto& p : split(relPath)) parts.push_back(std::move(p));
        return open(physical_, root_, std::move(parts), access);
    }
    bool deleteSubkey(std::string_view relPath) override {
        Parts parts = logical_;
        for (auto& p : split(relPath)) parts.push_back(std::move(p));
        if (parts.size() == logical_.size()) return false;
        Place child = place(root_, parts);
        auto rootKey = physical_.openKey(root_, "", KeyAccess::ReadWrite);
        return rootKey && rootKey->deleteSubkey(child.physical);
    }
    KeyInfo info() override {
        KeyInfo info = key_->info();
        info.subkeys = uint32_t(subkeyNames().size());
        return info;
    }
    bool writable() const override { return key_->writable(); }

    static std::unique_ptr<KeyHandle> open(RegistryApi& physical, RootKey root, Parts parts,
                                           KeyAccess access) {
        Place where = place(root, parts);
        auto key = physical.openKey(root, where.physical, access);
        if (!key || where.uniform) return key;
        return std::make_unique<Wow32Key>(physical, root, std::move(parts), std::move(where),
                                          std::move(key));
    }

  private:
    std::unique_ptr<KeyHandle> openChild(const std::string& name, KeyAccess access) {
        Parts parts = logical_;
        parts.push_back(name);
        return open(physical_, root_, std::move(parts), access);
    }
    // Names of children the view takes from another place than this key's
    // physical one: the redirected classes, the shared keys just below.
    std::vector<std::string> movedChildren() const {
        std::vector<std::string> out;
        if (where_.classesRoot) {
            for (auto c : kRedirectedClasses) out.emplace_back(c);
            return out;
        }
        if (root_ != RootKey::LocalMachine || logical_.empty() ||
            !equalsNoCase(logical_[0], "SOFTWARE"))
            return out;
        if (logical_.size() == 1) out.emplace_back("Classes");
        const Parts below(logical_.begin() + 1, logical_.end());
        for (const auto& shared : sharedSoftware())
            if (shared.size() == below.size() + 1 && startsWith(shared, 0, below))
                out.push_back(shared.back());
        return out;
    }

    RegistryApi& physical_;
    RootKey root_;
    Parts logical_;
    Place where_;
    std::unique_ptr<KeyHandle> key_;
};

}  // namespace

bool hasWow32View(RegistryApi& physical) {
    return physical.openKey(RootKey::LocalMachine, "SOFTWARE\\Wow6432Node", KeyAccess::Read) !=
           nullptr;
}

std::unique_ptr<KeyHandle> openWow32Key(RegistryApi& physical, RootKey root,
                                        std::string_view subPath, KeyAccess access) {
    return Wow32Key::open(physical, root, split(subPath), access);
}

std::string physicalSubPath(RegistryApi& physical, RegistryView view, RootKey root,
                            std::string_view subPath) {
    if (view != RegistryView::Wow64_32 || !hasWow32View(physical)) return std::string(subPath);
    return place(root, split(subPath)).physical;
}

std::unique_ptr<KeyHandle> RegistryApi::openKeyInView(RegistryView view, RootKey root,
                                                      std::string_view subPath, KeyAccess access) {
    if (view == RegistryView::Wow64_32 && hasWow32View(*this))
        return openWow32Key(*this, root, subPath, access);
    return openKey(root, subPath, access);
}

ViewRegistry::ViewRegistry(RegistryApi& inner, RegistryView view)
    : inner_(inner), view_(view), wow32_(view == RegistryView::Wow64_32 && hasWow32View(inner)) {}

std::unique_ptr<KeyHandle> ViewRegistry::openKey(RootKey root, std::string_view subPath,
                                                 KeyAccess access) {
    if (wow32_) return openWow32Key(inner_, root, subPath, access);
    return inner_.openKey(root, subPath, access);
}

}  // namespace brisko
