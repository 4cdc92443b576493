// The shipped programs: every call goes to the system, and nothing can replace it.
#include "agent/platform/system_ops.h"

namespace omvar::platform {

const SystemOps& system_in_force() { return system_ops(); }

}  // namespace omvar::platform
