// The service host while a FakeHost lives (a test program that names
// service_host in its REPLACES): every hosting mode and status report can be
// driven on any platform, the 95/98/ME family's included. With none alive the
// version query fails, so the hosting modes find no platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent/platform/service_host.h"

namespace omvar::test {

enum class Dispatch {
    kRunsService,          // calls service_main, then returns success
    kFails1063,            // not started by the service manager
    kFails1063AndDirGone,  // ... and the install directory vanished meanwhile
    kFailsOther,
};

// Everything the fake host was asked, and how it answers.
struct FakeHost {
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;
    // Back to the answers of a new one, with nothing asked yet.
    void reset();

    bool query_ok = true;
    unsigned long platform_id = 2;
    platform::ServiceProcessRegistration registration = platform::ServiceProcessRegistration::kRegistered;
    Dispatch dispatch = Dispatch::kRunsService;
    bool handler_ok = true;
    std::string remove_on_dispatch;  // directory removed before a failing dispatcher returns
    std::function<void(const platform::ServiceStatus&)> on_report;  // before the report is kept

    int registrations = 0;
    int dispatcher_runs = 0;
    std::string dispatched_name;
    std::string handler_name;
    platform::ServiceControlFn handler = nullptr;
    std::vector<platform::ServiceStatus> reports;
};

}  // namespace omvar::test
