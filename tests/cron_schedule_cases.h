// The expression table: expressions as users meet them, each with a time it
// must or must not match. Shared by the matcher's tests and by the tests that
// hold the tool's reading of expressions to the matcher.
#pragma once

#include <ctime>

namespace omvar::test::schedule_cases {

// Day of the week, 0 = Sunday (Sakamoto's method).
inline int weekday_of(int year, int month, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) {
        year -= 1;
    }
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

// Local time record for a calendar date (month 1-12 here, as people write it).
inline std::tm at(int year, int month, int day, int hour, int minute) {
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
inline const Case kCases[] = {
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

}  // namespace omvar::test::schedule_cases
