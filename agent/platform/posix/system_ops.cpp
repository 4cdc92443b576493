#include "agent/platform/system_ops.h"

namespace omvar::platform {

namespace {
// No service host: the Windows hosting modes find no platform here.
const SystemOps kSystem = {&kSystemClock,    system_debug_output, &kSystemLaunch,
                           &kSystemMailslot, &kSystemDirWatch,    nullptr};
}  // namespace

const SystemOps& system_ops() { return kSystem; }

}  // namespace omvar::platform
