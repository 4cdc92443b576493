// Starting the companion programs, fire-and-forget.
#pragma once

namespace omvar::dispatch {

constexpr unsigned kEngineStartWaitMs = 3000;

void launch_updater();
void launch_mail_sender();
// Returns 3 seconds after a successful start, at once after a failed one.
void launch_backup_engine();

}  // namespace omvar::dispatch
