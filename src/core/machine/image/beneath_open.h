#pragma once
// Opening host files strictly below the machine folder. Every operation of the
// image backend acts through descriptors opened this way, so that a folder
// swapped for a link between a check and the act cannot carry it elsewhere:
// no symbolic link is followed on the way, at any step.
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace brisko::image {

// Opens rel (a path relative to rootFd without ".." components; "." for
// rootFd's folder itself) with flags, refusing any symbolic link: openat2
// with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it, else
// O_NOFOLLOW at every step. -1 with errno set on failure.
int openBeneath(int rootFd, std::string_view rel, int flags, mode_t mode = 0);

// A folder entry held by its open parent folder.
struct HeldEntry {
    UniqueFd dir;
    std::string name;
};

// True when the entry is still the file that st describes (same device,
// inode and type; a link is not followed).
bool sameEntry(int dirFd, const std::string& name, const struct stat& st);

// A fresh name beside `name` for a temporary file ("name.~1a2b3c4d.tmp").
std::string temporaryName(std::string_view name);

}  // namespace brisko::image
