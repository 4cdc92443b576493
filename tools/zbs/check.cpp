// check: what the agent makes of one schedule file at one local minute.
#include <cstdio>
#include <string>

#include "agent/cron/schedule.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

int run_check(const Options& options) {
    const std::string& path = options.args[0];
    int result = prepare_key(options);
    if (result != kExitOk) {
        return result;
    }
    std::string expression;
    std::string reason;
    result = read_schedule_expression(options.install_dir, path, &expression, &reason);
    if (result == kExitInvalid) {
        std::printf("%s: not a schedule file: %s\n", path.c_str(), reason.c_str());
        return result;
    }
    if (result != kExitOk) {
        return result;
    }
    platform::Seconds at = options.has_at ? options.at : platform::clock_now();
    std::tm local{};
    if (!platform::clock_to_local(at, &local)) {
        return fail(kExitUsage, "cannot convert the time to local time");
    }
    bool due = cron::match_schedule(expression.c_str(), &local) == 1;
    std::printf("%s: header ok\n", path.c_str());
    std::printf("schedule: %s\n", quoted(expression).c_str());
    std::printf("%s: %s\n", format_local_minute(at).c_str(), due ? "due" : "not due");
    const platform::Seconds start = first_boundary(at);
    for (const Warning& warning : all_warnings(read_expression(expression), zone_around(start), start)) {
        std::printf("warning: %s\n", shown(warning_text(warning)).c_str());
    }
    return kExitOk;
}

}  // namespace omvar::zbs
