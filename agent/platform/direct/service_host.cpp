// The shipped Windows program's service host: the system's own.
#include "agent/platform/system.h"

namespace omvar::platform {

bool host_platform_id(unsigned long* id) { return system::host_platform_id(id); }
ServiceProcessRegistration host_register_service_process() { return system::host_register_service_process(); }
bool host_run_dispatcher(const char* name, ServiceMainFn service_main, unsigned long* error) {
    return system::host_run_dispatcher(name, service_main, error);
}
bool host_register_control_handler(const char* name, ServiceControlFn handler) {
    return system::host_register_control_handler(name, handler);
}
void host_report_status(const ServiceStatus& status) { system::host_report_status(status); }

}  // namespace omvar::platform
