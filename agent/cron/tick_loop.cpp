#include "agent/cron/tick_loop.h"

#include "agent/base/text.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"

namespace omvar::cron {

platform::Seconds next_tick;

namespace {

constexpr platform::Seconds kResyncBand = 60;
constexpr unsigned kSleepStepMs = 1000;

platform::PidFile pid_file;

}  // namespace

bool format_pid_file_path(const char* install_dir, char* out, std::size_t size) {
    return base::format_checked(out, size, "%s%s", install_dir, base::kPidFileSuffix);
}

platform::Seconds minute_boundary_after(platform::Seconds t) {
    std::tm local{};
    platform::clock_to_local(t, &local);
    return t + 60 - (local.tm_sec % 60);
}

platform::PidLock acquire_pid_file(int* holder_pid) {
    *holder_pid = 0;
    if (pid_file.acquired) {
        return platform::PidLock::kAcquired;
    }
    char path[kPidPathSize];
    if (!format_pid_file_path(agent_settings.install_dir, path, sizeof path)) {
        return platform::PidLock::kUnavailable;
    }
    return platform::pid_file_acquire(path, &pid_file, holder_pid);
}

void align_next_tick() { next_tick = minute_boundary_after(platform::clock_now()); }

void resync_clock() {
    platform::Seconds d = next_tick - platform::clock_now();
    if (d < -kResyncBand || d > kResyncBand) {
        align_next_tick();
    }
}

int wait_for_tick(const std::atomic<int>* run_flag) {
    resync_clock();
    for (;;) {
        platform::Seconds d = next_tick - platform::clock_now();
        int running = run_flag->load();
        if (running == 0 || d <= 0) {
            return running;
        }
        // One second at a time, so that a stop request or a clock change is seen
        // within about a second.
        platform::sleep_ms(kSleepStepMs);
        resync_clock();
    }
}

void cron_run_with(const std::atomic<int>* run_flag, TickAction action) {
    // Best effort: without its pid file the agent still runs.
    int holder = 0;
    if (acquire_pid_file(&holder) == platform::PidLock::kAcquired) {
        platform::pid_file_write(&pid_file, platform::process_id());
    }

    align_next_tick();
    while (wait_for_tick(run_flag) != 0) {
        action();
        next_tick += kTickSeconds;
    }

    platform::pid_file_release(&pid_file);
}

void cron_run(const std::atomic<int>* run_flag) { cron_run_with(run_flag, on_tick); }

}  // namespace omvar::cron
