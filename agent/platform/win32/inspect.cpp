// Read-only looks at the install directory, the agent's process and the engine's
// mailslot, for omvar-zbs status and list. Windows keeps no owner/group/other
// bits and no advisory lock table that another process could read.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/command_line.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

void set_reason(char* reason, std::size_t size, const char* text) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", text);
    }
}

// The system's text for a Windows error code, without its line break.
void set_system_reason(char* reason, std::size_t size, DWORD error) {
    char text[128];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof text, nullptr) == 0) {
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(error));
    }
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            *p = '\0';
            break;
        }
    }
    set_reason(reason, size, text);
}

}  // namespace

// From the file system's attributes rather than _stat, which takes a directory
// named with a trailing backslash ("C:\Program Files\Omvar\", as the
// installer's service arguments give it) for a missing file.
PathInfo path_info(const char* path, char* reason, std::size_t reason_size) {
    PathInfo info{PathKind::kError, 0, false, false, -1, false};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        DWORD error = GetLastError();
        info.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::kMissing
                                                                                   : PathKind::kError;
        set_system_reason(reason, reason_size, error);
        return info;
    }
    info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kDirectory
                : (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0  ? PathKind::kOther
                                                                        : PathKind::kRegular;
    info.size = static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                       data.nFileSizeLow);
    return info;
}

bool can_read_file(const char* path, char* reason, std::size_t reason_size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_system_reason(reason, reason_size, GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

bool directory_writable(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool directory_listable(const char* path, char* reason, std::size_t reason_size) {
    char pattern[MAX_PATH + 4];
    if (!base::format_checked(pattern, sizeof pattern, "%s\\*", path)) {
        set_reason(reason, reason_size, "the path is too long");
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        set_system_reason(reason, reason_size, GetLastError());
        return false;
    }
    FindClose(search);
    return true;
}

// CreateProcessA starts the command line's first token.
bool program_startable(const LaunchSpec& launch_spec, char* program, std::size_t program_size, char* reason,
                       std::size_t reason_size) {
    static CommandLineArgs args;
    set_reason(program, program_size, "");
    const char* command_line = launch_spec.command_line != nullptr ? launch_spec.command_line : "";
    if (!split_command_line(command_line, &args) || args.count == 0) {
        set_reason(reason, reason_size, "the command line is too long");
        return false;
    }
    // Only for showing: a path that does not fit is not shown cut, but left out.
    if (program_size > 0 && !base::format_checked(program, program_size, "%s", args.argv[0])) {
        program[0] = '\0';
    }
    DWORD attributes = GetFileAttributesA(args.argv[0]);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        set_reason(reason, reason_size, "No such file or directory");
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        set_reason(reason, reason_size, "a directory");
        return false;
    }
    return true;
}

ProcessState process_state(int pid) {
    if (pid <= 0) {
        return ProcessState::kGone;
    }
    HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED ? ProcessState::kRunning : ProcessState::kGone;
    }
    DWORD wait = WaitForSingleObject(process, 0);
    CloseHandle(process);
    return wait == WAIT_TIMEOUT ? ProcessState::kRunning : ProcessState::kGone;
}

int pid_file_lock_holder(const char*) { return -1; }

ChannelState channel_probe(const char* name, long* owner) {
    *owner = -1;
    HANDLE slot = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ChannelState::kMissing
                                                                                : ChannelState::kError;
    }
    CloseHandle(slot);
    return ChannelState::kPresent;
}

long current_user() { return -1; }

}  // namespace omvar::platform
