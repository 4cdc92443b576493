// Splits Windows command-line text into argument strings, the way a Windows
// program's C runtime does: the Windows layer finds the program a command line
// starts by it. Programs started from an argv never go through it (a POSIX
// path's backslashes and quotes are its own bytes). Pure code: no
// operating-system headers, no allocation.
#pragma once

#include <cstddef>

namespace omvar::platform {

constexpr std::size_t kMaxArgs = 64;
constexpr std::size_t kArgTextSize = 2048;

// argv[0..count-1] point into text; argv[count] is nullptr. The pointers refer
// to the record itself, so split into the record that will be used (never copy it).
struct CommandLineArgs {
    int count;
    bool truncated;  // arguments or bytes were dropped for want of room
    char* argv[kMaxArgs + 1];
    char text[kArgTextSize];
};

// Reads at most length bytes of line, stopping early at a NUL byte.
//
// The program name (first token) ends at the first blank or tab outside double
// quotes; quotes in it only group and are dropped, backslashes are taken as they
// are. Every later argument follows the runtime's rules: blanks and tabs separate
// arguments outside quotes; 2n backslashes before a quote give n backslashes and
// the quote opens or closes a quoted part; 2n+1 backslashes before a quote give n
// backslashes and a literal quote; other backslashes are literal; "" inside a
// quoted part is one literal quote and the part goes on. Leading blanks are
// skipped; an empty or blank text gives no arguments at all.
//
// Returns false (and sets truncated) when the text did not fit; the record then
// holds the arguments that did fit, each NUL-terminated.
bool split_command_line(const char* line, std::size_t length, CommandLineArgs* out);

// The same for a NUL-terminated text.
bool split_command_line(const char* line, CommandLineArgs* out);

}  // namespace omvar::platform
