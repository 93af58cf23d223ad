#include "defrag/hive_copy_progress.h"

#include <algorithm>

namespace brisko {

void HiveCopyProgress::start(std::vector<int64_t> hiveSizes, bool isWow64) {
    sizes_ = std::move(hiveSizes);
    wow64_ = isWow64;
    total_ = done_ = 0;
    for (int64_t s : sizes_) total_ += s;
    current_ = 0;
    step_ = target_ = bar_ = 0;
}

int HiveCopyProgress::scaled(int64_t bytes) const {
    if (total_ <= 0) return 1000;
    return int(std::clamp<int64_t>(bytes * 1000 / total_, 0, 1000));
}

void HiveCopyProgress::hiveDone(uint64_t firstMs, int64_t copied, int64_t firstCopySize) {
    if (current_ >= sizes_.size()) return;
    if (current_ == 0) {
        if (firstMs == 0 || total_ <= 0) {
            step_ = 40;
        } else {
            int64_t s = firstCopySize * 1000000 / (int64_t(firstMs) * total_);
            if (s < 10)
                s += 10;
            else if (s < 30)
                s = s * 2 - 10;
            step_ = int(std::min<int64_t>(s, 50));
        }
        if (wow64_) step_ = step_ / 2 - 3;
    }
    done_ += sizes_[current_];
    bar_ = scaled(done_);
    if (current_ + 1 < sizes_.size()) target_ = scaled(done_ + sizes_[current_ + 1]);
    current_ = size_t(std::max<int64_t>(copied, 0));
}

bool HiveCopyProgress::tick(int64_t copySize) {
    if (current_ >= sizes_.size()) return true;
    if (copySize != 0)
        bar_ = scaled(done_ + copySize);
    else if (bar_ < target_ - step_)
        bar_ += step_;
    return bar_ < 1000;
}

}  // namespace brisko
