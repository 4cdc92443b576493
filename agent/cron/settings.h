// The process-wide agent settings, derived once from the install directory.
#pragma once

#include <cstddef>

#include "agent/base/sizes.h"
#include "agent/dispatch/companions.h"

namespace omvar::cron {

using base::kPathSize;
using dispatch::kCommandSize;

struct AgentSettings {
    char install_dir[kPathSize];
    // Indexed by dispatch::Companion: each program's command line and working directory.
    dispatch::CompanionCommand companion[dispatch::kCompanionCount];
};

extern AgentSettings agent_settings;

// 0 on success; 1 when the text is too long or the directory cannot be entered
// (each logged with its source location). Safe to call again.
int agent_init(const char* text);

// Fills the companion programs' command lines and working directories of *out
// for install_dir (not out->install_dir itself), as the agent starts them. Touches
// nothing else: the tool shows them without starting the agent. False when a
// field would not fit, which for an install directory shorter than kPathSize
// never happens.
bool form_command_lines(const char* install_dir, AgentSettings* out);

}  // namespace omvar::cron
