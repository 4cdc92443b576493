// The agent's one diagnostic output: a formatted line to the system debugger output.
#pragma once

#include <cstddef>

namespace omvar::cron {

constexpr std::size_t kDebugLineSize = 256;

// How the reader of the lines takes bytes above 127.
enum class LineEncoding {
    kUtf8,          // standard error on Linux: the journal, a terminal
    kAnsiCodePage,  // the Windows debugger output: names are in the ANSI code page
};

// The line for a message, ending in "\r\n". Control bytes are written escaped
// (\n, \t, \xNN) so that no name can start a line of its own or drive the
// reader's terminal. For kUtf8 so is every byte that is not part of valid
// UTF-8, and every byte of a C1 control character (U+0080 to U+009F, U+0085
// a line break among them) or of U+2028 and U+2029: the line is then valid
// UTF-8 and one line for every reader. kAnsiCodePage keeps bytes above 127 as
// they are. The message is cut to what fits, never within an escape or a
// character.
void format_debug_line(const char* message, LineEncoding encoding, char (&line)[kDebugLineSize]);

// printf-style; the message is written as format_debug_line gives it, in the
// encoding of the platform's debug output.
void debug_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace omvar::cron
