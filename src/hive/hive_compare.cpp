// Telling a hive and its copy apart: a walk of both hives' cells side by side,
// or, for a hive holding changes in memory, of their keys.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/unique_fd.h"
#include "hive/hive.h"
#include "hive/hive_check.h"
#include "hive/hive_copy.h"

namespace brisko::hive {

namespace fs = std::filesystem;
using namespace regf;

namespace {

std::string hexOf(const std::vector<uint8_t>& d) {
    return std::to_string(d.size()) + " bytes";
}

// Walks two hives' cells side by side, each key with its counterpart: both
// subkey lists in stored order, values as raw type and data bytes, names as
// stored UTF-16 units, class names and security descriptors byte for byte.
// Nothing is built per key; a path is put together only for the difference.
class CellComparer {
  public:
    // `seenB` marks the second hive's keys; comparers sharing a walk share it.
    CellComparer(const HiveReader& a, uint32_t rootA, const HiveReader& b, uint32_t rootB,
                 std::vector<uint64_t>& seenB)
        : a_(a), b_(b), rootA_(rootA), rootB_(rootB), seenB_(seenB) {}

    // Compares the two trees. A large hive is cut into runs of subtrees, in
    // stored order, which two threads take one after the other; the
    // difference reported is the first in stored order either way.
    static bool run(const HiveReader& a, uint32_t rootA, const HiveReader& b, uint32_t rootB,
                    std::string* why) {
        std::vector<uint64_t> seen(b.binsSize() / kCellAlign / 64 + 1);
        CellComparer first(a, rootA, b, rootB, seen);
        first.seen(rootB);
        first.stack_.push_back({rootA, rootB, kNone, kNone, 0});
        if (b.binsSize() < kSplitAbove) return first.drain(why);

        Plan plan;
        plan.share = b.binsSize() / kRuns;
        first.split(plan, b.binsSize());
        // Runs of about the same size, each a stretch of subtrees.
        std::vector<size_t> runStart{0};
        uint64_t inRun = 0;
        for (size_t i = 0; i < plan.tasks.size(); ++i) {
            inRun += plan.sizes[i];
            if (inRun >= plan.share && i + 1 < plan.tasks.size()) {
                runStart.push_back(i + 1);
                inRun = 0;
            }
        }
        runStart.push_back(plan.tasks.size());
        size_t runs = runStart.size() - 1;

        std::atomic<size_t> next{0}, failedAt{SIZE_MAX};
        std::vector<std::string> reasons(runs);
        auto work = [&](CellComparer& c) {
            for (size_t r; (r = next.fetch_add(1)) < runs && r < failedAt.load();) {
                c.stack_.assign(plan.tasks.rend() - ptrdiff_t(runStart[r + 1]),
                                plan.tasks.rend() - ptrdiff_t(runStart[r]));
                if (c.drain(&reasons[r])) continue;
                size_t was = failedAt.load();
                while (r < was && !failedAt.compare_exchange_weak(was, r)) {
                }
            }
        };
        CellComparer second(a, rootA, b, rootB, seen);
        std::thread helper;
        try {
            helper = std::thread([&] { work(second); });
        } catch (const std::system_error&) {
        }
        work(first);
        if (helper.joinable()) helper.join();
        if (size_t failed = failedAt.load(); failed < runs) {
            if (why) *why = std::move(reasons[failed]);
            return false;
        }
        if (!plan.whyAfter.empty()) {
            if (why) *why = std::move(plan.whyAfter);
            return false;
        }
        return true;
    }

  private:
    static constexpr uint32_t kSplitAbove = 8u << 20;  // bytes of bins worth a second thread
    static constexpr uint32_t kRuns = 64;              // runs of subtrees a large hive is cut into

    struct Pair;
    // Subtrees in stored order, with the bytes each takes in the copy.
    struct Plan {
        std::vector<Pair> tasks;
        std::vector<uint64_t> sizes;
        uint64_t share = 0;    // a subtree larger than this is cut further
        std::string whyAfter;  // a difference found in a key after the tasks
    };

    // Compares the key on top of the stack and cuts what lies below it into
    // subtrees. The copy lays each subtree out in one stretch, so the
    // distance to the next one's key tells how large it is; `end` is where
    // the key's own stretch ends. Stops, with the reason in plan.whyAfter,
    // at a key that differs: the subtrees before it are still to compare.
    bool split(Plan& plan, uint64_t end) {
        if (!step(&plan.whyAfter)) return false;
        std::vector<Pair> kids(stack_.rbegin(), stack_.rend());
        stack_.clear();
        for (size_t i = 0; i < kids.size(); ++i) {
            uint64_t stop = i + 1 < kids.size() ? kids[i + 1].b : end;
            uint64_t size = stop > kids[i].b ? stop - kids[i].b : 0;
            if (size > plan.share && kids[i].depth < kMaxDepth) {
                stack_.push_back(kids[i]);
                if (!split(plan, stop)) return false;
            } else {
                plan.tasks.push_back(kids[i]);
                plan.sizes.push_back(size);
            }
        }
        return true;
    }
    static constexpr size_t kLookAhead = 3;

    struct Pair {
        uint32_t a, b;
        uint32_t parentA, parentB;  // kNone for the roots
        uint32_t depth;
    };

    // Compares the key on top of the stack, pushing its subkeys.
    bool step(std::string* why) {
        Pair p = stack_.back();
        stack_.pop_back();
        // The keys visited next: their cells are fetched while this one is compared.
        for (size_t i = 1; i <= kLookAhead && i <= stack_.size(); ++i) {
            a_.prefetch(stack_[stack_.size() - i].a);
            b_.prefetch(stack_[stack_.size() - i].b);
        }
        whereA_ = p.a;
        if (sameKey(p)) return true;
        if (why) *why = "key \"" + pathOf(whereA_) + "\": " + what_;
        return false;
    }
    bool drain(std::string* why) {
        while (!stack_.empty())
            if (!step(why)) return false;
        return true;
    }

    // Marks a key of the second hive; false when it was reached before (a
    // copy listing one key twice is no sound hive, whatever it holds).
    bool seen(uint32_t off) {
        uint64_t bit = off / kCellAlign;
        uint64_t m = uint64_t(1) << (bit % 64);
        return !(
            std::atomic_ref<uint64_t>(seenB_[bit / 64]).fetch_or(m, std::memory_order_relaxed) & m);
    }

    bool differ(std::string what) {
        what_ = std::move(what);
        return false;
    }

    static bool sameName(StoredName a, StoredName b) {
        if (a.compressed == b.compressed)
            return a.size == b.size && std::memcmp(a.bytes, b.bytes, a.size) == 0;
        if (!a.compressed) std::swap(a, b);
        // One name in Latin-1, the other in UTF-16: the same units either way.
        if (uint64_t(a.size) * 2 != b.size) return false;
        for (size_t i = 0; i < a.size; ++i)
            if (b.bytes[2 * i] != a.bytes[i] || b.bytes[2 * i + 1] != 0) return false;
        return true;
    }
    static bool sameKeyName(const uint8_t* x, const uint8_t* y) {
        return sameName(HiveReader::storedKeyName(x), HiveReader::storedKeyName(y));
    }
    static bool sameValueName(const uint8_t* x, const uint8_t* y) {
        return sameName(HiveReader::storedValueName(x), HiveReader::storedValueName(y));
    }

    bool sameClass(const uint8_t* x, const uint8_t* y) {
        uint32_t lenX = get16(x + kNkClassLen), lenY = get16(y + kNkClassLen);
        uint32_t offX = get32(x + kNkClass), offY = get32(y + kNkClass);
        if (offX == kNone) lenX = 0;
        if (offY == kNone) lenY = 0;
        if (lenX != lenY) return differ("class names differ");
        if (lenX == 0) return true;
        const uint8_t* cx = a_.cell(offX, lenX);
        const uint8_t* cy = b_.cell(offY, lenY);
        if (!cx || !cy) return differ("its class name cannot be read");
        if (std::memcmp(cx, cy, lenX) != 0) return differ("class names differ");
        return true;
    }

    bool sameSecurity(const uint8_t* x, const uint8_t* y) {
        uint32_t skX = get32(x + kNkSecurity), skY = get32(y + kNkSecurity);
        // Keys share a handful of descriptors: each pair is compared once.
        if (skX == lastSkA_ && skY == lastSkB_) return true;
        auto known = checkedSecurity_.find(skX);
        if (known == checkedSecurity_.end() || known->second != skY) {
            auto sx = a_.security(skX);
            auto sy = b_.security(skY);
            if (sx.empty() || sy.empty()) return differ("its security descriptor cannot be read");
            if (sx.size() != sy.size() || std::memcmp(sx.data(), sy.data(), sx.size()) != 0)
                return differ("security descriptors differ");
            checkedSecurity_[skX] = skY;
        }
        lastSkA_ = skX;
        lastSkB_ = skY;
        return true;
    }

    bool sameValues(const uint8_t* x, const uint8_t* y) {
        uint32_t countX = 0, countY = 0;
        const uint8_t* listX = a_.valueList(x, countX);
        const uint8_t* listY = b_.valueList(y, countY);
        if (countX != countY)
            return differ(std::to_string(countX) + " values against " + std::to_string(countY));
        if (countX && (!listX || !listY)) return differ("its value list cannot be read");
        if (countX == 0) return true;
        a_.prefetchValues(listX, countX);
        b_.prefetchValues(listY, countY);
        const uint8_t* vx = a_.value(get32(listX));
        const uint8_t* vy = b_.value(get32(listY));
        if (vx && vy) {
            a_.prefetchData(vx);
            b_.prefetchData(vy);
        }
        for (uint32_t i = 0; i < countX; ++i) {
            if (!vx || !vy) return differ("a value cannot be read");
            // The next value's data is fetched while this one is compared.
            const uint8_t* nextX = i + 1 < countX ? a_.value(get32(listX + 4 * (i + 1))) : nullptr;
            const uint8_t* nextY = i + 1 < countX ? b_.value(get32(listY + 4 * (i + 1))) : nullptr;
            if (nextX && nextY) {
                a_.prefetchData(nextX);
                b_.prefetchData(nextY);
            }
            if (!sameValueName(vx, vy))
                return differ("value \"" + valueName(vx) + "\" against \"" + valueName(vy) + "\"");
            if (HiveReader::valueType(vx) != HiveReader::valueType(vy))
                return differ("value \"" + valueName(vx) + "\" has another type");
            std::span<const uint8_t> dx, dy;
            if (!a_.valueBytes(vx, dx, scratchA_) || !b_.valueBytes(vy, dy, scratchB_))
                return differ("value \"" + valueName(vx) + "\" cannot be read");
            if (dx.size() != dy.size() ||
                (!dx.empty() && std::memcmp(dx.data(), dy.data(), dx.size()) != 0))
                return differ("value \"" + valueName(vx) + "\" holds other data (" +
                              std::to_string(dx.size()) + " bytes against " +
                              std::to_string(dy.size()) + ")");
            vx = nextX;
            vy = nextY;
        }
        return true;
    }

    // The subkeys of one key in stored order; false when the list is damaged.
    // Each subkey's own cell is checked when it is visited, in file order.
    static bool childrenOf(const HiveReader& r, const uint8_t* nk, std::vector<uint32_t>& out) {
        out.clear();
        uint32_t count = HiveReader::subkeyCount(nk);
        if (count == 0) return true;
        bool listed = r.forEachSubkey(get32(nk + kNkSubkeyList),
                                      [&](uint32_t child) { out.push_back(child); });
        return listed && out.size() == count;
    }

    // A subkey against its counterpart: both listed by their parents, under
    // the same name, and the copy's reached once.
    bool sameSubkey(const Pair& p, const uint8_t* x, const uint8_t* y) {
        if (HiveReader::parentOf(x) != p.parentA || HiveReader::parentOf(y) != p.parentB) {
            whereA_ = p.parentA;
            return differ("its subkey list cannot be read");
        }
        if (!sameKeyName(x, y)) {
            whereA_ = p.parentA;
            return differ("subkey \"" + keyName(x) + "\" against \"" + keyName(y) + "\"");
        }
        if (!seen(p.b)) {
            whereA_ = p.parentA;
            return differ("subkey \"" + keyName(y) + "\" is listed twice");
        }
        return true;
    }

    bool sameKey(const Pair& p) {
        const uint8_t* x = a_.key(p.a);
        const uint8_t* y = b_.key(p.b);
        if (!x || !y) {
            if (p.parentA == kNone) return differ("it cannot be read");
            whereA_ = p.parentA;
            return differ("a subkey cannot be read");
        }
        // Both lists are wanted after the values: fetched meanwhile.
        a_.prefetch(get32(x + kNkSubkeyList));
        b_.prefetch(get32(y + kNkSubkeyList));
        a_.prefetch(get32(x + kNkValueList));
        b_.prefetch(get32(y + kNkValueList));
        if (p.parentA != kNone && !sameSubkey(p, x, y)) return false;
        if (HiveReader::lastWrite(x) != HiveReader::lastWrite(y))
            return differ("last-write times differ");
        if (!sameClass(x, y) || !sameSecurity(x, y) || !sameValues(x, y)) return false;
        uint32_t countX = HiveReader::subkeyCount(x), countY = HiveReader::subkeyCount(y);
        if (countX != countY)
            return differ(std::to_string(countX) + " subkeys against " + std::to_string(countY));
        if (countX == 0) return true;
        if (p.depth >= kMaxDepth) return differ("it is nested deeper than Windows allows");
        if (!childrenOf(a_, x, kidsA_) || !childrenOf(b_, y, kidsB_))
            return differ("its subkey list cannot be read");
        // Pushed last first, so that keys are visited in stored order.
        for (size_t i = kidsA_.size(); i-- > 0;)
            stack_.push_back({kidsA_[i], kidsB_[i], p.a, p.b, p.depth + 1});
        return true;
    }

    static std::string keyName(const uint8_t* nk) {
        std::string name;
        HiveReader::keyName(nk, name);
        return name;
    }
    static std::string valueName(const uint8_t* vk) {
        std::string name;
        HiveReader::valueName(vk, name);
        return name;
    }
    std::string pathOf(uint32_t off) const {
        std::vector<std::string> names;
        for (uint32_t i = 0; off != rootA_ && i <= kMaxDepth; ++i) {
            const uint8_t* nk = a_.key(off);
            if (!nk) break;
            names.push_back(keyName(nk));
            off = HiveReader::parentOf(nk);
        }
        if (names.empty()) return "(root)";
        std::string path;
        for (size_t i = names.size(); i-- > 0;) path += names[i] + (i ? "\\" : "");
        return path;
    }

    const HiveReader& a_;
    const HiveReader& b_;
    uint32_t rootA_, rootB_;
    uint32_t whereA_ = kNone;  // the key a difference is reported at
    std::vector<Pair> stack_;
    std::vector<uint32_t> kidsA_, kidsB_;
    std::vector<uint8_t> scratchA_, scratchB_;  // big data gathered from its segments
    std::vector<uint64_t>& seenB_;
    std::unordered_map<uint32_t, uint32_t> checkedSecurity_;
    uint32_t lastSkA_ = kNone, lastSkB_ = kNone;
    std::string what_;
};

// A hive file read back for comparison: mapped and its base block checked;
// its hive bins are checked by checkBins() (while the comparison runs: the
// walk reads no cell without checking it) and its keys by the comparison.
class MappedCopy {
  public:
    ~MappedCopy() {
        if (map_) ::munmap(map_, size_);
    }
    std::string open(const fs::path& file) {
        UniqueFd fd(
            ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
        if (fd.fd < 0) return errno == ENOENT ? "the file does not exist" : std::strerror(errno);
        struct stat st {};
        if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return "not a regular file";
        if (uint64_t(st.st_size) < kBaseBlockSize + kBinHeaderSize || st.st_size > 0xFFFFFFFF)
            return "not a registry hive (wrong size)";
        void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd.fd, 0);
        if (map == MAP_FAILED) return std::strerror(errno);
        map_ = map;
        size_ = size_t(st.st_size);
        std::span<const uint8_t> bytes(static_cast<const uint8_t*>(map_), size_);
        bool dirty = false;
        if (std::string bad = checkBaseBlock(bytes, &dirty); !bad.empty()) return bad;
        reader_.reset(bytes);
        root_ = get32(bytes.data() + kBaseRootCell);
        if (!reader_.key(root_)) return "it has no root key";
        return {};
    }
    std::string checkBins() const { return hive::checkBins(reader_); }
    const HiveReader& reader() const { return reader_; }
    uint32_t root() const { return root_; }

  private:
    void* map_ = nullptr;
    size_t size_ = 0;
    HiveReader reader_;
    uint32_t root_ = 0;
};

// The same through the hive's calls, for a hive holding changes in memory.
bool sameHiveContentByKeys(Hive& a, Hive& b, std::string* why) {
    auto differ = [&](const std::string& path, const std::string& what) {
        if (why) *why = "key \"" + (path.empty() ? std::string("(root)") : path) + "\": " + what;
        return false;
    };
    struct Pending {
        HiveNode a, b;
        std::string path;
    };
    std::vector<Pending> todo{{a.root(), b.root(), {}}};
    while (!todo.empty()) {
        Pending p = std::move(todo.back());
        todo.pop_back();
        if (a.className(p.a) != b.className(p.b)) return differ(p.path, "class names differ");
        if (a.lastWrite(p.a) != b.lastWrite(p.b)) return differ(p.path, "last-write times differ");
        auto sa = a.securityDescriptor(p.a);
        if (sa.empty() || sa != b.securityDescriptor(p.b))
            return differ(p.path, "security descriptors differ");
        uint64_t genA = 0, genB = 0;
        auto va = a.values(p.a, &genA);
        auto vb = b.values(p.b, &genB);
        if (!va || !vb) return differ(p.path, "cannot be read");
        if (va->size() != vb->size())
            return differ(p.path, std::to_string(va->size()) + " values against " +
                                      std::to_string(vb->size()));
        for (size_t i = 0; i < va->size(); ++i) {
            if (va->names[i] != vb->names[i])
                return differ(p.path,
                              "value \"" + va->names[i] + "\" against \"" + vb->names[i] + "\"");
            auto x = a.value(p.a, *va, i, genA);
            auto y = b.value(p.b, *vb, i, genB);
            if (!x || !y) return differ(p.path, "value \"" + va->names[i] + "\" cannot be read");
            if (x->type != y->type)
                return differ(p.path, "value \"" + va->names[i] + "\" has another type");
            if (x->data != y->data)
                return differ(p.path, "value \"" + va->names[i] + "\" holds other data (" +
                                          hexOf(x->data) + " against " + hexOf(y->data) + ")");
        }
        auto ca = a.children(p.a);
        auto cb = b.children(p.b);
        if (!ca || !cb) return differ(p.path, "cannot be read");
        if (ca->size() != cb->size())
            return differ(p.path, std::to_string(ca->size()) + " subkeys against " +
                                      std::to_string(cb->size()));
        // Keys added in memory sit at the end of their list; written out, every
        // list is in the registry's order, and so is the copy's.
        std::vector<size_t> order(ca->size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
            return compareNames(ca->names[x], ca->names[y]) < 0;
        });
        for (size_t i = ca->size(); i-- > 0;) {
            const std::string& name = ca->names[order[i]];
            if (name != cb->names[i])
                return differ(p.path, "subkey \"" + name + "\" against \"" + cb->names[i] + "\"");
            todo.push_back(
                {ca->refs[order[i]], cb->refs[i], p.path.empty() ? name : p.path + "\\" + name});
        }
    }
    return true;
}

}  // namespace

bool sameHiveContent(Hive& a, Hive& b, std::string* why) {
    if (&a == &b) return true;
    std::optional<bool> same;
    a.withCells([&](const HiveReader& ra, uint32_t rootA) {
        b.withCells([&](const HiveReader& rb, uint32_t rootB) {
            same = CellComparer::run(ra, rootA, rb, rootB, why);
        });
    });
    if (same) return *same;
    return sameHiveContentByKeys(a, b, why);
}

bool copyMatchesHive(Hive& hive, const fs::path& copyFile, std::string* why) {
    auto refuse = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    MappedCopy copy;
    if (std::string bad = copy.open(copyFile); !bad.empty())
        return refuse("the copy read back is not a sound hive: " + bad);
    std::string badBins;
    std::thread binsChecker;
    try {
        binsChecker = std::thread([&] { badBins = copy.checkBins(); });
    } catch (const std::system_error&) {
        badBins = copy.checkBins();
    }
    std::optional<bool> same;
    std::string diff;
    hive.withCells([&](const HiveReader& r, uint32_t root) {
        same = CellComparer::run(r, root, copy.reader(), copy.root(), &diff);
    });
    if (binsChecker.joinable()) binsChecker.join();
    if (!badBins.empty()) return refuse("the copy read back is not a sound hive: " + badBins);
    if (!same.has_value()) {
        std::string error;
        auto opened = Hive::open(copyFile, &error);
        if (!opened) return refuse("the copy cannot be read back: " + error);
        if (auto bad = opened->state(); bad.health == HiveHealth::Damaged)
            return refuse("the copy read back is not a sound hive: " + bad.reason);
        same = sameHiveContentByKeys(hive, *opened, &diff);
    }
    if (!*same) return refuse("the copy differs from the hive: " + diff);
    return true;
}

}  // namespace brisko::hive
