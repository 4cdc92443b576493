#include <cerrno>
#include <ctime>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

Seconds system_now() { return static_cast<Seconds>(std::time(nullptr)); }

bool system_to_local(Seconds t, std::tm* out) {
    std::time_t value = static_cast<std::time_t>(t);
    if (localtime_r(&value, out) == nullptr) {
        *out = std::tm{};
        return false;
    }
    return true;
}

// One nanosleep, not resumed after a signal: a stop request ends the wait at once.
void system_sleep_ms(unsigned milliseconds) {
    timespec request{};
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    nanosleep(&request, nullptr);
}

const ClockOps kSystemClock = {system_now, system_to_local, system_sleep_ms};

}  // namespace

const ClockOps& system_clock_ops() { return kSystemClock; }

}  // namespace omvar::platform
