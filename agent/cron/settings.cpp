#include "agent/cron/settings.h"

#include <cstdio>
#include <cstring>

#include "agent/base/fixed_codes.h"
#include "agent/cron/debug_log.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

AgentSettings agent_settings;

namespace {

// Formats into a settings field; false if the result would not fit.
bool format_field(char* out, std::size_t size, const char* format, const char* install_dir) {
    int n = std::snprintf(out, size, format, install_dir);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace

bool form_command_lines(const char* dir, AgentSettings* out) {
    AgentSettings& s = *out;
    // The command buffers are sized so that these cannot be cut; the check keeps
    // it that way if the names ever grow.
    return format_field(s.backup_cmd, sizeof s.backup_cmd, "\"%s\\omvar-backup.exe\" background", dir) &&
           format_field(s.backup_dir, sizeof s.backup_dir, "%s", dir) &&
           format_field(s.updater_cmd, sizeof s.updater_cmd, "\"%s\\omvar-update1.exe\"", dir) &&
           format_field(s.updater_dir, sizeof s.updater_dir, "%s", dir) &&
           format_field(s.mailer_cmd, sizeof s.mailer_cmd, "\"%s\\omvar-txmail.exe\"", dir) &&
           format_field(s.mailer_dir, sizeof s.mailer_dir, "%s", dir);
}

int agent_init(const char* text) {
    // The launches read the settings' own buffers, whatever this call ends with.
    AgentSettings& s = agent_settings;
    dispatch::set_companion_commands(
        {s.updater_cmd, s.updater_dir, s.mailer_cmd, s.mailer_dir, s.backup_cmd, s.backup_dir});

    if (std::strlen(text) >= kPathSize) {
        debug_log("%s:%d", kStartupSourcePath, kStartupLineTooLong);
        return 1;
    }
    std::memcpy(agent_settings.install_dir, text, std::strlen(text) + 1);

    if (platform::change_directory(agent_settings.install_dir) != 0) {
        debug_log("%s:%d", kStartupSourcePath, kStartupLineNoDirectory);
        return 1;
    }

    bool whole = form_command_lines(agent_settings.install_dir, &s);
    if (!whole) {
        debug_log("%s:%d", kStartupSourcePath, kStartupLineTooLong);
        return 1;
    }
    return 0;
}

}  // namespace omvar::cron
