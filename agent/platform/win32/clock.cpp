#include <windows.h>

#include <ctime>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

Seconds system_now() { return static_cast<Seconds>(std::time(nullptr)); }

// The C runtime's localtime fills one record per thread; only the loop thread
// converts times, and the record is copied out at once.
bool system_to_local(Seconds t, std::tm* out) {
    std::time_t value = static_cast<std::time_t>(t);
    const std::tm* local = std::localtime(&value);
    if (local == nullptr) {
        *out = std::tm{};
        return false;
    }
    *out = *local;
    return true;
}

void system_sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

const ClockOps kSystemClock = {system_now, system_to_local, system_sleep_ms};

}  // namespace

const ClockOps& system_clock_ops() { return kSystemClock; }

}  // namespace omvar::platform
