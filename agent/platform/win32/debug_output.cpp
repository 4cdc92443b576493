#include <windows.h>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

DebugSink active_sink = nullptr;

}  // namespace

void set_debug_sink(DebugSink sink) { active_sink = sink; }

void debug_output(const char* line) {
    if (active_sink != nullptr) {
        active_sink(line);
        return;
    }
    OutputDebugStringA(line);
}

}  // namespace omvar::platform
