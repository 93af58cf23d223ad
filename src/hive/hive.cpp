#include "hive/hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/text.h"
#include "base/unique_fd.h"
#include "hive/hive_check.h"
#include "hive/hive_log.h"
#include "hive/regf_format.h"
#include "hive/regf_writer.h"

namespace brisko::hive {

namespace {

namespace fs = std::filesystem;
using regf::get16;
using regf::get32;

constexpr size_t kBigList = 64;               // child lists this long are kept
constexpr size_t kBigListBudget = 2'000'000;  // names kept in such lists per hive

// Strict UTF-8 without NULs: what a name must be to be stored as UTF-16.
bool validName(std::string_view s) {
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == 0) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
        if (n == 0 || i + n >= s.size()) return false;
        uint32_t cp = c & (0x3f >> n);
        for (size_t k = 1; k <= n; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3f);
        }
        if (cp < kMin[n] || cp > 0x10ffff || (cp >= 0xd800 && cp < 0xe000)) return false;
        i += n + 1;
    }
    return true;
}

uint32_t utf16Length(std::string_view s) {
    uint32_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xc0) != 0x80) ++n;
        if ((c >> 3) == 30) ++n;
    }
    return n;
}

uint32_t storedNameUnits(const uint8_t* nk) {
    return uint32_t(HiveReader::storedKeyName(nk).units());
}

// Whether a list holds one offset twice (a damaged or crafted index).
bool hasDuplicates(const std::vector<size_t>& refs) {
    if (refs.size() < 2) return false;
    if (refs.size() <= 16) {  // most keys: no copy to sort
        for (size_t i = 1; i < refs.size(); ++i)
            if (std::find(refs.begin(), refs.begin() + ptrdiff_t(i), refs[i]) !=
                refs.begin() + ptrdiff_t(i))
                return true;
        return false;
    }
    std::vector<size_t> sorted = refs;
    std::sort(sorted.begin(), sorted.end());
    return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

// The list of every key without subkeys, or without values: shared, never edited.
const std::shared_ptr<const NameList>& noNames() {
    static const auto empty = std::make_shared<const NameList>();
    return empty;
}

}  // namespace

Hive::~Hive() {
    close();
}

void Hive::close() {
    std::lock_guard lock(mutex_);
    settleCheck();  // the checker reads the bytes released below
    open_ = false;
    reader_.reset({});
    if (map_) ::munmap(const_cast<uint8_t*>(map_), mapSize_);
    map_ = nullptr;
    recovered_ = {};
    overlay_ = {};
    committed_ = {};
    setValues_ = {};
    bigLists_.clear();
    bigListEntries_ = 0;
    gen_.fetch_add(1, std::memory_order_acq_rel);
}

bool Hive::isOpen() {
    std::lock_guard lock(mutex_);
    return open_;
}

bool Hive::nodeValid(HiveNode node) const {
    if (!open_ || !node) return false;
    if (!overlay_.deleted.empty() && overlay_.deleted.count(node)) return false;
    if (node >= kAddedKeyBase) return overlay_.added.count(node) > 0;
    return reader_.key(uint32_t(node)) != nullptr;
}

bool Hive::alive(HiveNode node) {
    std::lock_guard lock(mutex_);
    return nodeValid(node);
}

void Hive::changed(HiveNode listChanged) {
    gen_.fetch_add(1, std::memory_order_acq_rel);
    dirty_ = true;
    auto it = bigLists_.find(listChanged);
    if (it != bigLists_.end()) {
        bigListEntries_ -= it->second->size();
        bigLists_.erase(it);
    }
}

// --- reading ----------------------------------------------------------------

std::shared_ptr<NameList> Hive::baseChildren(uint32_t off) {
    auto list = std::make_shared<NameList>();
    const uint8_t* nk = reader_.key(off);
    if (!nk || HiveReader::subkeyCount(nk) == 0) return list;
    const uint32_t expected = std::min<uint32_t>(HiveReader::subkeyCount(nk), 1 << 16);
    list->names.reserve(expected);
    list->refs.reserve(expected);
    reader_.forEachSubkey(get32(nk + regf::kNkSubkeyList), [&](uint32_t child) {
        // A child that names another parent comes from a damaged or looping
        // index; leaving it out keeps every walk finite.
        const uint8_t* c = reader_.key(child);
        if (!c || HiveReader::parentOf(c) != off || child == root_) return;
        HiveReader::keyName(c, list->names.emplace_back());
        list->refs.push_back(child);
        list->maxNameLen = std::max(list->maxNameLen, storedNameUnits(c));
    });
    if (hasDuplicates(list->refs)) {
        auto all = std::move(*list);
        *list = NameList();
        std::unordered_set<size_t> seen;
        for (size_t i = 0; i < all.refs.size(); ++i)
            if (seen.insert(all.refs[i]).second) list->append(all.names[i], all.refs[i]);
    }
    if (list->size() >= kBigList) list->index();
    return list;
}

std::shared_ptr<NameList> Hive::baseValues(uint32_t off) {
    auto list = std::make_shared<NameList>();
    const uint8_t* nk = reader_.key(off);
    uint32_t count = 0;
    const uint8_t* offsets = nk ? reader_.valueList(nk, count) : nullptr;
    if (!offsets) return list;
    list->names.reserve(count);
    list->refs.reserve(count);
    list->sizes.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ref = get32(offsets + 4 * i);
        const uint8_t* vk = reader_.value(ref);
        if (!vk) continue;
        HiveReader::valueName(vk, list->names.emplace_back());
        uint32_t size = HiveReader::valueSize(vk);
        auto units = uint32_t(HiveReader::storedValueName(vk).units());
        list->refs.push_back(ref);
        list->sizes.push_back(size);
        list->maxNameLen = std::max(list->maxNameLen, units);
        list->maxDataLen = std::max(list->maxDataLen, size);
    }
    if (list->size() >= kBigList) list->index();
    return list;
}

std::shared_ptr<const NameList> Hive::readChildren(HiveNode node) {
    if (!nodeValid(node)) return nullptr;
    if (auto it = overlay_.edits.find(node); it != overlay_.edits.end() && it->second.children)
        return it->second.children;
    if (node >= kAddedKeyBase || !HiveReader::subkeyCount(reader_.key(uint32_t(node))))
        return noNames();
    return baseChildren(uint32_t(node));
}

std::shared_ptr<const NameList> Hive::readValues(HiveNode node) {
    if (!nodeValid(node)) return nullptr;
    if (auto it = overlay_.edits.find(node); it != overlay_.edits.end() && it->second.values)
        return it->second.values;
    if (node >= kAddedKeyBase || !get32(reader_.key(uint32_t(node)) + regf::kNkValueCount))
        return noNames();
    return baseValues(uint32_t(node));
}

std::shared_ptr<const NameList> Hive::children(HiveNode node, uint64_t* gen) {
    std::lock_guard lock(mutex_);
    if (gen) *gen = generation();
    if (!nodeValid(node)) return nullptr;
    if (auto it = bigLists_.find(node); it != bigLists_.end()) return it->second;
    auto list = readChildren(node);
    bool ownList = overlay_.edits.count(node) && overlay_.edits[node].children == list;
    if (list && !ownList && list->size() >= kBigList) {
        if (bigListEntries_ + list->size() > kBigListBudget) {
            bigLists_.clear();
            bigListEntries_ = 0;
        }
        bigLists_[node] = list;
        bigListEntries_ += list->size();
    }
    return list;
}

std::shared_ptr<const NameList> Hive::values(HiveNode node, uint64_t* gen) {
    std::lock_guard lock(mutex_);
    if (gen) *gen = generation();
    return readValues(node);
}

std::optional<RegValue> Hive::readValue(size_t ref, std::string name) const {
    RegValue out{std::move(name), 0, {}};
    if (!readValueInto(ref, out)) return std::nullopt;
    return out;
}

std::optional<RegValue> Hive::value(HiveNode node, const NameList& list, size_t index,
                                    uint64_t listGen) {
    std::lock_guard lock(mutex_);
    if (index >= list.size() || !nodeValid(node)) return std::nullopt;
    if (listGen == generation()) return readValue(list.refs[index], list.names[index]);
    auto fresh = readValues(node);
    auto i = fresh ? fresh->find(list.names[index]) : std::nullopt;
    if (!i) return std::nullopt;
    return readValue(fresh->refs[*i], fresh->names[*i]);
}

std::optional<RegValue> Hive::value(HiveNode node, std::string_view name) {
    std::lock_guard lock(mutex_);
    auto list = readValues(node);
    auto i = list ? list->find(name) : std::nullopt;
    if (!i) return std::nullopt;
    return readValue(list->refs[*i], list->names[*i]);
}

int64_t Hive::lastWrite(HiveNode node) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(node)) return 0;
    if (auto it = overlay_.edits.find(node); it != overlay_.edits.end() && it->second.lastWrite)
        return it->second.lastWrite;
    if (node >= kAddedKeyBase) return 0;
    int64_t t = HiveReader::lastWrite(reader_.key(uint32_t(node)));
    return t < 0 ? 0 : t;
}

std::string Hive::className(HiveNode node) {
    std::lock_guard lock(mutex_);
    std::string out;
    if (nodeValid(node) && node < kAddedKeyBase)
        reader_.className(reader_.key(uint32_t(node)), out);
    return out;
}

// --- editing ----------------------------------------------------------------

std::string Hive::refuseEdit() const {
    if (!open_) return "The registry hive " + file_.string() + " is closed; nothing was changed.";
    settleCheck();
    return readOnly_;
}

KeyEdit* Hive::editOf(HiveNode node) {
    return &overlay_.edits[node];
}

// The edit's own copy of a list: read from the file (or empty, for an added
// key) at first use, and copied again while a reader still holds the one it has.
template <class ReadBase>
const std::shared_ptr<NameList>& Hive::ownList(std::shared_ptr<NameList>& list, HiveNode node,
                                               ReadBase readBase) {
    if (!list) {
        list = node >= kAddedKeyBase ? std::make_shared<NameList>() : readBase(uint32_t(node));
        return list;
    }
    // Readers drop their copies without the lock. Taking a reference is an
    // atomic read-modify-write of the count, which orders the last reader's
    // use of the list before the change made here; use_count() alone would not.
    std::shared_ptr<NameList> probe = list;
    if (probe.use_count() > 2) list = std::make_shared<NameList>(*list);
    return list;
}

const std::shared_ptr<NameList>& Hive::childrenForEdit(HiveNode node, KeyEdit& edit) {
    return ownList(edit.children, node, [&](uint32_t n) { return baseChildren(n); });
}

const std::shared_ptr<NameList>& Hive::valuesForEdit(HiveNode node, KeyEdit& edit) {
    return ownList(edit.values, node, [&](uint32_t n) { return baseValues(n); });
}

// A changed key gets the time of the change, as Windows gives it.
void Hive::touch(KeyEdit& edit) {
    edit.lastWrite = nowFiletime();
}

uint32_t Hive::depthOf(HiveNode node) const {
    uint32_t up = 0;
    while (node >= kAddedKeyBase) {
        auto it = overlay_.added.find(node);
        if (it == overlay_.added.end()) return UINT32_MAX;
        node = it->second.parent;
        ++up;
    }
    for (; node != root_; ++up) {
        const uint8_t* nk = reader_.key(uint32_t(node));
        if (!nk || up > regf::kMaxDepth) return UINT32_MAX;
        node = HiveReader::parentOf(nk);
    }
    return up;
}

HiveNode Hive::addChild(HiveNode parent, std::string_view name) {
    if (name.empty() || name.find('\\') != std::string_view::npos || !validName(name) ||
        utf16Length(name) > regf::kMaxKeyNameChars)
        return 0;
    std::lock_guard lock(mutex_);
    if (!refuseEdit().empty()) return 0;
    auto list = readChildren(parent);
    if (!list) return 0;
    if (auto i = list->find(name)) return list->refs[*i];
    list.reset();  // not held while the edit takes the list
    // A path deeper than Windows can load is refused before anything changes.
    uint32_t depth = depthOf(parent);
    if (depth >= regf::kMaxDepth) return 0;
    HiveNode child = kAddedKeyBase + nextAdded_++;
    overlay_.added[child] = {parent, std::string(name), depth + 1};
    KeyEdit& own = overlay_.edits[child];
    own.children = std::make_shared<NameList>();
    own.values = std::make_shared<NameList>();
    own.lastWrite = nowFiletime();
    KeyEdit& edit = *editOf(parent);
    childrenForEdit(parent, edit)->append(std::string(name), child);
    touch(edit);
    changed(parent);
    return child;
}

void Hive::markDeleted(HiveNode node, uint32_t depth) {
    std::vector<std::pair<HiveNode, uint32_t>> stack{{node, depth}};
    while (!stack.empty()) {
        auto [n, d] = stack.back();
        stack.pop_back();
        auto kids = d <= regf::kMaxDepth ? readChildren(n) : nullptr;
        overlay_.deleted.insert(n);
        if (kids)
            for (size_t ref : kids->refs) stack.emplace_back(ref, d + 1);
    }
}

bool Hive::deleteChild(HiveNode parent, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!refuseEdit().empty()) return false;
    auto list = readChildren(parent);
    auto i = list ? list->find(name) : std::nullopt;
    if (!i) return false;
    HiveNode child = list->refs[*i];
    // Held here, the list would be copied for the edit below: one deletion
    // after another under a big key would copy it each time.
    list.reset();
    if (child < kAddedKeyBase &&
        (HiveReader::flags(reader_.key(uint32_t(child))) & regf::kKeyNoDelete))
        return false;  // Windows refuses to delete such keys too
    KeyEdit& edit = *editOf(parent);
    const auto& own = childrenForEdit(parent, edit);
    auto at = std::find(own->refs.begin(), own->refs.end(), child);
    if (at == own->refs.end()) return false;
    own->erase(size_t(at - own->refs.begin()));
    markDeleted(child, depthOf(parent) + 1);
    touch(edit);
    changed(parent);
    return true;
}

bool Hive::setValue(HiveNode node, std::string_view name, uint32_t type,
                    std::span<const uint8_t> data) {
    if (!validName(name) || utf16Length(name) > regf::kMaxValueNameChars ||
        data.size() > kHiveMaxValueData)
        return false;
    std::lock_guard lock(mutex_);
    if (!refuseEdit().empty() || !nodeValid(node)) return false;
    KeyEdit& edit = *editOf(node);
    const auto& list = valuesForEdit(node, edit);
    size_t ref = kSetValueBase + setValues_.size();
    auto at = list->find(name);
    // A value set again keeps the spelling of its name.
    setValues_.push_back(RegValue{{}, type, {data.begin(), data.end()}});
    if (at)
        list->replace(*at, ref, uint32_t(data.size()));
    else
        list->append(std::string(name), ref, uint32_t(data.size()));
    touch(edit);
    changed(0);
    return true;
}

bool Hive::deleteValue(HiveNode node, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!refuseEdit().empty()) return false;
    auto current = readValues(node);
    if (!current || !current->find(name)) return false;
    current.reset();  // not held while the edit takes the list
    KeyEdit& edit = *editOf(node);
    const auto& list = valuesForEdit(node, edit);
    auto at = list->find(name);
    if (!at) return false;
    list->erase(*at);
    touch(edit);
    changed(0);
    return true;
}

// --- state ------------------------------------------------------------------

bool Hive::dirty() {
    std::lock_guard lock(mutex_);
    return dirty_;
}

void Hive::rememberFile() {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return;
    fileId_ = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool Hive::sameFile() const {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return false;
    return st.st_dev == fileId_.dev && st.st_ino == fileId_.ino && st.st_size == fileId_.size &&
           st.st_mtim.tv_sec == fileId_.mtime.tv_sec && st.st_mtim.tv_nsec == fileId_.mtime.tv_nsec;
}

bool Hive::fileUnchanged() const {
    std::lock_guard lock(mutex_);
    return sameFile();
}

HiveState Hive::state() const {
    std::lock_guard lock(mutex_);
    settleCheck();
    return state_;
}

bool Hive::writable() const {
    std::lock_guard lock(mutex_);
    settleCheck();
    return readOnly_.empty();
}

std::string Hive::readOnlyReason() const {
    std::lock_guard lock(mutex_);
    settleCheck();
    return readOnly_;
}

}  // namespace brisko::hive
