// The system with the engine's channel and the companion starts doing nothing
// (every call succeeds), so that a benchmark measures the agent's own work.
#pragma once

#include <cstddef>

#include "agent/platform/system_ops.h"

namespace omvar::bench {

inline int null_writes = 0;  // messages written to the channel

inline int null_open(const char*, platform::MailslotHandle* handle) {
    *handle = 1;
    return 0;
}
inline int null_write(platform::MailslotHandle, const void*, std::size_t) {
    ++null_writes;
    return 0;
}
inline void null_close(platform::MailslotHandle) {}
inline int null_launch(const platform::LaunchSpec&) { return 0; }

inline const platform::MailslotOps kNullMailslot = {null_open, null_write, null_close};
inline const platform::LaunchOps kNullLaunch = {null_launch};
inline const platform::SystemOps kNullSystem = {
    &platform::kSystemClock, platform::system_debug_output, &kNullLaunch,
    &kNullMailslot,          &platform::kSystemDirWatch,    nullptr};

}  // namespace omvar::bench
