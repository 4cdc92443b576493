// Five-field schedule expressions: minute hour day month year.
#pragma once

#include <ctime>

namespace omvar::cron {

// 1 when the expression matches the broken-down local time, 0 when not.
int match_schedule(const char* expression, const std::tm* t);

// Each consumes the next blank-separated field from *cursor (a private, writable
// copy of the expression) and returns 1 when one of its comma-separated items matches.
int match_field(char** cursor, int value);
int match_day_field(char** cursor, int day_of_month, int weekday);

}  // namespace omvar::cron
