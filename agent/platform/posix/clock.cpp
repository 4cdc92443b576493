#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "agent/base/text.h"
#include "agent/platform/inspect.h"
#include "agent/platform/system.h"

namespace omvar::platform::system {

Seconds clock_now() { return static_cast<Seconds>(std::time(nullptr)); }

bool clock_to_local(Seconds t, std::tm* out) {
    std::time_t value = static_cast<std::time_t>(t);
    if (localtime_r(&value, out) == nullptr) {
        *out = std::tm{};
        return false;
    }
    return true;
}

// One nanosleep, not resumed after a signal: a stop request ends the wait at once.
void sleep_ms(unsigned milliseconds) {
    timespec request{};
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    nanosleep(&request, nullptr);
}

// localtime_r never looks at the zone again; tzset does, and the C library
// rereads /etc/localtime only when the file it finds there has changed (a
// replaced link, a rewritten file).
void clock_refresh_zone() { tzset(); }

bool clock_zone_name(char* out, std::size_t size) {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) {
        return base::format_checked(out, size, "TZ=%s", tz);
    }
    // A link into the zone database names its zone; a copied or bound file
    // is named by its abbreviations.
    char target[base::kPathSize];
    ssize_t length = readlink("/etc/localtime", target, sizeof target - 1);
    tzset();
    if (length <= 0) {
        return base::format_checked(out, size, "%s/%s (/etc/localtime)", tzname[0], tzname[1]);
    }
    target[length] = '\0';
    const char* inside = std::strstr(target, "zoneinfo/");
    return base::format_checked(out, size, "%s (/etc/localtime)", inside != nullptr ? inside + 9 : target);
}

}  // namespace omvar::platform::system
