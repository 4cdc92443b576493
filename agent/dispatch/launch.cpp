#include "agent/dispatch/launch.h"

#include "agent/platform/platform.h"

namespace omvar::dispatch {

namespace {

const CompanionCommand kNoCommands[kCompanionCount] = {};
const CompanionCommand* commands_in_force = kNoCommands;

}  // namespace

void set_companion_commands(const CompanionCommand* commands) {
    commands_in_force = commands != nullptr ? commands : kNoCommands;
}

void launch_companion(Companion which) {
    const CompanionProgram& program = kCompanionPrograms[which];
    const CompanionCommand& command = commands_in_force[which];
    platform::LaunchSpec launch_spec{command.command_line, command.working_dir, program.below_normal_priority,
                                     program.desktop};
    if (platform::launch_process(launch_spec) == 0 && program.wait_after_start_ms != 0) {
        // The engine's time to create its mailslot before the second open.
        platform::sleep_ms(program.wait_after_start_ms);
    }
}

}  // namespace omvar::dispatch
