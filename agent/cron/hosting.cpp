#include "agent/cron/hosting.h"

#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"

namespace omvar::cron {

std::atomic<int> service_run_flag{1};
platform::ServiceStatus service_status;

namespace {

// The loop service_main runs: the service manager calls service_main with no
// room for it, so run_service_mode leaves it here first.
HostedLoop service_loop = cron_run;

void report_status() { platform::host_report_status(service_status); }

}  // namespace

int agent_main(const char* text, HostedLoop loop) {
    switch (detect_platform()) {
        case kPlatformWindows:
            return run_hidden_process(text, loop);
        case kPlatformNt:
            return run_service_mode(text, loop);
        default:
            return kExitNoPlatform;
    }
}

int detect_platform() {
    unsigned long id = 0;
    if (!platform::host_platform_id(&id)) {
        return kPlatformUnknown;
    }
    return id == kPlatformWindows || id == kPlatformNt ? static_cast<int>(id) : kPlatformUnknown;
}

int run_hidden_process(const char* text, HostedLoop loop) {
    switch (platform::host_register_service_process()) {
        case platform::ServiceProcessRegistration::kNotFound:
            return kExitNoServiceProcessCall;
        case platform::ServiceProcessRegistration::kFailed:
            return kExitServiceProcessRefused;
        case platform::ServiceProcessRegistration::kRegistered:
            break;
    }
    if (agent_init(text) != 0) {
        return kExitHiddenInitFailed;
    }
    const std::atomic<int> running{1};
    loop(&running);
    return kExitHiddenLoopEnded;
}

int run_service_mode(const char* text, HostedLoop loop) {
    if (agent_init(text) != 0) {
        return kExitServiceInitFailed;
    }
    service_loop = loop;
    unsigned long error = 0;
    if (platform::host_run_dispatcher(kServiceName, service_main, &error)) {
        return kExitServiceStopped;
    }
    if (error == kErrorNotStartedAsService) {
        return run_standalone(text, loop);
    }
    return kExitDispatcherFailed;
}

int run_standalone(const char* text, HostedLoop loop) {
    if (agent_init(text) != 0) {
        return kExitStandaloneInitFailed;
    }
    const std::atomic<int> running{1};
    loop(&running);
    return kExitStandaloneLoopEnded;
}

void service_main(unsigned, char**) {
    // Start pending is only filled in: the first report is running.
    service_status = platform::ServiceStatus{
        kServiceTypeOwnAndShare, kStateStartPending, kAcceptStop, 0, 0, 0, kStartWaitHintMs};
    if (!platform::host_register_control_handler(kServiceName, service_control)) {
        return;
    }
    service_status.current_state = kStateRunning;
    service_status.check_point = 0;
    service_status.wait_hint = kStartWaitHintMs;
    report_status();

    service_loop(&service_run_flag);

    service_status.current_state = kStateStopped;
    service_status.win32_exit_code = 0;
    service_status.service_specific_exit_code = 0;
    service_status.check_point = 0;
    service_status.wait_hint = 0;
    report_status();
}

void service_control(unsigned code) {
    if (code == kControlStop) {
        service_run_flag.store(0);
    }
    // Once a stop has been asked for, every later control keeps saying stop
    // pending: reporting running again would tell the service manager the stop
    // was abandoned while the loop is in fact ending.
    service_status.current_state = service_run_flag.load() == 0 ? kStateStopPending : kStateRunning;
    service_status.check_point = 0;
    service_status.wait_hint = kControlWaitHintMs;
    report_status();
}

}  // namespace omvar::cron
