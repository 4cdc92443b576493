// The process-wide agent settings, derived once from the install directory.
#pragma once

#include <cstddef>

#include "agent/base/sizes.h"

namespace omvar::cron {

using base::kPathSize;
// Command lines add a quote, a backslash, the executable name, a quote and at most
// " background" to the install directory; their buffers have room for that, so an
// install directory that passes the length check always yields whole command lines.
constexpr std::size_t kCommandSize = kPathSize + 32;

struct AgentSettings {
    char install_dir[kPathSize];
    char updater_cmd[kCommandSize];
    char updater_dir[kPathSize];
    char mailer_cmd[kCommandSize];
    char mailer_dir[kPathSize];
    char backup_cmd[kCommandSize];
    char backup_dir[kPathSize];
};

extern AgentSettings agent_settings;

// 0 on success; 1 when the text is too long or the directory cannot be entered
// (each logged with its source location). Safe to call again.
int agent_init(const char* text);

// Fills the companion programs' command lines and working directories of *out
// for install_dir (not out->install_dir itself), as the agent starts them. Touches
// nothing else: the tool shows them without starting the agent. False when a
// field would not fit.
bool form_command_lines(const char* install_dir, AgentSettings* out);

}  // namespace omvar::cron
