#include "agent/cron/schedule.h"

#include <climits>
#include <cstring>

#include "agent/base/sizes.h"
#include "agent/base/text.h"

namespace omvar::cron {

namespace {

const char* const kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads the item as atoi does (leading white space, a sign, digits, the rest
// ignored, no digits giving 0). A number outside int's range, where atoi's
// result would be undefined, yields false: such an item matches no value.
bool read_number(const char* item, long long* value) {
    const char* p = item;
    while (is_c_space(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) {
            return false;
        }
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

// Ends the field at the next blank and moves the cursor past it; without a blank
// the field is the rest and the cursor is left on the empty end.
char* take_field(char** cursor) {
    char* field = *cursor;
    char* blank = std::strchr(field, ' ');
    if (blank != nullptr) {
        *blank = '\0';
        *cursor = blank + 1;
    } else {
        *cursor = field + std::strlen(field);
    }
    return field;
}

// weekday < 0: not the day field.
bool field_matches(char* field, long long value, int weekday) {
    char* item = field;
    for (;;) {
        char* comma = std::strchr(item, ',');
        if (comma != nullptr) {
            *comma = '\0';
        }
        if (std::strcmp(item, "*") == 0) {
            return true;
        }
        if (weekday >= 0 && weekday < 7 && base::equals_ignoring_case(item, kWeekdayNames[weekday])) {
            return true;
        }
        long long number = 0;
        if (read_number(item, &number) && number == value) {
            return true;
        }
        if (comma == nullptr) {
            return false;
        }
        item = comma + 1;
    }
}

}  // namespace

int match_field(char** cursor, int value) { return field_matches(take_field(cursor), value, -1) ? 1 : 0; }

int match_day_field(char** cursor, int day_of_month, int weekday) {
    return field_matches(take_field(cursor), day_of_month, weekday) ? 1 : 0;
}

int match_schedule(const char* expression, const std::tm* t) {
    char copy[base::kPathSize];
    std::size_t length = strnlen(expression, base::kPathSize);
    if (length >= base::kPathSize) {
        return 0;
    }
    std::memcpy(copy, expression, length + 1);
    char* cursor = copy;

    if (match_field(&cursor, t->tm_min) == 0 || match_field(&cursor, t->tm_hour) == 0 ||
        match_day_field(&cursor, t->tm_mday, t->tm_wday) == 0 || match_field(&cursor, t->tm_mon) == 0) {
        return 0;
    }
    // Widened so that no time record can overflow the sum.
    long long year = static_cast<long long>(t->tm_year) + 1900;
    return field_matches(take_field(&cursor), year, -1) ? 1 : 0;
}

}  // namespace omvar::cron
