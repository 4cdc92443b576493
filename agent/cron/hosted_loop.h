// The loop every hosting mode runs. The shipped programs link
// hosted_loop_fixed.cpp (always cron_run); the test programs link
// hosted_loop_replaceable.cpp, which lets a test of the modes whose loop never
// ends by itself put a stand-in there.
#pragma once

#include <atomic>

namespace omvar::cron {

using HostedLoop = void (*)(const std::atomic<int>* run_flag);

HostedLoop hosted_loop();

// Test programs only: nullptr restores cron_run.
void replace_hosted_loop(HostedLoop loop);

}  // namespace omvar::cron
