#include <windows.h>

#include <cstring>

#include "agent/platform/system.h"
#include "agent/platform/win32/launch_record.h"

namespace omvar::platform {

namespace {

bool copy_text(const char* text, char* out, std::size_t size) {
    std::size_t n = std::strlen(text);
    if (n >= size) {
        return false;
    }
    std::memcpy(out, text, n + 1);
    return true;
}

// Only the loop thread launches.
LaunchRecord launch_record;

}  // namespace

int system::launch_process(const LaunchSpec& launch_spec) {
    if (!prepare_launch(launch_spec, &launch_record)) {
        return -1;
    }
    PROCESS_INFORMATION started{};
    // No application name: the program is the quoted first token. Handles are
    // inherited and the environment is the agent's own.
    BOOL ok = CreateProcessA(nullptr, launch_record.command_line, nullptr, nullptr, TRUE,
                             launch_record.creation_flags, nullptr, launch_spec.working_dir,
                             &launch_record.startup, &started);
    if (!ok) {
        return -1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

bool prepare_launch(const LaunchSpec& launch_spec, LaunchRecord* record) {
    std::memset(record, 0, sizeof *record);
    if (launch_spec.command_line == nullptr ||
        !copy_text(launch_spec.command_line, record->command_line, sizeof record->command_line)) {
        return false;
    }
    record->creation_flags = launch_spec.below_normal_priority ? BELOW_NORMAL_PRIORITY_CLASS : 0;
    record->startup.cb = sizeof record->startup;
    // No busy cursor while the program starts.
    record->startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
    if (launch_spec.desktop != nullptr) {
        if (!copy_text(launch_spec.desktop, record->desktop, sizeof record->desktop)) {
            return false;
        }
        record->startup.lpDesktop = record->desktop;
    }
    return true;
}

}  // namespace omvar::platform
