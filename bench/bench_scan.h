#pragma once
// One full registry scan (every section) of a machine folder, as the
// benchmarks run it in a child process.
#include <cstdio>
#include <filesystem>

#include "core/machine/image/image_machine.h"
#include "core/startup.h"
#include "registry/problem_filter.h"
#include "registry/scan_task_thread.h"

namespace brisko::bench {

struct ScanCounts {
    size_t found = 0, kept = 0, failures = 0;
    bool completed = false;
};

inline ScanCounts scanMachine(const std::filesystem::path& dir) {
    class NoMessages : public MessageTarget {
      public:
        void post(uint32_t, uintptr_t, intptr_t) override {}
    };
    ImageMachine machine(dir);
    std::vector<int> sections;
    for (int code = 1; code <= 25; ++code) sections.push_back(code);
    int version = WindowsVersionCode(machine.version());
    ProblemCollector rows;
    NoMessages messages;
    TScanTaskThread worker(machine, makeScanEnvironment(machine, true, version), sections,
                           defaultScannerTable(), rows, messages);
    worker.start();
    worker.join();
    ScanCounts c;
    c.found = rows.rows.size();
    FilterProblems(rows.rows, {}, {}, version);
    c.kept = rows.rows.size();
    c.failures = worker.failures().size();
    c.completed = worker.completed();
    return c;
}

}  // namespace brisko::bench
