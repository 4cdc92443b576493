#include "agent/dispatch/launch.h"

#include "agent/platform/platform.h"

namespace omvar::dispatch {

namespace {

// The interactive desktop of the logged-on user, for the programs that may show a window.
constexpr char kUserDesktop[] = "WinSta0\\Default";

CompanionCommands companions = {"", "", "", "", "", ""};

int launch(const char* command_line, const char* working_dir, bool below_normal, const char* desktop) {
    platform::LaunchSpec launch_spec{command_line, working_dir, below_normal, desktop};
    return platform::launch_process(launch_spec);
}

}  // namespace

void set_companion_commands(const CompanionCommands& commands) { companions = commands; }

void launch_updater() {
    const CompanionCommands& s = companions;
    launch(s.updater_cmd, s.updater_dir, false, kUserDesktop);
}

void launch_mail_sender() {
    const CompanionCommands& s = companions;
    launch(s.mailer_cmd, s.mailer_dir, false, nullptr);
}

void launch_backup_engine() {
    const CompanionCommands& s = companions;
    if (launch(s.backup_cmd, s.backup_dir, true, kUserDesktop) == 0) {
        // Gives the engine time to create its mailslot before the second open.
        platform::sleep_ms(kEngineStartWaitMs);
    }
}

}  // namespace omvar::dispatch
