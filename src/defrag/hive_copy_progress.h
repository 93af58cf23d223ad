#pragma once
// The bar of the hive-analysis dialog (0..1000 of the bytes of every hive). A
// hive save reports nothing while it runs, so the bar follows the size of the
// copy being written, polled once a second, and while the copy shows no bytes
// it is moved on from the first hive's speed, never past the share of the
// hive in progress.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace brisko {

class HiveCopyProgress {
  public:
    // A new analysis of hives of these sizes (HiveFileSize each).
    void start(std::vector<int64_t> hiveSizes, bool isWow64);
    // WM_HIVECOPY_DONE: `firstMs` the first hive's duration, `copied` the hives
    // done so far, `firstCopySize` the size of the first hive's copy.
    void hiveDone(uint64_t firstMs, int64_t copied, int64_t firstCopySize);
    // One timer tick; `copySize` is the size of the current hive's copy.
    // False when the timer should stop (the bar is full).
    bool tick(int64_t copySize);

    int bar() const { return bar_; }
    size_t current() const { return current_; }
    int step() const { return step_; }
    int target() const { return target_; }
    int64_t total() const { return total_; }

  private:
    int scaled(int64_t bytes) const;

    std::vector<int64_t> sizes_;
    bool wow64_ = false;
    int64_t total_ = 0, done_ = 0;
    size_t current_ = 0;
    int step_ = 0, target_ = 0, bar_ = 0;
};

}  // namespace brisko
