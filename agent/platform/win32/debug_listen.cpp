// Reading the debugger output back: the documented DBWIN protocol. A writer waits
// for DBWIN_BUFFER_READY, puts its pid and text into the shared DBWIN_BUFFER
// section and signals DBWIN_DATA_READY; the listener copies the line out and
// signals DBWIN_BUFFER_READY again. Writers reach it from services too.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t as_value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void set_reason(char* reason, std::size_t size, const char* what) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s (system error %lu)", what,
                      static_cast<unsigned long>(GetLastError()));
    }
}

}  // namespace

DebugDestination system_debug_destination() { return DebugDestination::kDebuggerChannel; }

int debug_listen_open(DebugListener* listener, char* reason, std::size_t reason_size) {
    *listener = DebugListener{0, 0, 0, nullptr, false};
    HANDLE buffer_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    if (buffer_ready == nullptr) {
        set_reason(reason, reason_size, "cannot create the event DBWIN_BUFFER_READY");
        return -1;
    }
    // Two listeners would each take lines away from the other.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(buffer_ready);
        if (reason != nullptr && reason_size > 0) {
            std::snprintf(reason, reason_size, "another debugger-output viewer is listening");
        }
        return -1;
    }
    listener->buffer_ready = as_value(buffer_ready);
    HANDLE data_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE mapping = data_ready == nullptr ? nullptr
                                           : CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                                0, kDebugChannelSize, "DBWIN_BUFFER");
    listener->data_ready = as_value(data_ready);
    listener->mapping = as_value(mapping);
    listener->view =
        mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kDebugChannelSize);
    if (listener->view == nullptr) {
        set_reason(reason, reason_size, "cannot open the debugger-output buffer DBWIN_BUFFER");
        listener->open = true;
        debug_listen_close(listener);
        return -1;
    }
    listener->open = true;
    SetEvent(buffer_ready);
    return 0;
}

int debug_listen_next(DebugListener* listener, unsigned timeout_ms, DebugMessage* message) {
    if (!listener->open) {
        return -1;
    }
    DWORD waited = WaitForSingleObject(as_handle(listener->data_ready), timeout_ms);
    if (waited == WAIT_TIMEOUT) {
        return 0;
    }
    if (waited != WAIT_OBJECT_0) {
        return -1;
    }
    const char* view = static_cast<const char*>(listener->view);
    DWORD pid = 0;
    std::memcpy(&pid, view, sizeof pid);
    message->pid = pid;
    // A writer's text is cut to the buffer; the last byte stays free for the NUL.
    std::size_t length = strnlen(view + sizeof pid, kDebugChannelSize - sizeof pid);
    length = length < sizeof message->text - 1 ? length : sizeof message->text - 1;
    std::memcpy(message->text, view + sizeof pid, length);
    message->text[length] = '\0';
    SetEvent(as_handle(listener->buffer_ready));
    return 1;
}

void debug_listen_close(DebugListener* listener) {
    if (!listener->open) {
        return;
    }
    if (listener->view != nullptr) {
        UnmapViewOfFile(listener->view);
    }
    const std::intptr_t handles[] = {listener->mapping, listener->data_ready, listener->buffer_ready};
    for (std::intptr_t handle : handles) {
        if (handle != 0) {
            CloseHandle(as_handle(handle));
        }
    }
    *listener = DebugListener{0, 0, 0, nullptr, false};
}

}  // namespace omvar::platform
