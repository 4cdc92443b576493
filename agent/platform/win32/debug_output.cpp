#include <windows.h>

#include "agent/platform/system.h"

namespace omvar::platform {

void system::debug_output(const char* line) { OutputDebugStringA(line); }

}  // namespace omvar::platform
