#include "core/machine/image/hive.h"

#include "core/unique_fd.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "core/machine/regf_format.h"
#include "core/text.h"

namespace brisko {

namespace {

namespace fs = std::filesystem;
using regf::get16;
using regf::get32;

static_assert(sizeof(hive_type) == sizeof(uint32_t));

constexpr size_t kBigList = 64;                // lists this long get a name index
constexpr size_t kBigListBudget = 2'000'000;   // names kept in shared lists per hive
constexpr uint64_t kMaxHiveFile = 0x80000000;  // Windows refuses hives of 2 GB and more
constexpr uint32_t kCellBase = regf::kBaseBlockSize;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using CPtr = std::unique_ptr<T, FreeDeleter>;

using Fd = UniqueFd;

std::string procPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Strict UTF-8 without NULs, as hivex's encoder needs it: anything else makes
// it fail in the middle of an edit.
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
        if ((c >> 3) == 30) ++n;  // four-byte sequences need a surrogate pair
    }
    return n;
}

// Windows types run past hivex's enum (0x12345, 0xFFFF0001 ...); they travel as
// plain numbers and only their storage is hivex's.
hive_type* typeSlot(uint32_t& t) {
    return reinterpret_cast<hive_type*>(&t);
}

int64_t cellSize(const uint8_t* p) {
    auto v = int64_t(int32_t(get32(p)));
    return v < 0 ? -v : v;
}

// Writes `file` through a fresh temporary beside it; see writeFileAtomically.
bool replaceViaTemp(const fs::path& file, const std::function<bool(int)>& write,
                    std::string* error) {
    auto fail = [&](std::string what) {
        if (error) *error = what + ": " + file.string();
        return false;
    };
    fs::path tmp = file;
    tmp += ".tmp";
    struct stat st {};
    if (::lstat(tmp.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail("a folder is in the way of the temporary file");
        if (::unlink(tmp.c_str()) != 0) return fail(std::string(std::strerror(errno)));
    }
    mode_t mode = 0644;
    if (::stat(file.c_str(), &st) == 0) mode = st.st_mode & 0777;
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.fd < 0) return fail(std::string(std::strerror(errno)));
    bool ok = write(fd.fd) && ::fsync(fd.fd) == 0;
    int err = errno;
    ok = (::close(fd.fd) == 0) && ok;
    fd.fd = -1;
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        if (ok) err = errno;
        ::unlink(tmp.c_str());
        return fail(std::string("cannot write (") + std::strerror(err) + ")");
    }
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.fd >= 0) ::fsync(dfd.fd);
    return true;
}

}  // namespace

std::string foldRegistryName(std::string_view name) {
    if (isAscii(name)) return upperCase(name);
    auto units = utf8ToUtf16le(name, false);
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
        uint16_t u = regf::upcaseUnit(uint16_t(units[i] | (units[i + 1] << 8)));
        units[i] = uint8_t(u);
        units[i + 1] = uint8_t(u >> 8);
    }
    return utf16leToUtf8(units, false);
}

bool sameRegistryName(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) return equalsNoCase(a, b);
    return foldRegistryName(a) == foldRegistryName(b);
}

std::optional<size_t> NameList::find(std::string_view name, size_t hint) const {
    if (hint < names.size() && sameRegistryName(names[hint], name)) return hint;
    if (!byFolded_.empty()) {
        auto it = byFolded_.find(foldRegistryName(name));
        if (it == byFolded_.end()) return std::nullopt;
        return it->second;
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (sameRegistryName(names[i], name)) return i;
    return std::nullopt;
}

void NameList::index() {
    byFolded_.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) byFolded_.emplace(foldRegistryName(names[i]), i);
}

// ---------------------------------------------------------------------------

std::shared_ptr<Hive> Hive::open(const fs::path& file, std::string* error) {
    auto fail = [&](std::string why) -> std::shared_ptr<Hive> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) return fail(errno == ENOENT ? "the file does not exist" : std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    if (uint64_t(st.st_size) < 2 * kCellBase) return fail("too short to be a registry hive");
    if (uint64_t(st.st_size) >= kMaxHiveFile) return fail("too large to be a registry hive");
    char magic[4] = {};
    if (::pread(fd.fd, magic, 4, 0) != 4 || std::memcmp(magic, "regf", 4) != 0)
        return fail("not a registry hive (no regf signature)");

    std::shared_ptr<Hive> hive(new Hive());
    hive->file_ = file;
    hive->originalSize_ = uint64_t(st.st_size);
    void* map = ::mmap(nullptr, hive->originalSize_, PROT_READ, MAP_PRIVATE, fd.fd, 0);
    if (map == MAP_FAILED) return fail(std::strerror(errno));
    hive->original_ = static_cast<const uint8_t*>(map);
    hive->embeddedName_ =
        utf16leToUtf8(hive->original_ + regf::kBaseFileName, regf::kBaseFileNameBytes);
    // Through the descriptor, so hivex reads the very file that was mapped.
    hive->h_ = hivex_open(procPath(fd.fd).c_str(), HIVEX_OPEN_WRITE);
    if (!hive->h_) {
        int err = errno;
        return fail(std::string("damaged or not a registry hive (") + std::strerror(err) + ")");
    }
    hive->rememberFile();
    hive->root_ = hivex_root(hive->h_);
    if (hive->root_ == 0 || !hive->nodeValid(hive->root_))
        return fail("damaged registry hive (no root key)");
    return hive;
}

Hive::~Hive() {
    close();
}

void Hive::close() {
    std::lock_guard lock(mutex_);
    if (h_) hivex_close(h_);
    h_ = nullptr;
    if (original_) ::munmap(const_cast<uint8_t*>(original_), originalSize_);
    original_ = nullptr;
    bigLists_.clear();
    gen_.fetch_add(1, std::memory_order_acq_rel);
}

bool Hive::isOpen() {
    std::lock_guard lock(mutex_);
    return h_ != nullptr;
}

bool Hive::nodeValid(HiveNode node) {
    return h_ && node && hivex_node_struct_length(h_, node) != 0;
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

std::shared_ptr<NameList> Hive::readChildren(HiveNode node) {
    if (!nodeValid(node)) return nullptr;
    auto list = std::make_shared<NameList>();
    CPtr<hive_node_h> kids(hivex_node_children(h_, node));
    if (!kids) return list;  // a damaged index reads as no subkeys
    std::unordered_set<HiveNode> seen;
    for (size_t i = 0; kids.get()[i]; ++i) {
        HiveNode c = kids.get()[i];
        // A child that names another parent, or one listed twice, comes from a
        // damaged or looping index; leaving it out keeps every walk finite.
        if (hivex_node_parent(h_, c) != node || !seen.insert(c).second) continue;
        CPtr<char> name(hivex_node_name(h_, c));
        if (!name) continue;
        list->names.emplace_back(name.get());
        list->refs.push_back(c);
        list->maxNameLen = std::max(list->maxNameLen, utf16Length(list->names.back()));
    }
    if (list->size() >= kBigList) list->index();
    return list;
}

std::shared_ptr<NameList> Hive::readValues(HiveNode node) {
    if (!nodeValid(node)) return nullptr;
    auto list = std::make_shared<NameList>();
    CPtr<hive_value_h> vals(hivex_node_values(h_, node));
    if (!vals) return list;
    for (size_t i = 0; vals.get()[i]; ++i) {
        hive_value_h v = vals.get()[i];
        size_t len = 0;
        if (hivex_value_type(h_, v, nullptr, &len) != 0) continue;
        CPtr<char> name(hivex_value_key(h_, v));
        if (!name) continue;
        list->names.emplace_back(name.get());
        list->refs.push_back(v);
        list->sizes.push_back(uint32_t(len));
        list->maxNameLen = std::max(list->maxNameLen, utf16Length(list->names.back()));
        list->maxDataLen = std::max(list->maxDataLen, uint32_t(len));
    }
    if (list->size() >= kBigList) list->index();
    return list;
}

std::shared_ptr<const NameList> Hive::children(HiveNode node, uint64_t* gen) {
    std::lock_guard lock(mutex_);
    if (gen) *gen = generation();
    if (!nodeValid(node)) return nullptr;
    if (auto it = bigLists_.find(node); it != bigLists_.end()) return it->second;
    auto list = readChildren(node);
    if (list && list->size() >= kBigList) {
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

// Value cells hivex has not written come from the file as opened; before
// hivex follows their data (big values span a "db" list of segments), the
// cells are checked against the file, so that a damaged hive cannot lead
// hivex outside its buffer.
bool Hive::originalValueSafe(size_t ref) {
    const uint8_t* base = original_;
    const uint64_t size = originalSize_;
    auto cell = [&](uint64_t off, uint64_t need) -> const uint8_t* {
        if (off < kCellBase || off + 4 > size) return nullptr;
        int64_t len = cellSize(base + off);
        if (len < int64_t(4 + need) || off + uint64_t(len) > size) return nullptr;
        return base + off + 4;
    };
    const uint8_t* vk = cell(ref, regf::kVkName);
    if (!vk || vk[0] != 'v' || vk[1] != 'k') return false;
    uint32_t len = get32(vk + regf::kVkDataSize);
    if (len & regf::kDataInline) return true;
    uint64_t doff = uint64_t(get32(vk + regf::kVkDataOffset)) + kCellBase;
    const uint8_t* data = cell(doff, 0);
    if (!data) return false;
    if (len <= uint64_t(cellSize(base + doff)) - 4) return true;
    const uint8_t* db = cell(doff, 8);
    if (!db || db[0] != 'd' || db[1] != 'b') return false;
    uint32_t segments = get16(db + 2);
    uint64_t listOff = uint64_t(get32(db + 4)) + kCellBase;
    const uint8_t* segList = cell(listOff, 4ull * segments);
    if (!segList) return false;
    for (uint32_t i = 0; i < segments; ++i)
        if (!cell(uint64_t(get32(segList + 4 * i)) + kCellBase, 4)) return false;
    return true;
}

std::optional<RegValue> Hive::readValue(HiveNode node, size_t ref, std::string name) {
    uint32_t type = 0;
    size_t len = 0;
    if (hivex_value_type(h_, ref, typeSlot(type), &len) != 0) return std::nullopt;
    RegValue out{std::move(name), type, {}};
    if (len == 0) return out;  // hivex cannot read an empty value stored without a cell
    bool ours = created_.count(node) || rewritten_.count(node);
    if (!ours && !originalValueSafe(ref)) return std::nullopt;
    CPtr<char> data(hivex_value_value(h_, ref, typeSlot(type), &len));
    if (!data) return std::nullopt;
    auto* p = reinterpret_cast<const uint8_t*>(data.get());
    out.data.assign(p, p + len);
    return out;
}

std::optional<RegValue> Hive::value(HiveNode node, const NameList& list, size_t index,
                                    uint64_t listGen) {
    std::lock_guard lock(mutex_);
    if (index >= list.size() || !nodeValid(node)) return std::nullopt;
    if (listGen == generation()) return readValue(node, list.refs[index], list.names[index]);
    auto fresh = readValues(node);
    auto i = fresh ? fresh->find(list.names[index]) : std::nullopt;
    if (!i) return std::nullopt;
    return readValue(node, fresh->refs[*i], fresh->names[*i]);
}

std::optional<RegValue> Hive::value(HiveNode node, std::string_view name) {
    std::lock_guard lock(mutex_);
    auto list = readValues(node);
    auto i = list ? list->find(name) : std::nullopt;
    if (!i) return std::nullopt;
    return readValue(node, list->refs[*i], list->names[*i]);
}

int64_t Hive::lastWrite(HiveNode node) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(node)) return 0;
    int64_t t = hivex_node_timestamp(h_, node);
    return t < 0 ? 0 : t;
}

const uint8_t* Hive::originalKey(HiveNode node) {
    if (!original_ || created_.count(node)) return nullptr;
    if (node < kCellBase || node + 4 + regf::kNkName > originalSize_) return nullptr;
    const uint8_t* nk = original_ + node + 4;
    if (nk[0] != 'n' || nk[1] != 'k') return nullptr;
    return nk;
}

std::string Hive::classOf(HiveNode node) {
    const uint8_t* nk = originalKey(node);
    if (!nk) return {};
    uint32_t off = get32(nk + regf::kNkClass);
    uint32_t len = get16(nk + regf::kNkClassLen);
    if (off == regf::kNone || len == 0) return {};
    uint64_t coff = uint64_t(off) + kCellBase;
    if (coff + 4 > originalSize_) return {};
    int64_t cell = cellSize(original_ + coff);
    if (cell < int64_t(4 + len) || coff + uint64_t(cell) > originalSize_) return {};
    return utf16leToUtf8(original_ + coff + 4, len);
}

std::string Hive::className(HiveNode node) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(node)) return {};
    return classOf(node);
}

std::vector<uint8_t> Hive::securityOf(HiveNode node,
                                      std::unordered_map<uint32_t, std::vector<uint8_t>>& cache) {
    // A key hivex added shares its parent's descriptor.
    for (size_t depth = 0; created_.count(node) && depth < kHiveMaxDepth; ++depth)
        node = hivex_node_parent(h_, node);
    const uint8_t* nk = originalKey(node);
    if (!nk) return {};
    uint32_t off = get32(nk + regf::kNkSecurity);
    if (auto it = cache.find(off); it != cache.end()) return it->second;
    std::vector<uint8_t> sd;
    uint64_t soff = uint64_t(off) + kCellBase;
    if (off != regf::kNone && soff + 4 + regf::kSkDescriptor <= originalSize_) {
        const uint8_t* sk = original_ + soff + 4;
        int64_t cell = cellSize(original_ + soff);
        uint32_t len = get32(sk + regf::kSkDescriptorSize);
        if (sk[0] == 's' && sk[1] == 'k' && soff + uint64_t(cell) <= originalSize_ &&
            uint64_t(len) + regf::kSkDescriptor + 4 <= uint64_t(cell))
            sd.assign(sk + regf::kSkDescriptor, sk + regf::kSkDescriptor + len);
    }
    cache[off] = sd;
    return sd;
}

// --- editing ----------------------------------------------------------------

HiveNode Hive::addChild(HiveNode parent, std::string_view name) {
    if (name.empty() || name.find('\\') != std::string_view::npos || !validName(name) ||
        utf16Length(name) > regf::kMaxKeyNameChars)
        return 0;
    std::lock_guard lock(mutex_);
    auto list = readChildren(parent);
    if (!list) return 0;
    if (auto i = list->find(name)) return list->refs[*i];
    std::string n(name);
    HiveNode child = hivex_node_add_child(h_, parent, n.c_str());
    changed(parent);
    if (child) created_.insert(child);
    return child;
}

// hivex removes the child's link only from lf/lh index records; under an old
// "li" index it would free the subtree and leave the link behind.
bool Hive::indexSupportsDelete(HiveNode parent) {
    const uint8_t* nk = originalKey(parent);
    if (!nk) return created_.count(parent) > 0;
    if (get32(nk + regf::kNkSubkeyCount) == 0) return true;  // any index is hivex's own
    auto listType = [&](uint64_t off) -> std::string {
        if (off + 8 > originalSize_) return {};
        return std::string(reinterpret_cast<const char*>(original_ + off + 4), 2);
    };
    uint64_t list = uint64_t(get32(nk + regf::kNkSubkeyList)) + kCellBase;
    std::string type = listType(list);
    if (type == "lf" || type == "lh") return true;
    if (type != "ri") return false;
    uint32_t count = get16(original_ + list + 6);
    if (list + 8 + 4ull * count > originalSize_) return false;
    for (uint32_t i = 0; i < count; ++i) {
        std::string sub = listType(uint64_t(get32(original_ + list + 8 + 4 * i)) + kCellBase);
        if (sub != "lf" && sub != "lh") return false;
    }
    return true;
}

// hivex frees a subtree key by key and stops at the first damaged record,
// leaving a half-freed tree still linked in. Only sound subtrees are handed
// to it.
bool Hive::subtreeDeletable(HiveNode node, HiveNode parent, size_t depth,
                            std::unordered_set<HiveNode>& seen) {
    if (depth > kHiveMaxDepth || !seen.insert(node).second || !nodeValid(node)) return false;
    if (hivex_node_parent(h_, node) != parent) return false;
    CPtr<hive_value_h> vals(hivex_node_values(h_, node));
    if (!vals) return false;
    if (const uint8_t* nk = originalKey(node)) {
        uint64_t sk = uint64_t(get32(nk + regf::kNkSecurity)) + kCellBase;
        if (get32(nk + regf::kNkSecurity) != regf::kNone &&
            (sk + 8 > originalSize_ || original_[sk + 4] != 's' || original_[sk + 5] != 'k'))
            return false;
    }
    CPtr<hive_node_h> kids(hivex_node_children(h_, node));
    if (!kids) return false;
    for (size_t i = 0; kids.get()[i]; ++i)
        if (!subtreeDeletable(kids.get()[i], node, depth + 1, seen)) return false;
    return true;
}

bool Hive::deleteChild(HiveNode parent, std::string_view name) {
    std::lock_guard lock(mutex_);
    auto list = readChildren(parent);
    auto i = list ? list->find(name) : std::nullopt;
    if (!i) return false;
    HiveNode child = list->refs[*i];
    std::unordered_set<HiveNode> seen;
    if (!indexSupportsDelete(parent) || !subtreeDeletable(child, parent, 0, seen)) return false;
    int r = hivex_node_delete_child(h_, child);
    changed(parent);
    return r == 0;
}

bool Hive::rewriteValues(HiveNode node, std::vector<RegValue>& list) {
    std::vector<hive_set_value> set;
    set.reserve(list.size());
    for (auto& v : list) {
        // hivex drops every value before writing the new set, so anything it
        // could not write must be refused before it starts.
        if (!validName(v.name) || utf16Length(v.name) > regf::kMaxValueNameChars ||
            v.data.size() > kHiveMaxValueData)
            return false;
        hive_set_value& s = set.emplace_back();
        s.key = v.name.data();
        std::memcpy(&s.t, &v.type, sizeof s.t);
        s.len = v.data.size();
        s.value = reinterpret_cast<char*>(v.data.data());
    }
    int r = hivex_node_set_values(h_, node, set.size(), set.data(), 0);
    changed(0);
    rewritten_.insert(node);
    return r == 0;
}

bool Hive::setValue(HiveNode node, std::string_view name, uint32_t type,
                    std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    auto names = readValues(node);
    if (!names) return false;
    std::vector<RegValue> all;
    bool replaced = false;
    for (size_t i = 0; i < names->size(); ++i) {
        auto v = readValue(node, names->refs[i], names->names[i]);
        if (!v) return false;  // rewriting would lose it
        if (!replaced && sameRegistryName(v->name, name)) {
            v->type = type;
            v->data.assign(data.begin(), data.end());
            replaced = true;
        }
        all.push_back(std::move(*v));
    }
    if (!replaced) all.push_back(RegValue{std::string(name), type, {data.begin(), data.end()}});
    return rewriteValues(node, all);
}

bool Hive::deleteValue(HiveNode node, std::string_view name) {
    std::lock_guard lock(mutex_);
    auto names = readValues(node);
    auto at = names ? names->find(name) : std::nullopt;
    if (!at) return false;
    std::vector<RegValue> rest;
    for (size_t i = 0; i < names->size(); ++i) {
        if (i == *at) continue;
        auto v = readValue(node, names->refs[i], names->names[i]);
        if (!v) return false;
        rest.push_back(std::move(*v));
    }
    return rewriteValues(node, rest);
}

// --- writing ----------------------------------------------------------------

bool Hive::dirty() {
    std::lock_guard lock(mutex_);
    return dirty_;
}

void Hive::rememberFile() {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return;
    fileId_ = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool Hive::fileUnchanged() const {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return false;
    return st.st_dev == fileId_.dev && st.st_ino == fileId_.ino && st.st_size == fileId_.size &&
           st.st_mtim.tv_sec == fileId_.mtime.tv_sec && st.st_mtim.tv_nsec == fileId_.mtime.tv_nsec;
}

HiveState Hive::state() const {
    return {};
}

bool Hive::writable() const {
    return true;
}

std::string Hive::readOnlyReason() const {
    return {};
}

bool Hive::writeCommitCopy(const fs::path& temp, std::string* error) {
    std::lock_guard lock(mutex_);
    if (!h_) {
        if (error) *error = "the hive is closed: " + file_.string();
        return false;
    }
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.fd < 0) {
        if (error) *error = std::string(std::strerror(errno)) + ": " + temp.string();
        return false;
    }
    if (hivex_commit(h_, procPath(fd.fd).c_str(), 0) != 0 || ::fsync(fd.fd) != 0) {
        if (error)
            *error = std::string("cannot write (") + std::strerror(errno) + "): " + temp.string();
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void Hive::commitLanded() {
    std::lock_guard lock(mutex_);
    dirty_ = false;
    rememberFile();
}

void Hive::discardChanges() {
    std::lock_guard lock(mutex_);
    if (!dirty_ || !h_) return;
    hivex_close(h_);
    h_ = hivex_open(file_.c_str(), HIVEX_OPEN_WRITE);
    created_.clear();
    rewritten_.clear();
    bigLists_.clear();
    bigListEntries_ = 0;
    dirty_ = false;
    gen_.fetch_add(1, std::memory_order_acq_rel);
}

bool Hive::commit(std::string* error) {
    std::lock_guard lock(mutex_);
    if (!dirty_) return true;
    if (!h_) {
        if (error) *error = "the hive is closed: " + file_.string();
        return false;
    }
    bool ok = replaceViaTemp(
        file_, [&](int fd) { return hivex_commit(h_, procPath(fd).c_str(), 0) == 0; }, error);
    if (ok) {
        dirty_ = false;
        rememberFile();
    }
    return ok;
}

void Hive::fill(RegTreeKey& out, HiveNode node, size_t depth, std::unordered_set<HiveNode>& seen,
                std::unordered_map<uint32_t, std::vector<uint8_t>>& sdCache) {
    int64_t t = hivex_node_timestamp(h_, node);
    out.lastWrite = t < 0 ? 0 : t;
    out.className = classOf(node);
    out.securityDescriptor = securityOf(node, sdCache);
    if (auto vals = readValues(node)) {
        for (size_t i = 0; i < vals->size(); ++i)
            if (auto v = readValue(node, vals->refs[i], vals->names[i]))
                out.values.push_back(std::move(*v));
    }
    if (depth >= kHiveMaxDepth) return;
    auto kids = readChildren(node);
    if (!kids) return;
    for (size_t i = 0; i < kids->size(); ++i) {
        if (!seen.insert(kids->refs[i]).second) continue;
        auto child = std::make_unique<RegTreeKey>();
        child->name = kids->names[i];
        fill(*child, kids->refs[i], depth + 1, seen, sdCache);
        out.subkeys.push_back(std::move(child));
    }
}

std::unique_ptr<RegTreeKey> Hive::snapshot(std::string* error) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(root_)) {
        if (error) *error = "the hive is closed: " + file_.string();
        return nullptr;
    }
    auto tree = std::make_unique<RegTreeKey>();
    CPtr<char> name(hivex_node_name(h_, root_));
    if (name) tree->name = name.get();
    std::unordered_set<HiveNode> seen{root_};
    std::unordered_map<uint32_t, std::vector<uint8_t>> sdCache;
    fill(*tree, root_, 0, seen, sdCache);
    return tree;
}

bool writeFileAtomically(const fs::path& file, std::string_view content, std::string* error) {
    return replaceViaTemp(
        file,
        [&](int fd) {
            size_t done = 0;
            while (done < content.size()) {
                ssize_t n = ::write(fd, content.data() + done, content.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                done += size_t(n);
            }
            return true;
        },
        error);
}

}  // namespace brisko
