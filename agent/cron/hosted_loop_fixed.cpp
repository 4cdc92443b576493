#include "agent/cron/hosted_loop.h"
#include "agent/cron/tick_loop.h"

namespace omvar::cron {

HostedLoop hosted_loop() { return cron_run; }

}  // namespace omvar::cron
