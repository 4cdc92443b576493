// status: a health check of one installation, one finding per line.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/key_file.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/json.h"
#include "tools/zbs/scan.h"
#include "tools/zbs/service_status.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

std::string pid_text(long pid) { return std::to_string(pid); }

Finding agent_finding(const char* pid_path) {
    char reason[256] = {};
    platform::PathInfo info = platform::path_info(pid_path, reason, sizeof reason);
    if (info.kind == platform::PathKind::kMissing) {
        return {"agent", Level::kFail, "not running (no pid file)"};
    }
    long pid = read_pid(pid_path);
    if (pid == 0) {
        return {"agent", Level::kFail, "stale pid file: it holds no process id"};
    }
    platform::ProcessState state = platform::process_state(static_cast<int>(pid));
    if (state == platform::ProcessState::kGone) {
        return {"agent", Level::kFail, "stale pid file: process " + pid_text(pid) + " does not exist"};
    }
    int holder = platform::pid_file_lock_holder(pid_path);
    if (holder < 0 || state == platform::ProcessState::kUnknown) {
        return {"agent", Level::kOk, "running, pid " + pid_text(pid)};
    }
    if (holder == 0) {
        return {
            "agent", Level::kFail,
            "stale pid file: process " + pid_text(pid) + " exists, but nothing holds the pid file's lock"};
    }
    if (holder != pid) {
        return {"agent", Level::kWarn,
                "the pid file names process " + pid_text(pid) + ", but process " + pid_text(holder) +
                    " holds its lock"};
    }
    return {"agent", Level::kOk, "running, pid " + pid_text(pid) + ", holding the pid file's lock"};
}

// Leaves only SYSTEM and Administrators on a Windows file's access list:
// nothing inherited, the groups of every user taken off, full control for the
// two. By SID, which every language of Windows reads alike.
std::string owner_only_command(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "icacls \"" + shown(path) +
           "\" /inheritance:r /remove:g *S-1-1-0 *S-1-5-32-545 *S-1-5-11 *S-1-5-4"
           " /grant:r *S-1-5-18:F *S-1-5-32-544:F";
}

Finding key_finding(const ScanReport& report, const std::string& install_dir) {
    if (report.key_state == KeyState::kNotChecked) {
        return {"key-file", Level::kFail, "not checked: " + report.error};
    }
    if (report.key_state == KeyState::kMissing) {
        return {"key-file", report.rows.empty() ? Level::kWarn : Level::kFail, report.key_reason};
    }
    if (report.key_state != KeyState::kOk) {
        return {"key-file", Level::kFail, report.key_reason};
    }
    char reason[256] = {};
    const std::string key_path = report.install_dir + "/" + crypt::kKeyFilePath;
    platform::PathInfo info = platform::path_info(key_path.c_str(), reason, sizeof reason);
    if (info.permissions_known && info.others_may_access) {
        return {"key-file", Level::kWarn,
                "usable, but readable by others: its permissions should be owner-only"};
    }
    switch (platform::file_access_list(key_path.c_str(), reason, sizeof reason)) {
        case platform::AccessList::kReadableByOthers:
            return {"key-file", Level::kWarn,
                    "usable, but readable by others: its access list should hold only SYSTEM and "
                    "Administrators; from an elevated prompt: " +
                        owner_only_command(install_dir + "/" + crypt::kKeyFilePath)};
        case platform::AccessList::kError:
            return {"key-file", Level::kOk, std::string("usable; its access list cannot be read: ") + reason};
        case platform::AccessList::kClosed:
        case platform::AccessList::kNotKept:
            break;
    }
    return {"key-file", Level::kOk, "usable"};
}

Finding schedules_finding(const ScanReport& report) {
    if (!report.error.empty()) {
        return {"schedule-files", Level::kFail, "not checked: " + report.error};
    }
    std::size_t ok = 0;
    std::string failing;
    std::string never;
    for (const ScheduleRow& row : report.rows) {
        if (row.state != RowState::kOk) {
            failing += (failing.empty() ? "" : ", ") + shown(row.name) + " (" + word(row.state) + ")";
        } else if (!row.due) {
            never += (never.empty() ? "" : ", ") + shown(row.name);
        } else {
            ++ok;
        }
    }
    std::string detail = std::to_string(ok) + " ok";
    if (!failing.empty()) {
        detail += "; failing: " + failing;
    }
    if (!never.empty()) {
        detail += "; never due: " + never;
    }
    const Level level = !failing.empty() ? Level::kFail : (never.empty() ? Level::kOk : Level::kWarn);
    return {"schedule-files", level, detail};
}

// The program as it is started, then the command line the agent forms (on Linux
// the program is not read from the command line, and the two differ).
Finding program_finding(dispatch::Companion which, const dispatch::CompanionCommand& command) {
    const dispatch::CompanionProgram& companion = dispatch::kCompanionPrograms[which];
    const char* command_line = command.command_line;
    const std::string name = std::string(companion.role) + "-program";
    char reason[256] = {};
    char program[cron::kCommandSize] = {};
    const bool startable = platform::program_startable(dispatch::companion_launch_spec(which, command),
                                                       program, sizeof program, reason, sizeof reason);
    const std::string shown_program =
        shown(*program != '\0' ? program : command_line) + " (command line: " + shown(command_line) + ")";
    if (startable) {
        return {name, Level::kOk, "present and startable: " + shown_program};
    }
    std::string detail = "cannot be started: " + shown_program + ": " + reason;
    if (companion.backups_need_it) {
        detail += std::string("; no backup can start while the ") + companion.role + " is not running";
    }
    return {name, companion.backups_need_it ? Level::kFail : Level::kWarn, detail};
}

Finding channel_finding(const char* pid_path) {
    long owner = -1;
    platform::ChannelState state = platform::channel_probe(dispatch::kBackupMailslot, &owner);
    if (state == platform::ChannelState::kMissing) {
        return {"engine-channel", Level::kOk,
                "does not exist: the agent starts the engine when a backup is due"};
    }
    if (state == platform::ChannelState::kError) {
        return {"engine-channel", Level::kWarn, "exists, but cannot be opened for writing by this user"};
    }
    char reason[256] = {};
    platform::PathInfo pid_info = platform::path_info(pid_path, reason, sizeof reason);
    const long agent_user =
        pid_info.kind == platform::PathKind::kRegular ? pid_info.owner : platform::current_user();
    if (owner < 0) {
        return {"engine-channel", Level::kOk, "exists: the engine is running"};
    }
    if (owner == 0 || owner == agent_user) {
        return {"engine-channel", Level::kOk, "exists and belongs to user " + std::to_string(owner)};
    }
    return {"engine-channel", Level::kFail,
            "belongs to user " + std::to_string(owner) + ", neither root nor the agent's user " +
                std::to_string(agent_user) + ": the agent refuses to write to it"};
}

Finding etc_finding(const ScanReport& report) {
    if (platform::directory_writable(report.scan_dir.c_str())) {
        return {"etc-directory", Level::kOk,
                "exists and is writable: triggers can be deleted, the key file made"};
    }
    return {"etc-directory", Level::kFail,
            "not writable: run-now triggers cannot be deleted (so never run) and no key file can be made"};
}

Finding triggers_finding(const ScanReport& report) {
    if (!report.error.empty()) {
        return {"triggers", Level::kFail, "not checked: " + report.error};
    }
    std::string detail = std::to_string(report.triggers.size()) + " waiting";
    for (std::size_t i = 0; i < report.triggers.size(); ++i) {
        detail += (i == 0 ? ": " : ", ") + shown(report.triggers[i]);
    }
    std::string never;
    for (const std::string& name : report.trigger_dirs) {
        never += (never.empty() ? "" : ", ") + shown(name);
    }
    if (never.empty()) {
        return {"triggers", Level::kOk, detail};
    }
    return {"triggers", Level::kWarn, detail + "; never handled, directories named like triggers: " + never};
}

// The zone the agent's next minute tick converts the tick time in, as it would
// look the zone up itself.
Finding zone_finding() {
    char zone[256];
    platform::clock_refresh_zone();
    if (!platform::clock_zone_name(zone, sizeof zone)) {
        return {"zone", Level::kWarn, "the zone's name does not fit in this report"};
    }
    std::tm local{};
    char now[32] = "?";
    if (platform::clock_to_local(platform::clock_now(), &local)) {
        std::strftime(now, sizeof now, "%Y-%m-%d %H:%M", &local);
    }
    return {"zone", Level::kOk,
            std::string("the next minute tick converts in ") + shown(zone) + ", local time now " + now};
}

Finding install_dir_finding(const Options& options, const ScanReport& report) {
    if (!report.error.empty()) {
        return {"install-directory", Level::kFail, install_dir_problem(options, report.error)};
    }
    return {"install-directory", Level::kOk,
            shown(report.install_dir) + " (from " + install_dir_source_text(options) + ")"};
}

}  // namespace

int run_status(const Options& options) {
    // The tool never changes its working directory; the agent is started with
    // an absolute install directory, so its command lines are formed from one.
    std::error_code error;
    std::string install_dir = std::filesystem::absolute(options.install_dir, error).string();
    if (error) {
        install_dir = options.install_dir;
    }
    ScanReport report;
    // A directory that cannot be read is one failed check; the others still run.
    scan_install(options.install_dir, first_boundary(platform::clock_now()), &report);
    static cron::AgentSettings settings;
    const bool formed = cron::form_command_lines(install_dir.c_str(), &settings);
    char pid_path[cron::kPidPathSize];
    if (!formed || !cron::format_pid_file_path(install_dir.c_str(), pid_path, sizeof pid_path)) {
        return fail(kExitUsage, "the install directory %s is too long for the agent",
                    shown(install_dir).c_str());
    }
    std::vector<Finding> findings = {
        install_dir_finding(options, report),
        agent_finding(pid_path),
        key_finding(report, install_dir),
        schedules_finding(report),
    };
    for (int i = 0; i < dispatch::kCompanionCount; ++i) {
        findings.push_back(program_finding(static_cast<dispatch::Companion>(i), settings.companion[i]));
    }
    findings.push_back(channel_finding(pid_path));
    findings.push_back(etc_finding(report));
    findings.push_back(triggers_finding(report));
    findings.push_back(zone_finding());
    Finding service;
    if (service_finding(install_dir, &service)) {
        findings.insert(findings.begin() + 1, service);
    }
    Level verdict = Level::kOk;
    for (const Finding& f : findings) {
        verdict = f.level > verdict ? f.level : verdict;
    }
    if (options.json) {
        std::string out = "{\"install_dir\":" + json_string(install_dir) + ",\"install_dir_source\":" +
                          json_string(install_dir_source_name(options.install_dir_source)) + ",\"checks\":[";
        for (std::size_t i = 0; i < findings.size(); ++i) {
            out += (i == 0 ? "" : ",");
            out += "{\"name\":" + json_string(findings[i].name) +
                   ",\"level\":" + json_string(word(findings[i].level)) +
                   ",\"detail\":" + json_string(findings[i].detail) + "}";
        }
        out += "],\"verdict\":" + json_string(word(verdict)) + "}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const Finding& f : findings) {
            std::printf("%-4s %s: %s\n", word(f.level), f.name.c_str(), f.detail.c_str());
        }
        std::printf("verdict: %s\n", word(verdict));
    }
    if (std::fflush(stdout) != 0) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    return verdict == Level::kFail ? kExitInvalid : kExitOk;
}

}  // namespace omvar::zbs
