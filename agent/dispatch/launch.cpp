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

platform::LaunchSpec companion_launch_spec(Companion which, const CompanionCommand& command) {
    const CompanionProgram& program = kCompanionPrograms[which];
    // The programs live in the install directory, which is also their working directory.
    return platform::LaunchSpec{command.command_line, command.working_dir, program.below_normal_priority,
                                program.desktop,      command.working_dir, program.executable,
                                program.arguments};
}

void launch_companions(StartedWhen occasion) {
    for (int i = 0; i < kCompanionCount; ++i) {
        if (kCompanionPrograms[i].started_when == occasion) {
            launch_companion(static_cast<Companion>(i));
        }
    }
}

void launch_companion(Companion which) {
    const CompanionProgram& program = kCompanionPrograms[which];
    if (platform::launch_process(companion_launch_spec(which, commands_in_force[which])) == 0 &&
        program.wait_after_start_ms != 0) {
        // The engine's time to create its mailslot before the second open.
        platform::sleep_ms(program.wait_after_start_ms);
    }
}

}  // namespace omvar::dispatch
