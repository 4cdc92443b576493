#include "agent/cron/settings.h"

#include <cstdio>
#include <cstring>

#include "agent/cron/debug_log.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

AgentSettings agent_settings;

namespace {

// Start-up failures are logged as the source location of the check.
constexpr char kSourcePath[] = "agent\\cron\\cron";
constexpr int kLineTooLong = 159;
constexpr int kLineNoDirectory = 167;

// Formats into a settings field; false if the result would not fit.
bool format_field(char* out, std::size_t size, const char* format, const char* install_dir) {
    int n = std::snprintf(out, size, format, install_dir);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace

int agent_init(const char* text) {
    if (std::strlen(text) >= kPathSize) {
        debug_log("%s:%d", kSourcePath, kLineTooLong);
        return 1;
    }
    std::memcpy(agent_settings.install_dir, text, std::strlen(text) + 1);

    if (platform::change_directory(agent_settings.install_dir) != 0) {
        debug_log("%s:%d", kSourcePath, kLineNoDirectory);
        return 1;
    }

    const char* dir = agent_settings.install_dir;
    AgentSettings& s = agent_settings;
    // The command buffers are sized so that these cannot be cut; the check keeps
    // it that way if the names ever grow.
    bool whole =
        format_field(s.backup_cmd, sizeof s.backup_cmd, "\"%s\\omvar-backup.exe\" background", dir) &&
        format_field(s.backup_dir, sizeof s.backup_dir, "%s", dir) &&
        format_field(s.updater_cmd, sizeof s.updater_cmd, "\"%s\\omvar-update1.exe\"", dir) &&
        format_field(s.updater_dir, sizeof s.updater_dir, "%s", dir) &&
        format_field(s.mailer_cmd, sizeof s.mailer_cmd, "\"%s\\omvar-txmail.exe\"", dir) &&
        format_field(s.mailer_dir, sizeof s.mailer_dir, "%s", dir);
    if (!whole) {
        debug_log("%s:%d", kSourcePath, kLineTooLong);
        return 1;
    }
    return 0;
}

}  // namespace omvar::cron
