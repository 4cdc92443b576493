#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

// The descriptor that holds the instance lock, kept open while the agent runs.
int locked_fd = -1;
char locked_path[1024];

// Opens the pid file for writing without ever following a symlink or writing
// into a file that is not a plain file of its own (the etc directory may be
// writable by less trusted programs). Anything else at the path is replaced.
int open_pid_file(const char* path) {
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path, flags, 0644);
    if (fd >= 0) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
            return fd;
        }
        close(fd);
    } else if (errno != ELOOP && errno != ENXIO && errno != EISDIR && errno != EWOULDBLOCK) {
        return -1;
    }
    if (unlink(path) != 0 && errno != ENOENT) {
        return -1;
    }
    return open(path, flags | O_EXCL, 0644);
}

int write_pid(int fd, int pid) {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%d\n", pid);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) {
        return -1;
    }
    if (ftruncate(fd, 0) != 0) {
        return -1;
    }
    return pwrite(fd, text, static_cast<std::size_t>(n), 0) == n ? 0 : -1;
}

int read_pid(int fd) {
    char text[32] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::atoi(text) : 0;
}

bool is_locked_path(const char* path) { return locked_fd >= 0 && std::strcmp(path, locked_path) == 0; }

}  // namespace

PidLock pid_file_lock(const char* path, int* holder_pid) {
    *holder_pid = 0;
    if (std::strlen(path) >= sizeof locked_path) {
        return PidLock::kUnavailable;
    }
    // Open without creating first: a running agent's file must not be replaced.
    int fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *holder_pid = read_pid(fd);
        close(fd);
        return PidLock::kHeldByOther;
    }
    if (fd >= 0) {
        close(fd);
    }
    fd = open_pid_file(path);
    if (fd < 0) {
        return PidLock::kUnavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another agent created the file between our two opens.
        *holder_pid = read_pid(fd);
        close(fd);
        return PidLock::kHeldByOther;
    }
    if (locked_fd >= 0) {
        close(locked_fd);
    }
    locked_fd = fd;
    std::memcpy(locked_path, path, std::strlen(path) + 1);
    return PidLock::kAcquired;
}

int pid_file_write(const char* path, int pid) {
    if (is_locked_path(path)) {
        return write_pid(locked_fd, pid);
    }
    int fd = open_pid_file(path);
    if (fd < 0) {
        return -1;
    }
    int result = write_pid(fd, pid);
    close(fd);
    return result;
}

void pid_file_remove(const char* path) {
    unlink(path);
    if (is_locked_path(path)) {
        close(locked_fd);
        locked_fd = -1;
    }
}

}  // namespace omvar::platform
