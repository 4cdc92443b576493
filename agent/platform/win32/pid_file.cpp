#include <windows.h>

#include <cstdio>

#include "agent/platform/platform.h"

namespace omvar::platform {

// A text-mode stream: the line ends in "\r\n" in the file, as Windows tools expect.
int pid_file_write(const char* path, int pid) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        return -1;
    }
    int written = std::fprintf(file, "%d\n", pid);
    int closed = std::fclose(file);
    return written > 0 && closed == 0 ? 0 : -1;
}

void pid_file_remove(const char* path) { DeleteFileA(path); }

// On Windows the service manager runs at most one instance of the service, and
// the agent has never kept a second stand-alone one out; nothing to lock.
PidLock pid_file_lock(const char*, int* holder_pid) {
    *holder_pid = 0;
    return PidLock::kAcquired;
}

}  // namespace omvar::platform
