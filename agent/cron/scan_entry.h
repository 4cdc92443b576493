// What the agent does with one entry of its scan directory, "<install_dir>/etc":
// the one rule the minute tick, the run-now poll and the operator tool share.
#pragma once

#include <cstddef>

#include "agent/base/sizes.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

// The names the scan acts on end in these, in any ASCII letter case.
inline constexpr char kScheduleExtension[] = ".zbs";
inline constexpr char kMailExtension[] = ".eml";
inline constexpr char kTriggerExtension[] = ".now";

enum class ScanEntry {
    kScheduleFile,       // "*.zbs": evaluated at every minute tick
    kScheduleTooLong,    // "*.zbs" whose path would be 1024 bytes or more: skipped
    kScheduleDirectory,  // "*.zbs" that is a directory (or a link to one): never opened
    kMail,               // "*.eml", file or directory: the mail sender starts
    kTrigger,            // "*.now" file: a poll deletes it and sends its backup request
    kTriggerTooLong,     // "*.now" whose path does not fit: passed over
    kTriggerDirectory,   // "*.now" directory: it could never be deleted, so passed over
    kOther,              // skipped
};

// The extensions compare without regard to case; scan_dir_length is the length
// of the scan directory path the entry was listed from.
ScanEntry classify_scan_entry(std::size_t scan_dir_length, const platform::DirEntry& entry);

// "<install_dir>/etc"; false when it does not fit, and then nothing is listed.
bool format_scan_dir(const char* install_dir, char (&out)[base::kPathSize]);

// "<scan_dir>/<name>", the path of an entry; false when it does not fit.
bool format_entry_path(const char* scan_dir, const char* name, char (&out)[base::kPathSize]);

}  // namespace omvar::cron
