// Starting the companion programs, fire-and-forget.
#pragma once

namespace omvar::dispatch {

constexpr unsigned kEngineStartWaitMs = 3000;

// The command line and working directory of each companion program, owned by
// the agent's settings: start-up hands them over, so that this layer does not
// reach up for them. Until then the texts are empty.
struct CompanionCommands {
    const char* updater_cmd;
    const char* updater_dir;
    const char* mailer_cmd;
    const char* mailer_dir;
    const char* backup_cmd;
    const char* backup_dir;
};
void set_companion_commands(const CompanionCommands& commands);

void launch_updater();
void launch_mail_sender();
// Returns 3 seconds after a successful start, at once after a failed one.
void launch_backup_engine();

}  // namespace omvar::dispatch
