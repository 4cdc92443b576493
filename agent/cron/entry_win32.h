// The process entry on Windows: the command-line text after the program name,
// the system's service host, and the hosting modes of agent/cron/hosting.
#pragma once

namespace omvar::cron {

// Returns the process exit code.
int win32_main();

}  // namespace omvar::cron
