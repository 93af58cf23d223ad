#include "core/machine/image/internet_services.h"

#include <set>

#include "base/text.h"
#include "core/machine/registry_key.h"
#include "indexdat/index_dat_format.h"

namespace brisko {

namespace {

// An index file of the machine as the format's byte source.
class MachineFileSource : public indexdat::ByteSource {
  public:
    explicit MachineFileSource(std::unique_ptr<FileHandle> f) : f_(std::move(f)) {}
    int64_t length() override { return f_->size(); }
    int64_t readAt(int64_t offset, void* buf, int64_t n) override {
        return f_->seek(offset) ? f_->read(buf, n) : -1;
    }
    int64_t writeAt(int64_t offset, const void* buf, int64_t n) override {
        return f_->seek(offset) ? f_->write(buf, n) : -1;
    }
    void flush() { f_->flush(); }

  private:
    std::unique_ptr<FileHandle> f_;
};

std::unique_ptr<MachineFileSource> openIndex(Machine& m, const std::string& path, FileMode mode) {
    auto f = m.files().openFile(path, mode);
    if (!f) return nullptr;
    return std::make_unique<MachineFileSource>(std::move(f));
}

class ImageUrlCache : public UrlCacheService {
  public:
    explicit ImageUrlCache(Machine& m) : m_(m) {}

    std::vector<UrlCacheEntry> entries() override {
        std::vector<UrlCacheEntry> out;
        std::string content = contentFolder();
        if (content.empty()) return out;
        auto src = openIndex(m_, content + "index.dat", FileMode::Read);
        if (!src) return out;
        for (const auto& r : indexdat::listRecords(*src)) {
            if (r.type != indexdat::RecordType::Url) continue;
            UrlCacheEntry e;
            e.url = r.url;
            auto lf = indexdat::localFileOf(*src, r.offset);
            if (!lf.name.empty() && !lf.folder.empty() && safeName(lf.folder) &&
                safeName(lf.name)) {
                e.localFile = content + lf.folder + "\\" + lf.name;
                if (auto info = m_.files().fileInfo(e.localFile)) e.size = info->size;
            }
            out.push_back(std::move(e));
        }
        return out;
    }

    bool deleteEntry(std::string_view url) override {
        std::string content = contentFolder();
        if (content.empty()) return false;
        auto src = openIndex(m_, content + "index.dat", FileMode::ReadWrite);
        if (!src) return false;
        for (const auto& r : indexdat::listRecords(*src)) {
            if (r.type != indexdat::RecordType::Url || r.url != url) continue;
            auto lf = indexdat::localFileOf(*src, r.offset);
            if (!indexdat::removeRecord(*src, r)) return false;
            src->flush();
            if (!lf.name.empty() && !lf.folder.empty() && safeName(lf.folder) && safeName(lf.name))
                m_.files().deleteFile(content + lf.folder + "\\" + lf.name);
            return true;
        }
        return false;  // ERROR_FILE_NOT_FOUND
    }

    // An offline installation has no browser session to end.
    void endBrowserSession() override {}

  private:
    std::string contentFolder() {
        std::string cache = m_.specialFolder(32);
        return cache.empty() ? std::string() : cache + "Content.IE5\\";
    }
    // Names from the file are used only as plain names inside the cache folder.
    static bool safeName(const std::string& n) {
        return n != "." && n != ".." && n.find_first_of("\\/:") == std::string::npos;
    }
    Machine& m_;
};

// "Visited: Alex@http://example.com/" -> "http://example.com/".
std::string historyAddress(const std::string& record) {
    if (record.rfind("Visited:", 0) != 0) return record;
    auto at = record.find('@');
    return at == std::string::npos ? record : record.substr(at + 1);
}

class ImageUrlHistory : public UrlHistoryService {
  public:
    explicit ImageUrlHistory(Machine& m) : m_(m) {}

    // Each address once, as the history object enumerates it.
    std::vector<std::string> urls() override {
        std::vector<std::string> out;
        std::set<std::string> seen;
        for (const auto& path : indexes()) {
            auto src = openIndex(m_, path, FileMode::Read);
            if (!src) continue;
            for (const auto& r : indexdat::listRecords(*src)) {
                if (r.type != indexdat::RecordType::Url) continue;
                std::string url = historyAddress(r.url);
                if (seen.insert(url).second) out.push_back(std::move(url));
            }
        }
        return out;
    }

    bool deleteUrl(std::string_view url) override {
        bool any = false;
        for (const auto& path : indexes()) {
            auto src = openIndex(m_, path, FileMode::ReadWrite);
            if (!src) continue;
            for (const auto& r : indexdat::listRecords(*src))
                if (r.type == indexdat::RecordType::Url && historyAddress(r.url) == url)
                    any = indexdat::removeRecord(*src, r) || any;
            src->flush();
        }
        return any;
    }

  private:
    std::vector<std::string> indexes() {
        std::string history = m_.specialFolder(34);
        if (history.empty()) return {};
        std::vector<std::string> v{history + "History.IE5\\index.dat"};
        if (m_.version().platform == OsVersion::NT && m_.version().major >= 6)
            v.push_back(history + "Low\\History.IE5\\index.dat");
        return v;
    }
    Machine& m_;
};

class ImageProtectedStorage : public ProtectedStorageService {
  public:
    explicit ImageProtectedStorage(Machine& m) : m_(m) {}

    std::vector<std::string> types() override { return subkeys(dataKey()); }
    std::string typeName(std::string_view type) override {
        RegistryKey k(m_.registry(), RootKey::CurrentUser);
        if (!usable(type) || !k.openKeyReadOnly(dataKey() + "\\" + std::string(type))) return {};
        return k.readString("Display String").value_or("");
    }
    std::vector<std::string> subtypes(std::string_view type) override {
        if (!usable(type)) return {};
        return subkeys(dataKey() + "\\" + std::string(type));
    }
    std::vector<std::string> items(std::string_view type, std::string_view subtype) override {
        if (!usable(type) || !usable(subtype)) return {};
        return subkeys(dataKey() + "\\" + std::string(type) + "\\" + std::string(subtype));
    }
    bool deleteItem(std::string_view type, std::string_view subtype,
                    std::string_view name) override {
        if (!usable(type) || !usable(subtype) || !usable(name)) return false;
        RegistryKey k(m_.registry(), RootKey::CurrentUser);
        std::string parent = dataKey() + "\\" + std::string(type) + "\\" + std::string(subtype);
        if (!k.openKey(parent)) return false;
        return k.deleteKey(name);
    }

  private:
    std::string dataKey() {
        return std::string(kProtectedStorageKey) + "\\" + m_.currentUser().sid + "\\Data";
    }
    // A name with a backslash would reach another key.
    static bool usable(std::string_view name) {
        return !name.empty() && name.find('\\') == std::string_view::npos;
    }
    std::vector<std::string> subkeys(const std::string& path) {
        RegistryKey k(m_.registry(), RootKey::CurrentUser);
        if (!k.openKeyReadOnly(path)) return {};
        return k.subkeyNames();
    }
    Machine& m_;
};

}  // namespace

ImageInternetServices makeImageInternetServices(Machine& machine) {
    ImageInternetServices s;
    s.cache = std::make_unique<ImageUrlCache>(machine);
    s.history = std::make_unique<ImageUrlHistory>(machine);
    s.protectedStorage = std::make_unique<ImageProtectedStorage>(machine);
    return s;
}

}  // namespace brisko
