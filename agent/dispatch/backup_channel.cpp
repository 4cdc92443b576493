#include "agent/dispatch/backup_channel.h"

#include <cstring>

#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"

namespace omvar::dispatch {

const char kBackupMailslot[] = "\\\\.\\mailslot\\omvarbackup";

namespace {

constexpr platform::MailslotHandle kNoHandle = -1;

// Open only within one submit_backup_request.
platform::MailslotHandle channel_handle = kNoHandle;

}  // namespace

int mailslot_open(const char* name) {
    // A channel left open would otherwise leak its handle here.
    mailslot_close();

    platform::MailslotHandle handle = kNoHandle;
    if (platform::mailslot_open(name, &handle) != 0) {
        return kMailslotOpenFailed;
    }
    channel_handle = handle;
    // The probe tells the engine a request follows and proves the slot takes messages.
    static const char kProbe[1] = {0};
    if (mailslot_write(kProbe, sizeof kProbe) != 0) {
        platform::mailslot_close(channel_handle);
        channel_handle = kNoHandle;
        return kMailslotProbeFailed;
    }
    return 0;
}

int mailslot_write(const void* data, std::size_t length) {
    if (channel_handle == kNoHandle) {
        return kMailslotWriteFailed;
    }
    return platform::mailslot_write(channel_handle, data, length) == 0 ? 0 : kMailslotWriteFailed;
}

void mailslot_close() {
    if (channel_handle != kNoHandle) {
        platform::mailslot_close(channel_handle);
        channel_handle = kNoHandle;
    }
}

void submit_backup_request(const char* path) {
    if (mailslot_open(kBackupMailslot) != 0) {
        // No mailslot: the engine is not running. Start it and try once more.
        launch_companions(StartedWhen::kWhenEngineMissing);
        if (mailslot_open(kBackupMailslot) != 0) {
            return;  // dropped; the next due minute or trigger is the retry
        }
    }
    mailslot_write(path, std::strlen(path) + 1);
    mailslot_close();
}

}  // namespace omvar::dispatch
