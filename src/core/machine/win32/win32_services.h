#pragma once
// The optional services of the running Windows: clipboard, Protected Storage,
// the WinINet cache and URL history, restore points and hot keys.
#include <memory>

#include "core/machine/machine.h"

namespace brisko::win32 {

// COM on the calling thread for the length of one call.
class ComScope {
  public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    bool uninit_ = false;
};

std::unique_ptr<ClipboardService> makeClipboard();
// Nullptr when pstorec.dll or PStoreCreateInstance is missing.
std::unique_ptr<ProtectedStorageService> makeProtectedStorage();
std::unique_ptr<UrlCacheService> makeUrlCache();
std::unique_ptr<UrlHistoryService> makeUrlHistory();
// Nullptr when SrClient.dll or SRSetRestorePointA is missing.
std::unique_ptr<RestorePointService> makeRestorePoints();
std::unique_ptr<HotkeyService> makeHotkeys();

}  // namespace brisko::win32
