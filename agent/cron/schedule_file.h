// Evaluating one encrypted schedule file at a minute tick.
#pragma once

#include <ctime>

#include "agent/crypt/estream.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

extern const char kScheduleHeader[];  // "# Omvar Backup Schedule"
constexpr int kScheduleHeaderLength = 23;
constexpr char kSchedulePrefix[] = "schedule=";
constexpr int kSchedulePrefixLength = 9;

// Sends at most one backup request, for the file's own path, when its schedule
// expression matches t. Every failure is silent.
void evaluate_schedule_file(const char* dir, const platform::DirEntry* entry, const std::tm* t);

enum class ScheduleLine { kNoHeader, kNoScheduleLine, kFound };

// Reads an open stream as the agent does: checks the header line, then looks for
// the first "schedule=" line. With kFound, line holds it, cut at its line feed
// and carriage return; the expression starts kSchedulePrefixLength bytes in.
ScheduleLine read_schedule_line(crypt::EncryptedStream* stream, char* line, int size);

}  // namespace omvar::cron
