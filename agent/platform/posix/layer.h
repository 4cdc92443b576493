// Rules that more than one part of the POSIX layer must apply the same way.
#pragma once

#include <cstddef>

#include "agent/platform/command_line.h"

namespace omvar::platform {

// The queue that stands for a mailslot: "/" and the last component after the
// last backslash ("\\.\mailslot\omvarbackup" is "/omvarbackup"); false if
// there is none or it would not be a valid queue name.
bool queue_name(const char* mailslot, char* out, std::size_t size);
constexpr std::size_t kQueueNameSize = 256;  // NAME_MAX plus the leading slash

// Splits a Windows command line into arguments; in the program path a backslash
// separates directories, as on Windows, and becomes "/". False when the line
// cannot be split or holds no argument.
bool split_program_command(const char* command_line, CommandLineArgs* args);

}  // namespace omvar::platform
