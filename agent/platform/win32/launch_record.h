// The arguments of CreateProcessA for one companion program start, prepared apart
// from the call so that the Win32 tests can check the parts that Wine does not
// show (the priority class has no effect there).
#pragma once

#include <windows.h>

#include "agent/platform/platform.h"

namespace omvar::platform {

constexpr std::size_t kLaunchTextSize = 2048;
constexpr std::size_t kDesktopNameSize = 64;

struct LaunchRecord {
    char command_line[kLaunchTextSize];  // CreateProcessA may write into it
    char desktop[kDesktopNameSize];
    DWORD creation_flags;
    STARTUPINFOA startup;
};

// False if the command line or desktop name does not fit.
bool prepare_launch(const LaunchSpec& launch_spec, LaunchRecord* record);

}  // namespace omvar::platform
