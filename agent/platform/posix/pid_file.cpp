#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "agent/platform/pid_file_record.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

constexpr int kCreateAttempts = 3;

// Opens the pid file for writing without ever following a symlink or writing
// into a file that is not a plain file of its own (the etc directory may be
// writable by less trusted programs). Anything else at the path is replaced;
// a terminal device there never becomes the agent's controlling terminal.
int open_pid_file(const char* path) {
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
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

// True while the path still names the open file: a lock on a file that another
// agent has just deleted or replaced keeps nobody out.
bool names_file(const char* path, int fd) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

int fd_of(const PidFile* pid_file) { return static_cast<int>(pid_file->handle); }

}  // namespace

PidLock pid_file_acquire(const char* path, PidFile* pid_file, int* holder_pid) {
    if (!pid_file_begin(path, pid_file, holder_pid)) {
        return PidLock::kUnavailable;
    }
    path = pid_file->path;
    // Open without creating first: a running agent's file must not be replaced,
    // even when someone has linked it elsewhere.
    int fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (held) {
            *holder_pid = read_pid(fd);
        }
        close(fd);
        if (held) {
            return PidLock::kHeldByOther;
        }
    }
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        fd = open_pid_file(path);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;  // another agent created it between our unlink and create
            }
            return PidLock::kUnavailable;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *holder_pid = read_pid(fd);
            close(fd);
            return PidLock::kHeldByOther;
        }
        if (names_file(path, fd)) {
            pid_file->handle = fd;
            pid_file->acquired = true;
            return PidLock::kAcquired;
        }
        close(fd);
    }
    return PidLock::kUnavailable;
}

int pid_file_write(PidFile* pid_file, int pid) {
    return pid_file->acquired ? write_pid(fd_of(pid_file), pid) : -1;
}

void pid_file_release(PidFile* pid_file) {
    if (!pid_file->acquired) {
        return;
    }
    // Delete while the lock is still held, and only the file it locks.
    int fd = fd_of(pid_file);
    if (names_file(pid_file->path, fd)) {
        unlink(pid_file->path);
    }
    close(fd);
    pid_file->handle = -1;
    pid_file->acquired = false;
}

}  // namespace omvar::platform
