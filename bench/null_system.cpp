#include "bench/null_system.h"

#include <cstddef>

#include "agent/platform/platform.h"

namespace omvar::bench {

int null_writes = 0;

}  // namespace omvar::bench

namespace omvar::platform {

int mailslot_open(const char*, MailslotHandle* handle) {
    *handle = 1;
    return 0;
}

int mailslot_write(MailslotHandle, const void*, std::size_t) {
    ++bench::null_writes;
    return 0;
}

void mailslot_close(MailslotHandle) {}

int launch_process(const LaunchSpec&) { return 0; }

}  // namespace omvar::platform
