// The Windows service host: service control manager, the 95/98/ME service-process
// registration and the version query. The hosting logic (agent/cron/hosting) is
// the same code everywhere: only the Win32 layer has the system's own host, and a
// test program on any platform may stand in for it (agent/platform/system.h).
#pragma once

#include <cstdint>

namespace omvar::platform {

// The fields of the service status record, in the system's order.
struct ServiceStatus {
    std::uint32_t service_type;
    std::uint32_t current_state;
    std::uint32_t controls_accepted;
    std::uint32_t win32_exit_code;
    std::uint32_t service_specific_exit_code;
    std::uint32_t check_point;
    std::uint32_t wait_hint;
};

enum class ServiceProcessRegistration { kNotFound, kFailed, kRegistered };

using ServiceMainFn = void (*)(unsigned argc, char** argv);
using ServiceControlFn = void (*)(unsigned code);

// Asks the version query for the platform identifier; false if it failed.
bool host_platform_id(unsigned long* id);
// Registers the calling process as a service process (95/98/ME family).
ServiceProcessRegistration host_register_service_process();
// Runs the service control dispatcher for the one service `name` with entry
// service_main; returns once the service has stopped. On failure false, with
// the system's error code in *error.
bool host_run_dispatcher(const char* name, ServiceMainFn service_main, unsigned long* error);
// Registers the control handler for the service `name`; false on failure.
bool host_register_control_handler(const char* name, ServiceControlFn handler);
// Reports the status to the service control manager; failures are ignored.
void host_report_status(const ServiceStatus& status);

// The process's command line as the system holds it (Windows builds only).
const char* process_command_line();

}  // namespace omvar::platform
