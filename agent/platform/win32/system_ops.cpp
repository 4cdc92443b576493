#include "agent/platform/system_ops.h"

namespace omvar::platform {

namespace {
const SystemOps kSystem = {&kSystemClock,    system_debug_output, &kSystemLaunch,
                           &kSystemMailslot, &kSystemDirWatch,    &kSystemHost};
}  // namespace

const SystemOps& system_ops() { return kSystem; }

}  // namespace omvar::platform
