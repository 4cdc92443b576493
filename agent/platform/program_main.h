// The program's own entry, for systems whose entry point the platform layer
// provides (the Windows graphical subsystem's WinMain in agent/platform/win32).
// The program defines it; the platform's entry point calls it.
#pragma once

namespace omvar::platform {

// Returns the process exit code.
int program_main();

}  // namespace omvar::platform
