// Process entry and hosting modes on Windows: the choice between service mode,
// a registered 95/98/ME service process and a stand-alone process, the service
// status sequence, the stop request, and the process exit code. The system calls
// go through the platform's service host (agent/platform/service_host.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/base/fixed_codes.h"  // the process exit codes
#include "agent/platform/service_host.h"

namespace omvar::cron {

constexpr char kServiceName[] = "omvarCron";

// Platform families, as the version query reports them.
constexpr int kPlatformUnknown = 0;
constexpr int kPlatformWindows = 1;  // the 95/98/ME family
constexpr int kPlatformNt = 2;

// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: not started by the service manager.
constexpr unsigned long kErrorNotStartedAsService = 1063;

// Service status record values.
constexpr std::uint32_t kServiceTypeOwnAndShare = 0x30;
constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kStateStartPending = 2;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;
constexpr std::uint32_t kAcceptStop = 1;
constexpr unsigned kControlStop = 1;
constexpr unsigned kControlInterrogate = 4;
constexpr std::uint32_t kStartWaitHintMs = 250;
constexpr std::uint32_t kControlWaitHintMs = 2000;

// Service mode's run flag, cleared by a stop control.
extern std::atomic<int> service_run_flag;
// The status record, written by service_main before and after the loop and by
// service_control in between.
extern platform::ServiceStatus service_status;

// The loop every hosting mode runs once start-up has succeeded: cron_run in the
// program; a test of the modes whose loop never ends by itself passes its own.
using HostedLoop = void (*)(const std::atomic<int>* run_flag);

int agent_main(const char* text, HostedLoop loop);
int detect_platform();
int run_hidden_process(const char* text, HostedLoop loop);
int run_service_mode(const char* text, HostedLoop loop);
int run_standalone(const char* text, HostedLoop loop);
void service_main(unsigned argc, char** argv);
void service_control(unsigned code);

}  // namespace omvar::cron
