// The text that follows the program name in a Windows command line: what the
// agent takes as its install directory.
#pragma once

namespace omvar::cron {

// A program name that begins with a double quote runs to the next double quote,
// which goes with it (to the end if there is none); otherwise it runs up to the
// first blank or control character. The blanks and control characters after it
// are skipped too; the rest, trailing blanks and any quotes included, is the
// result (a pointer into command_line).
const char* command_line_text(const char* command_line);

}  // namespace omvar::cron
