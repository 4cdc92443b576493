// The channel to the backup engine while a Recorder lives: recorded, and sent
// only when it passes calls on to the system. Otherwise the system's.
#include "agent/platform/system.h"
#include "test_support.h"

namespace omvar::platform {

int mailslot_open(const char* name, MailslotHandle* handle) {
    test::Recorder* recorder = test::Recorder::active();
    return recorder != nullptr ? recorder->open(name, handle) : system::mailslot_open(name, handle);
}

int mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    test::Recorder* recorder = test::Recorder::active();
    return recorder != nullptr ? recorder->write(handle, data, length)
                               : system::mailslot_write(handle, data, length);
}

void mailslot_close(MailslotHandle handle) {
    test::Recorder* recorder = test::Recorder::active();
    if (recorder != nullptr) {
        recorder->close(handle);
    } else {
        system::mailslot_close(handle);
    }
}

}  // namespace omvar::platform
