// What the agent does at each tick: the minute's work, or a run-now poll.
#pragma once

namespace omvar::cron {

// Minute field of the last minute tick; -1 before the first.
extern int last_minute;

void on_tick();
void poll_run_now();

}  // namespace omvar::cron
