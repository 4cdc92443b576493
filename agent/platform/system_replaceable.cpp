// The test programs: a test may put its own table in force.
#include "agent/platform/system_ops.h"

namespace omvar::platform {

namespace {
const SystemOps* replaced = nullptr;
}  // namespace

const SystemOps& system_in_force() { return replaced != nullptr ? *replaced : system_ops(); }

void replace_system(const SystemOps* ops) { replaced = ops; }

}  // namespace omvar::platform
