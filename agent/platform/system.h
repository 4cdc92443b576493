// The system's own side of the agent's replaceable calls: the clock and the
// sleep, the debugger output, process start, the channel, the directory watch
// and, on Windows, the service host. The POSIX and Win32 layers define these.
//
// The agent calls the platform.h names. The shipped programs bind each part to
// these functions directly (agent/platform/direct/, one file a part); a test
// program names in its build the parts it stands in for and links its
// stand-ins there instead, which may still pass a call on to these.
#pragma once

#include <cstddef>
#include <ctime>

#include "agent/platform/platform.h"
#include "agent/platform/service_host.h"

namespace omvar::platform::system {

// clock: see clock_now and the rest in platform.h.
Seconds clock_now();
bool clock_to_local(Seconds t, std::tm* out);
void sleep_ms(unsigned milliseconds);
void clock_refresh_zone();
bool clock_zone_name(char* out, std::size_t size);

// debug_output
void debug_output(const char* line);

// launch
int launch_process(const LaunchSpec& launch_spec);

// mailslot
int mailslot_open(const char* name, MailslotHandle* handle);
int mailslot_write(MailslotHandle handle, const void* data, std::size_t length);
void mailslot_close(MailslotHandle handle);

// dir_watch
bool dir_watch_unchanged(const char* dir, const char* extension);
void dir_watch_settle(const char* dir);
void dir_watch_forget();

// service_host (Windows only)
bool host_platform_id(unsigned long* id);
ServiceProcessRegistration host_register_service_process();
bool host_run_dispatcher(const char* name, ServiceMainFn service_main, unsigned long* error);
bool host_register_control_handler(const char* name, ServiceControlFn handler);
void host_report_status(const ServiceStatus& status);

}  // namespace omvar::platform::system
