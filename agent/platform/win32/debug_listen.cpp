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

enum class Opened { kOk, kRefused, kTaken, kFailed };

void close_channel(const DebugChannel& channel) {
    if (channel.view != nullptr) {
        UnmapViewOfFile(channel.view);
    }
    const std::intptr_t handles[] = {channel.mapping, channel.data_ready, channel.buffer_ready};
    for (std::intptr_t handle : handles) {
        if (handle != 0) {
            CloseHandle(as_handle(handle));
        }
    }
}

// With "Global\" or "" before the objects' names. kRefused when the system
// denies the creation (no privilege to create global objects); kTaken when
// another viewer listens on the channel: two listeners would each take lines
// away from the other.
Opened open_channel(const char* prefix, DebugChannel* out, char* reason, std::size_t reason_size) {
    *out = DebugChannel{};
    char names[3][64];
    const char* bases[] = {"DBWIN_BUFFER_READY", "DBWIN_DATA_READY", "DBWIN_BUFFER"};
    for (int i = 0; i < 3; ++i) {
        if (!base::format_checked(names[i], sizeof names[i], "%s%s", prefix, bases[i])) {
            return Opened::kFailed;
        }
    }
    out->buffer_ready = as_value(CreateEventA(nullptr, FALSE, FALSE, names[0]));
    if (out->buffer_ready != 0 && GetLastError() == ERROR_ALREADY_EXISTS) {
        close_channel(*out);
        *out = DebugChannel{};
        if (reason != nullptr && reason_size > 0 &&
            !base::format_checked(reason, reason_size,
                                  "another debugger-output viewer is listening on %sDBWIN_BUFFER", prefix)) {
            reason[0] = '\0';
        }
        return Opened::kTaken;
    }
    if (out->buffer_ready != 0) {
        out->data_ready = as_value(CreateEventA(nullptr, FALSE, FALSE, names[1]));
    }
    if (out->data_ready != 0) {
        out->mapping = as_value(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                   kDebugChannelSize, names[2]));
    }
    if (out->mapping != 0) {
        out->view = MapViewOfFile(as_handle(out->mapping), FILE_MAP_READ, 0, 0, kDebugChannelSize);
    }
    if (out->view != nullptr) {
        return Opened::kOk;
    }
    const DWORD error = GetLastError();
    close_channel(*out);
    *out = DebugChannel{};
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
    *listener = DebugListener{};
    DebugChannel global{};
    const Opened global_opened = open_channel("Global\\", &global, reason, reason_size);
    if (global_opened == Opened::kTaken || global_opened == Opened::kFailed) {
        return -1;
    }
    DebugChannel session = global;
    // In session 0 the session's names are the global ones: one channel.
    const bool one_channel = global_opened == Opened::kOk && in_session_zero();
    if (!one_channel && open_channel("", &session, reason, reason_size) != Opened::kOk) {
        close_channel(global);
        return -1;
    }
    listener->session = session;
    listener->open = true;
    SetEvent(as_handle(session.buffer_ready));
    if (one_channel) {
        listener->channels = DebugChannels::kGlobal;
    } else if (global_opened == Opened::kOk) {
        listener->global = global;
        listener->channels = DebugChannels::kGlobalAndSession;
        SetEvent(as_handle(global.buffer_ready));
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
    const DebugChannel* channels[2];
    HANDLE waits[2];
    DWORD count = 0;
    if (listener->global.view != nullptr) {
        channels[count++] = &listener->global;
    }
    channels[count++] = &listener->session;
    for (DWORD i = 0; i < count; ++i) {
        waits[i] = as_handle(channels[i]->data_ready);
    }
    const DWORD waited = WaitForMultipleObjects(count, waits, FALSE, timeout_ms);
    if (waited == WAIT_TIMEOUT) {
        return 0;
    }
    if (waited >= WAIT_OBJECT_0 + count) {
        return -1;
    }
    const DebugChannel& channel = *channels[waited - WAIT_OBJECT_0];
    const char* view = static_cast<const char*>(channel.view);
    DWORD pid = 0;
    std::memcpy(&pid, view, sizeof pid);
    message->pid = pid;
    // A writer's text is cut to the buffer; the last byte stays free for the NUL.
    std::size_t length = strnlen(view + sizeof pid, kDebugChannelSize - sizeof pid);
    length = length < sizeof message->text - 1 ? length : sizeof message->text - 1;
    std::memcpy(message->text, view + sizeof pid, length);
    message->text[length] = '\0';
    SetEvent(as_handle(channel.buffer_ready));
    return 1;
}

void debug_listen_close(DebugListener* listener) {
    if (!listener->open) {
        return;
    }
    close_channel(listener->session);
    close_channel(listener->global);
    *listener = DebugListener{};
}

}  // namespace omvar::platform
