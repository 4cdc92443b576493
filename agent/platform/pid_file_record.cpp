#include "agent/platform/pid_file_record.h"

#include <cstring>

namespace omvar::platform {

bool pid_file_begin(const char* path, PidFile* pid_file, int* holder_pid) {
    *holder_pid = 0;
    pid_file->acquired = false;
    pid_file->handle = -1;
    std::size_t length = std::strlen(path);
    if (length >= sizeof pid_file->path) {
        return false;
    }
    std::memcpy(pid_file->path, path, length + 1);
    return true;
}

}  // namespace omvar::platform
