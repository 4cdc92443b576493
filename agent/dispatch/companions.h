// The companion programs the agent starts, one row each. The settings form
// their command lines from it, the launch starts them by it, the minute tick
// reads when they are due from it, and the operator tool shows and checks them
// by it: a further program is one more row.
#pragma once

#include <cstddef>
#include <string>

#include "agent/base/sizes.h"

namespace omvar::dispatch {

// When a companion program is started.
enum class StartedWhen {
    kAtScheduledMinutes,  // a minute tick that matches the row's schedule expression
    kWhileMailWaits,      // a minute tick whose scan meets a mail file
    kWhenEngineMissing,   // a backup request that finds no engine channel
};

struct CompanionProgram {
    const char* role;        // "engine", "updater", "mailer": how the tool names it
    const char* executable;  // in the install directory
    const char* arguments;   // after the quoted path, with its leading blank; "" for none
    bool below_normal_priority;
    const char* desktop;  // nullptr: the agent's own
    StartedWhen started_when;
    const char* schedule;          // with kAtScheduledMinutes, else nullptr
    unsigned wait_after_start_ms;  // after a successful start: time to open its channel
    bool backups_need_it;          // no backup runs while it cannot be started
};

// The interactive desktop of the logged-on user, for the programs that may show a window.
inline constexpr char kUserDesktop[] = "WinSta0\\Default";

// Row indices; the order is the order in which start-up forms the command lines.
enum Companion : int { kBackupEngine, kUpdater, kMailSender, kCompanionCount };

// role, executable, arguments, below-normal priority, desktop, started when,
// schedule, wait after start (ms), backups need it
inline constexpr CompanionProgram kCompanionPrograms[kCompanionCount] = {
    {"engine", "omvar-backup.exe", " background", true, kUserDesktop, StartedWhen::kWhenEngineMissing,
     nullptr, 3000, true},
    {"updater", "omvar-update1.exe", "", false, kUserDesktop, StartedWhen::kAtScheduledMinutes, "56 * * * *",
     0, false},
    {"mailer", "omvar-txmail.exe", "", false, nullptr, StartedWhen::kWhileMailWaits, nullptr, 0, false},
};

// What a command line adds to the install directory: two quotes, a backslash,
// the executable's name and the arguments.
constexpr std::size_t command_line_addition(const CompanionProgram& program) {
    return 3 + std::char_traits<char>::length(program.executable) +
           std::char_traits<char>::length(program.arguments);
}

constexpr std::size_t longest_command_line_addition() {
    std::size_t longest = 0;
    for (const CompanionProgram& program : kCompanionPrograms) {
        longest = command_line_addition(program) > longest ? command_line_addition(program) : longest;
    }
    return longest;
}

// Room for every program's command line from every install directory the agent
// accepts (shorter than kPathSize), terminator included: those always fit whole.
constexpr std::size_t kCommandSize = base::kPathSize + longest_command_line_addition();

// One program's command line and working directory, as start-up forms them.
struct CompanionCommand {
    char command_line[kCommandSize];
    char working_dir[base::kPathSize];
};

}  // namespace omvar::dispatch
