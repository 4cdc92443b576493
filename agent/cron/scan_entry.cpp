#include "agent/cron/scan_entry.h"

#include <cstring>

#include "agent/base/text.h"

namespace omvar::cron {

namespace {

// The entry's path is the scan directory, "/", the name and a NUL.
std::size_t entry_path_size(std::size_t scan_dir_length, const platform::DirEntry& entry) {
    return scan_dir_length + std::strlen(entry.name) + 2;
}

}  // namespace

ScanEntry classify_scan_entry(std::size_t scan_dir_length, const platform::DirEntry& entry) {
    if (base::has_extension(entry.name, kMailExtension)) {
        return ScanEntry::kMail;
    }
    if (base::has_extension(entry.name, kScheduleExtension)) {
        // One byte stricter than the buffer needs: a schedule path of exactly
        // 1023 bytes is skipped too. That is the minute tick's long-standing
        // rule, and a schedule that suddenly started to run would surprise.
        if (entry_path_size(scan_dir_length, entry) >= base::kPathSize) {
            return ScanEntry::kScheduleTooLong;
        }
        return platform::is_directory(entry) ? ScanEntry::kScheduleDirectory : ScanEntry::kScheduleFile;
    }
    if (base::has_extension(entry.name, kTriggerExtension)) {
        if (platform::is_directory(entry)) {
            return ScanEntry::kTriggerDirectory;
        }
        return entry_path_size(scan_dir_length, entry) > base::kPathSize ? ScanEntry::kTriggerTooLong
                                                                         : ScanEntry::kTrigger;
    }
    return ScanEntry::kOther;
}

bool format_scan_dir(const char* install_dir, char (&out)[base::kPathSize]) {
    return base::format_checked(out, sizeof out, "%s/etc", install_dir);
}

bool format_entry_path(const char* scan_dir, const char* name, char (&out)[base::kPathSize]) {
    return base::format_checked(out, sizeof out, "%s/%s", scan_dir, name);
}

}  // namespace omvar::cron
