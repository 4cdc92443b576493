// The system services a test may stand in for, as one table: the clock and the
// sleep, the zone, the debugger output, process start, the channel, the
// directory-change watch and the service host. Every call of the agent reaches
// them through the table in force (system_in_force). The shipped programs link
// system_fixed.cpp, where that is always the system's own; the test programs
// link system_replaceable.cpp, which adds replace_system. Only the platform
// layer and the test support include this header.
#pragma once

#include <cstddef>
#include <ctime>

#include "agent/platform/platform.h"
#include "agent/platform/service_host.h"

namespace omvar::platform {

struct ClockOps {
    Seconds (*now)();
    bool (*to_local)(Seconds t, std::tm* out);  // false if the time cannot be converted
    void (*sleep_ms)(unsigned milliseconds);
    void (*refresh_zone)();
    bool (*zone_name)(char* out, std::size_t size);
};

struct LaunchOps {
    int (*launch)(const LaunchSpec& launch_spec);
};

struct MailslotOps {
    int (*open)(const char* name, MailslotHandle* handle);
    int (*write)(MailslotHandle handle, const void* data, std::size_t length);
    void (*close)(MailslotHandle handle);
};

struct DirWatchOps {
    bool (*unchanged)(const char* dir, const char* extension);
    void (*settle)(const char* dir);
    void (*forget)();
};

struct SystemOps {
    const ClockOps* clock;
    void (*debug_output)(const char* line);
    const LaunchOps* launch;
    const MailslotOps* mailslot;
    const DirWatchOps* dir_watch;
    const HostOps* host;  // nullptr where the platform has no service host
};

// The system's own, from the POSIX or Win32 layer.
extern const ClockOps kSystemClock;
extern const LaunchOps kSystemLaunch;
extern const MailslotOps kSystemMailslot;
extern const DirWatchOps kSystemDirWatch;
extern const HostOps kSystemHost;  // Windows only
void system_debug_output(const char* line);
const SystemOps& system_ops();

// The table every call goes through.
const SystemOps& system_in_force();

// Test programs only (system_replaceable.cpp): puts ops in force, nullptr the
// system's again. The table must live until it is replaced.
void replace_system(const SystemOps* ops);

}  // namespace omvar::platform
