// The replaceable platform operations: each call goes to the table in force.
#include "agent/platform/system_ops.h"

namespace omvar::platform {

Seconds clock_now() { return system_in_force().clock->now(); }
bool clock_to_local(Seconds t, std::tm* out) { return system_in_force().clock->to_local(t, out); }
void sleep_ms(unsigned milliseconds) { system_in_force().clock->sleep_ms(milliseconds); }
void clock_refresh_zone() { system_in_force().clock->refresh_zone(); }
bool clock_zone_name(char* out, std::size_t size) { return system_in_force().clock->zone_name(out, size); }

void debug_output(const char* line) { system_in_force().debug_output(line); }

int launch_process(const LaunchSpec& launch_spec) { return system_in_force().launch->launch(launch_spec); }

int mailslot_open(const char* name, MailslotHandle* handle) {
    return system_in_force().mailslot->open(name, handle);
}
int mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    return system_in_force().mailslot->write(handle, data, length);
}
void mailslot_close(MailslotHandle handle) { system_in_force().mailslot->close(handle); }

bool dir_watch_unchanged(const char* dir, const char* extension) {
    return system_in_force().dir_watch->unchanged(dir, extension);
}
void dir_watch_settle(const char* dir) { system_in_force().dir_watch->settle(dir); }
void dir_watch_forget() { system_in_force().dir_watch->forget(); }

const HostOps* service_host() { return system_in_force().host; }

}  // namespace omvar::platform
