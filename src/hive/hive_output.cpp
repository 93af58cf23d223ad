#include "hive/hive_output.h"

#include <sys/mman.h>

#include <algorithm>
#include <system_error>

namespace brisko::hive {

HiveBuffer::~HiveBuffer() {
    if (data_) ::munmap(data_, capacity_);
}

bool HiveBuffer::map(size_t capacity) {
    capacity = (capacity + kUnit - 1) & ~(kUnit - 1);
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
    if (data_) return false;
    size_t capacity = (bytes + kUnit - 1) & ~(kUnit - 1);
    // One unit more than wanted, trimmed so that units are huge pages.
    void* p = ::mmap(nullptr, capacity + kUnit, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return false;
    auto* raw = static_cast<uint8_t*>(p);
    auto* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + kUnit - 1) &
                                               ~uintptr_t(kUnit - 1));
    if (aligned > raw) ::munmap(raw, size_t(aligned - raw));
    if (size_t tail = kUnit - size_t(aligned - raw)) ::munmap(aligned + capacity, tail);
    ::madvise(aligned, capacity, MADV_HUGEPAGE);
    data_ = aligned;
    capacity_ = capacity;
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

void HiveBuffer::release(size_t offset, size_t size) {
    size_t from = (offset + kUnit - 1) & ~(kUnit - 1);
    size_t to = std::min(offset + size, capacity_) & ~(kUnit - 1);
    if (!fixed_ || from >= to) return;
    // Mapped anew without access: the pages go, the addresses stay ours.
    ::mmap(data_ + from, to - from, PROT_NONE,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
}

HiveStream::HiveStream(HiveBuffer& buffer, TempFileBeside& out) : buffer_(buffer), out_(out) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: finish() does every job.
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

void HiveStream::push(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void HiveStream::write(uint64_t offset, uint64_t size) {
    if (size) push({offset, size});
}

void HiveStream::write(uint64_t offset, std::vector<uint8_t> bytes) {
    if (!bytes.empty()) push({offset, bytes.size(), false, std::move(bytes)});
}

void HiveStream::writeExcept(uint64_t begin, uint64_t end, std::vector<Range>& held) {
    std::sort(held.begin(), held.end());
    uint64_t at = begin;
    for (auto [from, to] : held) {
        if (to <= at || from >= end) continue;
        if (from > at) write(at, from - at);
        at = to;
    }
    if (at < end) write(at, end - at);
}

void HiveStream::releaseBelow(uint64_t limit, const std::vector<Range>& pinned) {
    constexpr uint64_t kUnit = HiveBuffer::kUnit;
    std::vector<uint64_t> units;
    units.swap(keptUnits_);
    for (uint64_t u = releasedBelow_; u < limit / kUnit; ++u) units.push_back(u);
    releasedBelow_ = std::max(releasedBelow_, limit / kUnit);
    for (uint64_t u : units) {
        bool touched = std::any_of(pinned.begin(), pinned.end(), [&](const Range& r) {
            return r.first < (u + 1) * kUnit && r.second > u * kUnit;
        });
        if (touched)
            keptUnits_.push_back(u);
        else
            push({u * kUnit, kUnit, true});
    }
}

bool HiveStream::doJob(const Job& job, std::string& error) {
    if (job.release) {
        buffer_.release(size_t(job.offset), size_t(job.size));
        return true;
    }
    std::span<const uint8_t> bytes =
        job.bytes.empty() ? std::span<const uint8_t>(buffer_.data() + job.offset, size_t(job.size))
                          : std::span<const uint8_t>(job.bytes);
    if (!out_.writeAt(bytes, job.offset, &error)) return false;
    out_.startWriteOut(job.offset, job.size);
    return true;
}

void HiveStream::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return done_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        if (failed_) continue;
        lock.unlock();
        std::string error;
        bool ok = doJob(job, error);
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
    // Without a thread, the jobs are still queued.
    for (const Job& job : queue_) {
        if (failed_) break;
        failed_ = !doJob(job, error_);
    }
    queue_.clear();
    if (failed_) error = error_;
    return !failed_;
}

}  // namespace brisko::hive
