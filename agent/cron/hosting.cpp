#include "agent/cron/hosting.h"

#include "agent/cron/hosted_loop.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"

namespace omvar::cron {

std::atomic<int> service_run_flag{1};
platform::ServiceStatus service_status;

namespace {

void report_status() {
    if (const platform::HostOps* host = platform::service_host()) {
        host->report_status(service_status);
    }
}

}  // namespace

int agent_main(const char* text) {
    switch (detect_platform()) {
        case kPlatformWindows:
            return run_hidden_process(text);
        case kPlatformNt:
            return run_service_mode(text);
        default:
            return kExitNoPlatform;
    }
}

int detect_platform() {
    const platform::HostOps* host = platform::service_host();
    unsigned long id = 0;
    if (host == nullptr || !host->platform_id(&id)) {
        return kPlatformUnknown;
    }
    return id == kPlatformWindows || id == kPlatformNt ? static_cast<int>(id) : kPlatformUnknown;
}

int run_hidden_process(const char* text) {
    switch (platform::service_host()->register_service_process()) {
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
    hosted_loop()(&running);
    return kExitHiddenLoopEnded;
}

int run_service_mode(const char* text) {
    if (agent_init(text) != 0) {
        return kExitServiceInitFailed;
    }
    unsigned long error = 0;
    if (platform::service_host()->run_dispatcher(kServiceName, service_main, &error)) {
        return kExitServiceStopped;
    }
    if (error == kErrorNotStartedAsService) {
        return run_standalone(text);
    }
    return kExitDispatcherFailed;
}

int run_standalone(const char* text) {
    if (agent_init(text) != 0) {
        return kExitStandaloneInitFailed;
    }
    const std::atomic<int> running{1};
    hosted_loop()(&running);
    return kExitStandaloneLoopEnded;
}

void service_main(unsigned, char**) {
    // Start pending is only filled in: the first report is running.
    service_status = platform::ServiceStatus{
        kServiceTypeOwnAndShare, kStateStartPending, kAcceptStop, 0, 0, 0, kStartWaitHintMs};
    if (!platform::service_host()->register_control_handler(kServiceName, service_control)) {
        return;
    }
    service_status.current_state = kStateRunning;
    service_status.check_point = 0;
    service_status.wait_hint = kStartWaitHintMs;
    report_status();

    hosted_loop()(&service_run_flag);

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
