#include <windows.h>

#include <cstdio>

#include "agent/platform/pid_file_record.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

// On Windows the service manager runs at most one instance of the service, and
// the agent has never kept a second stand-alone one out: nothing is locked, and
// acquiring only remembers the path.
PidLock pid_file_acquire(const char* path, PidFile* pid_file, int* holder_pid) {
    if (!pid_file_begin(path, pid_file, holder_pid)) {
        return PidLock::kUnavailable;
    }
    pid_file->acquired = true;
    return PidLock::kAcquired;
}

// A text-mode stream: the line ends in "\r\n" in the file, as Windows tools expect.
int pid_file_write(PidFile* pid_file, int pid) {
    if (!pid_file->acquired) {
        return -1;
    }
    std::FILE* file = std::fopen(pid_file->path, "w");
    if (file == nullptr) {
        return -1;
    }
    int written = std::fprintf(file, "%d\n", pid);
    int closed = std::fclose(file);
    return written > 0 && closed == 0 ? 0 : -1;
}

void pid_file_release(PidFile* pid_file) {
    if (pid_file->acquired) {
        DeleteFileA(pid_file->path);
        pid_file->acquired = false;
    }
}

}  // namespace omvar::platform
