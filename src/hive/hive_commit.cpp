// Writing an open hive: the file's keys with the overlay's changes, as one
// dense new hive through the regf writer.
#include <chrono>

#include "hive/hive.h"
#include "hive/hive_log.h"
#include "hive/regf_format.h"
#include "hive/regf_writer.h"

namespace brisko::hive {

namespace fs = std::filesystem;
using regf::get32;

uint32_t Hive::securityCellOf(HiveNode node) const {
    // An added key shares the descriptor of the nearest key above it that the file holds.
    while (node >= kAddedKeyBase) {
        auto it = overlay_.added.find(node);
        if (it == overlay_.added.end()) return regf::kNone;
        node = it->second.parent;
    }
    const uint8_t* nk = reader_.key(uint32_t(node));
    return nk ? get32(nk + regf::kNkSecurity) : regf::kNone;
}

// Copies a key and everything below it. Strict (for a commit), anything that
// cannot be read fails the whole copy; otherwise it is left out.
bool Hive::fill(RegTreeKey& out, HiveNode node, uint32_t depth, bool strict,
                std::unordered_map<uint32_t, std::vector<uint8_t>>& descriptors,
                std::string* error) {
    auto fail = [&](const std::string& what) {
        if (!strict) return true;
        if (error) *error = what + " (key \"" + out.name + "\")";
        return false;
    };
    auto edit = overlay_.edits.find(node);
    bool edited = edit != overlay_.edits.end();
    out.lastWrite = edited ? edit->second.lastWrite : 0;
    if (node < kAddedKeyBase) {
        const uint8_t* nk = reader_.key(uint32_t(node));
        if (!out.lastWrite) {
            out.lastWrite = HiveReader::lastWrite(nk);
            out.timeAsRead = true;
        }
        out.flags = HiveReader::flags(nk);
        out.userFlags = HiveReader::userFlags(nk);
        if (!reader_.className(nk, out.className) && !fail("its class name cannot be read"))
            return false;
    }
    uint32_t sk = securityCellOf(node);
    auto known = descriptors.find(sk);
    if (known == descriptors.end()) {
        auto sd = reader_.security(sk);
        known = descriptors.emplace(sk, std::vector<uint8_t>(sd.begin(), sd.end())).first;
    }
    out.securityDescriptor = known->second;

    auto values = readValues(node);
    if (!values) return fail("it cannot be read");
    out.values.reserve(values->size());
    for (size_t i = 0; i < values->size(); ++i) {
        auto v = readValue(values->refs[i], values->names[i]);
        if (v)
            out.values.push_back(std::move(*v));
        else if (!fail("value \"" + values->names[i] + "\" cannot be read"))
            return false;
    }
    auto kids = readChildren(node);
    if (!kids) return fail("it cannot be read");
    if (kids->size() && depth >= regf::kMaxDepth) return fail("it lies deeper than Windows allows");
    out.subkeys.reserve(kids->size());
    for (size_t i = 0; i < kids->size(); ++i) {
        auto child = std::make_unique<RegTreeKey>();
        child->name = kids->names[i];
        if (!fill(*child, kids->refs[i], depth + 1, strict, descriptors, error)) return false;
        out.subkeys.push_back(std::move(child));
    }
    return true;
}

std::unique_ptr<RegTreeKey> Hive::snapshot(std::string* error) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(root_)) {
        if (error) *error = "the hive is closed: " + file_.string();
        return nullptr;
    }
    auto tree = std::make_unique<RegTreeKey>();
    reader_.keyName(reader_.key(uint32_t(root_)), tree->name);
    std::unordered_map<uint32_t, std::vector<uint8_t>> descriptors;
    fill(*tree, root_, 0, false, descriptors, error);
    return tree;
}

bool Hive::overlayEmpty() const {
    return overlay_.edits.empty() && overlay_.added.empty() && overlay_.deleted.empty();
}

bool Hive::withCells(const std::function<void(const HiveReader&, uint32_t root)>& f) {
    std::lock_guard lock(mutex_);
    if (!open_ || !overlayEmpty()) return false;
    f(reader_, uint32_t(root_));
    return true;
}

std::vector<uint8_t> Hive::securityDescriptor(HiveNode node) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(node)) return {};
    auto sd = reader_.security(securityCellOf(node));
    return {sd.begin(), sd.end()};
}

bool Hive::writeCompact(TempFileBeside& out, std::string* error, int64_t reorganized) {
    RegfWriteOptions options;
    options.reorganized = reorganized;
    {
        std::lock_guard lock(mutex_);
        options.embeddedName = embeddedName_;
        options.keepBaseBlock = baseBlock_;
        // A damaged hive is saved as far as it reads, through the tree.
        settleCheck();
        if (open_ && overlayEmpty() && state_.health != HiveHealth::Damaged)
            return writeHiveTo(reader_, uint32_t(root_), out, options, error);
    }
    auto tree = snapshot(error);
    return tree && writeHiveTo(*tree, out, options, error);
}

bool Hive::saveCompact(const fs::path& target, std::string* error) {
    TempFileBeside temp;
    return temp.create(target, error) && writeCompact(temp, error) && temp.finish(error) &&
           temp.replace(error);
}

bool Hive::writeCopy(TempFileBeside& out, std::string* error) {
    if (std::string why = refuseEdit(); !why.empty()) {
        if (error) *error = why;
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "The registry hive " + file_.string() + " cannot be written (" + why +
                     "); nothing was changed.";
        return false;
    };
    auto tree = std::make_unique<RegTreeKey>();
    reader_.keyName(reader_.key(uint32_t(root_)), tree->name);
    std::unordered_map<uint32_t, std::vector<uint8_t>> descriptors;
    std::string why;
    if (!fill(*tree, root_, 0, true, descriptors, &why)) return fail(why);
    descriptors.clear();
    RegfWriteOptions options;
    options.embeddedName = embeddedName_;
    options.keepBaseBlock = baseBlock_;
    // Past every sequence number of the old file and its logs, so that the
    // logs can never be replayed over the new file.
    options.sequence = highestSequence_ >= 0xFFFFFFF0 ? 1 : highestSequence_ + 1;
    if (!writeHiveTo(*tree, out, options, &why) || !out.finish(&why)) return fail(why);
    pendingSequence_ = options.sequence;
    return true;
}

bool Hive::writeCommitCopy(const fs::path& temp, std::string* error) {
    std::lock_guard lock(mutex_);
    TempFileBeside out;
    if (!out.createAt(temp, file_, error) || !writeCopy(out, error)) return false;
    out.keep();
    return true;
}

void Hive::landed() {
    // The new file counts past every log entry; emptied, the logs cannot be
    // mistaken for changes still to come.
    auto logs = findHiveLogs(file_);
    if (!logs.empty()) resetHiveLogs(logs, nullptr);
    highestSequence_ = std::max(highestSequence_, pendingSequence_);
    committed_ = overlay_;
    dirty_ = false;
    // The file now holds the hive whole, closed cleanly.
    settleCheck();
    if (state_.health == HiveHealth::Recovered || state_.health == HiveHealth::AsStored)
        state_ = {};
    rememberFile();
}

void Hive::commitLanded() {
    std::lock_guard lock(mutex_);
    landed();
}

void Hive::discardChanges() {
    std::lock_guard lock(mutex_);
    if (!dirty_ || !open_) return;
    overlay_ = committed_;
    bigLists_.clear();
    bigListEntries_ = 0;
    dirty_ = false;
    gen_.fetch_add(1, std::memory_order_acq_rel);
}

bool Hive::commit(std::string* error) {
    std::lock_guard lock(mutex_);
    if (!dirty_) return true;
    if (std::string why = refuseEdit(); !why.empty()) {
        if (error) *error = why;
        return false;
    }
    if (!sameFile()) {
        if (error)
            *error = "The registry hive " + file_.string() +
                     " was changed by another program since it was read; nothing was changed.";
        return false;
    }
    TempFileBeside out;
    if (!out.create(file_, error) || !writeCopy(out, error) || !out.replace(error)) return false;
    landed();
    return true;
}

}  // namespace brisko::hive
