#include "agent/cron/entry_win32.h"

#include "agent/cron/command_text.h"
#include "agent/cron/hosting.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/service_host.h"

namespace omvar::cron {

int win32_main() {
    // The install directory is the rest of the command line, verbatim.
    return agent_main(command_line_text(platform::process_command_line()), cron_run);
}

}  // namespace omvar::cron
