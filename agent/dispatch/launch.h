// Starting the companion programs, fire-and-forget.
#pragma once

#include "agent/dispatch/companions.h"
#include "agent/platform/platform.h"

namespace omvar::dispatch {

// The command lines and working directories, one per row of kCompanionPrograms,
// owned by the agent's settings: a successful start-up hands them over, so that
// this layer does not reach up for them. Until then, or with nullptr, the texts
// are empty and no start succeeds.
void set_companion_commands(const CompanionCommand* commands);

// How the program of the row is started with this command: the launch uses it,
// and the operator tool checks by it what would be started. The texts are the
// row's and the command's own.
platform::LaunchSpec companion_launch_spec(Companion which, const CompanionCommand& command);

// Starts the program as its row says. After a successful start it returns once
// the row's wait has passed; after a failed one at once, silently.
void launch_companion(Companion which);

// Starts, in the table's order, every program whose row is started on this
// occasion (a mail file met, or no engine channel; a scheduled minute also
// needs the row's schedule to match, which the minute tick checks).
void launch_companions(StartedWhen occasion);

}  // namespace omvar::dispatch
