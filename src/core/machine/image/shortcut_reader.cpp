#include "core/machine/image/shortcut_reader.h"

#include <liblnk.h>

#include <vector>

namespace brisko {

namespace {
using SizeFn = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);
using GetFn = int (*)(liblnk_file_t*, uint8_t*, size_t, liblnk_error_t**);

std::string readString(liblnk_file_t* file, SizeFn sizeFn, GetFn getFn) {
    size_t size = 0;
    liblnk_error_t* error = nullptr;
    if (sizeFn(file, &size, &error) != 1 || size == 0 || size > 65536) {
        if (error) liblnk_error_free(&error);
        return {};
    }
    std::vector<uint8_t> buf(size);
    if (getFn(file, buf.data(), size, &error) != 1) {
        if (error) liblnk_error_free(&error);
        return {};
    }
    return std::string(reinterpret_cast<const char*>(buf.data()));
}
}  // namespace

std::string readShortcutTarget(const std::filesystem::path& hostFile, bool* fromEnvironment) {
    if (fromEnvironment) *fromEnvironment = false;
    liblnk_file_t* file = nullptr;
    liblnk_error_t* error = nullptr;
    if (liblnk_file_initialize(&file, &error) != 1) {
        if (error) liblnk_error_free(&error);
        return {};
    }
    std::string target;
    if (liblnk_file_open(file, hostFile.c_str(), LIBLNK_OPEN_READ, &error) == 1) {
        target =
            readString(file, liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
        if (target.empty()) {
            target = readString(file, liblnk_file_get_utf8_environment_variables_location_size,
                                liblnk_file_get_utf8_environment_variables_location);
            if (fromEnvironment) *fromEnvironment = !target.empty();
        }
        if (target.empty())
            target = readString(file, liblnk_file_get_utf8_network_path_size,
                                liblnk_file_get_utf8_network_path);
        liblnk_file_close(file, nullptr);
    }
    if (error) liblnk_error_free(&error);
    liblnk_file_free(&file, nullptr);
    return target;
}

}  // namespace brisko
