// list: what the agent's minute tick would meet in the install directory, in the
// order it meets it, and what the run-now polls would take.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zbs/json.h"
#include "tools/zbs/scan.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

constexpr std::size_t kMailNamesShown = 5;

std::string next_text(const ScheduleRow& row) { return row.due ? format_local_minute(row.next) : "never"; }
std::string previous_text(const ScheduleRow& row) {
    return row.has_previous ? format_local_minute(row.previous) : "never";
}

// The reason of a row that is not ok travels as a warning without field or item.
std::vector<Warning> row_warnings(const ScheduleRow& row) {
    std::vector<Warning> warnings = row.warnings;
    if (row.state != RowState::kOk && !row.reason.empty()) {
        warnings.insert(warnings.begin(), Warning{"", "", row.reason});
    }
    return warnings;
}

std::string json_names(const std::vector<std::string>& names, std::size_t limit) {
    std::string out = "[";
    for (std::size_t i = 0; i < names.size() && i < limit; ++i) {
        out += (i == 0 ? "" : ",") + json_string(names[i]);
    }
    return out + "]";
}

void print_json(const Options& options, const ScanReport& report) {
    std::string out = "{\"install_dir\":" + json_string(report.install_dir) + ",\"install_dir_source\":" +
                      json_string(install_dir_source_name(options.install_dir_source)) +
                      ",\"from\":" + json_string(format_local_minute(report.start)) +
                      ",\"key\":{\"state\":" + json_string(word(report.key_state)) + "},\"schedules\":[";
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const ScheduleRow& row = report.rows[i];
        const bool ok = row.state == RowState::kOk;
        out += (i == 0 ? "" : ",");
        out += "{\"name\":" + json_string(row.name) + ",\"state\":" + json_string(word(row.state)) +
               ",\"expression\":" + (ok ? json_string(row.expression) : "null") +
               ",\"next\":" + (ok ? json_string(next_text(row)) : "null") +
               ",\"previous\":" + (ok ? json_string(previous_text(row)) : "null") +
               ",\"warnings\":" + warnings_json(row_warnings(row)) + "}";
    }
    out += "]";
    for (const ScheduledStart& scheduled : report.scheduled_starts) {
        out += std::string(",\"") + dispatch::kCompanionPrograms[scheduled.program].role +
               "_next\":" + (scheduled.has_next ? json_string(format_local_minute(scheduled.next)) : "null");
    }
    out += ",\"mail_waiting\":{\"count\":" + std::to_string(report.mail.size()) +
           ",\"names\":" + json_names(report.mail, kMailNamesShown) + "}";
    out += ",\"triggers_waiting\":{\"names\":" + json_names(report.triggers, report.triggers.size()) +
           ",\"never_handled\":" + json_names(report.trigger_dirs, report.trigger_dirs.size()) +
           ",\"too_long\":" + json_names(report.trigger_too_long, report.trigger_too_long.size()) + "}}\n";
    std::fputs(out.c_str(), stdout);
}

void print_names(const char* heading, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::printf("%s: %s\n", heading, shown(name).c_str());
    }
}

void print_text(const Options& options, const ScanReport& report) {
    std::printf("install directory: %s (from %s)\n", shown(report.install_dir).c_str(),
                install_dir_source_text(options).c_str());
    std::printf("from: %s\n", format_local_minute(report.start).c_str());
    std::printf("key: %s%s%s\n", word(report.key_state), report.key_reason.empty() ? "" : ": ",
                report.key_reason.c_str());
    if (report.rows.empty()) {
        std::printf("no schedule files\n");
    }
    for (const ScheduleRow& row : report.rows) {
        std::printf("\n%s: %s\n", shown(row.name).c_str(), word(row.state));
        if (row.state != RowState::kOk) {
            std::printf("  why: %s\n", shown(row.reason).c_str());
            continue;
        }
        std::printf("  expression: %s\n", quoted(row.expression).c_str());
        std::printf("  next: %s\n", next_text(row).c_str());
        std::printf("  previous: %s\n", previous_text(row).c_str());
        for (const Warning& warning : row.warnings) {
            std::printf("  warning: %s\n", shown(warning_text(warning)).c_str());
        }
    }
    std::printf("\n");
    for (const ScheduledStart& scheduled : report.scheduled_starts) {
        const dispatch::CompanionProgram& program = dispatch::kCompanionPrograms[scheduled.program];
        std::printf("%s: next start %s (%s)\n", program.role,
                    scheduled.has_next ? format_local_minute(scheduled.next).c_str() : "never",
                    describe_briefly(read_expression(program.schedule)).c_str());
    }
    std::printf("mail waiting: %zu", report.mail.size());
    for (std::size_t i = 0; i < report.mail.size() && i < kMailNamesShown; ++i) {
        std::printf("%s%s", i == 0 ? " (" : ", ", shown(report.mail[i]).c_str());
    }
    std::printf("%s%s\n", report.mail.size() > kMailNamesShown ? ", ..." : "",
                report.mail.empty() ? "" : ")");
    if (!report.mail.empty()) {
        std::printf("  the mail sender starts at every minute tick while any remain\n");
    }
    std::printf("run-now triggers waiting: %zu%s\n", report.triggers.size(),
                report.triggers.empty() ? "" : ", in the order the polls take them:");
    for (const std::string& name : report.triggers) {
        std::printf("  %s\n", shown(name).c_str());
    }
    print_names("never handled, a directory named like a trigger", report.trigger_dirs);
    print_names("never handled, its path is too long", report.trigger_too_long);
}

}  // namespace

int run_list(const Options& options) {
    const platform::Seconds start = first_boundary(options.has_from ? options.from : platform::clock_now());
    ScanReport report;
    int result = scan_install(options.install_dir, start, &report);
    if (result != kExitOk) {
        const std::string problem = install_dir_problem(options, report.error);
        if (options.json) {
            std::printf("{\"install_dir\":%s,\"install_dir_source\":%s,\"error\":%s}\n",
                        json_string(report.install_dir).c_str(),
                        json_string(install_dir_source_name(options.install_dir_source)).c_str(),
                        json_string(problem).c_str());
            std::fflush(stdout);
        }
        return fail(result, "%s", problem.c_str());
    }
    if (options.json) {
        print_json(options, report);
    } else {
        print_text(options, report);
    }
    if (std::fflush(stdout) != 0) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    for (const ScheduleRow& row : report.rows) {
        if (row.state != RowState::kOk || !row.due) {
            return kExitInvalid;
        }
    }
    return kExitOk;
}

}  // namespace omvar::zbs
