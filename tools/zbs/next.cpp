// next: the minute ticks at which the agent would submit an expression.
#include <cstdio>
#include <string>

#include "agent/platform/platform.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

// An existing file is read as a schedule file.
int expression_argument(const Options& options, std::string* expression) {
    *expression = options.args[0];
    if (platform::file_status(expression->c_str()) == platform::FileStatus::kExists) {
        const std::string path = *expression;
        int result = prepare_key(options);
        if (result != kExitOk) {
            return result;
        }
        std::string reason;
        result = read_schedule_expression(options.install_dir, path, expression, &reason);
        if (result == kExitInvalid) {
            return fail(result, "%s: not a schedule file: %s", path.c_str(), reason.c_str());
        }
        return result;
    }
    if (ends_with_zbs(*expression) && expression->find(' ') == std::string::npos) {
        // One word has no day field, so as an expression it could never be due:
        // this names a schedule file that is not there.
        return fail(kExitUsage, "no such schedule file %s", expression->c_str());
    }
    return kExitOk;
}

}  // namespace

int read_due_query(const Options& options, DueQuery* query) {
    std::string expression;
    int result = expression_argument(options, &expression);
    if (result != kExitOk) {
        return result;
    }
    // Seconds since the epoch do not jump: a repeated local hour is walked twice,
    // a skipped one not at all, exactly as the agent's minute ticks see them.
    query->start = first_boundary(options.has_from ? options.from : platform::clock_now());
    query->zone = zone_around(query->start);
    query->read = read_expression(expression);
    return kExitOk;
}

int run_next(const Options& options) {
    DueQuery query;
    int result = read_due_query(options, &query);
    if (result != kExitOk) {
        return result;
    }
    const auto& [start, zone, read] = query;
    for (const Warning& warning : all_warnings(read, zone, start)) {
        fail(kExitOk, "warning: %s", shown(warning_text(warning)).c_str());
    }
    const std::vector<platform::Seconds> due = due_minutes(due_sets(read), zone, start, options.count);
    for (platform::Seconds t : due) {
        std::printf("%s\n", format_local_minute(t).c_str());
    }
    const long found = static_cast<long>(due.size());
    if (std::fflush(stdout) != 0) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    if (found < options.count) {
        fail(kExitOk, "nothing more is due in the ten years from %s", format_local_minute(start).c_str());
    }
    return kExitOk;
}

}  // namespace omvar::zbs
