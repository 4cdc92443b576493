#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "agent/platform/inspect.h"
#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

// Standard error stands in for the debugger output: the same line, with a plain
// line feed for its "\r\n", in one write so that lines never interleave.
void write_to_stderr(const char* line) {
    char text[512];
    std::size_t length = strnlen(line, sizeof text - 1);
    std::memcpy(text, line, length);
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') {
        --length;
        text[length - 1] = '\n';
    }
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = write(STDERR_FILENO, text + done, length - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void system::debug_output(const char* line) { write_to_stderr(line); }

DebugDestination system_debug_destination() { return DebugDestination::kStandardError; }

// There is no debugger-output channel to listen on: whatever keeps the agent's
// standard error (the journal, a terminal) has its lines.
int debug_listen_open(DebugListener* listener, char* reason, std::size_t reason_size) {
    *listener = DebugListener{};
    if (reason != nullptr && reason_size > 0) {
        std::snprintf(reason, reason_size, "the agent writes its lines to its standard error");
    }
    return -1;
}

int debug_listen_next(DebugListener*, unsigned, DebugMessage*) { return -1; }

void debug_listen_close(DebugListener* listener) { *listener = DebugListener{}; }

}  // namespace omvar::platform
