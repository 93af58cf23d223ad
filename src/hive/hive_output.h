#pragma once
// Where the hive writer puts the bytes of a hive it builds: a buffer in
// anonymous memory, and a thread that writes the parts of it already done
// to the file while the rest is being built, and gives their memory back.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/atomic_file.h"

namespace brisko::hive {

// Output bytes in anonymous memory: fresh pages are already zero, growing
// remaps pages instead of copying them, and huge pages keep page faults few.
class HiveBuffer {
  public:
    // What is given back at once: one huge page.
    static constexpr size_t kUnit = size_t(2) << 20;

    HiveBuffer() = default;
    ~HiveBuffer();
    HiveBuffer(const HiveBuffer&) = delete;
    HiveBuffer& operator=(const HiveBuffer&) = delete;

    // Reserves address space for `bytes` up front, aligned to kUnit, so that
    // the buffer never moves and another thread may read what is done while
    // it grows. False when the space cannot be had; the buffer then grows as
    // it goes.
    bool reserve(size_t bytes);
    // Appends n zero bytes.
    bool extend(size_t n);
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    // Gives back the memory of whole units in [offset, offset + size) of a
    // reserved buffer. They stay reserved but can no longer be touched: a
    // stray write there faults rather than being lost without a trace.
    void release(size_t offset, size_t size);

  private:
    bool map(size_t capacity);
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool fixed_ = false;
};

// Writes stretches of a reserved buffer to a file, in the order handed
// over, on a thread of its own, and starts each out to the disk so that the
// file's final flush has little left to wait for. The caller never changes a
// stretch once it has handed it over.
class HiveStream {
  public:
    HiveStream(HiveBuffer& buffer, TempFileBeside& out);
    ~HiveStream();  // stops the thread; what it has not written is lost
    HiveStream(const HiveStream&) = delete;
    HiveStream& operator=(const HiveStream&) = delete;

    void write(uint64_t offset, uint64_t size);
    // Writes bytes held outside the buffer (a cell whose stretch of the
    // buffer was given back) at `offset`.
    void write(uint64_t offset, std::vector<uint8_t> bytes);
    using Range = std::pair<uint64_t, uint64_t>;  // [from, to) in the buffer
    // Writes [begin, end) of the buffer but for the stretches in `held`
    // (which this sorts).
    void writeExcept(uint64_t begin, uint64_t end, std::vector<Range>& held);
    // Once everything handed over before is written, gives back the units of
    // the buffer below `limit` (see HiveBuffer::release), but for the first
    // (the base block, written last) and those touching a stretch in
    // `pinned`, which are tried again at the next call.
    void releaseBelow(uint64_t limit, const std::vector<Range>& pinned);
    // Waits until everything handed over is written; false with the reason
    // when a write failed.
    bool finish(std::string& error);

  private:
    struct Job {
        uint64_t offset, size;
        bool release = false;
        std::vector<uint8_t> bytes;  // written instead of the buffer's when set
    };
    void push(Job job);
    void run();
    bool doJob(const Job& job, std::string& error);

    HiveBuffer& buffer_;
    TempFileBeside& out_;
    uint64_t releasedBelow_ = 1;       // units below this were given back or kept
    std::vector<uint64_t> keptUnits_;  // units below it still pinned
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool done_ = false, failed_ = false;
    std::string error_;
    std::thread thread_;
};

}  // namespace brisko::hive
