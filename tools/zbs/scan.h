// What the agent's minute tick and run-now polls would meet in an install
// directory, found the way they find it, without changing anything.
#pragma once

#include <string>
#include <vector>

#include "agent/platform/platform.h"
#include "tools/zbs/reading.h"

namespace omvar::zbs {

struct ScheduleRow {
    std::string name;  // exactly as the directory gives it
    std::string
        state;  // ok, not-a-schedule, no-schedule-line, directory, not-regular, unreadable, too-long, no-key
    std::string reason;  // why, for every state but ok
    std::string expression;
    bool due = false;  // some minute within the horizon
    platform::Seconds next = 0;
    bool has_previous = false;
    platform::Seconds previous = 0;
    std::vector<Warning> warnings;
};

struct ScanReport {
    std::string install_dir;
    std::string scan_dir;
    platform::Seconds start = 0;
    std::string key_state;  // ok, missing, too-short, unreadable
    std::string key_reason;
    std::vector<ScheduleRow> rows;
    std::vector<std::string> mail;
    std::vector<std::string> triggers;          // in the order the polls take them
    std::vector<std::string> trigger_dirs;      // named like triggers, never handled
    std::vector<std::string> trigger_too_long;  // their paths do not fit: never handled
    platform::Seconds updater_next = 0;
    bool has_updater_next = false;
    std::string error;  // why the directory could not be read, with kExitUsage
};

// Reads the install directory without changing anything, the working directory
// included. kExitOk, or kExitUsage with report->error when it cannot be read.
int scan_install(const std::string& install_dir, platform::Seconds start, ScanReport* report);

}  // namespace omvar::zbs
