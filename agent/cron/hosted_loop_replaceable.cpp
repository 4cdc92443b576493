#include "agent/cron/hosted_loop.h"
#include "agent/cron/tick_loop.h"

namespace omvar::cron {

namespace {
HostedLoop replaced = nullptr;
}  // namespace

HostedLoop hosted_loop() { return replaced != nullptr ? replaced : cron_run; }

void replace_hosted_loop(HostedLoop loop) { replaced = loop; }

}  // namespace omvar::cron
