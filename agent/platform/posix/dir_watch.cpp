// Changes of the scan directory, reported by inotify, so that a run-now poll
// need not read a directory of thousands of schedule files to find that no
// trigger has come. Whenever the answer is not certain (also on every file
// system not known to report each change) the poll lists the directory as it
// always did.
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/posix/layer.h"
#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

struct Watch {
    int fd;        // the inotify instance, -1 without one
    bool armed;    // a watch on path is in place and its queue was drained
    bool settled;  // a listing after arming found nothing
    dev_t device;  // what path named when it was armed
    ino_t inode;
    char path[base::kPathSize];
};

Watch watch = {-1, false, false, 0, 0, {}};

// Whether dir lies on a file system whose every change reaches inotify here.
bool watch_suffices(const char* dir) {
    struct statfs fs {};
    return statfs(dir, &fs) == 0 && file_system_reports_every_change(static_cast<unsigned long>(fs.f_type));
}

void drop() {
    if (watch.fd >= 0) {
        close(watch.fd);
    }
    watch.fd = -1;
    watch.armed = false;
    watch.settled = false;
}

// The events since the last call; true when one of them may have brought an
// entry with the extension, the queue overflowed, or the watch itself ended
// (the directory removed, moved, unmounted or its permissions changed).
bool drain(const char* extension) {
    bool changed = false;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = read(watch.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // EAGAIN: the queue is empty. Any other failure is a doubt.
            if (n == 0 || errno != EAGAIN) {
                drop();
                return true;
            }
            return changed;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) !=
                0) {
                drop();
                return true;
            }
            if (event->len == 0 || base::ends_with_ignoring_case(event->name, extension)) {
                changed = true;  // the directory's own attributes, or a candidate
            }
        }
    }
}

bool same_directory(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A watch on dir with an empty queue; false when none can be had.
bool arm(const char* dir, const char* extension) {
    std::size_t length = std::strlen(dir);
    struct stat before {};
    if (length >= sizeof watch.path || stat(dir, &before) != 0) {
        drop();
        return false;
    }
    if (watch.armed && (std::strcmp(watch.path, dir) != 0 || before.st_dev != watch.device ||
                        before.st_ino != watch.inode)) {
        drop();
    }
    if (watch.armed) {
        drain(extension);
        return watch.armed;
    }
    if (!watch_suffices(dir)) {
        return false;
    }
    if (watch.fd < 0) {
        watch.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch.fd < 0) {
            return false;
        }
    }
    constexpr std::uint32_t kEvents =
        IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    // The path must name the same directory before and after the watch is
    // added, or the watch may be on another one.
    struct stat after {};
    if (inotify_add_watch(watch.fd, dir, kEvents) < 0 || stat(dir, &after) != 0 ||
        !same_directory(before, after)) {
        drop();
        return false;
    }
    watch.device = after.st_dev;
    watch.inode = after.st_ino;
    std::memcpy(watch.path, dir, length + 1);
    watch.armed = true;
    drain(extension);
    return watch.armed;
}

}  // namespace

bool system::dir_watch_unchanged(const char* dir, const char* extension) {
    if (watch.settled && std::strcmp(watch.path, dir) == 0 && !drain(extension)) {
        // The path may now name another directory (a parent renamed, a mount).
        struct stat st {};
        if (stat(dir, &st) == 0 && st.st_dev == watch.device && st.st_ino == watch.inode) {
            return true;
        }
    }
    watch.settled = false;
    arm(dir, extension);
    return false;
}

void system::dir_watch_settle(const char* dir) {
    if (watch.armed && std::strcmp(watch.path, dir) == 0) {
        watch.settled = true;
    }
}

void system::dir_watch_forget() { watch.settled = false; }

// Only file systems that this kernel alone changes: every creation or rename in
// one of their directories passes through this machine's VFS, and so produces
// the inotify event the watch waits for. Everywhere else a change can come
// without an event, and a trigger would wait for the next minute tick's
// listing: remote and cluster file systems (NFS, SMB, 9P, Ceph, AFS, GFS2,
// OCFS2: other machines write them), FUSE (its server may change what it shows
// without telling the kernel), overlayfs (its lower and upper directories can
// be written directly, without an event on the merged one), hypervisors'
// shared folders (the host writes them), and any file system not named here.
bool file_system_reports_every_change(unsigned long type) {
    switch (type) {
        case EXT4_SUPER_MAGIC:   // ext2, ext3 and ext4 (one number): a local disk only this kernel writes
        case XFS_SUPER_MAGIC:    // a local disk only this kernel writes
        case BTRFS_SUPER_MAGIC:  // the same, every subvolume and snapshot mount included
        case F2FS_SUPER_MAGIC:   // a local flash disk only this kernel writes
        case TMPFS_MAGIC:        // this kernel's own memory
            return true;
        default:
            return false;
    }
}

}  // namespace omvar::platform
