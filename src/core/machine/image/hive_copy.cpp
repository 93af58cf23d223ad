#include "core/machine/image/hive_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/machine/image/hive.h"
#include "core/machine/image/hive_log.h"
#include "core/machine/regf_writer.h"
#include "core/unique_fd.h"

namespace brisko {

namespace fs = std::filesystem;

namespace {
constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t h, uint64_t w) {
    h ^= w;
    h *= kMul;
    return h ^ (h >> 31);
}

// Folds the file's bytes into `h`; false when it cannot be read to its end.
bool hashFile(const fs::path& file, uint64_t& h, uint64_t& size) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) return false;
    std::vector<uint8_t> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) return false;
        if (n == 0) break;
        size += uint64_t(n);
        size_t i = 0;
        for (; i + 8 <= size_t(n); i += 8) {
            uint64_t w;
            std::memcpy(&w, buf.data() + i, 8);
            h = mix(h, w);
        }
        for (; i < size_t(n); ++i) h = mix(h, buf[i]);
    }
    h = mix(h, size);
    return true;
}

std::string hexOf(const std::vector<uint8_t>& d) {
    return std::to_string(d.size()) + " bytes";
}
}  // namespace

std::optional<FileIdentity> fileIdentity(const fs::path& file) {
    FileIdentity id;
    id.hash = 0x5172u;
    if (!hashFile(file, id.hash, id.size)) return std::nullopt;
    return id;
}

std::optional<FileIdentity> hiveIdentity(const fs::path& hiveFile) {
    FileIdentity id;
    id.hash = 0x5172u;
    if (!hashFile(hiveFile, id.hash, id.size)) return std::nullopt;
    for (const auto& log : findHiveLogs(hiveFile)) {
        // The log's name matters too: a log appearing or vanishing changes the hive.
        for (char c : log.filename().string()) id.hash = mix(id.hash, uint8_t(c));
        uint64_t logSize = 0;
        if (!hashFile(log, id.hash, logSize)) return std::nullopt;
        id.size += logSize;
    }
    return id;
}

bool sameHiveContent(Hive& a, Hive& b, std::string* why) {
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
        for (size_t i = ca->size(); i-- > 0;) {
            if (ca->names[i] != cb->names[i])
                return differ(p.path,
                              "subkey \"" + ca->names[i] + "\" against \"" + cb->names[i] + "\"");
            todo.push_back({ca->refs[i], cb->refs[i],
                            p.path.empty() ? ca->names[i] : p.path + "\\" + ca->names[i]});
        }
    }
    return true;
}

bool writeVerifiedHiveCopy(const fs::path& hiveFile, const fs::path& target, std::string* why) {
    auto fail = [&](std::string text) {
        std::error_code ec;
        fs::remove(target, ec);
        if (why) *why = std::move(text);
        return false;
    };
    std::error_code ec;
    if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) {
        if (why) *why = "the file " + target.string() + " is in the way";
        return false;
    }
    std::string error;
    auto hive = Hive::open(hiveFile, &error);
    if (!hive) return fail("the hive cannot be read: " + error);
    auto state = hive->state();
    if (state.health == HiveHealth::Damaged) return fail("the hive is damaged: " + state.reason);
    auto tree = hive->snapshot(&error);
    if (!tree) return fail("the hive cannot be read: " + error);
    RegfWriteOptions options;
    options.embeddedName = hive->embeddedName();
    if (!writeHiveFile(*tree, target, options, &error))
        return fail("the copy cannot be written: " + error);
    tree.reset();
    auto copy = Hive::open(target, &error);
    if (!copy) return fail("the copy cannot be read back: " + error);
    std::string diff;
    if (!sameHiveContent(*hive, *copy, &diff))
        return fail("the copy differs from the hive: " + diff);
    return true;
}

}  // namespace brisko
