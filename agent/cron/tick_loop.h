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

void align_next_tick();
int wait_for_tick(const std::atomic<int>* run_flag);
void resync_clock();

// Room for the pid file path of any accepted install directory, so that every
// agent has its pid file (and, where the platform locks it, its one-agent lock).
constexpr std::size_t kPidPathSize = kPathSize + 32;

// "<install_dir>/etc/omvarcrond.pid"; false if it does not fit in size bytes.
bool format_pid_file_path(char* out, std::size_t size);

}  // namespace omvar::cron
