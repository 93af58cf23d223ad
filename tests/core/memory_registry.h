#pragma once
// A registry held in memory, one key tree per root, for tests of code that only
// needs RegistryApi. Handles keep the path, not a pointer, so a handle to a key
// deleted meanwhile simply finds nothing.
#include <map>

#include "base/reg_tree.h"
#include "base/text.h"
#include "core/machine/registry_api.h"

namespace brisko::test {

class MemoryRegistry : public RegistryApi {
  public:
    RegTreeKey& root(RootKey r) { return roots_[r]; }

    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                       KeyAccess access) override {
        auto h = std::make_unique<Handle>(roots_[root], std::string(subPath), access);
        if (!h->key(access == KeyAccess::Create)) return nullptr;
        return h;
    }
    bool commit() override { return true; }
    std::vector<HiveMount> hiveList() override { return {}; }
    bool saveHive(std::string_view, std::string_view) override { return false; }
    bool replaceHive(std::string_view, std::string_view, std::string_view) override {
        return false;
    }

  private:
    class Handle : public KeyHandle {
      public:
        Handle(RegTreeKey& root, std::string path, KeyAccess access)
            : root_(root), path_(std::move(path)), access_(access) {}
        RegTreeKey* key(bool create = false) { return root_.find(path_, create); }

        std::vector<std::string> subkeyNames() override {
            std::vector<std::string> r;
            if (auto* k = key())
                for (auto& s : k->subkeys) r.push_back(s->name);
            return r;
        }
        std::vector<std::string> valueNames() override {
            std::vector<std::string> r;
            if (auto* k = key())
                for (auto& v : k->values) r.push_back(v.name);
            return r;
        }
        std::optional<RegValue> value(std::string_view name) override {
            auto* k = key();
            auto* v = k ? k->findValue(name) : nullptr;
            if (!v) return std::nullopt;
            return *v;
        }
        bool setValue(std::string_view name, uint32_t type,
                      std::span<const uint8_t> data) override {
            auto* k = key();
            if (!k || !writable()) return false;
            k->setValue(name, type, std::vector<uint8_t>(data.begin(), data.end()));
            return true;
        }
        bool deleteValue(std::string_view name) override {
            auto* k = key();
            return k && writable() && k->removeValue(name);
        }
        std::unique_ptr<KeyHandle> openSubkey(std::string_view relPath, KeyAccess access) override {
            if (!key()) return nullptr;
            auto h = std::make_unique<Handle>(root_, join(relPath), access);
            if (!h->key(access == KeyAccess::Create)) return nullptr;
            return h;
        }
        bool deleteSubkey(std::string_view relPath) override {
            std::string full = join(relPath);
            size_t cut = full.rfind('\\');
            RegTreeKey* parent =
                cut == std::string::npos ? &root_ : root_.find(full.substr(0, cut));
            return parent && parent->removeChild(full.substr(cut + 1));
        }
        KeyInfo info() override {
            KeyInfo i;
            if (auto* k = key()) {
                i.subkeys = uint32_t(k->subkeys.size());
                i.values = uint32_t(k->values.size());
            }
            return i;
        }
        bool writable() const override { return access_ != KeyAccess::Read; }

      private:
        std::string join(std::string_view rel) const {
            if (path_.empty()) return std::string(rel);
            return path_ + "\\" + std::string(rel);
        }
        RegTreeKey& root_;
        std::string path_;
        KeyAccess access_;
    };

    std::map<RootKey, RegTreeKey> roots_;
};

}  // namespace brisko::test
