#include "agent/cron/tick_loop.h"

#include <cstdio>

#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"

namespace omvar::cron {

platform::Seconds next_tick;

namespace {

constexpr platform::Seconds kResyncBand = 60;
constexpr unsigned kSleepStepMs = 1000;

}  // namespace

bool format_pid_file_path(char* out, std::size_t size) {
    int n = std::snprintf(out, size, "%s/etc/omvarcrond.pid", agent_settings.install_dir);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

void align_next_tick() {
    next_tick = platform::clock_now();
    std::tm local{};
    platform::clock_to_local(next_tick, &local);
    next_tick += 60 - (local.tm_sec % 60);
}

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
    char pid_path[kPidPathSize];
    bool have_pid_path = format_pid_file_path(pid_path, sizeof pid_path);
    if (have_pid_path) {
        platform::pid_file_write(pid_path, platform::process_id());
    }

    align_next_tick();
    while (wait_for_tick(run_flag) != 0) {
        action();
        next_tick += kTickSeconds;
    }

    if (have_pid_path) {
        platform::pid_file_remove(pid_path);
    }
}

void cron_run(const std::atomic<int>* run_flag) { cron_run_with(run_flag, on_tick); }

}  // namespace omvar::cron
