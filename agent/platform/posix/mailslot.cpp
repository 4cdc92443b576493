// Placeholder until the POSIX message-queue channel lands: no mailslot exists.
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {
int open_unavailable(const char*, MailslotHandle*) { return -1; }
int write_unavailable(MailslotHandle, const void*, std::size_t) { return -1; }
void close_nothing(MailslotHandle) {}
const MailslotOps kSystemMailslot = {open_unavailable, write_unavailable, close_nothing};
}  // namespace

const MailslotOps& system_mailslot_ops() { return kSystemMailslot; }

}  // namespace omvar::platform
