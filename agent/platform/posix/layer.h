// Rules that more than one part of the POSIX layer must apply the same way.
#pragma once

#include <cstddef>

#include "agent/base/sizes.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

// The queue that stands for a mailslot: "/" and the last component after the
// last backslash ("\\.\mailslot\omvarbackup" is "/omvarbackup"); false if
// there is none or it would not be a valid queue name.
bool queue_name(const char* mailslot, char* out, std::size_t size);
constexpr std::size_t kQueueNameSize = 256;  // NAME_MAX plus the leading slash

// Whether inotify reports every change made on this machine to a directory on a
// file system of this type (statfs's f_type): only then may a poll skip its
// listing when no event came.
bool file_system_reports_every_change(unsigned long type);

// The path of the program a launch starts: program_dir's bytes, "/" and
// program_name, taken as they are (a doubled "/" after a directory that ends in
// one names the same file). False when either is missing or empty, or the path
// does not fit.
constexpr std::size_t kProgramPathSize = base::kPathSize + 64;
bool program_path(const LaunchSpec& launch_spec, char (&out)[kProgramPathSize]);

}  // namespace omvar::platform
