// Placeholder until the POSIX launcher lands: every start fails.
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {
int launch_unavailable(const LaunchSpec&) { return -1; }
const LaunchOps kSystemLaunch = {launch_unavailable};
}  // namespace

const LaunchOps& system_launch_ops() { return kSystemLaunch; }

}  // namespace omvar::platform
