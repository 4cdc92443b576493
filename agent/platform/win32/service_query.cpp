// How the service manager holds a service's registration, for omvar-zbs status.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

void set_reason(char* reason, std::size_t size, const char* what, DWORD error) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s (system error %lu)", what, static_cast<unsigned long>(error));
    }
}

// The service manager hands out at most 8 KiB for one configuration.
alignas(QUERY_SERVICE_CONFIGA) unsigned char config_buffer[8192];

ServiceStart start_of(const QUERY_SERVICE_CONFIGA& config, SC_HANDLE service) {
    switch (config.dwStartType) {
        case SERVICE_AUTO_START: {
            SERVICE_DELAYED_AUTO_START_INFO delayed{};
            DWORD needed = 0;
            if (QueryServiceConfig2A(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                                     reinterpret_cast<BYTE*>(&delayed), sizeof delayed, &needed) &&
                delayed.fDelayedAutostart) {
                return ServiceStart::kDelayedAutomatic;
            }
            return ServiceStart::kAutomatic;
        }
        case SERVICE_DEMAND_START:
            return ServiceStart::kDemand;
        case SERVICE_DISABLED:
            return ServiceStart::kDisabled;
        default:
            return ServiceStart::kOther;
    }
}

}  // namespace

ServiceQuery service_registration(const char* name, ServiceRegistration* out, char* reason,
                                  std::size_t reason_size) {
    *out = ServiceRegistration{ServiceStart::kOther, false, {}};
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        set_reason(reason, reason_size, "cannot reach the service manager", GetLastError());
        return ServiceQuery::kError;
    }
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
    if (service == nullptr) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            return ServiceQuery::kNotRegistered;
        }
        set_reason(reason, reason_size, "cannot read the service's registration", error);
        return ServiceQuery::kError;
    }
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config_buffer);
    DWORD needed = 0;
    ServiceQuery result = ServiceQuery::kRegistered;
    if (!QueryServiceConfigA(service, config, sizeof config_buffer, &needed)) {
        set_reason(reason, reason_size, "cannot read the service's registration", GetLastError());
        result = ServiceQuery::kError;
    } else {
        out->start = start_of(*config, service);
        const char* path = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
        std::size_t length = std::strlen(path);
        out->path_truncated = length >= sizeof out->binary_path;
        length = out->path_truncated ? sizeof out->binary_path - 1 : length;
        std::memcpy(out->binary_path, path, length);
        out->binary_path[length] = '\0';
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

}  // namespace omvar::platform
