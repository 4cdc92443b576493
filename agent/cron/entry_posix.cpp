#include "agent/cron/entry_posix.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "agent/cron/tick_loop.h"
#include "agent/platform/daemon.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

namespace {

constexpr char kUsage[] =
    "usage: omvar-cron [--] INSTALL_DIR\n"
    "       omvar-cron --help | --version\n"
    "\n"
    "Runs the omvar scheduling agent in the foreground for the product installed in\n"
    "INSTALL_DIR (an absolute path; several arguments are joined with single blanks).\n"
    "Once a minute it starts the updater at minute 56, the mail sender when mail\n"
    "files wait in INSTALL_DIR/etc, and hands due schedule files and run-now\n"
    "triggers to the backup engine. Diagnostics go to standard error.\n"
    "SIGTERM or SIGINT stops it after the current tick.\n";

// Appends text to the joined install directory, cutting at the buffer's end;
// a cut text is already too long for agent_init, which refuses it.
void append(EntryCommand* command, std::size_t* length, const char* text) {
    std::size_t room = sizeof command->install_dir - 1 - *length;
    std::size_t n = std::strlen(text);
    if (n > room) {
        n = room;
    }
    std::memcpy(command->install_dir + *length, text, n);
    *length += n;
    command->install_dir[*length] = '\0';
}

std::atomic<int> run_flag{1};

}  // namespace

void parse_entry_arguments(int argc, char* const* argv, EntryCommand* command) {
    command->action = EntryAction::kRun;
    command->install_dir[0] = '\0';
    command->bad_argument = nullptr;

    bool options_done = false;
    int joined = 0;
    std::size_t length = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_done && std::strncmp(arg, "--", 2) == 0) {
            if (std::strcmp(arg, "--") == 0) {
                options_done = true;
                continue;
            }
            if (std::strcmp(arg, "--help") == 0) {
                command->action = EntryAction::kHelp;
            } else if (std::strcmp(arg, "--version") == 0) {
                command->action = EntryAction::kVersion;
            } else {
                command->action = EntryAction::kUsageError;
                command->bad_argument = arg;
            }
            return;
        }
        if (joined > 0) {
            append(command, &length, " ");
        }
        append(command, &length, arg);
        ++joined;
    }
    if (joined == 0) {
        command->action = EntryAction::kUsageError;
    }
}

int posix_main(int argc, char* const* argv, const char* version) {
    static EntryCommand command;
    parse_entry_arguments(argc, argv, &command);
    switch (command.action) {
        case EntryAction::kHelp:
            std::fputs(kUsage, stdout);
            return kExitStopped;
        case EntryAction::kVersion:
            std::printf("omvar-cron %s\n", version);
            return kExitStopped;
        case EntryAction::kUsageError:
            if (command.bad_argument != nullptr) {
                std::fprintf(stderr, "omvar-cron: unknown option '%s'\n", command.bad_argument);
            } else {
                std::fprintf(stderr, "omvar-cron: no install directory given\n");
            }
            std::fputs(kUsage, stderr);
            return kExitUsage;
        case EntryAction::kRun:
            break;
    }

    platform::install_stop_signals(&run_flag);
    if (agent_init(command.install_dir) != 0) {
        return kExitFailure;
    }

    // One agent per install directory: a second one would send every due job twice.
    // The loop writes the pid through the lock taken here and releases both.
    int holder = 0;
    if (acquire_pid_file(&holder) == platform::PidLock::kHeldByOther) {
        std::fprintf(stderr, "omvar-cron: another agent (pid %d) is running for %s\n", holder,
                     command.install_dir);
        return kExitFailure;
    }

    platform::notify_ready();
    cron_run(&run_flag);
    platform::notify_stopping();
    return kExitStopped;
}

}  // namespace omvar::cron
