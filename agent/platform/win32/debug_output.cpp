#include <windows.h>

#include "agent/platform/system_ops.h"

namespace omvar::platform {

void system_debug_output(const char* line) { OutputDebugStringA(line); }

}  // namespace omvar::platform
