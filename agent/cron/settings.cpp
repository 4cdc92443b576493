#include "agent/cron/settings.h"

#include <cstring>

#include "agent/base/fixed_codes.h"
#include "agent/base/text.h"
#include "agent/cron/debug_log.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

AgentSettings agent_settings;

namespace {

// The quoted program path, then a blank and each argument.
bool form_command_line(const char* dir, const dispatch::CompanionProgram& program,
                       char (&out)[dispatch::kCommandSize]) {
    // The executable is the first, quoted token, so blanks in the directory are safe.
    if (!base::format_checked(out, sizeof out, "\"%s\\%s\"", dir, program.executable)) {
        return false;
    }
    for (const char* const* argument = program.arguments; *argument != nullptr; ++argument) {
        std::size_t used = std::strlen(out);
        if (!base::format_checked(out + used, sizeof out - used, " %s", *argument)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool form_command_lines(const char* dir, AgentSettings* out) {
    for (int i = 0; i < dispatch::kCompanionCount; ++i) {
        dispatch::CompanionCommand& command = out->companion[i];
        if (!form_command_line(dir, dispatch::kCompanionPrograms[i], command.command_line) ||
            !base::format_checked(command.working_dir, sizeof command.working_dir, "%s", dir)) {
            return false;
        }
    }
    return true;
}

int agent_init(const char* text) {
    // Nothing is started from settings that are being rebuilt, or that failed.
    dispatch::set_companion_commands(nullptr);

    if (std::strlen(text) >= kPathSize) {
        debug_log("%s:%d", kStartupSourcePath, kStartupLineTooLong);
        return 1;
    }
    std::memcpy(agent_settings.install_dir, text, std::strlen(text) + 1);

    if (platform::change_directory(agent_settings.install_dir) != 0) {
        debug_log("%s:%d", kStartupSourcePath, kStartupLineNoDirectory);
        return 1;
    }

    // kCommandSize is derived from the programs' table, so after the length check
    // above this cannot fail; should the table and the sizes ever disagree, the
    // refusal names its cause instead of passing for an over-long install directory.
    if (!form_command_lines(agent_settings.install_dir, &agent_settings)) {
        debug_log("a companion program's command line does not fit");
        return 1;
    }
    dispatch::set_companion_commands(agent_settings.companion);
    return 0;
}

}  // namespace omvar::cron
