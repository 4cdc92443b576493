// What the agent's minute tick and run-now polls would meet in an install
// directory, found the way they find it, without changing anything.
#pragma once

#include <string>
#include <vector>

#include "agent/dispatch/companions.h"
#include "agent/platform/platform.h"
#include "tools/zbs/reading.h"
#include "tools/zbs/states.h"

namespace omvar::zbs {

struct ScheduleRow {
    std::string name;  // exactly as the directory gives it
    RowState state = RowState::kOk;
    std::string reason;  // why, for every state but kOk
    std::string expression;
    bool due = false;  // some minute within the horizon
    platform::Seconds next = 0;
    bool has_previous = false;
    platform::Seconds previous = 0;
    std::vector<Warning> warnings;
};

// The next start of a companion program that runs at its own minutes.
struct ScheduledStart {
    dispatch::Companion program;
    bool has_next = false;
    platform::Seconds next = 0;
};

struct ScanReport {
    std::string install_dir;
    std::string scan_dir;
    platform::Seconds start = 0;
    KeyState key_state = KeyState::kNotChecked;
    std::string key_reason;
    std::vector<ScheduleRow> rows;
    std::vector<std::string> mail;
    std::vector<std::string> triggers;             // in the order the polls take them
    std::vector<std::string> trigger_dirs;         // named like triggers, never handled
    std::vector<std::string> trigger_too_long;     // their paths do not fit: never handled
    std::vector<ScheduledStart> scheduled_starts;  // companion programs started at set minutes
    std::string error;                             // why the directory could not be read, with kExitUsage
};

// Reads the install directory without changing anything, the working directory
// included. kExitOk, or kExitUsage with report->error when it cannot be read.
int scan_install(const std::string& install_dir, platform::Seconds start, ScanReport* report);

}  // namespace omvar::zbs
