#include <unistd.h>

#include "agent/platform/platform.h"

namespace omvar::platform {

int process_id() { return static_cast<int>(getpid()); }

int change_directory(const char* path) { return chdir(path) == 0 ? 0 : -1; }

}  // namespace omvar::platform
