#include <windows.h>

#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

HANDLE to_handle(MailslotHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

int system::mailslot_open(const char* name, MailslotHandle* handle) {
    *handle = -1;
    HANDLE slot = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    *handle = reinterpret_cast<MailslotHandle>(slot);
    return 0;
}

// One message per write; the count written is not looked at.
int system::mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    if (length > MAXDWORD) {
        return -1;
    }
    DWORD written = 0;
    return WriteFile(to_handle(handle), data, static_cast<DWORD>(length), &written, nullptr) ? 0 : -1;
}

void system::mailslot_close(MailslotHandle handle) {
    if (handle != -1) {
        CloseHandle(to_handle(handle));
    }
}

}  // namespace omvar::platform
