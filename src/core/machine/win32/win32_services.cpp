#include "core/machine/win32/win32_services.h"

#include <windows.h>

#include <objbase.h>
#include <pstore.h>
#include <shlguid.h>
#include <srrestoreptapi.h>
#include <urlhist.h>
#include <wininet.h>

#include <cstring>
#include <map>
#include <mutex>

#include "core/machine/win32/wide.h"

namespace brisko::win32 {

ComScope::ComScope() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    uninit_ = SUCCEEDED(hr);
    // A thread that already has COM in the other model can still use it.
    ok_ = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

ComScope::~ComScope() {
    if (uninit_) CoUninitialize();
}

namespace {

// A library loaded by name for the life of a service.
class Library {
  public:
    explicit Library(const wchar_t* name) : h_(LoadLibraryW(name)) {}
    ~Library() {
        if (h_) FreeLibrary(h_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <class Fn>
    Fn entry(const char* name) const {
        return h_ ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(h_, name)))
                  : nullptr;
    }

  private:
    HMODULE h_;
};

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

class Clipboard : public ClipboardService {
  public:
    bool hasData() override { return CountClipboardFormats() > 0; }
    bool empty() override {
        // Another program may hold the clipboard for a moment.
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (OpenClipboard(nullptr)) {
                bool ok = EmptyClipboard() != 0;
                CloseClipboard();
                return ok;
            }
            Sleep(50);
        }
        return false;
    }
};

std::string guidText(const GUID& g) {
    wchar_t buf[40];
    int n = StringFromGUID2(g, buf, 40);
    return n > 0 ? narrow(std::wstring_view(buf, size_t(n - 1))) : std::string();
}

bool parseGuid(const std::string& s, GUID* g) {
    std::wstring w = widen(s);
    return SUCCEEDED(CLSIDFromString(const_cast<LPOLESTR>(w.c_str()), g));
}

using PStoreCreateInstanceFn = HRESULT(WINAPI*)(IPStore**, PST_PROVIDERID*, void*, DWORD);

class ProtectedStorage : public ProtectedStorageService {
  public:
    ProtectedStorage() : lib_(L"pstorec.dll") {
        create_ = lib_.entry<PStoreCreateInstanceFn>("PStoreCreateInstance");
    }
    bool available() const { return create_ != nullptr; }

    std::vector<std::string> types() override {
        std::vector<std::string> out;
        ComScope com;
        Released<IPStore> store;
        if (!open(com, store)) return out;
        Released<IEnumPStoreTypes> types;
        if (FAILED(store.p->EnumTypes(PST_KEY_CURRENT_USER, 0, &types.p)) || !types.p) return out;
        GUID type;
        DWORD got = 0;
        while (types.p->Next(1, &type, &got) == S_OK && got == 1) out.push_back(guidText(type));
        return out;
    }

    std::string typeName(std::string_view typeText) override {
        GUID type;
        if (!parseGuid(std::string(typeText), &type)) return {};
        ComScope com;
        Released<IPStore> store;
        if (!open(com, store)) return {};
        PST_TYPEINFO* info = nullptr;
        if (FAILED(store.p->GetTypeInfo(PST_KEY_CURRENT_USER, &type, &info, 0)) || !info) return {};
        std::string name = info->szDisplayName ? narrow(info->szDisplayName) : std::string();
        CoTaskMemFree(info);
        return name;
    }

    std::vector<std::string> subtypes(std::string_view typeText) override {
        std::vector<std::string> out;
        GUID type;
        if (!parseGuid(std::string(typeText), &type)) return out;
        ComScope com;
        Released<IPStore> store;
        if (!open(com, store)) return out;
        Released<IEnumPStoreTypes> subtypes;
        if (FAILED(store.p->EnumSubtypes(PST_KEY_CURRENT_USER, &type, 0, &subtypes.p)) ||
            !subtypes.p)
            return out;
        GUID subtype;
        DWORD got = 0;
        while (subtypes.p->Next(1, &subtype, &got) == S_OK && got == 1)
            out.push_back(guidText(subtype));
        return out;
    }

    std::vector<std::string> items(std::string_view typeText,
                                   std::string_view subtypeText) override {
        std::vector<std::string> out;
        GUID type, subtype;
        if (!parseGuid(std::string(typeText), &type) ||
            !parseGuid(std::string(subtypeText), &subtype))
            return out;
        ComScope com;
        Released<IPStore> store;
        if (!open(com, store)) return out;
        Released<IEnumPStoreItems> names;
        if (FAILED(store.p->EnumItems(PST_KEY_CURRENT_USER, &type, &subtype, 0, &names.p)) ||
            !names.p)
            return out;
        LPWSTR name = nullptr;
        DWORD got = 0;
        while (names.p->Next(1, &name, &got) == S_OK && got == 1 && name) {
            out.push_back(narrow(name));
            CoTaskMemFree(name);
            name = nullptr;
        }
        return out;
    }

    bool deleteItem(std::string_view typeText, std::string_view subtypeText,
                    std::string_view name) override {
        GUID type, subtype;
        if (!parseGuid(std::string(typeText), &type) ||
            !parseGuid(std::string(subtypeText), &subtype))
            return false;
        ComScope com;
        Released<IPStore> store;
        if (!open(com, store)) return false;
        PST_PROMPTINFO prompt{};
        prompt.cbSize = sizeof(prompt);
        return SUCCEEDED(store.p->DeleteItem(PST_KEY_CURRENT_USER, &type, &subtype,
                                             widen(name).c_str(), &prompt, 0));
    }

  private:
    bool open(ComScope& com, Released<IPStore>& store) {
        return com.ok() && SUCCEEDED(create_(&store.p, nullptr, nullptr, 0)) && store.p;
    }
    Library lib_;
    PStoreCreateInstanceFn create_ = nullptr;
};

class UrlCache : public UrlCacheService {
  public:
    std::vector<UrlCacheEntry> entries() override {
        std::vector<UrlCacheEntry> out;
        std::vector<unsigned char> buf(4096);
        DWORD size = DWORD(buf.size());
        auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
        HANDLE h = FindFirstUrlCacheEntryW(nullptr, info, &size);
        if (!h && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            buf.resize(size);
            info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
            h = FindFirstUrlCacheEntryW(nullptr, info, &size);
        }
        if (!h) return out;
        for (;;) {
            UrlCacheEntry e;
            if (info->lpszSourceUrlName) e.url = narrow(info->lpszSourceUrlName);
            if (info->lpszLocalFileName) e.localFile = narrow(info->lpszLocalFileName);
            e.size = (uint64_t(info->dwSizeHigh) << 32) | info->dwSizeLow;
            out.push_back(std::move(e));
            size = DWORD(buf.size());
            if (FindNextUrlCacheEntryW(h, info, &size)) continue;
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
            buf.resize(size);
            info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
            if (!FindNextUrlCacheEntryW(h, info, &size)) break;
        }
        FindCloseUrlCache(h);
        return out;
    }
    bool deleteEntry(std::string_view url) override {
        return DeleteUrlCacheEntryW(widen(url).c_str()) != 0;
    }
    void endBrowserSession() override {
        InternetSetOptionW(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
    }
};

class UrlHistory : public UrlHistoryService {
  public:
    std::vector<std::string> urls() override {
        std::vector<std::string> out;
        ComScope com;
        Released<IUrlHistoryStg2> stg;
        if (!open(com, stg)) return out;
        Released<IEnumSTATURL> list;
        if (FAILED(stg.p->EnumUrls(&list.p)) || !list.p) return out;
        STATURL stat{};
        stat.cbSize = sizeof(stat);
        ULONG got = 0;
        while (list.p->Next(1, &stat, &got) == S_OK && got == 1) {
            if (stat.pwcsUrl) out.push_back(narrow(stat.pwcsUrl));
            CoTaskMemFree(stat.pwcsUrl);
            CoTaskMemFree(stat.pwcsTitle);
            stat = STATURL{};
            stat.cbSize = sizeof(stat);
        }
        return out;
    }

    bool deleteUrl(std::string_view url) override {
        ComScope com;
        Released<IUrlHistoryStg2> stg;
        if (!open(com, stg)) return false;
        return stg.p->DeleteUrl(widen(url).c_str(), 0) == S_OK;
    }

  private:
    static bool open(ComScope& com, Released<IUrlHistoryStg2>& stg) {
        return com.ok() &&
               SUCCEEDED(CoCreateInstance(CLSID_CUrlHistory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IUrlHistoryStg2, reinterpret_cast<void**>(&stg.p))) &&
               stg.p;
    }
};

using SRSetRestorePointAFn = BOOL(WINAPI*)(PRESTOREPOINTINFOA, PSTATEMGRSTATUS);

class RestorePoints : public RestorePointService {
  public:
    RestorePoints() : lib_(L"SrClient.dll") {
        set_ = lib_.entry<SRSetRestorePointAFn>("SRSetRestorePointA");
    }
    bool available() const { return set_ != nullptr; }

    bool createRestorePoint(std::string_view description) override {
        RESTOREPOINTINFOA info{};
        info.dwEventType = BEGIN_SYSTEM_CHANGE;
        info.dwRestorePtType = MODIFY_SETTINGS;
        // The description is ANSI and at most 64 bytes with its NUL.
        std::string text(description.substr(0, sizeof(info.szDescription) - 1));
        std::memcpy(info.szDescription, text.c_str(), text.size() + 1);
        STATEMGRSTATUS status{};
        if (!set_(&info, &status)) {
            lastError_ =
                status.nStatus == ERROR_SERVICE_DISABLED
                    ? "System Restore is turned off."
                    : "System Restore answered error " + std::to_string(status.nStatus) + ".";
            return false;
        }
        lastError_.clear();
        // Close the change so that System Restore keeps the point at once
        // instead of waiting for the change to time out.
        RESTOREPOINTINFOA end{};
        end.dwEventType = END_SYSTEM_CHANGE;
        end.dwRestorePtType = MODIFY_SETTINGS;
        end.llSequenceNumber = status.llSequenceNumber;
        STATEMGRSTATUS endStatus{};
        set_(&end, &endStatus);
        return true;
    }

    std::string lastError() const override { return lastError_; }

  private:
    Library lib_;
    SRSetRestorePointAFn set_ = nullptr;
    std::string lastError_;
};

// Hot keys are posted to the message queue of the thread that registered
// them (the UI thread), identified by a global atom as Windows asks of a
// shared identifier.
class Hotkeys : public HotkeyService {
  public:
    ~Hotkeys() override {
        std::lock_guard lock(mutex_);
        for (auto& [id, atom] : atoms_) {
            UnregisterHotKey(nullptr, atom);
            GlobalDeleteAtom(atom);
        }
    }
    bool registerHotkey(int id, unsigned modifiers, unsigned virtualKey) override {
        unregisterHotkey(id);
        std::wstring name = L"BriskoCleanerHotKey" + std::to_wstring(id);
        ATOM atom = GlobalAddAtomW(name.c_str());
        std::lock_guard lock(mutex_);
        if (!atom) {
            failure_ = Failure::NoIdentifier;
            return false;
        }
        if (!RegisterHotKey(nullptr, atom, modifiers, virtualKey)) {
            GlobalDeleteAtom(atom);
            failure_ = Failure::KeyRefused;
            return false;
        }
        atoms_[id] = atom;
        failure_ = Failure::None;
        return true;
    }
    Failure lastFailure() const override {
        std::lock_guard lock(mutex_);
        return failure_;
    }
    int idForNative(uintptr_t native) const override {
        std::lock_guard lock(mutex_);
        for (const auto& [id, atom] : atoms_)
            if (atom == native) return id;
        return -1;
    }
    void unregisterHotkey(int id) override {
        std::lock_guard lock(mutex_);
        auto it = atoms_.find(id);
        if (it == atoms_.end()) return;
        UnregisterHotKey(nullptr, it->second);
        GlobalDeleteAtom(it->second);
        atoms_.erase(it);
    }

  private:
    mutable std::mutex mutex_;
    std::map<int, ATOM> atoms_;
    Failure failure_ = Failure::None;
};

}  // namespace

std::unique_ptr<ClipboardService> makeClipboard() {
    return std::make_unique<Clipboard>();
}

std::unique_ptr<ProtectedStorageService> makeProtectedStorage() {
    auto p = std::make_unique<ProtectedStorage>();
    if (!p->available()) return nullptr;
    return p;
}

std::unique_ptr<UrlCacheService> makeUrlCache() {
    return std::make_unique<UrlCache>();
}

std::unique_ptr<UrlHistoryService> makeUrlHistory() {
    return std::make_unique<UrlHistory>();
}

std::unique_ptr<RestorePointService> makeRestorePoints() {
    auto r = std::make_unique<RestorePoints>();
    if (!r->available()) return nullptr;
    return r;
}

std::unique_ptr<HotkeyService> makeHotkeys() {
    return std::make_unique<Hotkeys>();
}

}  // namespace brisko::win32
