#include "tools/zbs/scan.h"

#include <cstring>

#include "agent/base/sizes.h"
#include "agent/cron/scan_entry.h"
#include "agent/cron/schedule_file.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

void read_key_state(ScanReport* report) {
    unsigned char key[crypt::kScheduleKeySize];
    crypt::reset_schedule_key_cache();
    int result = crypt::read_existing_schedule_key(report->install_dir.c_str(), key);
    std::memset(key, 0, sizeof key);
    if (result == 0) {
        report->key_state = KeyState::kOk;
        return;
    }
    char reason[256] = {};
    const std::string key_path = report->install_dir + "/" + crypt::kKeyFilePath;
    platform::PathInfo info = platform::path_info(key_path.c_str(), reason, sizeof reason);
    if (info.kind == platform::PathKind::kMissing) {
        report->key_state = KeyState::kMissing;
        report->key_reason = std::string("no key file: ") + kNoKeyFileConsequence;
    } else if (info.kind == platform::PathKind::kRegular && info.size < crypt::kKeyFileMinLength) {
        report->key_state = KeyState::kTooShort;
        report->key_reason = "the key file has " + std::to_string(info.size) + " bytes; the key needs " +
                             std::to_string(crypt::kKeyFileMinLength);
    } else {
        report->key_state = KeyState::kUnreadable;
        if (info.symlink) {
            std::snprintf(reason, sizeof reason, "a symlink, which the agent does not follow");
        } else if (info.kind == platform::PathKind::kDangling || info.kind == platform::PathKind::kOther ||
                   info.kind == platform::PathKind::kDirectory) {
            std::snprintf(reason, sizeof reason, "not a regular file");
        }
        report->key_reason = std::string("the key file cannot be read: ") + reason;
    }
}

void read_schedule(const std::string& key_dir, const std::string& path, ScheduleRow* row) {
    std::FILE* file = platform::open_regular_file(path.c_str());
    if (file == nullptr) {
        row->state = RowState::kUnreadable;
        row->reason = "it cannot be opened";
        return;
    }
    crypt::EncryptedStream stream;
    if (crypt::estream_open(&stream, file, 0, key_dir.c_str()) != 0) {
        std::fclose(file);
        row->state = RowState::kNoKey;
        row->reason = "the schedule key cannot be had";
        return;
    }
    cron::ScheduleLine found = cron::ScheduleLine::kNoHeader;
    read_opened_schedule(&stream, &row->expression, &row->reason, &found);
    crypt::estream_close(&stream);
    std::fclose(file);
    switch (found) {
        case cron::ScheduleLine::kFound:
            row->state = RowState::kOk;
            break;
        case cron::ScheduleLine::kNoScheduleLine:
            row->state = RowState::kNoScheduleLine;
            break;
        case cron::ScheduleLine::kNoHeader:
            row->state = RowState::kNotASchedule;
            break;
    }
}

// A schedule entry, after the agent's own tests (path length, directory) and in
// its order: opening, key, contents.
ScheduleRow read_row(const ScanReport& report, const platform::DirEntry& entry, cron::ScanEntry kind,
                     const Zone& zone) {
    ScheduleRow row;
    row.name = entry.name;
    if (kind == cron::ScanEntry::kScheduleTooLong) {
        row.state = RowState::kTooLong;
        row.reason = "its path would be 1024 bytes or longer, so the agent skips it";
        return row;
    }
    if (kind == cron::ScanEntry::kScheduleDirectory) {
        row.state = RowState::kDirectory;
        row.reason = "a directory (or a link to one) is never opened";
        return row;
    }
    const std::string path = report.scan_dir + "/" + entry.name;
    char reason[256] = {};
    platform::PathInfo info = platform::path_info(path.c_str(), reason, sizeof reason);
    switch (info.kind) {
        case platform::PathKind::kDangling:
            row.state = RowState::kNotRegular;
            row.reason = "a link to nothing";
            return row;
        case platform::PathKind::kOther:
            row.state = RowState::kNotRegular;
            row.reason = "not a regular file (a FIFO, a device or a socket)";
            return row;
        case platform::PathKind::kRegular:
            if (!platform::can_read_file(path.c_str(), reason, sizeof reason)) {
                row.state = RowState::kUnreadable;
                row.reason = reason;
                return row;
            }
            break;
        default:
            row.state = RowState::kUnreadable;
            row.reason = reason;
            return row;
    }
    if (report.key_state != KeyState::kOk) {
        row.state = RowState::kNoKey;
        row.reason = report.key_reason;
        return row;
    }
    read_schedule(report.install_dir, path, &row);
    if (row.state != RowState::kOk) {
        return row;
    }
    const ExpressionRead read = read_expression(row.expression);
    const DueSets sets = due_sets(read);
    row.due = next_due(sets, zone, report.start, &row.next);
    row.has_previous = previous_due(sets, zone, report.start, &row.previous);
    row.warnings = all_warnings(read, zone, report.start);
    return row;
}

}  // namespace

int scan_install(const std::string& install_dir, platform::Seconds start, ScanReport* report) {
    report->install_dir = install_dir;
    report->scan_dir = install_dir + "/etc";
    report->start = start;
    if (install_dir.size() >= base::kPathSize) {
        report->error = "the install directory's path is 1024 bytes or longer: the agent refuses it";
        return kExitUsage;
    }
    char scan_dir[base::kPathSize];
    if (!cron::format_scan_dir(install_dir.c_str(), scan_dir)) {
        report->error =
            "the path of the install directory's etc would be 1024 bytes or longer: the agent "
            "lists nothing in it";
        return kExitUsage;
    }
    read_key_state(report);
    const Zone zone = zone_around(start);
    for (int i = 0; i < dispatch::kCompanionCount; ++i) {
        const dispatch::CompanionProgram& program = dispatch::kCompanionPrograms[i];
        if (program.started_when == dispatch::StartedWhen::kAtScheduledMinutes) {
            ScheduledStart scheduled{static_cast<dispatch::Companion>(i)};
            scheduled.has_next =
                next_due(due_sets(read_expression(program.schedule)), zone, start, &scheduled.next);
            report->scheduled_starts.push_back(scheduled);
        }
    }
    char reason[256] = {};
    if (!platform::directory_listable(report->scan_dir.c_str(), reason, sizeof reason)) {
        report->error = "cannot list " + shown(report->scan_dir) + ": " + reason;
        return kExitUsage;
    }
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (platform::dir_first(report->scan_dir.c_str(), nullptr, &search, &entry) != 0) {
        report->error = "cannot list " + shown(report->scan_dir);
        return kExitUsage;
    }
    do {
        const cron::ScanEntry kind = cron::classify_scan_entry(report->scan_dir.size(), entry);
        switch (kind) {
            case cron::ScanEntry::kScheduleFile:
            case cron::ScanEntry::kScheduleTooLong:
            case cron::ScanEntry::kScheduleDirectory:
                report->rows.push_back(read_row(*report, entry, kind, zone));
                break;
            case cron::ScanEntry::kMail:
                report->mail.emplace_back(entry.name);
                break;
            case cron::ScanEntry::kTrigger:
                report->triggers.emplace_back(entry.name);
                break;
            case cron::ScanEntry::kTriggerTooLong:
                report->trigger_too_long.emplace_back(entry.name);
                break;
            case cron::ScanEntry::kTriggerDirectory:
                report->trigger_dirs.emplace_back(entry.name);
                break;
            case cron::ScanEntry::kOther:
                break;
        }
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
    return kExitOk;
}

}  // namespace omvar::zbs
