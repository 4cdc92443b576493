// When the tool says an expression is due: against a plain minute-by-minute walk
// of the agent's ticks, in zones with daylight saving, and the daylight-saving
// warnings around both changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "agent/cron/schedule.h"
#include "agent/platform/platform.h"
#include "test_support.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {
namespace {

using test::ScopedTimeZone;

platform::Seconds at_local(const char* text) {
    platform::Seconds t = 0;
    EXPECT_TRUE(parse_local_minute(text, &t)) << text;
    return t;
}

// Every minute tick in [from, to) at which the agent matches the expression.
std::vector<platform::Seconds> walk(const std::string& expression, platform::Seconds from,
                                    platform::Seconds to) {
    std::vector<platform::Seconds> due;
    for (platform::Seconds t = first_boundary(from); t < to; t += 60) {
        std::tm local{};
        if (platform::clock_to_local(t, &local) && cron::match_schedule(expression.c_str(), &local) == 1) {
            due.push_back(t);
        }
    }
    return due;
}

TEST(ZbsTimeline, NextAndPreviousAreTheAgentsTicks) {
    constexpr platform::Seconds kWindow = 20LL * 24 * 60 * 60;
    const char* const zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};
    const char* const expressions[] = {
        "30 2 * * *", "* 2 * * *",      "0,30 1,2,3 * * *", "59 23 * * *", "30 8 mon,fri * *",
        "* * * * *",  "15 1,2 Sun * *", "0 0 29 * *",       "45 1 31 * *", "0 2 28,29,30,31 2,9 *",
    };
    // Around the changes of both hemispheres, and an ordinary day.
    const char* const starts[] = {"2027-03-20 00:00", "2027-10-25 12:00", "2027-04-01 01:30",
                                  "2027-06-15 10:07"};
    for (const char* zone_text : zones) {
        ScopedTimeZone scope(zone_text);
        for (const char* start_text : starts) {
            const platform::Seconds start = first_boundary(at_local(start_text));
            const Zone zone = zone_around(start);
            for (const char* expression : expressions) {
                SCOPED_TRACE(testing::Message()
                             << zone_text << ", " << start_text << ", \"" << expression << '"');
                const ExpressionRead read = read_expression(expression);
                const DueSets sets = due_sets(read);
                // Forward: the chain of next_due calls is exactly the walk.
                const std::vector<platform::Seconds> ahead = walk(expression, start, start + kWindow);
                platform::Seconds t = start;
                for (std::size_t i = 0; i < ahead.size() && i < 200; ++i) {
                    platform::Seconds due = 0;
                    ASSERT_TRUE(next_due(sets, zone, t, &due));
                    ASSERT_EQ(due, ahead[i])
                        << format_local_minute(due) << " instead of " << format_local_minute(ahead[i]);
                    t = due + 60;
                }
                // Backward: the last tick before start.
                const std::vector<platform::Seconds> behind = walk(expression, start - kWindow, start);
                platform::Seconds previous = 0;
                bool found = previous_due(sets, zone, start, &previous);
                ASSERT_EQ(found || behind.empty(), true);
                if (!behind.empty()) {
                    EXPECT_EQ(previous, behind.back()) << format_local_minute(previous) << " instead of "
                                                       << format_local_minute(behind.back());
                }
            }
        }
    }
}

TEST(ZbsTimeline, NeverDueLooksTenYearsBothWays) {
    ScopedTimeZone scope("Europe/Berlin");
    const platform::Seconds start = at_local("2027-01-01 00:00");
    const Zone zone = zone_around(start);
    struct Case {
        const char* expression;
        bool next;
        bool previous;
    };
    const Case cases[] = {
        {"0 0 * * 2020", false, true},  {"0 0 * * 2036", true, false}, {"0 0 * * 2037", false, false},
        {"0 0 * * 2015", false, false}, {"0 0 30 1 *", false, false},  {"60 0 * * *", false, false},
        {"5 * * *", false, false},      {"0 0 31 3 *", false, false},  {"0 0 29 1 2028", true, false},
    };
    for (const Case& c : cases) {
        const ExpressionRead read = read_expression(c.expression);
        const DueSets sets = due_sets(read);
        platform::Seconds t = 0;
        EXPECT_EQ(next_due(sets, zone, start, &t), c.next) << c.expression;
        EXPECT_EQ(previous_due(sets, zone, start, &t), c.previous) << c.expression;
    }
}

TEST(ZbsTimeline, DaylightSavingWarningsAroundBothChanges) {
    struct Case {
        const char* zone;
        const char* from;
        const char* expression;
        std::vector<std::string> warnings;  // exactly these
    };
    const Case cases[] = {
        {"Europe/Berlin",
         "2027-01-01 00:00",
         "30 2 * * *",
         {"not run on 2027-03-28: 02:30 does not exist in Europe/Berlin",
          "runs twice on 2027-10-31: 02:30 comes twice"}},
        {"Europe/Berlin",
         "2027-06-01 00:00",
         "30 2 * * *",
         {"not run on 2028-03-26: 02:30 does not exist in Europe/Berlin",
          "runs twice on 2027-10-31: 02:30 comes twice"}},
        {"Europe/Berlin",
         "2027-01-01 00:00",
         "0,15,30,45 2 * * *",
         {"not run on 2027-03-28: 02:00, 02:15, 02:30 and 1 more do not exist in Europe/Berlin",
          "runs twice on 2027-10-31: 02:00, 02:15, 02:30 and 1 more come twice"}},
        {"Europe/Berlin", "2027-01-01 00:00", "30 1 * * *", {}},
        {"Europe/Berlin", "2027-01-01 00:00", "30 3 * * *", {}},
        {"Europe/Berlin", "2027-01-01 00:00", "30 2 Mon * *", {}},  // both changes fall on Sundays
        {"Europe/Berlin",
         "2027-01-01 00:00",
         "30 2 28 2 *",
         {"not run on 2027-03-28: 02:30 does not exist in Europe/Berlin"}},
        {"America/New_York",
         "2027-01-01 00:00",
         "30 2 * * *",
         {"not run on 2027-03-14: 02:30 does not exist in America/New_York"}},
        {"America/New_York",
         "2027-01-01 00:00",
         "30 1 * * *",
         {"runs twice on 2027-11-07: 01:30 comes twice"}},
        {"America/New_York", "2027-01-01 00:00", "0 12 * * *", {}},
        {"UTC", "2027-01-01 00:00", "30 2 * * *", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << ", " << c.from << ", \"" << c.expression << '"');
        ScopedTimeZone scope(c.zone);
        const platform::Seconds start = at_local(c.from);
        const std::vector<Warning> got =
            all_warnings(read_expression(c.expression), zone_around(start), start);
        std::vector<std::string> messages;
        for (const Warning& w : got) {
            EXPECT_TRUE(w.field == "minute" && w.second_field == "hour" && w.item.empty());
            messages.push_back(w.message);
        }
        EXPECT_EQ(messages, c.warnings);
    }
}

}  // namespace
}  // namespace omvar::zbs
