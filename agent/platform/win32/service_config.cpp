// What the service control manager has registered for a service: for the
// tool, which finds the install directory in the agent's registered command line.
#include <windows.h>

#include <cstdio>

#include "agent/platform/platform.h"

namespace omvar::platform {

bool registered_service_command_line(const char* name, char* out, std::size_t size) {
    if (size > 0) {
        out[0] = '\0';
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    bool found = false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
    if (service != nullptr) {
        // The system caps a service's configuration at 8 KB.
        alignas(QUERY_SERVICE_CONFIGA) static unsigned char buffer[8192];
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
        DWORD needed = 0;
        if (QueryServiceConfigA(service, config, sizeof buffer, &needed) &&
            config->lpBinaryPathName != nullptr) {
            int n = std::snprintf(out, size, "%s", config->lpBinaryPathName);
            found = n >= 0 && static_cast<std::size_t>(n) < size;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return found;
}

}  // namespace omvar::platform
