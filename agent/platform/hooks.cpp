// The replaceable platform operations: each call goes to the table in force,
// which is the system's own unless a test has put another in its place.
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

const ClockOps* active_clock = nullptr;
const LaunchOps* active_launch = nullptr;
const MailslotOps* active_mailslot = nullptr;
DebugSink active_sink = nullptr;

const ClockOps& clock_ops() { return active_clock != nullptr ? *active_clock : system_clock_ops(); }
const LaunchOps& launch_ops() { return active_launch != nullptr ? *active_launch : system_launch_ops(); }
const MailslotOps& mailslot_ops() {
    return active_mailslot != nullptr ? *active_mailslot : system_mailslot_ops();
}

}  // namespace

void set_clock_ops(const ClockOps* ops) { active_clock = ops; }
Seconds clock_now() { return clock_ops().now(); }
bool clock_to_local(Seconds t, std::tm* out) { return clock_ops().to_local(t, out); }
void sleep_ms(unsigned milliseconds) { clock_ops().sleep_ms(milliseconds); }

void set_launch_ops(const LaunchOps* ops) { active_launch = ops; }
int launch_process(const LaunchSpec& launch_spec) { return launch_ops().launch(launch_spec); }

void set_mailslot_ops(const MailslotOps* ops) { active_mailslot = ops; }
int mailslot_open(const char* name, MailslotHandle* handle) { return mailslot_ops().open(name, handle); }
int mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    return mailslot_ops().write(handle, data, length);
}
void mailslot_close(MailslotHandle handle) { mailslot_ops().close(handle); }

void set_debug_sink(DebugSink sink) { active_sink = sink; }
void debug_output(const char* line) {
    if (active_sink != nullptr) {
        active_sink(line);
        return;
    }
    system_debug_output(line);
}

}  // namespace omvar::platform
