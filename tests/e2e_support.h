// Helpers of the tests that run the real omvar-cron binary and the stand-in
// companions as processes: starting a program with an exact environment, as
// another user if needed, waiting for it, and the clock library that sets the
// agent's wall clock.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace omvar::test {

// libfaketime as found when the build was configured, "" if it was not there.
std::string libfaketime_path();

// Starts a program (args[0] its path) with exactly this environment ("NAME=value"
// entries), working directory and standard error and output (appended to), as
// the user given (0: the test's own; otherwise also its group id), in a session
// of its own when own_session is set (as a daemon runs: no terminal). No other
// descriptor of the test reaches it. Its pid; the child exits 125 if it cannot
// become the user, 126 if its streams, directory or session fail, 127 if the
// program cannot be run.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& cwd,
            const std::string& out_path, const std::string& err_path, uid_t user = 0,
            bool own_session = false);

// Waits for the process to end: its exit code, -2 after a signal, -1 on a timeout
// (the process is then left running).
int wait_exit(pid_t pid, int timeout_ms);

// SIGTERM, then the exit code; -1 if it had to be killed or ended by a signal.
int stop_child(pid_t pid, int timeout_ms);

// Field number field (1: the pid, 3: the state, 4: the parent...) of
// /proc/PID/stat; "" when there is none or the process is gone.
std::string proc_stat_field(pid_t pid, int field);

// Copies the program into dir (created if missing) so that the user can run it:
// the build directory may lie where only its owner can reach it (a clone in
// /root). The copy's path, or "" with the reason in *why when the user still
// cannot run it there (a parent of dir closed to others).
std::string copy_for_user(const std::string& program, const std::string& dir, uid_t user, std::string* why);

}  // namespace omvar::test
