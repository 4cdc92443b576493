#include "agent/cron/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "agent/platform/platform.h"

namespace omvar::cron {

void debug_log(const char* format, ...) {
    char line[kDebugLineSize];
    // Room for the message, "\r\n" and the NUL; a longer message is cut, so a
    // "found" line with a long path still says which trigger it was.
    constexpr std::size_t kMessageRoom = kDebugLineSize - 2;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, kMessageRoom, format, args);
    va_end(args);
    if (n < 0) {
        line[0] = '\0';
    }
    std::size_t length = std::strlen(line);
    line[length] = '\r';
    line[length + 1] = '\n';
    line[length + 2] = '\0';
    platform::debug_output(line);
}

}  // namespace omvar::cron
