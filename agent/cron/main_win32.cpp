// Built for the graphical subsystem: no console window, and a command prompt that
// starts the agent does not wait for it.
#include <windows.h>

#include "agent/cron/entry_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return omvar::cron::win32_main(); }
