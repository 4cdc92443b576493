// The expression language as users meet it: months 0-11, weekday names in the
// day field, atoi's reading of numbers, blanks as the only separator.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "agent/cron/schedule.h"
#include "cron_schedule_cases.h"

namespace {

using omvar::cron::match_schedule;

using omvar::test::schedule_cases::at;
using omvar::test::schedule_cases::Case;
using omvar::test::schedule_cases::kCases;

TEST(MatchSchedule, Table) {
    for (const Case& c : kCases) {
        EXPECT_EQ(match_schedule(c.expression, &c.when), c.expected)
            << '"' << c.expression << "\" at " << c.when.tm_year + 1900 << '-' << c.when.tm_mon + 1 << '-'
            << c.when.tm_mday << ' ' << c.when.tm_hour << ':' << c.when.tm_min;
    }
}

TEST(MatchSchedule, LengthLimitIs1023Bytes) {
    const std::tm t = at(2026, 12, 9, 2, 0);
    std::string expression = "0 2 * * *";
    std::string longest = expression + std::string(1023 - expression.size(), ' ');
    ASSERT_EQ(longest.size(), 1023u);
    EXPECT_EQ(match_schedule(longest.c_str(), &t), 1);
    std::string too_long = longest + " ";
    EXPECT_EQ(match_schedule(too_long.c_str(), &t), 0);
    std::string far_too_long = expression + std::string(100000, ' ');
    EXPECT_EQ(match_schedule(far_too_long.c_str(), &t), 0);
}

TEST(MatchSchedule, ExpressionIsNotModified) {
    const std::tm t = at(2026, 12, 9, 2, 0);
    const std::string original = "0,1 2 Wed,9 11 2026";
    char text[64];
    std::snprintf(text, sizeof text, "%s", original.c_str());
    EXPECT_EQ(match_schedule(text, &t), 1);
    EXPECT_EQ(std::string(text), original);
}

// The year field is compared with the full year, widened so that an extreme
// time record cannot overflow.
TEST(MatchSchedule, ExtremeYearsDoNotOverflow) {
    std::tm t = at(2026, 12, 9, 2, 0);
    t.tm_year = 2147483647;
    EXPECT_EQ(match_schedule("0 2 * * *", &t), 1);
    EXPECT_EQ(match_schedule("0 2 * * -2147481749", &t), 0);
}

}  // namespace
