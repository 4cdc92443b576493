// Built for the graphical subsystem; the Win32 layer's WinMain calls this.
#include "agent/cron/entry_win32.h"
#include "agent/platform/program_main.h"

int omvar::platform::program_main() { return omvar::cron::win32_main(); }
