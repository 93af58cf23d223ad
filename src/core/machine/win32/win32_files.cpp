#include "core/machine/win32/win32_files.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "core/machine/win32/wide.h"

namespace brisko::win32 {

namespace {

int64_t fileTime(const FILETIME& ft) {
    return int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string p(folder);
    if (!p.empty() && p.back() != '\\' && p.back() != '/') p.push_back('\\');
    return p + std::string(name);
}

std::string lastName(std::string_view path) {
    std::string p(path);
    while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? p : p.substr(cut + 1);
}

DWORD attributesOf(std::string_view path) {
    return GetFileAttributesW(widen(path).c_str());
}

class Win32File : public FileHandle {
  public:
    explicit Win32File(HANDLE h) : h_(h) {}
    ~Win32File() override { CloseHandle(h_); }
    int64_t size() override {
        LARGE_INTEGER s;
        return GetFileSizeEx(h_, &s) ? s.QuadPart : -1;
    }
    bool seek(int64_t offset) override {
        LARGE_INTEGER o;
        o.QuadPart = offset;
        return offset >= 0 && SetFilePointerEx(h_, o, nullptr, FILE_BEGIN);
    }
    int64_t read(void* buf, int64_t n) override {
        int64_t total = 0;
        auto* p = static_cast<char*>(buf);
        while (total < n) {
            DWORD chunk = DWORD(std::min<int64_t>(n - total, 1 << 26)), got = 0;
            if (!ReadFile(h_, p + total, chunk, &got, nullptr)) return total ? total : -1;
            if (got == 0) break;
            total += got;
        }
        return total;
    }
    int64_t write(const void* buf, int64_t n) override {
        int64_t total = 0;
        auto* p = static_cast<const char*>(buf);
        while (total < n) {
            DWORD chunk = DWORD(std::min<int64_t>(n - total, 1 << 26)), put = 0;
            if (!WriteFile(h_, p + total, chunk, &put, nullptr) || put == 0)
                return total ? total : -1;
            total += put;
        }
        return total;
    }
    bool flush() override { return FlushFileBuffers(h_) != 0; }
    bool truncate(int64_t size) override { return seek(size) && SetEndOfFile(h_); }

  private:
    HANDLE h_;
};

// A handle on a regular file; a folder, and for writing a link itself, is refused.
std::unique_ptr<FileHandle> wrap(HANDLE h, bool refuseLink = false) {
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (refuseLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<Win32File>(h);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A link, or a file with further hard links, that the path names itself.
bool linkOrShared(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool result =
        GetFileInformationByHandle(h, &info) &&
        ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1);
    CloseHandle(h);
    return result;
}

}  // namespace

Win32FileApi::Win32FileApi(std::function<std::vector<std::string>()> hiveFiles)
    : hiveFiles_(std::move(hiveFiles)) {}

std::optional<std::vector<FileEntry>> Win32FileApi::findFiles(std::string_view folder,
                                                              std::string_view mask) {
    std::wstring pattern = widen(joinPath(folder, mask));
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    std::vector<FileEntry> out;
    if (h == INVALID_HANDLE_VALUE) {
        // No match in a folder that exists is an empty listing.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            DWORD a = attributesOf(folder);
            if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return out;
        }
        return std::nullopt;
    }
    do {
        FileEntry e;
        e.name = narrow(fd.cFileName);
        e.size = (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.attributes = fd.dwFileAttributes;
        e.writeTime = fileTime(fd.ftLastWriteTime);
        out.push_back(std::move(e));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return out;
}

std::optional<FileEntry> Win32FileApi::fileInfo(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &d)) return std::nullopt;
    FileEntry e;
    e.name = lastName(path);
    e.size = (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    e.attributes = d.dwFileAttributes;
    e.writeTime = fileTime(d.ftLastWriteTime);
    return e;
}

bool Win32FileApi::fileExists(std::string_view path) {
    DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileApi::directoryExists(std::string_view path) {
    DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileApi::deleteFile(std::string_view path) {
    if (isHiveFile(path)) return false;
    return DeleteFileW(widen(path).c_str()) != 0;
}

bool Win32FileApi::removeDirectory(std::string_view path) {
    return RemoveDirectoryW(widen(path).c_str()) != 0;
}

bool Win32FileApi::forceDirectories(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    while (p.size() > 3 && p.back() == '\\') p.pop_back();
    if (p.empty()) return false;
    if (directoryExists(p)) return true;
    size_t cut = p.find_last_of('\\');
    if (cut != std::string::npos && cut > 2 && !forceDirectories(p.substr(0, cut))) return false;
    if (CreateDirectoryW(widen(p).c_str(), nullptr)) return true;
    return directoryExists(p);  // made meanwhile by someone else
}

bool Win32FileApi::copyFile(std::string_view from, std::string_view to, bool failIfExists) {
    if (!failIfExists && isHiveFile(to)) return false;
    return CopyFileW(widen(from).c_str(), widen(to).c_str(), failIfExists) != 0;
}

bool Win32FileApi::moveFile(std::string_view from, std::string_view to) {
    if (isHiveFile(from)) return false;
    return MoveFileW(widen(from).c_str(), widen(to).c_str()) != 0;
}

bool Win32FileApi::setAttributes(std::string_view path, uint32_t attributes) {
    return SetFileAttributesW(widen(path).c_str(), attributes) != 0;
}

std::unique_ptr<FileHandle> Win32FileApi::openFile(std::string_view path, FileMode mode) {
    if (mode == FileMode::ReadWrite && isHiveFile(path)) return nullptr;
    DWORD access = mode == FileMode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    // Overwriting never goes through a link to somewhere else.
    DWORD flags = mode == FileMode::Read ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    return wrap(
        CreateFileW(widen(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr),
        mode == FileMode::ReadWrite);
}

std::unique_ptr<FileHandle> Win32FileApi::createFile(std::string_view path) {
    if (isHiveFile(path)) return nullptr;
    std::wstring w = widen(path);
    if (linkOrShared(w) && !DeleteFileW(w.c_str())) return nullptr;
    return wrap(CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::unique_ptr<FileHandle> Win32FileApi::createNewFile(std::string_view path) {
    return wrap(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Win32FileApi::shellDelete(std::string_view path) {
    if (isHiveFile(path)) return false;
    std::wstring from = widen(path);
    from.push_back(L'\0');  // the list ends with two NULs
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

bool Win32FileApi::deleteAtRestart(std::string_view path) {
    if (isHiveFile(path)) return false;
    return MoveFileExW(widen(path).c_str(), nullptr,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

std::optional<PlaceId> Win32FileApi::placeId(std::string_view path) {
    // Attributes only: no sharing check, so files others hold (hives) answer too.
    HANDLE h = CreateFileW(widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return PlaceId{info.dwVolumeSerialNumber,
                   (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool Win32FileApi::isHiveFile(std::string_view path) {
    std::vector<std::string> places;
    {
        std::lock_guard lock(hiveMutex_);
        if (!hivesRead_) {
            hivesRead_ = true;
            for (const auto& f : hiveFiles_ ? hiveFiles_() : std::vector<std::string>{})
                for (const char* ext : {"", ".LOG", ".LOG1", ".LOG2"}) {
                    auto id = placeId(f + ext);
                    if (id)
                        hivePlaces_.push_back(std::to_string(id->volume) + ":" +
                                              std::to_string(id->file));
                }
        }
        places = hivePlaces_;
    }
    if (places.empty()) return false;
    auto id = placeId(path);
    if (!id) return false;
    std::string key = std::to_string(id->volume) + ":" + std::to_string(id->file);
    return std::find(places.begin(), places.end(), key) != places.end();
}

FileUse Win32FileApi::fileUse(std::string_view path) {
    if (isHiveFile(path)) return FileUse::LoadedHive;
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION
                   ? FileUse::Locked
                   : FileUse::Free;
    CloseHandle(h);
    return FileUse::Free;
}

std::string Win32FileApi::shortPathName(std::string_view path) {
    std::wstring w = widen(path);
    DWORD n = GetShortPathNameW(w.c_str(), nullptr, 0);
    if (n == 0) return std::string(path);
    std::wstring out(n, L'\0');
    n = GetShortPathNameW(w.c_str(), out.data(), n);
    if (n == 0 || n >= out.size()) return std::string(path);
    out.resize(n);
    return narrow(out);
}

std::optional<std::string> Win32FileApi::libraryOpenPath(std::string_view path, std::string* why) {
    auto refuse = [&](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    // The file itself and whatever such a library keeps beside it must be
    // plain files: no link, no second name, nothing another program holds.
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::wstring w = widen(std::string(path) + suffix);
        HANDLE h = CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (!*suffix) return refuse("the file cannot be opened");
            continue;
        }
        BY_HANDLE_FILE_INFORMATION info;
        bool ok = GetFileInformationByHandle(h, &info);
        CloseHandle(h);
        if (!ok) return refuse("the file cannot be read");
        if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
            return refuse("a link or a folder stands in the file's place");
        if (info.nNumberOfLinks > 1) return refuse("the file has further hard links");
    }
    if (fileUse(path) != FileUse::Free) return refuse("another program has the file open");
    return std::string(path);
}

std::vector<DriveInfo> Win32FileApi::drives() {
    std::vector<DriveInfo> out;
    wchar_t buf[512];
    DWORD n = GetLogicalDriveStringsW(512, buf);
    if (n == 0 || n > 512) return out;
    for (const wchar_t* d = buf; *d; d += wcslen(d) + 1) {
        std::string root = narrow(d);
        DriveInfo info;
        info.letter = char(std::toupper(static_cast<unsigned char>(root[0])));
        info.kind = driveType(root);
        info.device = queryDosDevice(root.substr(0, 2));
        wchar_t label[MAX_PATH + 1] = {};
        info.mediaPresent = GetVolumeInformationW(d, label, MAX_PATH + 1, nullptr, nullptr, nullptr,
                                                  nullptr, 0) != 0;
        info.volumeLabel = narrow(label);
        out.push_back(std::move(info));
    }
    return out;
}

DriveKind Win32FileApi::driveType(std::string_view rootPath) {
    UINT t = GetDriveTypeW(widen(withBackslash(std::string(rootPath))).c_str());
    return t <= 6 ? DriveKind(t) : DriveKind::Unknown;
}

std::string Win32FileApi::queryDosDevice(std::string_view drive) {
    std::string d(drive.substr(0, 2));
    wchar_t target[1024];
    DWORD n = QueryDosDeviceW(widen(d).c_str(), target, 1024);
    return n ? narrow(target) : std::string();
}

bool Win32FileApi::volumePresent(std::string_view rootPath) {
    return GetVolumeInformationW(widen(withBackslash(std::string(rootPath))).c_str(), nullptr, 0,
                                 nullptr, nullptr, nullptr, nullptr, 0) != 0;
}

}  // namespace brisko::win32
