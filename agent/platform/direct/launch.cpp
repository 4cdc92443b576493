// The shipped programs' process start: the system's own.
#include "agent/platform/system.h"

namespace omvar::platform {

int launch_process(const LaunchSpec& launch_spec) { return system::launch_process(launch_spec); }

}  // namespace omvar::platform
