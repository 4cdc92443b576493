// Reading the debugger output back: the documented DBWIN protocol. A writer waits
// for DBWIN_BUFFER_READY, puts its pid and text into the shared DBWIN_BUFFER
// section and signals DBWIN_DATA_READY; the listener copies the line out and
// signals DBWIN_BUFFER_READY again. A writer opens these names in its own
// session: a service's are session 0's, the global ones, which a listener in
// an administrator's desktop session reaches only by their Global\ names.
#include <windows.h>

#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t as_value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// One channel's objects, with "Global\" or "" before their names.
struct Channel {
    HANDLE buffer_ready;
    HANDLE data_ready;
    HANDLE mapping;
    const void* view;
};

enum class Opened { kOk, kRefused, kTaken, kFailed };

void close_channel(const Channel& channel) {
    if (channel.view != nullptr) {
        UnmapViewOfFile(channel.view);
    }
    const HANDLE handles[] = {channel.mapping, channel.data_ready, channel.buffer_ready};
    for (HANDLE handle : handles) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}

// kRefused when the system denies the creation (no privilege to create global
// objects); kTaken when another viewer listens on the channel: two listeners
// would each take lines away from the other.
Opened open_channel(const char* prefix, Channel* out, char* reason, std::size_t reason_size) {
    *out = Channel{nullptr, nullptr, nullptr, nullptr};
    char names[3][64];
    const char* bases[] = {"DBWIN_BUFFER_READY", "DBWIN_DATA_READY", "DBWIN_BUFFER"};
    for (int i = 0; i < 3; ++i) {
        if (!base::format_checked(names[i], sizeof names[i], "%s%s", prefix, bases[i])) {
            return Opened::kFailed;
        }
    }
    out->buffer_ready = CreateEventA(nullptr, FALSE, FALSE, names[0]);
    if (out->buffer_ready != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        close_channel(*out);
        if (reason != nullptr && reason_size > 0 &&
            !base::format_checked(reason, reason_size,
                                  "another debugger-output viewer is listening on %sDBWIN_BUFFER", prefix)) {
            reason[0] = '\0';
        }
        return Opened::kTaken;
    }
    if (out->buffer_ready != nullptr) {
        out->data_ready = CreateEventA(nullptr, FALSE, FALSE, names[1]);
    }
    if (out->data_ready != nullptr) {
        out->mapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kDebugChannelSize, names[2]);
    }
    if (out->mapping != nullptr) {
        out->view = MapViewOfFile(out->mapping, FILE_MAP_READ, 0, 0, kDebugChannelSize);
    }
    if (out->view != nullptr) {
        return Opened::kOk;
    }
    const DWORD error = GetLastError();
    close_channel(*out);
    if (reason != nullptr && reason_size > 0 &&
        !base::format_checked(reason, reason_size,
                              "cannot create the debugger-output channel %sDBWIN_BUFFER "
                              "(system error %lu)",
                              prefix, static_cast<unsigned long>(error))) {
        reason[0] = '\0';
    }
    return error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD ? Opened::kRefused
                                                                             : Opened::kFailed;
}

bool in_session_zero() {
    DWORD session = 1;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
}

}  // namespace

DebugDestination system_debug_destination() { return DebugDestination::kDebuggerChannel; }

int debug_listen_open(DebugListener* listener, char* reason, std::size_t reason_size) {
    *listener = DebugListener{0, 0, 0, nullptr, false};
    Channel global{};
    const Opened global_opened = open_channel("Global\\", &global, reason, reason_size);
    if (global_opened == Opened::kTaken || global_opened == Opened::kFailed) {
        return -1;
    }
    Channel session = global;
    // In session 0 the session's names are the global ones: one channel.
    const bool one_channel = global_opened == Opened::kOk && in_session_zero();
    if (!one_channel && open_channel("", &session, reason, reason_size) != Opened::kOk) {
        if (global_opened == Opened::kOk) {
            close_channel(global);
        }
        return -1;
    }
    listener->buffer_ready = as_value(session.buffer_ready);
    listener->data_ready = as_value(session.data_ready);
    listener->mapping = as_value(session.mapping);
    listener->view = session.view;
    listener->open = true;
    SetEvent(session.buffer_ready);
    if (one_channel) {
        listener->channels = DebugChannels::kGlobal;
    } else if (global_opened == Opened::kOk) {
        listener->global_buffer_ready = as_value(global.buffer_ready);
        listener->global_data_ready = as_value(global.data_ready);
        listener->global_mapping = as_value(global.mapping);
        listener->global_view = global.view;
        listener->channels = DebugChannels::kGlobalAndSession;
        SetEvent(global.buffer_ready);
    } else {
        listener->channels = DebugChannels::kSessionOnly;
    }
    return 0;
}

int debug_listen_next(DebugListener* listener, unsigned timeout_ms, DebugMessage* message) {
    if (!listener->open) {
        return -1;
    }
    // The global channel first: a busy session must not keep the service's lines waiting.
    HANDLE waits[2];
    const void* views[2];
    HANDLE readies[2];
    DWORD count = 0;
    if (listener->global_view != nullptr) {
        waits[count] = as_handle(listener->global_data_ready);
        views[count] = listener->global_view;
        readies[count++] = as_handle(listener->global_buffer_ready);
    }
    waits[count] = as_handle(listener->data_ready);
    views[count] = listener->view;
    readies[count++] = as_handle(listener->buffer_ready);
    const DWORD waited = WaitForMultipleObjects(count, waits, FALSE, timeout_ms);
    if (waited == WAIT_TIMEOUT) {
        return 0;
    }
    if (waited >= WAIT_OBJECT_0 + count) {
        return -1;
    }
    const char* view = static_cast<const char*>(views[waited - WAIT_OBJECT_0]);
    DWORD pid = 0;
    std::memcpy(&pid, view, sizeof pid);
    message->pid = pid;
    // A writer's text is cut to the buffer; the last byte stays free for the NUL.
    std::size_t length = strnlen(view + sizeof pid, kDebugChannelSize - sizeof pid);
    length = length < sizeof message->text - 1 ? length : sizeof message->text - 1;
    std::memcpy(message->text, view + sizeof pid, length);
    message->text[length] = '\0';
    SetEvent(readies[waited - WAIT_OBJECT_0]);
    return 1;
}

void debug_listen_close(DebugListener* listener) {
    if (!listener->open) {
        return;
    }
    close_channel(Channel{as_handle(listener->buffer_ready), as_handle(listener->data_ready),
                          as_handle(listener->mapping), listener->view});
    close_channel(Channel{as_handle(listener->global_buffer_ready), as_handle(listener->global_data_ready),
                          as_handle(listener->global_mapping), listener->global_view});
    *listener = DebugListener{0, 0, 0, nullptr, false};
}

}  // namespace omvar::platform
