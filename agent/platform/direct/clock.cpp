// The shipped programs' clock, sleep and zone: the system's own.
#include "agent/platform/inspect.h"
#include "agent/platform/system.h"

namespace omvar::platform {

Seconds clock_now() { return system::clock_now(); }
bool clock_to_local(Seconds t, std::tm* out) { return system::clock_to_local(t, out); }
void sleep_ms(unsigned milliseconds) { system::sleep_ms(milliseconds); }
void clock_refresh_zone() { system::clock_refresh_zone(); }
bool clock_zone_name(char* out, std::size_t size) { return system::clock_zone_name(out, size); }

}  // namespace omvar::platform
