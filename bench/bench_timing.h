#pragma once
// Timing shared by the benchmarks: the best wall time of three runs.
#include <algorithm>
#include <chrono>
#include <functional>

namespace brisko::bench {

// Milliseconds of the fastest of three runs, -1 when a run fails; `prepare`
// runs untimed before each.
inline double bestOf3(const std::function<void()>& prepare, const std::function<bool()>& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        prepare();
        auto start = std::chrono::steady_clock::now();
        if (!run()) return -1;
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

inline double bestOf3(const std::function<bool()>& run) {
    return bestOf3([] {}, run);
}

}  // namespace brisko::bench
