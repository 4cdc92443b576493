// The process entry on POSIX systems: a foreground daemon in the manner that
// service managers such as systemd expect (no forking, no detaching).
#pragma once

#include "agent/cron/settings.h"

namespace omvar::cron {

enum class EntryAction { kRun, kHelp, kVersion, kUsageError };

struct EntryCommand {
    EntryAction action;
    // The arguments joined with single blanks. One byte more than agent_init
    // accepts: a text cut at this size is still too long and is refused as such.
    char install_dir[kPathSize + 1];
    const char* bad_argument;  // for kUsageError; nullptr when none was given
};

void parse_entry_arguments(int argc, char* const* argv, EntryCommand* command);

// Exit codes of the POSIX entry.
constexpr int kExitStopped = 0;
constexpr int kExitFailure = 1;  // start-up failed, or another agent runs here
constexpr int kExitUsage = 2;

int posix_main(int argc, char* const* argv, const char* version);

}  // namespace omvar::cron
