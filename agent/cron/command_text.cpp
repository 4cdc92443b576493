#include "agent/cron/command_text.h"

namespace omvar::cron {

namespace {

// Blank or control character: every byte from 1 to 32, as the Windows start-up
// code compares them (unsigned, so bytes of the ANSI code page above 127 belong
// to the name).
bool is_separator(unsigned char c) { return c != 0 && c <= ' '; }

}  // namespace

const char* command_line_text(const char* command_line) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(command_line);
    if (*p == '"') {
        ++p;
        while (*p != 0 && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p > ' ') {
            ++p;
        }
    }
    while (is_separator(*p)) {
        ++p;
    }
    return reinterpret_cast<const char*>(p);
}

}  // namespace omvar::cron
