#include "hive/hive_output.h"

#include <sys/mman.h>

#include <algorithm>
#include <system_error>

namespace brisko::hive {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}  // namespace

HiveBuffer::~HiveBuffer() {
    if (data_) ::munmap(data_, capacity_);
}

bool HiveBuffer::map(size_t capacity) {
    capacity = (capacity + kHugePage - 1) & ~(kHugePage - 1);
    void* p = data_ ? ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE)
                    : ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return false;
    ::madvise(p, capacity, MADV_HUGEPAGE);
    data_ = static_cast<uint8_t*>(p);
    capacity_ = capacity;
    return true;
}

bool HiveBuffer::reserve(size_t bytes) {
    if (data_ || !map(bytes)) return false;
    fixed_ = true;
    return true;
}

bool HiveBuffer::extend(size_t n) {
    if (size_ + n > capacity_) {
        if (fixed_ || !map(std::max({size_ + n, capacity_ * 2, size_t(64) << 20}))) return false;
    }
    size_ += n;  // nothing beyond size_ was ever written: still zero
    return true;
}

HiveStream::HiveStream(HiveBuffer& buffer, TempFileBeside& out) : buffer_(buffer), out_(out) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: finish() writes everything.
    }
}

HiveStream::~HiveStream() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void HiveStream::write(uint64_t offset, uint64_t size) {
    if (size == 0) return;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({offset, size});
    }
    wake_.notify_one();
}

void HiveStream::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return done_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Stretch s = queue_.front();
        queue_.pop_front();
        if (failed_) continue;
        lock.unlock();
        std::string error;
        bool ok = out_.writeAt({buffer_.data() + s.offset, size_t(s.size)}, s.offset, &error);
        if (ok) out_.startWriteOut(s.offset, s.size);
        lock.lock();
        if (!ok && !failed_) {
            failed_ = true;
            error_ = std::move(error);
        }
    }
}

bool HiveStream::finish(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    // Without a thread, the stretches are still queued.
    for (const Stretch& s : queue_) {
        if (failed_) break;
        failed_ = !out_.writeAt({buffer_.data() + s.offset, size_t(s.size)}, s.offset, &error_);
    }
    queue_.clear();
    if (failed_) error = error_;
    return !failed_;
}

}  // namespace brisko::hive
