#include "agent/cron/tick_actions.h"

namespace omvar::cron {

int last_minute = -1;
bool mail_pending = false;

void on_tick() {}

void poll_run_now() {}

}  // namespace omvar::cron
