#include "registry/backup_store.h"

#include <algorithm>

#include "base/text.h"
#include "core/machine/code_page.h"
#include "core/machine/file_read.h"
#include "core/machine/reg_file.h"
#include "registry/registry_fix.h"

namespace brisko {

namespace {
// A copy of a deleted file is a shortcut or the like, never this large.
constexpr int64_t kMaxCopyBytes = int64_t(1) << 31;
// A backup that names copies is a fix's or a startup run's: a few megabytes.
// A larger one (a whole registry) is not read only to look for them.
constexpr int64_t kMaxBackupNotesBytes = int64_t(64) << 20;
// 100 ns intervals from 1601 to 1970.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
}  // namespace

std::string backupSizeText(uint64_t bytes) {
    uint64_t kb = bytes / 1024 + (bytes % 1024 ? 1 : 0);
    std::string digits = std::to_string(kb);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out + " KB";
}

int64_t fileTimeToUnix(int64_t fileTime) {
    return (fileTime - kUnixEpochAsFileTime) / 10000000;
}

std::optional<std::vector<BackupListRow>> listBackups(FileApi& files, std::string_view folder) {
    if (!files.directoryExists(folder)) return std::nullopt;
    auto entries = files.findFiles(excludeTrailingBackslash(folder), "*.*");
    std::vector<BackupListRow> rows;
    if (entries)
        for (const auto& e : *entries)
            if (!e.isDirectory() && e.size > 0 && upperCase(extractFileExt(e.name)) == ".REG")
                rows.push_back({e.name, e.writeTime, e.size,
                                backupEndsWhole(files, backupPath(folder, e.name))});
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return upperCase(a.name) > upperCase(b.name);
    });
    return rows;
}

std::string backupPath(std::string_view folder, std::string_view name) {
    return includeTrailingBackslash(folder) + std::string(name);
}

bool backupEndsWhole(FileApi& files, std::string_view backupFile) {
    // The end of the file is enough, with the byte-order mark of a Unicode one.
    constexpr int64_t kTail = 4096;
    auto h = files.openFile(backupFile, FileMode::Read);
    if (!h) return false;
    const int64_t size = h->size();
    char bom[2] = {};
    if (size < 2 || !h->seek(0) || h->read(bom, 2) != 2) return false;
    const bool utf16 =
        (bom[0] == '\xFF' && bom[1] == '\xFE') || (bom[0] == '\xFE' && bom[1] == '\xFF');
    if (utf16 && size % 2) return false;
    int64_t from = std::max<int64_t>(utf16 ? 2 : 0, size - kTail);
    if (utf16 && from % 2) ++from;
    std::string tail(size_t(size - from), '\0');
    if (!h->seek(from) || h->read(tail.data(), int64_t(tail.size())) != int64_t(tail.size()))
        return false;
    if (utf16 && from > 2) tail.insert(0, bom, 2);
    return regFileEndsWhole(tail);
}

std::optional<std::string> backupInFolder(FileApi& files, std::string_view folder,
                                          std::string_view nameOrPath, std::string* why) {
    auto refuse = [&](std::string text) -> std::optional<std::string> {
        if (why) *why = std::move(text);
        return std::nullopt;
    };
    const bool isPath = nameOrPath.find('\\') != std::string_view::npos ||
                        nameOrPath.find('/') != std::string_view::npos ||
                        nameOrPath.find(':') != std::string_view::npos;
    std::string path = isPath ? std::string(nameOrPath) : backupPath(folder, nameOrPath);
    const std::string notOne =
        path + " is not a backup in the backup folder " + std::string(folder) + ".";
    if (upperCase(extractFileExt(path)) != ".REG") return refuse(notOne);
    auto info = files.fileInfo(path);
    if (!info) return refuse("There is no backup " + path + ".");
    if (info->isDirectory() || info->isLink()) return refuse(notOne);
    auto home = files.placeId(excludeTrailingBackslash(folder));
    auto parent = files.placeId(excludeTrailingBackslash(extractFilePath(path)));
    if (!home || !parent || !(*home == *parent)) return refuse(notOne);
    return path;
}

bool deleteBackup(FileApi& files, std::string_view backupFile) {
    // The copies the backup names (a startup run keeps its shortcuts in a
    // folder of its own) go with it; read before the file is gone.
    std::vector<FileCopyNote> notes;
    if (auto bytes = readWholeFile(files, backupFile, kMaxBackupNotesBytes))
        notes = fileCopyNotes(*bytes);
    bool ok = files.shellDelete(backupFile);
    if (!ok) return false;
    std::string copies = fileCopyFolder(backupFile);
    // Only the backup's own folder of copies, never what a link beside it names.
    auto info = files.fileInfo(copies);
    if (info && info->isDirectory() && !info->isLink()) files.shellDelete(copies);
    const std::string folder = excludeTrailingBackslash(extractFilePath(backupFile));
    for (const auto& n : notes) {
        std::string copy = folder + "\\" + n.copy;
        if (files.fileExists(copy)) files.deleteFile(copy);
        // Then the folders it leaves empty, up to the backup folder.
        for (std::string up = excludeTrailingBackslash(extractFilePath(copy));
             up.size() > folder.size() && files.removeDirectory(up);
             up = excludeTrailingBackslash(extractFilePath(up))) {
        }
    }
    return true;
}

std::vector<FileCopyNote> fileCopyNotes(std::string_view bytes) {
    std::vector<FileCopyNote> notes;
    std::string text;
    // The same decoding the import uses; a file it cannot read names nothing.
    try {
        (void)parseRegText(bytes);
    } catch (const RegFileError&) {
        return notes;
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        text = utf16leToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2,
                             false);
    else
        text = eightBitToUtf8(bytes);
    const std::string tag = ";" + std::string(kFileCopyTag);
    for (auto line : split(text, '\n')) {
        std::string_view l = trim(line);
        if (!l.starts_with(tag)) continue;
        l.remove_prefix(tag.size());
        size_t bar = l.find('|');
        if (bar == std::string_view::npos) continue;
        FileCopyNote n{std::string(l.substr(0, bar)), std::string(l.substr(bar + 1))};
        // A copy lives in the backup's own folder, never above it.
        if (n.copy.empty() || n.original.empty() || n.copy.find("..") != std::string::npos ||
            n.copy.front() == '\\' || n.copy.find(':') != std::string::npos)
            continue;
        notes.push_back(std::move(n));
    }
    return notes;
}

size_t restoreFileCopies(
    FileApi& files, const std::vector<FileCopyNote>& notes,
    const std::function<std::optional<std::string>(const std::string&)>& readCopy,
    std::vector<std::string>* problems) {
    size_t restored = 0;
    auto problem = [&](std::string s) {
        if (problems) problems->push_back(std::move(s));
    };
    for (const auto& n : notes) {
        if (files.fileExists(n.original) || files.directoryExists(n.original)) continue;
        auto bytes = readCopy(n.copy);
        if (!bytes) {
            problem("Cannot read the copy " + n.copy + " of " + n.original + ".");
            continue;
        }
        std::string folder = excludeTrailingBackslash(extractFilePath(n.original));
        if (!folder.empty() && !files.directoryExists(folder)) files.forceDirectories(folder);
        auto out = files.createNewFile(n.original);
        if (!out || out->write(bytes->data(), int64_t(bytes->size())) != int64_t(bytes->size()) ||
            !out->flush()) {
            out.reset();
            problem("Cannot put back " + n.original + ".");
            continue;
        }
        ++restored;
    }
    return restored;
}

size_t restoreBackupFileCopies(FileApi& files, std::string_view backupFile, std::string_view bytes,
                               std::vector<std::string>* problems) {
    const std::string folder = extractFilePath(backupFile);
    return restoreFileCopies(
        files, fileCopyNotes(bytes),
        [&](const std::string& copy) { return readWholeFile(files, folder + copy, kMaxCopyBytes); },
        problems);
}

}  // namespace brisko
