#include "agent/cron/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "agent/platform/platform.h"

namespace omvar::cron {

namespace {

// The message, "\r\n" and the NUL.
constexpr std::size_t kMessageRoom = kDebugLineSize - 3;

// How a byte appears in a line: control bytes, which a file name may hold,
// would otherwise start a line of their own (a forged "found" line) or drive
// the reader's terminal. Returns the length written to out (at most 4).
std::size_t shown(unsigned char c, char* out) {
    if (c == '\n' || c == '\t') {
        out[0] = '\\';
        out[1] = c == '\n' ? 'n' : 't';
        return 2;
    }
    if (c < 0x20 || c == 0x7f) {
        static const char kDigits[] = "0123456789abcdef";
        out[0] = '\\';
        out[1] = 'x';
        out[2] = kDigits[c >> 4];
        out[3] = kDigits[c & 15];
        return 4;
    }
    out[0] = static_cast<char>(c);
    return 1;
}

}  // namespace

void debug_log(const char* format, ...) {
    char message[kDebugLineSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) {
        message[0] = '\0';
    }
    // A longer message is cut, never an escape within it, so a "found" line
    // with a long path still says which trigger it was.
    char line[kDebugLineSize];
    std::size_t length = 0;
    for (const char* p = message; *p != '\0'; ++p) {
        char piece[4];
        std::size_t size = shown(static_cast<unsigned char>(*p), piece);
        if (length + size > kMessageRoom) {
            break;
        }
        std::memcpy(line + length, piece, size);
        length += size;
    }
    line[length] = '\r';
    line[length + 1] = '\n';
    line[length + 2] = '\0';
    platform::debug_output(line);
}

}  // namespace omvar::cron
