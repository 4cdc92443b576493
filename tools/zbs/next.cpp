// next: the minute ticks at which the agent would submit an expression.
#include <cstdio>
#include <string>

#include "agent/cron/schedule.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/platform.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

// The first minute boundary at or after t, on the agent's own tick grid.
platform::Seconds first_boundary(platform::Seconds t) { return cron::minute_boundary_after(t - 1); }

}  // namespace

int run_next(const Options& options) {
    std::string expression = options.args[0];
    if (platform::file_status(expression.c_str()) == platform::FileStatus::kExists) {
        const std::string path = expression;
        int result = prepare_key(options);
        if (result != kExitOk) {
            return result;
        }
        std::string reason;
        result = read_schedule_expression(path, &expression, &reason);
        if (result == kExitInvalid) {
            return fail(result, "%s: not a schedule file: %s", path.c_str(), reason.c_str());
        }
        if (result != kExitOk) {
            return result;
        }
    } else if (ends_with_zbs(expression) && expression.find(' ') == std::string::npos) {
        // One word has no day field, so as an expression it could never be due:
        // this names a schedule file that is not there.
        return fail(kExitUsage, "no such schedule file %s", expression.c_str());
    }

    // Seconds since the epoch do not jump: a repeated local hour is walked twice,
    // a skipped one not at all, exactly as the agent's minute ticks see them.
    const platform::Seconds start = first_boundary(options.has_from ? options.from : platform::clock_now());
    const platform::Seconds end = start + kNextHorizon;
    long found = 0;
    for (platform::Seconds t = start; t < end && found < options.count; t += 60) {
        std::tm local{};
        if (platform::clock_to_local(t, &local) && cron::match_schedule(expression.c_str(), &local) == 1) {
            std::printf("%04lld-%02d-%02d %02d:%02d\n", static_cast<long long>(local.tm_year) + 1900,
                        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
            ++found;
        }
    }
    if (std::fflush(stdout) != 0) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    if (found < options.count) {
        fail(kExitOk, "nothing more is due in the ten years from %s", format_local_minute(start).c_str());
    }
    return kExitOk;
}

}  // namespace omvar::zbs
