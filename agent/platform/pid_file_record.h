// The part of acquiring a pid file that every platform shares.
#pragma once

#include "agent/platform/platform.h"

namespace omvar::platform {

// Resets the record (not acquired, no holder) and copies the path into it.
// False when the path does not fit the record.
bool pid_file_begin(const char* path, PidFile* pid_file, int* holder_pid);

}  // namespace omvar::platform
