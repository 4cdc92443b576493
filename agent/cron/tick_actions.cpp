#include "agent/cron/tick_actions.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "agent/base/text.h"
#include "agent/cron/debug_log.h"
#include "agent/cron/schedule.h"
#include "agent/cron/schedule_file.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

const char kUpdaterSchedule[] = "56 * * * *";
int last_minute = -1;
bool mail_pending = false;

namespace {

constexpr char kTriggerExtension[] = ".now";
constexpr std::size_t kTriggerExtensionLength = sizeof kTriggerExtension - 1;

bool is_directory(const platform::DirEntry& entry) {
    return (entry.attributes & platform::kAttrDirectory) != 0;
}

// False when the result would not fit: such a path is never used.
bool format_checked(char* out, std::size_t size, const char* format, const char* a, const char* b) {
    int n = std::snprintf(out, size, format, a, b);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

// False when the path does not fit: nothing is listed then.
bool format_scan_dir(char (&scan_dir)[kPathSize]) {
    return format_checked(scan_dir, sizeof scan_dir, "%s%s", agent_settings.install_dir, "/etc");
}

void scan_directory(const std::tm& tick_time) {
    char scan_dir[kPathSize];
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (!format_scan_dir(scan_dir) || platform::dir_first(scan_dir, nullptr, &search, &entry) != 0) {
        return;
    }
    const std::size_t dir_length = std::strlen(scan_dir);
    do {
        if (base::has_extension(entry.name, ".eml")) {
            if (mail_pending) {
                dispatch::launch_mail_sender();
                mail_pending = false;
            }
        } else if (base::has_extension(entry.name, ".zbs")) {
            if (dir_length + std::strlen(entry.name) + 2 >= kPathSize) {
                continue;
            }
            evaluate_schedule_file(scan_dir, &entry, &tick_time);
        }
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
}

// The search may return looser matches (Windows also matches 8.3 short names,
// so "job.nowx" can answer "*.now"), and a directory can never be deleted:
// only a file whose name really ends in ".now" is a trigger.
bool is_trigger(const platform::DirEntry& entry) {
    return !is_directory(entry) && base::ends_with_ignoring_case(entry.name, kTriggerExtension);
}

}  // namespace

void on_tick() {
    std::tm tick_time{};
    platform::clock_to_local(next_tick, &tick_time);
    mail_pending = true;
    if (tick_time.tm_min != last_minute) {
        // A minute tick by the zone in use so far: the machine's zone may have
        // changed since (a laptop that travelled), so it is looked up again, once
        // a minute, and the tick time converted in it.
        platform::clock_refresh_zone();
        platform::clock_to_local(next_tick, &tick_time);
    }
    if (tick_time.tm_min == last_minute) {
        poll_run_now();
        return;
    }
    last_minute = tick_time.tm_min;
    // The first poll after a minute tick lists the directory in full.
    platform::dir_watch_forget();
    if (match_schedule(kUpdaterSchedule, &tick_time) != 0) {
        dispatch::launch_updater();
    }
    scan_directory(tick_time);
}

void poll_run_now() {
    char scan_dir[kPathSize];
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (!format_scan_dir(scan_dir) || platform::dir_watch_unchanged(scan_dir, kTriggerExtension)) {
        return;  // nothing new since a listing that found no trigger
    }
    if (platform::dir_first(scan_dir, kTriggerExtension, &search, &entry) != 0) {
        // Not one candidate: until one appears every listing would find the same.
        // A directory that could not be read at all proves nothing.
        if (search.listed) {
            platform::dir_watch_settle(scan_dir);
        }
        return;
    }
    char path[kPathSize];
    bool found = false;
    do {
        // A trigger whose path does not fit is passed over like a non-trigger.
        found = is_trigger(entry) &&
                format_checked(path, sizeof path, "%s/etc/%s", agent_settings.install_dir, entry.name);
    } while (!found && platform::dir_next(&search, &entry) == 0);
    // At most one trigger per tick.
    platform::dir_close(&search);
    if (!found) {
        return;
    }
    const std::size_t n = std::strlen(path);
    debug_log("found %s", path);
    if (platform::delete_file(path) != 0) {
        return;  // kept, and tried again at the next polling tick
    }
    path[n - kTriggerExtensionLength] = '\0';
    dispatch::submit_backup_request(path);
}

}  // namespace omvar::cron
