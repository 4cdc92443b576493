#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "agent/base/text.h"
#include "agent/platform/inspect.h"
#include "agent/platform/system.h"

namespace omvar::platform {

// Dates after January 2038 need it; the 32-bit build asks for it (cmake/mingw-w64-i686.cmake).
static_assert(sizeof(std::time_t) == 8, "a 64-bit time_t");

namespace system {

Seconds clock_now() { return static_cast<Seconds>(std::time(nullptr)); }

// The C runtime's localtime fills one record per thread; only the loop thread
// converts times, and the record is copied out at once.
bool clock_to_local(Seconds t, std::tm* out) {
    std::time_t value = static_cast<std::time_t>(t);
    const std::tm* local = std::localtime(&value);
    if (local == nullptr) {
        *out = std::tm{};
        return false;
    }
    *out = *local;
    return true;
}

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

// The C runtime reads TZ or the system's zone setting once and keeps it;
// _tzset reads them again.
void clock_refresh_zone() { _tzset(); }

bool clock_zone_name(char* out, std::size_t size) {
    const char* tz = std::getenv("TZ");
    _tzset();
    return tz != nullptr && tz[0] != '\0'
               ? base::format_checked(out, size, "TZ=%s", tz)
               : base::format_checked(out, size, "%s (system setting)", _tzname[0]);
}

}  // namespace system

}  // namespace omvar::platform
