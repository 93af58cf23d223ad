#include "defrag/scan_defrag_task_thread.h"

#include <chrono>

#include "base/text.h"
#include "core/machine/machine.h"
#include "defrag/hive_list.h"
#include "defrag/hive_sizes.h"

namespace brisko {

namespace {
size_t findUpper(std::string_view name, std::string_view needle) {
    std::string upper(name);
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    return upper.find(needle);
}
}  // namespace

HiveCopyOutcome SaveHiveCopy(Machine& machine, std::string_view hiveName, std::string_view target,
                             bool isWow64) {
    (void)isWow64;  // the image's hive save writes the whole SOFTWARE hive, both views
    HiveCopyOutcome out;
    if (findUpper(hiveName, "REGISTRY\\MACHINE\\") == std::string::npos &&
        findUpper(hiveName, "REGISTRY\\USER\\") == std::string::npos) {
        out.problem = "it is not a hive of HKEY_LOCAL_MACHINE or HKEY_USERS";
        return out;
    }
    auto& files = machine.files();
    // A copy another run scheduled for the restart is not ours to replace.
    if (machine.registry().waitsForRestart(target)) {
        out.problem = "the copy " + std::string(target) +
                      " waits for the restart to replace the hive; it was left alone";
        return out;
    }
    // The hive save does not overwrite.
    if (files.fileExists(target) && !files.deleteFile(target)) {
        out.problem = "the old copy " + std::string(target) + " cannot be deleted";
        return out;
    }
    auto& reg = machine.registry();
    std::string why;
    if (!reg.saveHive(hiveName, target)) {
        // Say why where the registry knows: a damaged hive is never compacted.
        if (!reg.verifyHiveCopy(hiveName, target, &why) && !why.empty())
            out.problem = why;
        else
            out.problem = "the hive could not be saved";
        if (files.fileExists(target)) files.deleteFile(target);
        return out;
    }
    if (!reg.verifyHiveCopy(hiveName, target, &why)) {
        files.deleteFile(target);
        out.problem = why;
        return out;
    }
    out.made = true;
    return out;
}

namespace {
// A copy no smaller than its hive gains nothing and is not kept.
void dropIfNotSmaller(Machine& machine, const std::string& hiveFile, HiveCopyOutcome& outcome) {
    if (!outcome.made) return;
    auto& files = machine.files();
    std::string copy = HiveCopyFile(hiveFile);
    int64_t now = HiveFileSize(files, hiveFile), made = HiveFileSize(files, copy);
    if (now <= 0 || made < now) return;
    files.deleteFile(copy);
    outcome.made = false;
    outcome.alreadyCompact = true;
    outcome.problem = std::string(kAlreadyCompact);
}
}  // namespace

TScanDefragTaskThread::TScanDefragTaskThread(Machine& machine, std::vector<HiveEntry> hives,
                                             bool isWow64, std::shared_ptr<MessageTarget> target,
                                             std::shared_ptr<StatusLine> status)
    : machine_(machine),
      hives_(std::move(hives)),
      wow64_(isWow64),
      target_(std::move(target)),
      status_(std::move(status)) {}

TScanDefragTaskThread::~TScanDefragTaskThread() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void TScanDefragTaskThread::start() {
    thread_ = std::jthread([this](std::stop_token stop) { Execute(stop); });
}

std::vector<HiveCopyOutcome> TScanDefragTaskThread::outcomes() const {
    std::lock_guard lock(mutex_);
    return outcomes_;
}

void TScanDefragTaskThread::Execute(std::stop_token stop) {
    machine_.enablePrivilege("SeBackupPrivilege");
    using Clock = std::chrono::steady_clock;
    Clock::time_point begin;
    uintptr_t firstMs = 0;
    size_t i = 0;
    try {
        for (; i < hives_.size(); ++i) {
            if (stop.stop_requested() || stopRequested_) break;
            status_->set(hives_[i].name);
            if (i == 0) begin = Clock::now();
            auto outcome =
                SaveHiveCopy(machine_, hives_[i].name, HiveCopyFile(hives_[i].file), wow64_);
            dropIfNotSmaller(machine_, hives_[i].file, outcome);
            {
                std::lock_guard lock(mutex_);
                outcomes_.push_back(std::move(outcome));
            }
            if (i == 0)
                firstMs = uintptr_t(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin)
                        .count());
            target_->post(WM_HIVECOPY_DONE, firstMs, intptr_t(i + 1));
        }
    } catch (...) {
        // Ends the run like any other early end: no "Finish".
        i = 0;
    }
    if (i == hives_.size()) status_->set(std::string(kAnalysisFinished));
    finished_ = true;
    target_->post(kWmClose);
}

}  // namespace brisko
