#include "agent/cron/tick_actions.h"

#include <cstring>
#include <ctime>

#include "agent/cron/debug_log.h"
#include "agent/cron/scan_entry.h"
#include "agent/cron/schedule.h"
#include "agent/cron/schedule_file.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

int last_minute = -1;

namespace {

constexpr std::size_t kTriggerExtensionLength = sizeof kTriggerExtension - 1;

// The companion programs whose schedule matches this minute, in the table's order.
void launch_scheduled_companions(const std::tm& tick_time) {
    for (int i = 0; i < dispatch::kCompanionCount; ++i) {
        const dispatch::CompanionProgram& program = dispatch::kCompanionPrograms[i];
        if (program.started_when == dispatch::StartedWhen::kAtScheduledMinutes &&
            match_schedule(program.schedule, &tick_time) != 0) {
            dispatch::launch_companion(static_cast<dispatch::Companion>(i));
        }
    }
}

void scan_directory(const std::tm& tick_time) {
    char scan_dir[kPathSize];
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (!format_scan_dir(agent_settings.install_dir, scan_dir) ||
        platform::dir_first(scan_dir, nullptr, &search, &entry) != 0) {
        return;
    }
    const std::size_t dir_length = std::strlen(scan_dir);
    // The mail sender takes every waiting mail: one start per minute tick, on
    // the first entry, whether or not the start succeeds.
    bool mail_pending = true;
    do {
        switch (classify_scan_entry(dir_length, entry)) {
            case ScanEntry::kMail:
                if (mail_pending) {
                    dispatch::launch_companions(dispatch::StartedWhen::kWhileMailWaits);
                    mail_pending = false;
                }
                break;
            case ScanEntry::kScheduleFile:
                evaluate_schedule_file(scan_dir, &entry, &tick_time);
                break;
            default:
                break;
        }
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
}

}  // namespace

void on_tick() {
    std::tm tick_time{};
    platform::clock_to_local(next_tick, &tick_time);
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
    launch_scheduled_companions(tick_time);
    scan_directory(tick_time);
}

void poll_run_now() {
    char scan_dir[kPathSize];
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (!format_scan_dir(agent_settings.install_dir, scan_dir) ||
        platform::dir_watch_unchanged(scan_dir, kTriggerExtension)) {
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
    const std::size_t dir_length = std::strlen(scan_dir);
    char path[kPathSize];
    bool found = false;
    do {
        // The search may return looser matches (Windows also matches 8.3 short
        // names, so "job.nowx" can answer "*.now"); a directory can never be
        // deleted, and a path that does not fit is never used: each is passed over.
        found = classify_scan_entry(dir_length, entry) == ScanEntry::kTrigger &&
                format_entry_path(scan_dir, entry.name, path);
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
