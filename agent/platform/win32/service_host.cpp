#include <windows.h>

#include "agent/platform/service_host.h"
#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

// The size of the narrow-character version record, which the query checks.
constexpr DWORD kVersionRecordSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionRecordSize, "narrow version record");

// RegisterServiceProcess(process id, type): 95/98/ME only, so looked up at run time.
using RegisterServiceProcessFn = DWORD(WINAPI*)(DWORD process_id, DWORD type);
constexpr DWORD kCallingProcess = 0;
constexpr DWORD kRegisterAsServiceProcess = 1;

// The dispatcher calls back through plain Windows entry points; they forward to
// the hosting logic's functions.
ServiceMainFn hosted_service_main = nullptr;
ServiceControlFn hosted_control = nullptr;
SERVICE_STATUS_HANDLE status_handle = nullptr;
char service_name[64];

void WINAPI service_main_entry(DWORD argc, LPSTR* argv) {
    if (hosted_service_main != nullptr) {
        hosted_service_main(static_cast<unsigned>(argc), argv);
    }
}

void WINAPI control_entry(DWORD code) {
    if (hosted_control != nullptr) {
        hosted_control(static_cast<unsigned>(code));
    }
}

bool copy_name(const char* name) {
    std::size_t n = 0;
    while (name[n] != '\0') {
        if (n + 1 >= sizeof service_name) {
            return false;
        }
        service_name[n] = name[n];
        ++n;
    }
    service_name[n] = '\0';
    return true;
}

}  // namespace

bool system::host_platform_id(unsigned long* id) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = kVersionRecordSize;
    if (!GetVersionExA(&info)) {
        return false;
    }
    *id = info.dwPlatformId;
    return true;
}

ServiceProcessRegistration system::host_register_service_process() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "RegisterServiceProcess") : nullptr;
    if (found == nullptr) {
        return ServiceProcessRegistration::kNotFound;
    }
    auto register_process = reinterpret_cast<RegisterServiceProcessFn>(reinterpret_cast<void*>(found));
    return register_process(kCallingProcess, kRegisterAsServiceProcess) != 0
               ? ServiceProcessRegistration::kRegistered
               : ServiceProcessRegistration::kFailed;
}

bool system::host_run_dispatcher(const char* name, ServiceMainFn service_main, unsigned long* error) {
    if (!copy_name(name)) {
        *error = ERROR_INVALID_NAME;
        return false;
    }
    hosted_service_main = service_main;
    SERVICE_TABLE_ENTRYA table[] = {{service_name, service_main_entry}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherA(table)) {
        return true;
    }
    *error = GetLastError();
    return false;
}

bool system::host_register_control_handler(const char* name, ServiceControlFn handler) {
    hosted_control = handler;
    status_handle = RegisterServiceCtrlHandlerA(name, control_entry);
    return status_handle != nullptr;
}

void system::host_report_status(const ServiceStatus& status) {
    SERVICE_STATUS record{};
    record.dwServiceType = status.service_type;
    record.dwCurrentState = status.current_state;
    record.dwControlsAccepted = status.controls_accepted;
    record.dwWin32ExitCode = status.win32_exit_code;
    record.dwServiceSpecificExitCode = status.service_specific_exit_code;
    record.dwCheckPoint = status.check_point;
    record.dwWaitHint = status.wait_hint;
    SetServiceStatus(status_handle, &record);
}

const char* process_command_line() { return GetCommandLineA(); }

}  // namespace omvar::platform
