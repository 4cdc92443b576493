// Process start while a Recorder lives: recorded, and made only when it passes
// calls on to the system. Otherwise the system's.
#include "agent/platform/system.h"
#include "test_support.h"

namespace omvar::platform {

int launch_process(const LaunchSpec& launch_spec) {
    test::Recorder* recorder = test::Recorder::active();
    return recorder != nullptr ? recorder->launch(launch_spec) : system::launch_process(launch_spec);
}

}  // namespace omvar::platform
