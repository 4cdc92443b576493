#include "system_standins/service_host.h"

#include <filesystem>

namespace omvar::test {

namespace {
FakeHost* active = nullptr;
}  // namespace

FakeHost::FakeHost() { active = this; }

FakeHost::~FakeHost() { active = nullptr; }

void FakeHost::reset() {
    query_ok = true;
    platform_id = 2;
    registration = platform::ServiceProcessRegistration::kRegistered;
    dispatch = Dispatch::kRunsService;
    handler_ok = true;
    remove_on_dispatch.clear();
    on_report = nullptr;
    registrations = 0;
    dispatcher_runs = 0;
    dispatched_name.clear();
    handler_name.clear();
    handler = nullptr;
    reports.clear();
}

}  // namespace omvar::test

namespace omvar::platform {

using test::active;
using test::Dispatch;

bool host_platform_id(unsigned long* id) {
    if (active == nullptr) {
        return false;
    }
    *id = active->platform_id;
    return active->query_ok;
}

ServiceProcessRegistration host_register_service_process() {
    ++active->registrations;
    return active->registration;
}

bool host_run_dispatcher(const char* name, ServiceMainFn service_main, unsigned long* error) {
    ++active->dispatcher_runs;
    active->dispatched_name = name;
    switch (active->dispatch) {
        case Dispatch::kRunsService: {
            char arg0[] = "omvarCron";
            char* argv[] = {arg0, nullptr};
            service_main(1, argv);
            return true;
        }
        case Dispatch::kFails1063AndDirGone:
            // Windows cannot remove the current directory: leave it first.
            std::filesystem::current_path(std::filesystem::temp_directory_path());
            std::filesystem::remove_all(active->remove_on_dispatch);
            [[fallthrough]];
        case Dispatch::kFails1063:
            *error = 1063;
            return false;
        case Dispatch::kFailsOther:
            *error = 5;
            return false;
    }
    return false;
}

bool host_register_control_handler(const char* name, ServiceControlFn handler) {
    active->handler_name = name;
    active->handler = handler;
    return active->handler_ok;
}

void host_report_status(const ServiceStatus& status) {
    if (active->on_report) {
        active->on_report(status);
    }
    active->reports.push_back(status);
}

}  // namespace omvar::platform
