// Read-only looks at the install directory, the agent's process and the engine's
// queue, for omvar-zbs status and list.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"
#include "agent/platform/posix/layer.h"

namespace omvar::platform {

namespace {

void set_reason(char* reason, std::size_t size, int error) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", std::strerror(error));
    }
}

}  // namespace

PathInfo path_info(const char* path, char* reason, std::size_t reason_size) {
    PathInfo info{PathKind::kError, 0, true, false, -1, false};
    struct stat link {};
    info.symlink = lstat(path, &link) == 0 && S_ISLNK(link.st_mode);
    struct stat st {};
    if (stat(path, &st) != 0) {
        int error = errno;
        if (error == ENOENT) {
            info.kind = info.symlink ? PathKind::kDangling : PathKind::kMissing;
        }
        set_reason(reason, reason_size, error);
        return info;
    }
    info.kind = S_ISREG(st.st_mode)   ? PathKind::kRegular
                : S_ISDIR(st.st_mode) ? PathKind::kDirectory
                                      : PathKind::kOther;
    info.size = static_cast<long long>(st.st_size);
    info.others_may_access = (st.st_mode & 077) != 0;
    info.owner = static_cast<long>(st.st_uid);
    return info;
}

// The tool may run as a session leader without a terminal too (under a service
// manager, or setsid).
bool can_read_file(const char* path, char* reason, std::size_t reason_size) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        set_reason(reason, reason_size, errno);
        return false;
    }
    close(fd);
    return true;
}

bool directory_writable(const char* path) { return access(path, W_OK | X_OK) == 0; }

bool directory_listable(const char* path, char* reason, std::size_t reason_size) {
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        set_reason(reason, reason_size, errno);
        return false;
    }
    closedir(dir);
    return true;
}

bool program_startable(const LaunchSpec& launch_spec, char* program, std::size_t program_size, char* reason,
                       std::size_t reason_size) {
    static char path[kProgramPathSize];
    if (program_size > 0) {
        program[0] = '\0';
    }
    // Formed as launch_process forms it.
    if (!program_path(launch_spec, path)) {
        set_reason(reason, reason_size, ENAMETOOLONG);
        return false;
    }
    // Only for showing: a path that does not fit is not shown cut, but left out.
    if (program_size > 0 && !base::format_checked(program, program_size, "%s", path)) {
        program[0] = '\0';
    }
    struct stat st {};
    if (stat(path, &st) != 0) {
        set_reason(reason, reason_size, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::snprintf(reason, reason_size, "not a regular file");
        return false;
    }
    if (access(path, X_OK) != 0) {
        set_reason(reason, reason_size, errno);
        return false;
    }
    return true;
}

ProcessState process_state(int pid) {
    if (pid <= 0) {
        return ProcessState::kGone;
    }
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
        return ProcessState::kRunning;
    }
    return errno == ESRCH ? ProcessState::kGone : ProcessState::kUnknown;
}

// Linux lists every lock in /proc/locks: "1: FLOCK ADVISORY WRITE 1234 08:01:5678 0 EOF"
// with the holder's pid and the file's device (hexadecimal) and inode. Reading
// it takes nothing: probing with a lock of our own could make a starting agent
// believe another one runs.
int pid_file_lock_holder(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        return 0;
    }
    std::FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) {
        return -1;
    }
    char line[256];
    int holder = 0;
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16] = {};
        int pid = 0;
        unsigned dev_major = 0, dev_minor = 0;
        unsigned long long inode = 0;
        const char* p = std::strchr(line, ':');
        if (p == nullptr || std::strstr(line, "->") != nullptr) {
            continue;  // a waiting lock request, not a held lock
        }
        if (std::sscanf(p + 1, " %15s %*s %*s %d %x:%x:%llu", kind, &pid, &dev_major, &dev_minor, &inode) ==
                5 &&
            std::strcmp(kind, "FLOCK") == 0 && dev_major == major(st.st_dev) &&
            dev_minor == minor(st.st_dev) && inode == static_cast<unsigned long long>(st.st_ino)) {
            holder = pid;
        }
    }
    std::fclose(locks);
    return holder;
}

ChannelState channel_probe(const char* name, long* owner) {
    *owner = -1;
    char queue[kQueueNameSize];
    if (!queue_name(name, queue, sizeof queue)) {
        return ChannelState::kError;
    }
    mqd_t q = mq_open(queue, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (q == static_cast<mqd_t>(-1)) {
        return errno == ENOENT ? ChannelState::kMissing : ChannelState::kError;
    }
    struct stat st {};
    if (fstat(q, &st) == 0) {
        *owner = static_cast<long>(st.st_uid);
    }
    mq_close(q);
    return ChannelState::kPresent;
}

long current_user() { return static_cast<long>(geteuid()); }

// systemd's unit is the package's, not a registration the agent's tools can judge.
ServiceQuery service_registration(const char*, ServiceRegistration* out, char*, std::size_t) {
    *out = ServiceRegistration{ServiceStart::kOther, false, {}};
    return ServiceQuery::kNotApplicable;
}

}  // namespace omvar::platform
