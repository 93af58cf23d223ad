#pragma once
// What the analysis shows: the size of each hive file and of its compact
// copy, the reduction per hive and in total, and the advice when the registry
// is hardly fragmented.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class FileApi;

// 0 when the file does not exist; -1 when it exists but cannot be listed.
int64_t HiveFileSize(FileApi& files, std::string_view path);

// Bytes to whole kilobytes rounded up, digits grouped by "," ("1,232,757 KB").
std::string FormatKilobytes(int64_t bytes);

// "37%"; "0%" when the copy is larger (or the hive file is empty).
std::string ReductionText(int64_t current, int64_t copy);

struct HiveSizeRow {
    std::string currentSize, newSize, reduction;
};

struct DefragSizes {
    std::vector<HiveSizeRow> rows;
    int64_t totalCurrent = 0, totalNew = 0;
    // The four total labels.
    std::string currentRegistrySize, newRegistrySize, sizeReduction, compactPercent;
    float percent = 0;          // the compact percent as shown
    bool percentShown = false;  // false when "0%" stands for a larger copy
};

// `copies[i]` is the size of hive i's copy; a hive whose copy was not made
// (`skipped[i]`) counts as unchanged.
DefragSizes ComputeDefragSizes(const std::vector<int64_t>& current,
                               const std::vector<int64_t>& copies,
                               const std::vector<bool>& skipped = {});

// Below 3.0% the user is told that compacting is not worth it now.
bool NeedsLowFragmentationAdvice(const DefragSizes& sizes);
std::string LowFragmentationAdvice(const DefragSizes& sizes);

}  // namespace brisko
