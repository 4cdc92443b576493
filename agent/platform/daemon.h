// Hosting the agent as a foreground daemon on POSIX systems: stop signals and
// service-manager readiness. Used only by the POSIX process entry.
#pragma once

#include <atomic>

namespace omvar::platform {

// SIGTERM and SIGINT store 0 in *run_flag and interrupt a sleep; SIGHUP and SIGPIPE
// are ignored.
void install_stop_signals(std::atomic<int>* run_flag);

// Tell a service manager (systemd, when NOTIFY_SOCKET is set) about the loop.
void notify_ready();
void notify_stopping();

}  // namespace omvar::platform
