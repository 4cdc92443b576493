// The shipped programs' channel to the backup engine: the system's own.
#include "agent/platform/system.h"

namespace omvar::platform {

int mailslot_open(const char* name, MailslotHandle* handle) { return system::mailslot_open(name, handle); }
int mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    return system::mailslot_write(handle, data, length);
}
void mailslot_close(MailslotHandle handle) { system::mailslot_close(handle); }

}  // namespace omvar::platform
