// Hosting the agent as a foreground daemon on POSIX systems: stop signals and
// service-manager readiness. Used only by the POSIX process entry.
#pragma once

#include <atomic>

namespace omvar::platform {

// SIGTERM and SIGINT store 0 in *run_flag and interrupt a sleep; SIGHUP and SIGPIPE
// are ignored.
void install_stop_signals(std::atomic<int>* run_flag);

// Sends `state` (such as "READY=1") as one datagram to the service manager's
// socket named by NOTIFY_SOCKET: a file-system path, or an abstract address when
// it begins with "@". Never blocks. 0 when sent; -1 when the variable is absent
// or unusable or the manager does not take the message, which the agent ignores.
int notify_service_manager(const char* state);

// Tell a service manager (systemd, when NOTIFY_SOCKET is set) about the loop.
void notify_ready();
void notify_stopping();

}  // namespace omvar::platform
