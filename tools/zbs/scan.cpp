#include "tools/zbs/scan.h"

#include <cstring>

#include "agent/base/sizes.h"
#include "agent/base/text.h"
#include "agent/cron/schedule.h"
#include "agent/cron/tick_actions.h"
#include "agent/crypt/key_file.h"
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
        report->key_state = "ok";
        return;
    }
    char reason[256] = {};
    const std::string key_path = report->install_dir + "/" + crypt::kKeyFilePath;
    platform::PathInfo info = platform::path_info(key_path.c_str(), reason, sizeof reason);
    if (info.kind == platform::PathKind::kMissing) {
        report->key_state = "missing";
        report->key_reason = std::string("no key file: ") + kNoKeyFileConsequence;
    } else if (info.kind == platform::PathKind::kRegular && info.size < crypt::kKeyFileMinLength) {
        report->key_state = "too-short";
        report->key_reason = "the key file has " + std::to_string(info.size) + " bytes; the key needs " +
                             std::to_string(crypt::kKeyFileMinLength);
    } else {
        report->key_state = "unreadable";
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
        row->state = "unreadable";
        row->reason = "it cannot be opened";
        return;
    }
    crypt::EncryptedStream stream;
    if (crypt::estream_open(&stream, file, 0, key_dir.c_str()) != 0) {
        std::fclose(file);
        row->state = "no-key";
        row->reason = "the schedule key cannot be had";
        return;
    }
    int result = read_opened_schedule(&stream, &row->expression, &row->reason);
    crypt::estream_close(&stream);
    std::fclose(file);
    if (result == kExitOk) {
        row->state = "ok";
    } else {
        row->state = row->reason.find("no \"schedule=\" line") != std::string::npos ? "no-schedule-line"
                                                                                    : "not-a-schedule";
    }
}

// The agent's own order of tests: path length, directory, opening, key, contents.
ScheduleRow classify(const ScanReport& report, const platform::DirEntry& entry, const Zone& zone) {
    ScheduleRow row;
    row.name = entry.name;
    if (report.scan_dir.size() + row.name.size() + 2 >= base::kPathSize) {
        row.state = "too-long";
        row.reason = "its path would be 1024 bytes or longer, so the agent skips it";
        return row;
    }
    if ((entry.attributes & platform::kAttrDirectory) != 0) {
        row.state = "directory";
        row.reason = "a directory (or a link to one) is never opened";
        return row;
    }
    const std::string path = report.scan_dir + "/" + entry.name;
    char reason[256] = {};
    platform::PathInfo info = platform::path_info(path.c_str(), reason, sizeof reason);
    switch (info.kind) {
        case platform::PathKind::kDangling:
            row.state = "not-regular";
            row.reason = "a link to nothing";
            return row;
        case platform::PathKind::kOther:
            row.state = "not-regular";
            row.reason = "not a regular file (a FIFO, a device or a socket)";
            return row;
        case platform::PathKind::kRegular:
            if (!platform::can_read_file(path.c_str(), reason, sizeof reason)) {
                row.state = "unreadable";
                row.reason = reason;
                return row;
            }
            break;
        default:
            row.state = "unreadable";
            row.reason = reason;
            return row;
    }
    if (report.key_state != "ok") {
        row.state = "no-key";
        row.reason = report.key_reason;
        return row;
    }
    read_schedule(report.install_dir, path, &row);
    if (row.state != "ok") {
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
    read_key_state(report);
    const Zone zone = zone_around(start);
    {
        const ExpressionRead updater = read_expression(cron::kUpdaterSchedule);
        report->has_updater_next = next_due(due_sets(updater), zone, start, &report->updater_next);
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
        if (base::has_extension(entry.name, ".zbs")) {
            report->rows.push_back(classify(*report, entry, zone));
        } else if (base::has_extension(entry.name, ".eml")) {
            report->mail.emplace_back(entry.name);
        } else if (base::has_extension(entry.name, ".now")) {
            if ((entry.attributes & platform::kAttrDirectory) != 0) {
                report->trigger_dirs.emplace_back(entry.name);
            } else if (install_dir.size() + std::strlen(entry.name) + 5 >= base::kPathSize) {
                report->trigger_too_long.emplace_back(entry.name);
            } else {
                report->triggers.emplace_back(entry.name);
            }
        }
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
    return kExitOk;
}

}  // namespace omvar::zbs
