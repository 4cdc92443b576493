// watch: the running agent's diagnostic lines as they come, until Ctrl-C.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "agent/platform/inspect.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

// Nothing else asks for the channel's buffer while the tool runs; it is too
// large for a comfortable stack frame.
platform::DebugMessage message;

std::string timestamp() {
    std::tm local{};
    platform::clock_to_local(platform::clock_now(), &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The line without the "\r\n" that the agent puts at its end.
std::string without_line_end(const char* text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// Says on standard error which agent the lines come from, when that changes.
void tell_followed(long pid, const std::string& install_dir) {
    if (pid == 0) {
        std::fprintf(stderr,
                     "omvar-zbs: no agent runs for %s (no process id in its pid file); waiting for one\n",
                     shown(install_dir).c_str());
    } else {
        std::fprintf(stderr, "omvar-zbs: showing the lines of the agent process %ld; Ctrl-C ends\n", pid);
    }
}

// Says on standard error where the lines come from: the service writes to the
// global channel, which only an elevated prompt may create.
void tell_channels(platform::DebugChannels channels) {
    switch (channels) {
        case platform::DebugChannels::kGlobalAndSession:
            std::fprintf(stderr,
                         "omvar-zbs: listening on the global debugger output (the service's) and on this "
                         "session's\n");
            break;
        case platform::DebugChannels::kGlobal:
            std::fprintf(stderr, "omvar-zbs: listening on the global debugger output (the service's)\n");
            break;
        case platform::DebugChannels::kSessionOnly:
            std::fprintf(stderr,
                         "omvar-zbs: listening on this session's debugger output only: the service writes to "
                         "the global one, and creating that needs an elevated prompt; run watch as "
                         "administrator to see the service's lines\n");
            break;
        case platform::DebugChannels::kNone:
            break;
    }
}

}  // namespace

int run_watch(const Options& options) {
    if (platform::system_debug_destination() == platform::DebugDestination::kStandardError) {
        std::printf(
            "The agent writes its diagnostic lines to its standard error. Run as the service,\n"
            "they are in the journal; follow them with:\n"
            "  journalctl -u omvar-cron -f\n");
        return std::fflush(stdout) == 0 ? kExitOk : fail(kExitUsage, "cannot write to standard output");
    }
    std::error_code error;
    const std::string install_dir = std::filesystem::absolute(options.install_dir, error).string();
    if (error) {
        return fail(kExitUsage, "cannot resolve the path %s", shown(options.install_dir).c_str());
    }
    char pid_path[cron::kPidPathSize];
    if (!cron::format_pid_file_path(install_dir.c_str(), pid_path, sizeof pid_path)) {
        return fail(kExitUsage, "the install directory %s is too long for the agent",
                    shown(install_dir).c_str());
    }
    platform::DebugListener listener;
    char reason[256] = {};
    if (platform::debug_listen_open(&listener, reason, sizeof reason) != 0) {
        return fail(kExitUsage, "cannot listen to the debugger output: %s", reason);
    }
    tell_channels(listener.channels);
    long followed = -1;
    auto follow = [&] {
        long pid = read_pid(pid_path);
        if (pid != followed) {
            tell_followed(pid, install_dir);
            followed = pid;
        }
    };
    for (;;) {
        // The pid file is read again every quiet second and for every line of
        // another process, so that a restarted agent is followed from its first line.
        follow();
        int got = platform::debug_listen_next(&listener, 1000, &message);
        if (got < 0) {
            platform::debug_listen_close(&listener);
            return fail(kExitUsage, "the debugger output could not be read");
        }
        if (got == 1 && message.pid != static_cast<unsigned long>(followed)) {
            follow();
        }
        if (got == 0 || followed == 0 || message.pid != static_cast<unsigned long>(followed)) {
            continue;
        }
        std::printf("%s %s\n", timestamp().c_str(), shown(without_line_end(message.text)).c_str());
        if (std::fflush(stdout) != 0) {
            platform::debug_listen_close(&listener);
            return fail(kExitUsage, "cannot write to standard output");
        }
    }
}

}  // namespace omvar::zbs
