// The agent's one diagnostic output: a formatted line to the system debugger output.
#pragma once

#include <cstddef>

namespace omvar::cron {

constexpr std::size_t kDebugLineSize = 256;

// printf-style; control bytes in the message are written escaped (\n, \t,
// \xNN) and the message is cut to what fits in the line with its "\r\n".
void debug_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace omvar::cron
