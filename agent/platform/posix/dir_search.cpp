// Directory listing for the scan directory: entries in the order the system
// returns them, "." and ".." included, as the Windows search gives them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

// The portable record keeps the stream as an integer handle.
DIR* dir_of(const DirSearch* search) {
    return reinterpret_cast<DIR*>(search->handle);  // NOLINT(performance-no-int-to-ptr)
}

// A link to a directory counts as one (as a directory junction does on
// Windows), so it is never opened as a file.
bool is_directory_entry(DIR* dir, const dirent* d) {
    if (d->d_type == DT_DIR) {
        return true;
    }
    if (d->d_type != DT_UNKNOWN && d->d_type != DT_LNK) {
        return false;
    }
    struct stat st {};
    return fstatat(dirfd(dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// The next entry that passes the filter; names that do not fit an entry are
// passed over (they cannot occur with the system's own name limit).
int read_next(DirSearch* search, DirEntry* entry) {
    DIR* dir = dir_of(search);
    for (;;) {
        const dirent* d = readdir(dir);
        if (d == nullptr) {
            return -1;
        }
        if (search->extension_filter != nullptr &&
            !base::ends_with_ignoring_case(d->d_name, search->extension_filter)) {
            continue;
        }
        std::size_t n = std::strlen(d->d_name);
        if (n >= sizeof entry->name) {
            continue;
        }
        std::memcpy(entry->name, d->d_name, n + 1);
        entry->directory = is_directory_entry(dir, d);
        return 0;
    }
}

}  // namespace

int dir_first(const char* dir, const char* extension_filter, DirSearch* search, DirEntry* entry) {
    search->open = false;
    search->handle = 0;
    search->extension_filter = extension_filter;
    search->listed = false;
    // opendir opens its descriptor close-on-exec, so it never reaches a child.
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return -1;
    }
    search->handle = reinterpret_cast<std::intptr_t>(d);
    search->open = true;
    search->listed = true;
    if (read_next(search, entry) != 0) {
        dir_close(search);
        return -1;
    }
    return 0;
}

int dir_next(DirSearch* search, DirEntry* entry) {
    if (!search->open) {
        return -1;
    }
    return read_next(search, entry);
}

void dir_close(DirSearch* search) {
    if (search->open) {
        closedir(dir_of(search));
        search->open = false;
        search->handle = 0;
    }
}

}  // namespace omvar::platform
