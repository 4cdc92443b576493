#include "agent/cron/schedule_file.h"

#include <cstring>

#include "agent/base/text.h"
#include "agent/cron/scan_entry.h"
#include "agent/cron/schedule.h"
#include "agent/cron/settings.h"
#include "agent/dispatch/backup_channel.h"

namespace omvar::cron {

const char kScheduleHeader[] = "# Omvar Backup Schedule";
static_assert(sizeof kScheduleHeader - 1 == kScheduleHeaderLength, "header length");
static_assert(sizeof kSchedulePrefix - 1 == kSchedulePrefixLength, "prefix length");

namespace {

void cut_at(char* line, char c) {
    char* p = std::strchr(line, c);
    if (p != nullptr) {
        *p = '\0';
    }
}

}  // namespace

ScheduleLine read_schedule_line(crypt::EncryptedStream* stream, char* line, int size) {
    // strncmp stops at a short line's NUL, so nothing past the line is compared.
    if (crypt::estream_gets(stream, line, size) == nullptr ||
        std::strncmp(line, kScheduleHeader, kScheduleHeaderLength) != 0) {
        return ScheduleLine::kNoHeader;
    }
    while (crypt::estream_gets(stream, line, size) != nullptr) {
        cut_at(line, '\n');
        cut_at(line, '\r');
        if (base::starts_with_ignoring_case(line, kSchedulePrefix)) {
            return ScheduleLine::kFound;
        }
    }
    return ScheduleLine::kNoScheduleLine;
}

void evaluate_schedule_file(const char* dir, const platform::DirEntry* entry, const std::tm* t) {
    // The path and then each line share this buffer.
    char buf[kPathSize];
    if (!format_entry_path(dir, entry->name, buf) || platform::is_directory(*entry)) {
        return;
    }
    // A descriptor, not a buffered stream: for a file shorter than one chunk that
    // is open, fstat, two reads and close, and nothing else.
    int fd = platform::file_open_regular(buf);
    if (fd < 0) {
        return;
    }
    crypt::EncryptedStream stream;
    // The key file below the working directory, which start-up made the install directory.
    if (crypt::estream_open_descriptor(&stream, fd, ".") != 0) {
        platform::file_close(fd);
        return;
    }
    if (read_schedule_line(&stream, buf, static_cast<int>(sizeof buf)) == ScheduleLine::kFound &&
        match_schedule(buf + kSchedulePrefixLength, t) == 1 && format_entry_path(dir, entry->name, buf)) {
        dispatch::submit_backup_request(buf);
    }
    crypt::estream_close(&stream);
    platform::file_close(fd);
}

}  // namespace omvar::cron
