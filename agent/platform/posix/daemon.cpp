#include <signal.h>

#include "agent/platform/daemon.h"

namespace omvar::platform {

namespace {

std::atomic<int>* stop_target = nullptr;
static_assert(std::atomic<int>::is_always_lock_free, "the run flag is written from a signal handler");

extern "C" void on_stop_signal(int) {
    if (stop_target != nullptr) {
        stop_target->store(0);
    }
}

}  // namespace

void install_stop_signals(std::atomic<int>* run_flag) {
    stop_target = run_flag;

    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    // No SA_RESTART: the one-second sleep must end when the signal arrives.
    stop.sa_flags = 0;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGHUP, &ignore, nullptr);
    sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace omvar::platform
