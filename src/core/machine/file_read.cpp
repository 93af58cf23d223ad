#include "core/machine/file_read.h"

namespace brisko {

std::optional<std::string> readWholeFile(FileApi& files, std::string_view path, int64_t maxBytes,
                                         FileReadError* why) {
    auto fail = [why](FileReadError e) -> std::optional<std::string> {
        if (why) *why = e;
        return std::nullopt;
    };
    auto h = files.openFile(path, FileMode::Read);
    if (!h) return fail(FileReadError::CannotOpen);
    const int64_t size = h->size();
    if (size < 0) return fail(FileReadError::CannotRead);
    if (size > maxBytes) return fail(FileReadError::TooLarge);
    std::string bytes(static_cast<size_t>(size), '\0');
    int64_t got = 0;
    while (got < size) {
        int64_t n = h->read(bytes.data() + got, size - got);
        if (n < 0) return fail(FileReadError::CannotRead);
        if (n == 0) break;
        got += n;
    }
    bytes.resize(static_cast<size_t>(got));
    return bytes;
}

}  // namespace brisko
