#include <direct.h>
#include <windows.h>

#include "agent/platform/platform.h"

namespace omvar::platform {

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

int change_directory(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

}  // namespace omvar::platform
