#pragma once
// What the benchmarks share: three runs and their median, runs in a child
// process with that child's own peak memory, and the result lines that
// scripts/bench.sh gathers into bench/results.md.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace brisko::bench {

inline double median3(std::array<double, 3> v) {
    std::sort(v.begin(), v.end());
    return v[1];
}

// Milliseconds of the median of three runs, -1 when a run fails; `prepare`
// runs untimed before each.
inline double medianOf3(const std::function<void()>& prepare, const std::function<bool()>& run) {
    std::array<double, 3> took{};
    for (double& t : took) {
        prepare();
        auto start = std::chrono::steady_clock::now();
        if (!run()) return -1;
        t = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    return median3(took);
}

inline double medianOf3(const std::function<bool()>& run) {
    return medianOf3([] {}, run);
}

// One run of `argv` in a child process: its wall time, processor time, peak
// resident memory and what it printed.
struct ChildRun {
    bool ok = false;
    double ms = 0, cpuMs = 0;
    long peakKb = 0;
    std::string out;
};

inline ChildRun runChild(const std::vector<std::string>& argv, bool stdoutToNull = false) {
    ChildRun r;
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return r;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::close(pipeFd[0]);
        int out = pipeFd[1];
        if (stdoutToNull) out = ::open("/dev/null", O_WRONLY);
        ::dup2(out, STDOUT_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    if (pid < 0) {
        ::close(pipeFd[0]);
        return r;
    }
    char buf[65536];
    for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;) r.out.append(buf, size_t(n));
    ::close(pipeFd[0]);
    int status = 0;
    rusage u{};
    ::wait4(pid, &status, 0, &u);
    r.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    r.cpuMs = (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
              (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
    r.peakKb = u.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

// Three child runs: the one of median wall time, with the largest peak
// memory of the three. ok is false when any run failed.
inline ChildRun runChild3(const std::vector<std::string>& argv, bool stdoutToNull = false) {
    std::vector<ChildRun> runs;
    long peak = 0;
    for (int i = 0; i < 3; ++i) {
        runs.push_back(runChild(argv, stdoutToNull));
        if (!runs.back().ok) return runs.back();
        peak = std::max(peak, runs.back().peakKb);
    }
    std::sort(runs.begin(), runs.end(),
              [](const ChildRun& a, const ChildRun& b) { return a.ms < b.ms; });
    runs[1].peakKb = peak;
    return runs[1];
}

// A line for bench/results.md: what was measured, its figure and baseline
// (with their unit), their ratio, and the goal the ratio is held to.
inline void result(const std::string& measure, double figure, double baseline,
                   const std::string& unit, double goal) {
    double ratio = baseline > 0 ? figure / baseline : 0;
    std::printf("RESULT|%s|%.1f %s|%.1f %s|%.2f|<= %.2f|%s\n", measure.c_str(), figure,
                unit.c_str(), baseline, unit.c_str(), ratio, goal,
                baseline > 0 && ratio <= goal ? "met" : "not met");
    std::fflush(stdout);
}

}  // namespace brisko::bench
