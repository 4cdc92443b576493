// The entry point of a program built for the graphical subsystem: no console
// window, and a command prompt that starts the program does not wait for it.
#include <windows.h>

#include "agent/platform/program_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return omvar::platform::program_main(); }
