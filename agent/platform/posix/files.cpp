#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

// Opens read-only without blocking (a FIFO or a device at the path would
// otherwise hang the agent's only thread) and keeps the descriptor only for a
// regular file. O_NONBLOCK stays set: it has no effect on a regular file, so
// clearing it would only cost two more system calls for every file. O_NOCTTY:
// the agent runs as a session leader without a terminal, and a terminal that
// a planted symlink leads to would otherwise become its controlling terminal
// (its ^C then stops the agent), even though the descriptor is closed at once.
int open_regular_fd(const char* path, int extra_flags) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extra_flags);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::FILE* open_regular_file(const char* path) {
    int fd = open_regular_fd(path, 0);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

int file_open_regular(const char* path) { return open_regular_fd(path, 0); }

FileStatus file_status(const char* path) {
    struct stat st {};
    if (stat(path, &st) == 0) {
        return FileStatus::kExists;
    }
    return errno == ENOENT ? FileStatus::kMissing : FileStatus::kError;
}

// Owner-only, never through a symlink and never an existing file: the key file
// holds key material, and the etc directory may be writable by others.
int file_create_exclusive(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : -1;
}

// The key file is read by a process that may run as root: a symlink planted at
// its path must not pull another file's bytes into the key, and a FIFO must not
// block the agent.
int file_open_read(const char* path) { return open_regular_fd(path, O_NOFOLLOW); }

int file_seek(int fd, long offset) {
    if (offset < 0) {
        return -1;
    }
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) ? 0 : -1;
}

long file_read(int fd, void* data, std::size_t length) {
    if (length > static_cast<std::size_t>(LONG_MAX)) {
        length = static_cast<std::size_t>(LONG_MAX);
    }
    for (;;) {
        ssize_t n = read(fd, data, length);
        if (n >= 0 || errno != EINTR) {
            return n >= 0 ? static_cast<long>(n) : -1;
        }
    }
}

long file_write(int fd, const void* data, std::size_t length) {
    if (length > static_cast<std::size_t>(LONG_MAX)) {
        length = static_cast<std::size_t>(LONG_MAX);
    }
    for (;;) {
        ssize_t n = write(fd, data, length);
        if (n >= 0 || errno != EINTR) {
            return n >= 0 ? static_cast<long>(n) : -1;
        }
    }
}

void file_close(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

int delete_file(const char* path) { return unlink(path) == 0 ? 0 : -1; }

// Bytes pass unchanged already.
int set_binary_mode(std::FILE*) { return 0; }

}  // namespace omvar::platform
