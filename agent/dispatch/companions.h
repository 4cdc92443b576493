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
    const char* role;              // "engine", "updater", "mailer": how the tool names it
    const char* executable;        // in the install directory
    const char* const* arguments;  // after the program, nullptr-ended (see kEngineArguments)
    bool below_normal_priority;
    const char* desktop;  // nullptr: the agent's own
    StartedWhen started_when;
    const char* schedule;          // with kAtScheduledMinutes, else nullptr
    unsigned wait_after_start_ms;  // after a successful start: time to open its channel
    bool backups_need_it;          // no backup runs while it cannot be started
};

// The interactive desktop of the logged-on user, for the programs that may show a window.
inline constexpr char kUserDesktop[] = "WinSta0\\Default";

// A program's arguments. Each is one plain word: the Windows command line joins
// them with blanks and the program's runtime splits them back, while a platform
// that starts programs from an argument vector passes them as they are; without
// blanks, tabs, quotes or backslashes both readings agree.
inline constexpr const char* kEngineArguments[] = {"background", nullptr};
inline constexpr const char* kNoArguments[] = {nullptr};

// Row indices; the order is the order in which start-up forms the command lines.
enum Companion : int { kBackupEngine, kUpdater, kMailSender, kCompanionCount };

// role, executable, arguments, below-normal priority, desktop, started when,
// schedule, wait after start (ms), backups need it
inline constexpr CompanionProgram kCompanionPrograms[kCompanionCount] = {
    {"engine", "omvar-backup.exe", kEngineArguments, true, kUserDesktop, StartedWhen::kWhenEngineMissing,
     nullptr, 3000, true},
    {"updater", "omvar-update1.exe", kNoArguments, false, kUserDesktop, StartedWhen::kAtScheduledMinutes,
     "56 * * * *", 0, false},
    {"mailer", "omvar-txmail.exe", kNoArguments, false, nullptr, StartedWhen::kWhileMailWaits, nullptr, 0,
     false},
};

// What a command line adds to the install directory: two quotes, a backslash,
// the executable's name and a blank before each argument.
constexpr std::size_t command_line_addition(const CompanionProgram& program) {
    std::size_t length = 3 + std::char_traits<char>::length(program.executable);
    for (const char* const* argument = program.arguments; *argument != nullptr; ++argument) {
        length += 1 + std::char_traits<char>::length(*argument);
    }
    return length;
}

constexpr bool plain_word(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text == ' ' || *text == '\t' || *text == '"' || *text == '\\') {
            return false;
        }
    }
    return true;
}

constexpr bool arguments_are_plain_words() {
    for (const CompanionProgram& program : kCompanionPrograms) {
        for (const char* const* argument = program.arguments; *argument != nullptr; ++argument) {
            if (!plain_word(*argument)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(arguments_are_plain_words(),
              "a companion argument would read differently on the two platforms");

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
