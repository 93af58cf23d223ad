#include "defrag/hive_sizes.h"

#include <cstdio>

#include "base/text.h"
#include "core/machine/file_api.h"

namespace brisko {

int64_t HiveFileSize(FileApi& files, std::string_view path) {
    if (!files.fileExists(path)) return 0;
    auto info = files.fileInfo(path);
    if (!info) return -1;
    return int64_t(info->size);
}

std::string FormatKilobytes(int64_t bytes) {
    int64_t k = bytes / 1024;
    if (bytes % 1024 != 0) ++k;
    bool negative = k < 0;
    std::string digits = std::to_string(negative ? -k : k);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return (negative ? "-" : "") + out + " KB";
}

std::string ReductionText(int64_t current, int64_t copy) {
    // An empty (or unmeasurable) hive file has no share to lose.
    if (copy > current || current <= 0) return "0%";
    return std::to_string((current - copy) * 100 / current) + "%";
}

DefragSizes ComputeDefragSizes(const std::vector<int64_t>& current,
                               const std::vector<int64_t>& copies,
                               const std::vector<bool>& skipped) {
    DefragSizes s;
    for (size_t i = 0; i < current.size(); ++i) {
        int64_t cur = current[i];
        int64_t copy = i < copies.size() ? copies[i] : 0;
        if (i < skipped.size() && skipped[i]) copy = cur;
        s.totalCurrent += cur;
        s.totalNew += copy;
        s.rows.push_back({FormatKilobytes(cur), FormatKilobytes(copy), ReductionText(cur, copy)});
    }
    s.currentRegistrySize = FormatKilobytes(s.totalCurrent);
    s.newRegistrySize = FormatKilobytes(s.totalNew);
    if (s.totalNew > s.totalCurrent || s.totalCurrent <= 0) {
        s.sizeReduction =
            s.totalNew > s.totalCurrent ? "0 KB" : FormatKilobytes(s.totalCurrent - s.totalNew);
        s.compactPercent = "0%";
        return s;
    }
    s.sizeReduction = FormatKilobytes(s.totalCurrent - s.totalNew);
    s.percent = float(double((s.totalCurrent - s.totalNew) * 100) / double(s.totalCurrent));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", double(s.percent));
    s.compactPercent = buf;
    s.percentShown = true;
    return s;
}

bool NeedsLowFragmentationAdvice(const DefragSizes& sizes) {
    return sizes.percentShown && sizes.percent < 3.0f;
}

std::string LowFragmentationAdvice(const DefragSizes& sizes) {
    return "The fragment rate of your registry is only " + sizes.compactPercent + ". " +
           "We suggest that your registry does not need to be compacted at this time. If you "
           "select to compact the registry now, the same fragment rate may appear again.";
}

}  // namespace brisko
