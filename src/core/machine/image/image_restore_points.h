#pragma once
// Restore points of an image: a snapshot of every mounted hive file with its
// transaction logs, in the machine folder's "System Volume Information\_restore"
// (one RP<n> folder each, with its description and time). The files are copied
// under the machine's write lock, so every hive is taken as one committed
// state. Restoring schedules the snapshot's hives to replace the hives at the
// next restart, through the same replacement as the defrag.
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "core/machine/machine.h"

namespace brisko {

class ImageMachine;

class ImageRestorePoints : public RestorePointService {
  public:
    explicit ImageRestorePoints(ImageMachine& machine);

    bool createRestorePoint(std::string_view description) override;
    std::string lastError() const override;
    std::vector<RestorePointInfo> listRestorePoints() override;
    bool restoreRestorePoint(int number, std::string* why) override;

    std::filesystem::path folder() const;

  private:
    UniqueFd openFolder(bool make, std::string* why) const;

    ImageMachine& machine_;
    mutable std::mutex mutex_;
    std::string lastError_;
};

}  // namespace brisko
