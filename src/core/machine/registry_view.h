#pragma once
// The 32-bit view of a 64-bit registry, built over a registry that serves the
// system's own keys. Windows 7 redirects HKLM\Software to Software\Wow6432Node
// except for the keys it shares between the views, and below every Classes
// key (the machine's, each user's, HKEY_CLASSES_ROOT) redirects CLSID,
// DirectShow, Interface, Media Type and MediaFoundation to Wow6432Node.
#include <memory>
#include <string_view>

#include "core/machine/registry_api.h"

namespace brisko {

// The view a 32-bit program gets by default: the 32-bit one on 64-bit Windows.
inline RegistryView programView(bool isWow64) {
    return isWow64 ? RegistryView::Wow64_32 : RegistryView::Native;
}

// The registry has a 32-bit view to give: HKLM\SOFTWARE\Wow6432Node exists.
bool hasWow32View(RegistryApi& physical);

// root\subPath as a 32-bit program sees it. Keys in parts of the registry that
// the view leaves as they are come back as physical's own handles.
std::unique_ptr<KeyHandle> openWow32Key(RegistryApi& physical, RootKey root,
                                        std::string_view subPath, KeyAccess access);

// Where root\subPath of a view really lies, as a sub-path of the same root:
// below Wow6432Node for what the 32-bit view redirects, the path itself
// otherwise (and always when the registry has no 32-bit view).
std::string physicalSubPath(RegistryApi& physical, RegistryView view, RootKey root,
                            std::string_view subPath);

// A registry whose openKey opens in one view: what the registry scan hands its
// scanners, so that every key they open is the one the program would see.
class ViewRegistry : public RegistryApi {
  public:
    ViewRegistry(RegistryApi& inner, RegistryView view);

    RegistryView view() const { return view_; }
    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                       KeyAccess access) override;
    std::unique_ptr<KeyHandle> openKeyInView(RegistryView view, RootKey root,
                                             std::string_view subPath, KeyAccess access) override {
        return inner_.openKeyInView(view, root, subPath, access);
    }
    bool commit() override { return inner_.commit(); }
    void discard() override { inner_.discard(); }
    bool changesWaitForCommit() const override { return inner_.changesWaitForCommit(); }
    std::vector<std::string> refusedEdits() const override { return inner_.refusedEdits(); }
    std::vector<std::string> readOnlyHives() override { return inner_.readOnlyHives(); }
    std::vector<HiveMount> hiveList() override { return inner_.hiveList(); }
    bool saveHive(std::string_view keyPath, std::string_view targetFile) override {
        return inner_.saveHive(keyPath, targetFile);
    }
    bool replaceHive(std::string_view keyPath, std::string_view newFile,
                     std::string_view oldFile) override {
        return inner_.replaceHive(keyPath, newFile, oldFile);
    }
    bool verifyHiveCopy(std::string_view keyPath, std::string_view copyFile,
                        std::string* why) override {
        return inner_.verifyHiveCopy(keyPath, copyFile, why);
    }

  private:
    RegistryApi& inner_;
    RegistryView view_;
    bool wow32_;  // the 32-bit view is asked for and there is one
};

}  // namespace brisko
