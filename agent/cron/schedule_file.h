// Evaluating one encrypted schedule file at a minute tick.
#pragma once

#include <ctime>

#include "agent/platform/platform.h"

namespace omvar::cron {

extern const char kScheduleHeader[];  // "# Omvar Backup Schedule"

// Sends at most one backup request, for the file's own path, when its schedule
// expression matches t. Every failure is silent.
void evaluate_schedule_file(const char* dir, const platform::DirEntry* entry, const std::tm* t);

}  // namespace omvar::cron
