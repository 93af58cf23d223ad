#pragma once
// Where the hive writer puts the bytes of a hive it builds: a buffer in
// anonymous memory, and a thread that writes the parts of it already done
// to the file while the rest is being built.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/atomic_file.h"

namespace brisko::hive {

// Output bytes in anonymous memory: fresh pages are already zero, growing
// remaps pages instead of copying them, and huge pages keep page faults few.
class HiveBuffer {
  public:
    HiveBuffer() = default;
    ~HiveBuffer();
    HiveBuffer(const HiveBuffer&) = delete;
    HiveBuffer& operator=(const HiveBuffer&) = delete;

    // Reserves address space for `bytes` up front, so that the buffer never
    // moves and another thread may read what is done while it grows. False
    // when the space cannot be had; the buffer then grows as it goes.
    bool reserve(size_t bytes);
    // Appends n zero bytes.
    bool extend(size_t n);
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }

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
    // Waits until everything handed over is written; false with the reason
    // when a write failed.
    bool finish(std::string& error);

  private:
    struct Stretch {
        uint64_t offset, size;
    };
    void run();

    HiveBuffer& buffer_;
    TempFileBeside& out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Stretch> queue_;
    bool done_ = false, failed_ = false;
    std::string error_;
    std::thread thread_;
};

}  // namespace brisko::hive
