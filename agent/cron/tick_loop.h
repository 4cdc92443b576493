// The 3-second tick clock anchored at minute boundaries, and the main loop.
#pragma once

#include <atomic>
#include <cstddef>

#include "agent/cron/settings.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

constexpr int kTickSeconds = 3;

// The time of the next tick; while a tick runs, the time of that tick.
extern platform::Seconds next_tick;

using TickAction = void (*)();

// Runs on_tick every 3 seconds until *run_flag is 0.
void cron_run(const std::atomic<int>* run_flag);
// The same loop with another tick action (used by tests of the clock).
void cron_run_with(const std::atomic<int>* run_flag, TickAction action);

// The grid's anchor: the first local minute boundary after t, a full minute
// later when t lies on one.
platform::Seconds minute_boundary_after(platform::Seconds t);

void align_next_tick();
int wait_for_tick(const std::atomic<int>* run_flag);
void resync_clock();

using base::kPidPathSize;

// "<install_dir>/etc/omvarcrond.pid"; false if it does not fit in size bytes.
bool format_pid_file_path(const char* install_dir, char* out, std::size_t size);

// Takes the agent's pid file for the install directory (and, where the
// platform locks it, the one-agent lock). The entry calls it before the loop
// where a second agent must be kept out; cron_run takes it itself when nobody
// did, writes the pid through it and releases it when the loop ends. Taking
// it again while held answers kAcquired.
platform::PidLock acquire_pid_file(int* holder_pid);

}  // namespace omvar::cron
