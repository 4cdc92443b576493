// The expression language as users meet it: months 0-11, weekday names in the
// day field, atoi's reading of numbers, blanks as the only separator.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "agent/cron/schedule.h"

namespace {

using omvar::cron::match_schedule;

// Day of the week, 0 = Sunday (Sakamoto's method).
int weekday_of(int year, int month, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) {
        year -= 1;
    }
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

// Local time record for a calendar date (month 1-12 here, as people write it).
std::tm at(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_wday = weekday_of(year, month, day);
    return t;
}

struct Case {
    const char* expression;
    std::tm when;
    int expected;
};

// 2009-01-05 was a Monday, 2009-01-09 a Friday, 2026-12-09 a Wednesday.
const Case kCases[] = {
    {"56 * * * *", at(2026, 12, 9, 10, 56), 1},
    {"56 * * * *", at(2026, 12, 9, 10, 57), 0},
    {"0 2 * * *", at(2026, 12, 9, 2, 0), 1},
    {"0 2 * * *", at(2026, 12, 9, 2, 1), 0},
    {"0 2 * 0 2009", at(2009, 1, 17, 2, 0), 1},
    {"0 2 * 0 2009", at(2010, 1, 17, 2, 0), 0},
    {"0 2 * 0 2009", at(2009, 2, 17, 2, 0), 0},
    {"30 8 mon,fri * *", at(2009, 1, 5, 8, 30), 1},
    {"30 8 mon,fri * *", at(2009, 1, 9, 8, 30), 1},
    {"30 8 MON * *", at(2009, 1, 5, 8, 30), 1},
    {"30 8 Mon * *", at(2009, 1, 5, 8, 30), 1},
    {"30 8 mon,fri * *", at(2009, 1, 6, 8, 30), 0},
    {"30 8 Monday * *", at(2009, 1, 5, 8, 30), 0},
    {"0 12 1,15 * *", at(2026, 12, 1, 12, 0), 1},
    {"0 12 1,15 * *", at(2026, 12, 15, 12, 0), 1},
    {"0 12 1,15 * *", at(2026, 12, 16, 12, 0), 0},
    // Months count from 0: 11 is December, not November.
    {"0 0 * 11 *", at(2026, 12, 9, 0, 0), 1},
    {"0 0 * 11 *", at(2026, 11, 9, 0, 0), 0},
    // One day field serves both: every Monday and the 15th.
    {"0 9 Mon,15 * *", at(2026, 12, 14, 9, 0), 1},
    {"0 9 Mon,15 * *", at(2026, 12, 15, 9, 0), 1},
    {"0 9 Mon,15 * *", at(2026, 12, 16, 9, 0), 0},
    // Fewer than five fields: the empty year field reads as 0.
    {"5 * * *", at(2026, 12, 9, 0, 5), 0},
    {"", at(2026, 12, 9, 0, 0), 0},
    // Two blanks make an empty hour field (hour 0); the extra "*" is ignored.
    {"5  * * * *", at(2026, 12, 9, 0, 5), 1},
    {"5  * * * *", at(2026, 12, 9, 1, 5), 0},
    // A leading blank empties the minute field: minute 0 only.
    {" 3 * * * *", at(2026, 12, 9, 3, 0), 1},
    {" 3 * * * *", at(2026, 12, 9, 3, 3), 0},
    {" * * * *", at(2026, 12, 9, 17, 0), 1},
    {" * * * *", at(2026, 12, 9, 17, 1), 0},
    // Text after the fifth field is ignored.
    {"0 2 * * * garbage", at(2026, 12, 9, 2, 0), 1},
    // atoi's reading: no ranges or steps, trailing text ignored, no digits is 0.
    {"1-5 * * * *", at(2026, 12, 9, 2, 1), 1},
    {"1-5 * * * *", at(2026, 12, 9, 2, 3), 0},
    {"*/15 * * * *", at(2026, 12, 9, 2, 0), 1},
    {"*/15 * * * *", at(2026, 12, 9, 2, 15), 0},
    {"*x * * * *", at(2026, 12, 9, 2, 0), 1},
    {"Mon * * * *", at(2026, 12, 9, 2, 0), 1},
    {"0 2 * Jan *", at(2026, 1, 9, 2, 0), 1},
    {"+7 * * * *", at(2026, 12, 9, 2, 7), 1},
    {"07x * * * *", at(2026, 12, 9, 2, 7), 1},
    {"-0 * * * *", at(2026, 12, 9, 2, 0), 1},
    // A tab is not a separator: it stays in the field and atoi skips it.
    {"\t7 * * * *", at(2026, 12, 9, 2, 7), 1},
    {"7\t* * * *", at(2026, 12, 9, 2, 7), 0},
    // Empty items read as 0.
    {",30 * * * *", at(2026, 12, 9, 2, 0), 1},
    {"30, * * * *", at(2026, 12, 9, 2, 0), 1},
    // Numbers beyond int's range match nothing, not a wrapped value.
    {"4294967296 * * * *", at(2026, 12, 9, 2, 0), 0},
    {"99999999999999999999 * * * *", at(2026, 12, 9, 2, 0), 0},
    {"2147483647 * * * *", at(2026, 12, 9, 2, 0), 0},
    {"* * * * 2147483648", at(2026, 12, 9, 2, 0), 0},
};

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
