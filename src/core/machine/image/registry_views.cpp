#include "core/machine/image/registry_views.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "base/text.h"

namespace brisko::regview {

using namespace hive;

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Names of `first`, then those of `second` not already listed.
std::vector<std::string> unionOf(std::vector<std::string> first,
                                 const std::vector<std::string>& second) {
    std::unordered_set<std::string> seen;
    for (const auto& n : first) seen.insert(foldRegistryName(n));
    for (const auto& n : second)
        if (seen.insert(foldRegistryName(n)).second) first.push_back(n);
    return first;
}

// Names a merged key's user side lists, to tell which of the machine's they
// hide. Most merged keys have few; the machine's are asked one by one.
class FoldedNames {
  public:
    explicit FoldedNames(const std::vector<std::string>& names) {
        for (const auto& n : names) set_.insert(foldRegistryName(n));
    }
    bool contains(std::string_view name) {
        if (set_.empty()) return false;
        folded_.assign(name);
        for (char& c : folded_) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                folded_ = foldRegistryName(name);
                break;
            }
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        }
        return set_.count(folded_) > 0;
    }

  private:
    std::unordered_set<std::string> set_;
    std::string folded_;  // reused from name to name
};

uint32_t utf16Units(std::string_view s) {
    return uint32_t(utf8ToUtf16le(s, false).size() / 2);
}

HiveNode childNode(Hive& hive, HiveNode node, std::string_view name) {
    auto list = hive.children(node);
    auto i = list ? list->find(name) : std::nullopt;
    return i ? list->refs[*i] : 0;
}

std::optional<uint32_t> dwordValue(Hive& hive, HiveNode node, std::string_view name) {
    if (!node) return std::nullopt;
    auto v = hive.value(node, name);
    if (!v || v->type != REG_DWORD || v->data.size() < 4) return std::nullopt;
    uint32_t d;
    std::memcpy(&d, v->data.data(), 4);
    return d;
}

void refreshAnchors(Mount& m) {
    Hive& hive = *m.hive;
    m.anchorGen = hive.generation();
    m.controlSet = m.control = m.profiles = m.profile = m.software = 0;
    HiveNode root = hive.root();
    if (m.role == Mount::Role::System) {
        auto current = dwordValue(hive, childNode(hive, root, "Select"), "Current");
        if (!current || *current == 0 || *current > 999) return;
        char name[16];
        std::snprintf(name, sizeof name, "ControlSet%03u", *current);
        m.controlSet = childNode(hive, root, name);
        if (!m.controlSet) return;
        m.control = childNode(hive, m.controlSet, "Control");
        m.profiles = childNode(hive, m.controlSet, "Hardware Profiles");
        // A stored "Current" key is the profile itself; otherwise the link
        // follows IDConfigDB\CurrentConfig, as Windows sets it up at boot.
        if (m.profiles && !childNode(hive, m.profiles, "Current")) {
            auto config =
                dwordValue(hive, childNode(hive, m.control, "IDConfigDB"), "CurrentConfig");
            if (config && *config <= 9999) {
                std::snprintf(name, sizeof name, "%04u", *config);
                m.profile = childNode(hive, m.profiles, name);
            }
        }
    } else if (m.role == Mount::Role::User && m.classes) {
        m.software = childNode(hive, root, "Software");
    }
}

// Buffers the batch reads fill, reused from key to key on each thread. A
// walk holds one for each key it is inside (it walks on from a callback), so
// they are lent out as a stack.
template <class T>
class Pooled {
  public:
    Pooled() {
        if (used_ == pool_.size()) pool_.push_back(std::make_unique<std::vector<T>>());
        buf_ = pool_[used_++].get();
    }
    ~Pooled() {
        trim(*buf_);
        --used_;
    }
    Pooled(const Pooled&) = delete;
    Pooled& operator=(const Pooled&) = delete;
    std::vector<T>& operator*() { return *buf_; }

  private:
    // A rare huge value is not kept for the rest of the thread's life.
    static void trim(std::vector<RegValue>& values) {
        for (auto& v : values)
            if (v.data.capacity() > (64u << 10)) std::vector<uint8_t>().swap(v.data);
    }
    static void trim(std::vector<Hive::Child>&) {}

    static thread_local std::vector<std::unique_ptr<std::vector<T>>> pool_;
    static thread_local size_t used_;
    std::vector<T>* buf_;
};
template <class T>
thread_local std::vector<std::unique_ptr<std::vector<T>>> Pooled<T>::pool_;
template <class T>
thread_local size_t Pooled<T>::used_ = 0;

class HiveKey;

std::unique_ptr<KeyBase> openLink(const std::shared_ptr<State>& st, Mount& m, const Link& link,
                                  KeyAccess access, size_t depth);

class HiveKey final : public KeyBase {
  public:
    HiveKey(std::shared_ptr<State> st, Mount& m, HiveNode node, KeyAccess access, size_t depth)
        : st_(std::move(st)),
          m_(m),
          hive_(*m.hive),
          node_(node),
          writable_(access != KeyAccess::Read),
          depth_(depth) {}

    std::vector<std::string> subkeyNames() override {
        const NameList* k = kids();
        if (!k) return {};
        std::vector<std::string> names = k->names;
        for (const auto& l : links_) {
            if (k->find(l.name)) continue;
            // Links sit where Windows would list them: in name order.
            std::string folded = foldRegistryName(l.name);
            auto at = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
                return foldRegistryName(n) > folded;
            });
            names.insert(at, l.name);
        }
        return names;
    }

    std::vector<std::string> valueNames() override {
        const NameList* v = vals();
        return v ? v->names : std::vector<std::string>{};
    }

    std::optional<RegValue> value(std::string_view name) override {
        const NameList* v = vals();
        auto i = v ? v->find(name, valueHint_) : std::nullopt;
        if (!i) return std::nullopt;
        valueHint_ = *i + 1;
        return hive_.value(node_, *v, *i, valuesGen_);
    }

    void forEachValue(const std::function<bool(const RegValue&)>& f) override {
        Pooled<RegValue> values;
        auto n = hive_.readAllValues(node_, *values);
        for (size_t i = 0; n && i < *n; ++i)
            if (!f((*values)[i])) return;
    }

    void forEachSubkey(KeyAccess access,
                       const std::function<bool(std::string_view, KeyHandle&)>& f) override {
        if (depth_ + 1 >= kHiveMaxDepth) return;
        // Keys with links show them among their subkeys: the general way.
        if (!st_->links(m_, node_).empty()) return KeyHandle::forEachSubkey(access, f);
        Pooled<Hive::Child> kids;
        uint64_t gen = 0;
        auto n = hive_.readAllChildren(node_, *kids, &gen);
        for (size_t i = 0; n && i < *n; ++i) {
            const Hive::Child& c = (*kids)[i];
            // A callback that changed the hive may have deleted those left.
            if (hive_.generation() != gen && !hive_.alive(c.node)) continue;
            HiveKey child(st_, m_, c.node, access, depth_ + 1);
            if (!f(c.name, child)) return;
        }
    }

    bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) override {
        vals_.reset();  // not held while the edit takes the list
        return mayEdit() && hive_.setValue(node_, name, type, data);
    }

    bool deleteValue(std::string_view name) override {
        // The list this handle holds would make the edit copy it.
        vals_.reset();
        return mayEdit() && hive_.deleteValue(node_, name);
    }

    std::unique_ptr<KeyBase> child(std::string_view name, KeyAccess access) override {
        const NameList* k = kids();
        if (!k || depth_ + 1 >= kHiveMaxDepth) return nullptr;
        for (const auto& l : links_)
            if (sameRegistryName(l.name, name)) return openLink(st_, m_, l, access, depth_ + 1);
        auto i = k->find(name, childHint_);
        if (i) {
            childHint_ = *i + 1;
            return std::make_unique<HiveKey>(st_, m_, k->refs[*i], access, depth_ + 1);
        }
        if (access != KeyAccess::Create || !mayEdit()) return nullptr;
        kids_.reset();  // not held while the edit takes the list
        HiveNode node = hive_.addChild(node_, name);
        if (!node) return nullptr;
        return std::make_unique<HiveKey>(st_, m_, node, access, depth_ + 1);
    }

    bool removeChild(std::string_view name) override {
        if (!writable_ || !kids()) return false;
        for (const auto& l : links_)
            if (sameRegistryName(l.name, name)) return false;  // a link, not a key of this hive
        if (!kids_->find(name) || !mayEdit()) return false;
        kids_.reset();  // not held while the edit takes the list
        return hive_.deleteChild(node_, name);
    }

    std::unique_ptr<KeyBase> reopen(KeyAccess access) override {
        if (!hive_.alive(node_)) return nullptr;
        return std::make_unique<HiveKey>(st_, m_, node_, access, depth_);
    }

    KeyInfo info() override {
        KeyInfo info;
        const NameList* k = kids();
        const NameList* v = vals();
        if (!k || !v) return info;
        info.subkeys = uint32_t(k->size());
        info.maxSubkeyLen = k->maxNameLen;
        for (const auto& l : links_) {
            if (k->find(l.name)) continue;
            ++info.subkeys;
            info.maxSubkeyLen = std::max(info.maxSubkeyLen, utf16Units(l.name));
        }
        info.values = uint32_t(v->size());
        info.maxValueNameLen = v->maxNameLen;
        info.maxValueLen = v->maxDataLen;
        info.lastWrite = hive_.lastWrite(node_);
        info.className = hive_.className(node_);
        return info;
    }

    bool writable() const override { return writable_; }

  private:
    bool mayEdit() { return writable_ && (!st_->allowEdit || st_->allowEdit(m_)); }
    // Lists are kept while the hive is unchanged; a change anywhere in it
    // makes them reread (cheap for long lists, which the hive keeps).
    const NameList* kids() {
        uint64_t gen = hive_.generation();
        if (!kids_ || kidsGen_ != gen) {
            kids_ = hive_.children(node_, &kidsGen_);
            links_ = kids_ ? st_->links(m_, node_) : std::vector<Link>{};
        }
        return kids_.get();
    }
    const NameList* vals() {
        if (!vals_ || valuesGen_ != hive_.generation()) vals_ = hive_.values(node_, &valuesGen_);
        return vals_.get();
    }

    std::shared_ptr<State> st_;
    Mount& m_;
    Hive& hive_;
    HiveNode node_;
    bool writable_;
    size_t depth_;
    std::shared_ptr<const NameList> kids_, vals_;
    uint64_t kidsGen_ = 0, valuesGen_ = 0;
    std::vector<Link> links_;
    size_t childHint_ = 0, valueHint_ = 0;
};

class VirtualKey final : public KeyBase {
  public:
    VirtualKey(std::vector<VirtualChild> children, std::vector<RegValue> values)
        : children_(std::move(children)), values_(std::move(values)) {}

    std::vector<std::string> subkeyNames() override {
        std::vector<std::string> names;
        for (const auto& c : children_) names.push_back(c.name);
        return names;
    }
    std::vector<std::string> valueNames() override {
        std::vector<std::string> names;
        for (const auto& v : values_) names.push_back(v.name);
        return names;
    }
    std::optional<RegValue> value(std::string_view name) override {
        for (const auto& v : values_)
            if (sameRegistryName(v.name, name)) return v;
        return std::nullopt;
    }
    bool setValue(std::string_view, uint32_t, std::span<const uint8_t>) override { return false; }
    bool deleteValue(std::string_view) override { return false; }
    std::unique_ptr<KeyBase> child(std::string_view name, KeyAccess access) override {
        for (const auto& c : children_)
            if (sameRegistryName(c.name, name)) return c.open(access);
        return nullptr;
    }
    bool removeChild(std::string_view) override { return false; }
    std::unique_ptr<KeyBase> reopen(KeyAccess) override {
        return std::make_unique<VirtualKey>(children_, values_);
    }
    KeyInfo info() override {
        KeyInfo info;
        info.subkeys = uint32_t(children_.size());
        info.values = uint32_t(values_.size());
        for (const auto& c : children_)
            info.maxSubkeyLen = std::max(info.maxSubkeyLen, utf16Units(c.name));
        for (const auto& v : values_) {
            info.maxValueNameLen = std::max(info.maxValueNameLen, utf16Units(v.name));
            info.maxValueLen = std::max(info.maxValueLen, uint32_t(v.data.size()));
        }
        return info;
    }
    bool writable() const override { return false; }

  private:
    std::vector<VirtualChild> children_;
    std::vector<RegValue> values_;
};

// Reads prefer the user's key, lists are the union, deletions reach both.
// Writes go to the user's key when it exists, else to the machine's. A new key
// is created among the machine's Classes, unless its parent exists only in
// the user's (then it joins its parent there).
class MergedKey final : public KeyBase {
  public:
    MergedKey(std::unique_ptr<KeyBase> user, std::unique_ptr<KeyBase> machine)
        : user_(std::move(user)), machine_(std::move(machine)) {}

    std::vector<std::string> subkeyNames() override {
        return unionOf(user_ ? user_->subkeyNames() : std::vector<std::string>{},
                       machine_ ? machine_->subkeyNames() : std::vector<std::string>{});
    }
    std::vector<std::string> valueNames() override {
        return unionOf(user_ ? user_->valueNames() : std::vector<std::string>{},
                       machine_ ? machine_->valueNames() : std::vector<std::string>{});
    }
    std::optional<RegValue> value(std::string_view name) override {
        if (user_)
            if (auto v = user_->value(name)) return v;
        return machine_ ? machine_->value(name) : std::nullopt;
    }
    // The user's entries first, as the lookups by name give them (a user's
    // merged key holds few); then the machine's that no user entry hides,
    // read in one go. A subkey only the machine holds reads and changes the
    // same through the machine's key as through a merged one, so it is lent
    // as it is.
    void forEachValue(const std::function<bool(const RegValue&)>& f) override {
        std::vector<std::string> names = user_ ? user_->valueNames() : std::vector<std::string>{};
        for (const auto& name : names)
            if (auto v = value(name))
                if (!f(*v)) return;
        if (!machine_) return;
        FoldedNames hidden(names);
        machine_->forEachValue([&](const RegValue& v) { return hidden.contains(v.name) || f(v); });
    }
    void forEachSubkey(KeyAccess access,
                       const std::function<bool(std::string_view, KeyHandle&)>& f) override {
        std::vector<std::string> names = user_ ? user_->subkeyNames() : std::vector<std::string>{};
        for (const auto& name : names)
            if (auto sub = openSubkey(name, access))
                if (!f(name, *sub)) return;
        if (!machine_) return;
        FoldedNames hidden(names);
        machine_->forEachSubkey(access, [&](std::string_view name, KeyHandle& sub) {
            return hidden.contains(name) || f(name, sub);
        });
    }
    bool setValue(std::string_view name, uint32_t type, std::span<const uint8_t> data) override {
        return user_ ? user_->setValue(name, type, data) : machine_->setValue(name, type, data);
    }
    bool deleteValue(std::string_view name) override {
        bool fromUser = user_ && user_->deleteValue(name);
        bool fromMachine = machine_ && machine_->deleteValue(name);
        return fromUser || fromMachine;
    }
    std::unique_ptr<KeyBase> child(std::string_view name, KeyAccess access) override {
        KeyAccess open = access == KeyAccess::Create ? KeyAccess::ReadWrite : access;
        auto u = user_ ? user_->child(name, open) : nullptr;
        auto m = machine_ ? machine_->child(name, open) : nullptr;
        if (!u && !m) {
            if (access != KeyAccess::Create) return nullptr;
            if (machine_)
                m = machine_->child(name, access);
            else
                u = user_->child(name, access);
            if (!u && !m) return nullptr;
        }
        return std::make_unique<MergedKey>(std::move(u), std::move(m));
    }
    bool removeChild(std::string_view name) override {
        bool fromUser = user_ && user_->removeChild(name);
        bool fromMachine = machine_ && machine_->removeChild(name);
        return fromUser || fromMachine;
    }
    std::unique_ptr<KeyBase> reopen(KeyAccess access) override {
        auto u = user_ ? user_->reopen(access) : nullptr;
        auto m = machine_ ? machine_->reopen(access) : nullptr;
        if (!u && !m) return nullptr;
        return std::make_unique<MergedKey>(std::move(u), std::move(m));
    }
    KeyInfo info() override {
        KeyInfo info;
        KeyInfo u = user_ ? user_->info() : KeyInfo{};
        KeyInfo m = machine_ ? machine_->info() : KeyInfo{};
        info.subkeys = uint32_t(subkeyNames().size());
        info.values = uint32_t(valueNames().size());
        info.maxSubkeyLen = std::max(u.maxSubkeyLen, m.maxSubkeyLen);
        info.maxValueNameLen = std::max(u.maxValueNameLen, m.maxValueNameLen);
        info.maxValueLen = std::max(u.maxValueLen, m.maxValueLen);
        info.lastWrite = std::max(u.lastWrite, m.lastWrite);
        info.className = user_ ? u.className : m.className;
        return info;
    }
    bool writable() const override {
        return (user_ && user_->writable()) || (machine_ && machine_->writable());
    }

  private:
    std::unique_ptr<KeyBase> user_, machine_;
};

std::unique_ptr<KeyBase> openLink(const std::shared_ptr<State>& st, Mount& m, const Link& link,
                                  KeyAccess access, size_t depth) {
    HiveNode target = 0;
    {
        std::lock_guard lock(m.anchorMutex);
        if (link.kind == Link::Kind::ControlSet) target = m.controlSet;
        if (link.kind == Link::Kind::Profile) target = m.profile;
    }
    switch (link.kind) {
        case Link::Kind::ControlSet:
        case Link::Kind::Profile:
            if (!target || !m.hive->alive(target)) return nullptr;
            return std::make_unique<HiveKey>(st, m, target, access, depth);
        case Link::Kind::HiveList:
            return makeVirtualKey({}, st->hiveListValues());
        case Link::Kind::UserClasses:
            return openHiveRoot(st, m.classes, access);
    }
    return nullptr;
}

}  // namespace

// --- State -------------------------------------------------------------------

const Mount* State::find(bool machine, std::string_view leaf) const {
    for (const auto& m : mounts)
        if (m->machine == machine && equalsNoCase(m->leaf, leaf)) return m.get();
    return nullptr;
}

const Mount* State::byKeyPath(std::string_view keyPath) const {
    for (const auto& m : mounts)
        if (equalsNoCase(m->hiveSpec.mountPath, keyPath)) return m.get();
    std::string sub;
    auto root = parseRoot(keyPath, &sub);
    if (root == RootKey::LocalMachine) return find(true, sub);
    if (root == RootKey::Users) return find(false, sub);
    return nullptr;
}

std::vector<Link> State::links(Mount& m, HiveNode node) {
    if (m.role != Mount::Role::System && !(m.role == Mount::Role::User && m.classes)) return {};
    std::lock_guard lock(m.anchorMutex);
    if (m.anchorGen != m.hive->generation()) refreshAnchors(m);
    std::vector<Link> out;
    if (m.role == Mount::Role::System) {
        if (node == m.hive->root() && m.controlSet)
            out.push_back({"CurrentControlSet", Link::Kind::ControlSet});
        if (node == m.control && m.control) out.push_back({"hivelist", Link::Kind::HiveList});
        if (node == m.profiles && m.profile) out.push_back({"Current", Link::Kind::Profile});
    } else if (node == m.software && m.software) {
        out.push_back({"Classes", Link::Kind::UserClasses});
    }
    return out;
}

std::vector<RegValue> State::hiveListValues() const {
    // The hardware hive lives only in memory: listed, but without a file.
    std::vector<RegValue> values{{"\\REGISTRY\\MACHINE\\HARDWARE", REG_SZ, utf8ToUtf16le("")}};
    for (const auto& m : mounts)
        values.push_back({m->hiveSpec.mountPath, REG_SZ, utf8ToUtf16le(m->hiveSpec.deviceFile)});
    return values;
}

// --- keys ----------------------------------------------------------------------

std::unique_ptr<KeyBase> KeyBase::openPath(std::string_view relPath, KeyAccess access) {
    // Component by component, without a list of them: most opens name one subkey.
    std::unique_ptr<KeyBase> key;
    for (size_t start = 0; start <= relPath.size();) {
        size_t end = std::min(relPath.find('\\', start), relPath.size());
        if (end > start) {
            std::string_view part = relPath.substr(start, end - start);
            key = key ? key->child(part, access) : child(part, access);
            if (!key) return nullptr;
        }
        start = end + 1;
    }
    return key ? std::move(key) : reopen(access);
}

bool KeyBase::deleteSubkey(std::string_view relPath) {
    auto parts = components(relPath);
    if (parts.empty()) return false;
    if (parts.size() == 1) return removeChild(parts[0]);
    std::string_view last = parts.back();
    std::string_view parentPath = relPath.substr(0, size_t(last.data() - relPath.data()));
    auto parent = openPath(parentPath, KeyAccess::ReadWrite);
    return parent && parent->removeChild(last);
}

std::unique_ptr<KeyBase> openHiveRoot(std::shared_ptr<State> state, const Mount* mount,
                                      KeyAccess access) {
    if (!mount || !mount->hive) return nullptr;
    auto& m = const_cast<Mount&>(*mount);  // anchors are caches; the mount itself is fixed
    if (!m.hive->alive(m.hive->root())) return nullptr;
    return std::make_unique<HiveKey>(std::move(state), m, m.hive->root(), access, 0);
}

std::unique_ptr<KeyBase> makeVirtualKey(std::vector<VirtualChild> children,
                                        std::vector<RegValue> values) {
    return std::make_unique<VirtualKey>(std::move(children), std::move(values));
}

std::unique_ptr<KeyBase> makeMergedKey(std::unique_ptr<KeyBase> user,
                                       std::unique_ptr<KeyBase> machine) {
    if (!user && !machine) return nullptr;
    return std::make_unique<MergedKey>(std::move(user), std::move(machine));
}

}  // namespace brisko::regview
