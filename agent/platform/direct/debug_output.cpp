// The shipped programs' debugger output: the system's own.
#include "agent/platform/system.h"

namespace omvar::platform {

void debug_output(const char* line) { system::debug_output(line); }

}  // namespace omvar::platform
