#include "registry/reg_backup.h"

#include <cstdio>

#include "base/text.h"
#include "core/machine/code_page.h"
#include "core/machine/registry_view.h"
#include "core/temp_name.h"

namespace brisko {

namespace {

constexpr std::string_view kRegedit4 = "REGEDIT4";
constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
// Binary data breaks after every 25th byte past the first (26 on the first line).
constexpr size_t kBytesPerLine = 25;
// Far deeper than Windows allows; only a damaged hive with a loop gets here.
constexpr int kMaxDepth = 512;

bool hasHighBytes(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// Text that reads back the same from a REGEDIT4 file: it has an ANSI form,
// and that form is not also valid UTF-8 (which our import would prefer).
bool ansiSafe(std::string_view utf8) {
    if (!hasHighBytes(utf8)) return true;
    auto ansi = utf8ToAnsi(utf8);
    return ansi && !isValidUtf8(*ansi);
}

// REG_EXPAND_SZ / REG_MULTI_SZ data as the ANSI bytes a REGEDIT4 file holds,
// when converting them back gives the very same UTF-16 data.
std::optional<std::vector<uint8_t>> ansiStringData(const std::vector<uint8_t>& data) {
    if (data.size() % 2) return std::nullopt;
    // Plain ASCII, the usual case: the low bytes are the ANSI text.
    bool ascii = true;
    for (size_t i = 0; ascii && i < data.size(); i += 2) ascii = data[i] < 0x80 && data[i + 1] == 0;
    if (ascii) {
        std::vector<uint8_t> out(data.size() / 2);
        for (size_t i = 0; i < out.size(); ++i) out[i] = data[2 * i];
        return out;
    }
    std::string utf8 = utf16leToUtf8(data, false);
    auto ansi = utf8ToAnsi(utf8);
    if (!ansi || (hasHighBytes(*ansi) && isValidUtf8(*ansi))) return std::nullopt;
    if (utf8ToUtf16le(ansiToUtf8(*ansi), false) != data) return std::nullopt;
    return std::vector<uint8_t>(ansi->begin(), ansi->end());
}

void appendHex(std::string& out, const std::vector<uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.reserve(out.size() + data.size() * 3 + data.size() / kBytesPerLine * 3);
    for (size_t i = 0; i < data.size(); ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
        if (i + 1 == data.size()) break;
        out += ',';
        if (i > 0 && i % kBytesPerLine == 0) out += "\\\r\n";
    }
}

class BlockWriter {
  public:
    BlockWriter(RegistryApi& registry, RegistryView view, RootKey root, bool wow)
        : registry_(registry), view_(view), root_(root), wow_(wow) {}

    RegBackupBlock take() { return std::move(block_); }

    void header(std::string_view logicalPath) {
        std::string physical =
            wow_ ? physicalSubPath(registry_, view_, root_, logicalPath) : std::string(logicalPath);
        std::string line = std::string(rootName(root_));
        if (!physical.empty()) line += "\\" + physical;
        if (!ansiSafe(line)) block_.unicode = true;
        block_.lines.push_back({RegBackupBlock::Line::Header, std::move(line), {}});
    }

    void value(RegValue v) {
        std::string line = renderValueLine(v, false, &block_.unicode);
        block_.lines.push_back({RegBackupBlock::Line::Value, {}, std::move(v), std::move(line)});
    }

    void key(KeyHandle& k, const std::string& logicalPath, int depth) {
        header(logicalPath);
        for (const auto& name : k.valueNames())
            if (auto v = k.value(name)) value(std::move(*v));
        if (depth >= kMaxDepth) return;
        for (const auto& name : k.subkeyNames())
            if (auto sub = k.openSubkey(name, KeyAccess::Read))
                key(*sub, logicalPath.empty() ? name : logicalPath + "\\" + name, depth + 1);
    }

  private:
    RegistryApi& registry_;
    RegistryView view_;
    RootKey root_;
    bool wow_;
    RegBackupBlock block_;
};

std::string trimmedPath(std::string_view keyPath) {
    std::string path(keyPath);
    // One trailing backslash is dropped, as a key path given with one means the key.
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

}  // namespace

std::string backupStamp(const std::tm& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d_%02d_%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string backupStampNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return backupStamp(local);
}

std::string backupFileName(const std::tm& t) {
    return backupStamp(t) + ".reg";
}

std::string backupFileNameNow() {
    return backupStampNow() + ".reg";
}

std::string renderValueLine(const RegValue& v, bool unicode, bool* needsUnicode) {
    bool exact = true;
    std::string line;
    if (v.name.empty()) {
        line = "@";
    } else {
        if (!unicode && !ansiSafe(v.name)) exact = false;
        line = "\"" + escapeRegString(v.name, true) + "\"";
    }
    line += '=';
    std::optional<std::vector<uint8_t>> hexData;
    if (v.type == REG_SZ) {
        if (auto text = plainRegString(v.data)) {
            // Text ANSI cannot carry needs the Unicode file.
            if (!unicode && !ansiSafe(*text)) exact = false;
            line += "\"" + escapeRegString(*text, true) + "\"\r\n";
            if (!exact && needsUnicode) *needsUnicode = true;
            return line;
        }
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t d = v.data[0] | (uint32_t(v.data[1]) << 8) | (uint32_t(v.data[2]) << 16) |
                     (uint32_t(v.data[3]) << 24);
        static constexpr char kDigits[] = "0123456789ABCDEF";
        line += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) line += kDigits[(d >> shift) & 15];
        line += "\r\n";
        if (!exact && needsUnicode) *needsUnicode = true;
        return line;
    }
    if (v.type == REG_BINARY) {
        line += "hex:";
    } else {
        static constexpr char kDigits[] = "0123456789abcdef";
        char buf[12];
        size_t n = 0;
        for (uint32_t t = v.type; n == 0 || t; t >>= 4) buf[n++] = kDigits[t & 15];
        line += "hex(";
        while (n) line += buf[--n];
        line += "):";
    }
    // A REGEDIT4 file holds these two as ANSI text; the merge converts them back.
    if (!unicode && (v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ)) {
        hexData = ansiStringData(v.data);
        if (!hexData) exact = false;
    }
    // A REG_SZ that no quoted string carries is kept as its raw bytes; our
    // import (and the registry editor for Version 5 files) takes hex(1) as is.
    appendHex(line, hexData ? *hexData : v.data);
    line += "\r\n";
    if (!exact && needsUnicode) *needsUnicode = true;
    return line;
}

namespace {

struct Source {
    RootKey root;
    std::string path;
};

// Where a key of the given root is stored: itself, or for HKEY_CLASSES_ROOT
// the user's Classes and the machine's.
std::vector<Source> sourcesOf(RootKey root, const std::string& path, std::string_view userSid) {
    if (root != RootKey::ClassesRoot || userSid.empty()) return {{root, path}};
    auto below = [&](std::string base) { return path.empty() ? base : base + "\\" + path; };
    return {{RootKey::Users, below(std::string(userSid) + "_Classes")},
            {RootKey::LocalMachine, below("SOFTWARE\\Classes")}};
}

void appendBlock(std::optional<RegBackupBlock>& into, RegBackupBlock part) {
    if (!into) {
        into = std::move(part);
        return;
    }
    into->unicode = into->unicode || part.unicode;
    for (auto& l : part.lines) into->lines.push_back(std::move(l));
}

// The block of a key path from each place it lives in (both Classes hives for
// HKEY_CLASSES_ROOT). `fill` writes one place's part with the writer it is
// given, or gives nothing to skip that place; whether the registry has a
// 32-bit view is asked once, only when a part is written.
template <class Fill>
std::optional<RegBackupBlock> renderSources(RegistryApi& registry, RegistryView view, RootKey root,
                                            std::string_view keyPath, std::string_view userSid,
                                            std::optional<bool> hasWowView, Fill fill) {
    std::optional<RegBackupBlock> out;
    std::optional<bool> wow;
    if (hasWowView) wow = view == RegistryView::Wow64_32 && *hasWowView;
    for (const auto& src : sourcesOf(root, trimmedPath(keyPath), userSid)) {
        auto key = registry.openKeyInView(view, src.root, src.path, KeyAccess::Read);
        if (!key) continue;
        auto writer = [&] {
            if (!wow) wow = view == RegistryView::Wow64_32 && hasWow32View(registry);
            return BlockWriter(registry, view, src.root, *wow);
        };
        if (auto part = fill(*key, src.path, writer)) appendBlock(out, std::move(*part));
    }
    return out;
}

}  // namespace

std::optional<RegBackupBlock> renderKeyBlock(RegistryApi& registry, RegistryView view, RootKey root,
                                             std::string_view keyPath, std::string_view userSid,
                                             std::optional<bool> hasWowView) {
    return renderSources(
        registry, view, root, keyPath, userSid, hasWowView,
        [](KeyHandle& key, const std::string& path, auto writer) -> std::optional<RegBackupBlock> {
            BlockWriter w = writer();
            w.key(key, path, 0);
            return w.take();
        });
}

std::optional<RegBackupBlock> renderValueBlock(RegistryApi& registry, RegistryView view,
                                               RootKey root, std::string_view keyPath,
                                               std::string_view valueName, std::string_view userSid,
                                               std::optional<bool> hasWowView) {
    return renderSources(
        registry, view, root, keyPath, userSid, hasWowView,
        [&](KeyHandle& key, const std::string& path, auto writer) -> std::optional<RegBackupBlock> {
            auto v = key.value(valueName);
            if (!v) return std::nullopt;
            BlockWriter w = writer();
            w.header(path);
            w.value(std::move(*v));
            return w.take();
        });
}

RegBackupBlock renderOpenKeyBlock(RegistryApi& registry, RegistryView view, RootKey root,
                                  std::string_view keyPath, KeyHandle& key, bool hasWowView) {
    BlockWriter w(registry, view, root, view == RegistryView::Wow64_32 && hasWowView);
    w.key(key, trimmedPath(keyPath), 0);
    return w.take();
}

std::optional<RegBackupBlock> renderOpenValueBlock(RegistryApi& registry, RegistryView view,
                                                   RootKey root, std::string_view keyPath,
                                                   KeyHandle& key, std::string_view valueName,
                                                   bool hasWowView) {
    auto v = key.value(valueName);
    if (!v) return std::nullopt;
    BlockWriter w(registry, view, root, view == RegistryView::Wow64_32 && hasWowView);
    w.header(trimmedPath(keyPath));
    w.value(std::move(*v));
    return w.take();
}

RegBackupBlock renderCommentBlock(std::string_view comment) {
    RegBackupBlock b;
    b.lines.push_back({RegBackupBlock::Line::Comment, std::string(comment), {}});
    b.unicode = !ansiSafe(comment);
    return b;
}

std::string RegBackupBlock::render(bool unicodeFile) const {
    std::string out;
    for (const auto& l : lines) {
        switch (l.kind) {
            case Line::Header:
                out += "\r\n[" + l.text + "]\r\n";
                break;
            case Line::Value:
                if (!unicodeFile && !l.regedit4Line.empty())
                    out += l.regedit4Line;
                else
                    out += renderValueLine(l.value, unicodeFile);
                break;
            case Line::Comment:
                out += "\r\n;" + l.text + "\r\n";
                break;
        }
    }
    return out;
}

// --- the file -------------------------------------------------------------

RegBackupFile::~RegBackupFile() {
    close();
}

void RegBackupFile::close() {
    if (handle_ && !failed_) drain();
    handle_.reset();
    // A file of this run without a single block is no backup of anything.
    if (failed_ && created_ && whole_ <= headSize_) {
        files_.deleteFile(path_);
        created_ = false;
    }
}

void RegBackupFile::abandon() {
    pending_.clear();
    handle_.reset();
    if (created_) {
        files_.deleteFile(path_);
        created_ = false;
    } else if (startSize_ >= 0 && !converted_) {
        if (auto h = files_.openFile(path_, FileMode::ReadWrite)) h->truncate(startSize_);
    }
}

bool RegBackupFile::drain() {
    if (pending_.empty()) return true;
    std::string bytes = std::move(pending_);
    pending_.clear();
    return writeAll(bytes);
}

bool RegBackupFile::fail(std::string why) {
    error_ = std::move(why);
    return false;
}

// What was gathered is lost; what went out before stays, and the file is cut
// back to it so that it ends with a whole block.
bool RegBackupFile::writeFailed(std::string why) {
    failed_ = true;
    pending_.clear();
    if (handle_ && handle_->size() != whole_ && !handle_->truncate(whole_))
        why += " The file " + path_ + " ends in a cut block.";
    return fail(std::move(why));
}

bool RegBackupFile::writeAll(std::string_view bytes) {
    if (failed_) return false;
    if (handle_->write(bytes.data(), int64_t(bytes.size())) != int64_t(bytes.size()))
        return writeFailed("Cannot write the backup file " + path_ + " (is the disk full?).");
    whole_ += int64_t(bytes.size());
    return true;
}

// An existing file keeps its format; a new one starts as REGEDIT4, or as
// Version 5 when its first block needs it.
bool RegBackupFile::open(bool unicode) {
    handle_ = files_.openFile(path_, FileMode::ReadWrite);
    if (handle_) {
        int64_t size = handle_->size();
        char bom[2] = {};
        if (size >= 2 && handle_->seek(0) && handle_->read(bom, 2) == 2 && bom[0] == '\xFF' &&
            bom[1] == '\xFE')
            format_ = RegFileFormat::Version5;
        else
            format_ = RegFileFormat::Regedit4;
        if (size < 0 || !handle_->seek(size)) {
            handle_.reset();
            return fail("Cannot append to the backup file " + path_ + ".");
        }
        whole_ = startSize_ = size;
        return true;
    }
    if (files_.fileExists(path_)) return fail("Cannot open the backup file " + path_ + ".");
    handle_ = files_.createNewFile(path_);
    if (!handle_) return fail("Cannot create the backup file " + path_ + ".");
    created_ = true;
    format_ = unicode ? RegFileFormat::Version5 : RegFileFormat::Regedit4;
    std::string head(unicode ? kVersion5 : kRegedit4);
    head += "\r\n";
    const std::string bytes = encodeRegFileBytes(head, format_);
    headSize_ = int64_t(bytes.size());
    return writeAll(bytes);
}

// The file so far, read back and written anew as a Version 5 file beside it,
// then put in its place: the blocks written before are never at risk.
bool RegBackupFile::convertToUnicode() {
    const std::string why = "Cannot turn the backup file " + path_ + " into a Unicode file.";
    if (!drain()) return false;
    int64_t size = handle_->size();
    std::string old(size_t(size), '\0');
    if (size < 0 || !handle_->seek(0) || handle_->read(old.data(), size) != size) return fail(why);
    RegFileParse parsed;
    try {
        parsed = parseRegText(old);
    } catch (const RegFileError&) {
        return fail(why);
    }
    std::string text(kVersion5);
    text += "\r\n";
    // Comment lines carry the copies of deleted files: keep them in order.
    std::vector<std::string> comments;
    for (const auto& line : split(old, '\n'))
        if (!line.empty() && line[0] == ';') comments.push_back(std::string(trim(line)));
    for (const auto& op : parsed.ops) {
        if (op.kind == RegFileOp::CreateKey) {
            text += "\r\n[" + op.keyPath + "]\r\n";
        } else if (op.kind == RegFileOp::SetValue) {
            text += renderValueLine({op.valueName, op.type, op.data}, true);
        }
    }
    for (const auto& c : comments) text += "\r\n" + ansiToUtf8(c) + "\r\n";
    std::string bytes = encodeRegFileBytes(text, RegFileFormat::Version5);

    std::string tmp = path_ + uniqueSuffix();
    auto out = files_.createNewFile(tmp);
    if (!out) return fail(why);
    bool ok =
        out->write(bytes.data(), int64_t(bytes.size())) == int64_t(bytes.size()) && out->flush();
    out.reset();
    handle_.reset();
    if (!ok || !files_.deleteFile(path_) || !files_.moveFile(tmp, path_)) {
        files_.deleteFile(tmp);
        failed_ = true;
        return fail(why);
    }
    handle_ = files_.openFile(path_, FileMode::ReadWrite);
    if (!handle_ || !handle_->seek(handle_->size())) {
        failed_ = true;
        return fail(why);
    }
    whole_ = handle_->size();
    format_ = RegFileFormat::Version5;
    converted_ = true;
    headSize_ = int64_t(encodeRegFileBytes(std::string(kVersion5) + "\r\n", format_).size());
    return true;
}

bool RegBackupFile::append(const RegBackupBlock& block, bool flushNow) {
    if (failed_) return false;
    error_.clear();
    if (!handle_ && !open(block.unicode)) return false;
    if (block.unicode && format_ == RegFileFormat::Regedit4 && !convertToUnicode()) return false;
    std::string bytes;
    if (format_ == RegFileFormat::Version5) {
        auto wide = utf8ToUtf16le(block.render(true), false);
        bytes.assign(reinterpret_cast<const char*>(wide.data()), wide.size());
    } else {
        bytes = block.render(false);
        if (hasHighBytes(bytes)) bytes = encodeRegFileBytes(bytes, RegFileFormat::Regedit4);
    }
    pending_ += bytes;
    // Gathered appends go out in pieces of a few hundred kilobytes.
    if (flushNow) return flush();
    return pending_.size() < (256u << 10) || drain();
}

bool RegBackupFile::flush() {
    if (failed_) return false;
    if (!handle_) return true;
    if (!drain()) return false;
    // What the system failed to write out may be gone although it was taken.
    if (!handle_->flush()) {
        failed_ = true;
        return fail("Cannot write the backup file " + path_ + " to the disk.");
    }
    return true;
}

bool AppendRegBackup(RegBackupFile& file, RegistryApi& registry, RegistryView view, RootKey root,
                     std::string_view keyPath, bool wholeKey, std::string_view valueName,
                     std::string* error, bool flush, std::string_view userSid) {
    auto block = wholeKey ? renderKeyBlock(registry, view, root, keyPath, userSid)
                          : renderValueBlock(registry, view, root, keyPath, valueName, userSid);
    if (!block) {
        if (error) *error = "The entry to back up is not there.";
        return false;
    }
    if (!file.append(*block, flush)) {
        if (error) *error = file.error();
        return false;
    }
    return true;
}

}  // namespace brisko
