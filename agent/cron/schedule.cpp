#include "agent/cron/schedule.h"

#include <climits>
#include <cstring>

#include "agent/base/sizes.h"
#include "agent/base/text.h"

namespace omvar::cron {

const char* const kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

namespace {

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The item must be the whole name, compared without regard to case.
bool is_weekday_name(TextSpan item, const char* name) {
    return item.length == std::strlen(name) && base::starts_with_ignoring_case(item.text, name);
}

// Reads the item as atoi does (leading white space, a sign, digits, the rest
// ignored, no digits giving 0), never past the item's end. A number outside
// int's range, where atoi's result would be undefined, matches no value.
void read_number(TextSpan item, ItemReading* out) {
    const char* p = item.text;
    const char* end = item.text + item.length;
    while (p < end && is_c_space(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = (*p == '-');
        ++p;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    bool fits = true;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (fits) {
            magnitude = magnitude * 10 + (*p - '0');
            fits = magnitude <= limit;
        }
    }
    out->has_number = fits;
    out->number = fits ? (negative ? -magnitude : magnitude) : 0;
    out->consumed = static_cast<std::size_t>(p - item.text);
}

// The weekday is compared in the day field only.
bool field_matches(TextSpan field, bool day_field, long long value, int weekday) {
    ItemCursor items = items_of(field);
    TextSpan item{};
    while (next_item(&items, &item)) {
        if (item_matches(read_item(item, day_field), value, day_field ? weekday : -1)) {
            return true;
        }
    }
    return false;
}

// Takes the next field from a writable copy, by the one reading of fields; the
// blank that ends it, if any, is overwritten so that the field stands alone.
TextSpan take_field(char** cursor) {
    char* start = *cursor;
    const char* after = start;
    TextSpan field = next_field(&after, start + std::strlen(start), nullptr);
    start[field.length] = '\0';
    *cursor = start + (after - start);
    return field;
}

}  // namespace

TextSpan next_field(const char** cursor, const char* end, bool* had_blank) {
    const char* start = *cursor;
    const char* blank =
        static_cast<const char*>(std::memchr(start, ' ', static_cast<std::size_t>(end - start)));
    if (had_blank != nullptr) {
        *had_blank = blank != nullptr;
    }
    if (blank != nullptr) {
        *cursor = blank + 1;
        return TextSpan{start, static_cast<std::size_t>(blank - start)};
    }
    *cursor = end;
    return TextSpan{start, static_cast<std::size_t>(end - start)};
}

ItemCursor items_of(TextSpan field) { return ItemCursor{field.text, field.text + field.length, false}; }

bool next_item(ItemCursor* cursor, TextSpan* item) {
    if (cursor->done) {
        return false;
    }
    const char* start = cursor->next;
    const char* comma =
        static_cast<const char*>(std::memchr(start, ',', static_cast<std::size_t>(cursor->end - start)));
    if (comma == nullptr) {
        *item = TextSpan{start, static_cast<std::size_t>(cursor->end - start)};
        cursor->done = true;
    } else {
        *item = TextSpan{start, static_cast<std::size_t>(comma - start)};
        cursor->next = comma + 1;
    }
    return true;
}

ItemReading read_item(TextSpan item, bool day_field) {
    ItemReading reading{ItemKind::kNumber, -1, false, 0, 0};
    if (item.length == 1 && item.text[0] == '*') {
        reading.kind = ItemKind::kStar;
        return reading;
    }
    read_number(item, &reading);
    if (day_field) {
        for (int day = 0; day < 7; ++day) {
            if (is_weekday_name(item, kWeekdayNames[day])) {
                reading.kind = ItemKind::kWeekday;
                reading.weekday = day;
                break;
            }
        }
    }
    return reading;
}

bool item_matches_number(const ItemReading& reading, long long value) {
    return reading.kind == ItemKind::kStar || (reading.has_number && reading.number == value);
}

bool item_matches_weekday(const ItemReading& reading, int weekday) {
    return reading.kind == ItemKind::kStar ||
           (reading.kind == ItemKind::kWeekday && reading.weekday == weekday);
}

bool item_matches(const ItemReading& reading, long long value, int weekday) {
    return item_matches_number(reading, value) || (weekday >= 0 && item_matches_weekday(reading, weekday));
}

long long compared_value(const std::tm& t, int field) {
    switch (field) {
        case kMinuteField:
            return t.tm_min;
        case kHourField:
            return t.tm_hour;
        case kDayField:
            return t.tm_mday;
        case kMonthField:
            return t.tm_mon;
        default:
            return static_cast<long long>(t.tm_year) + 1900;
    }
}

FieldRange calendar_range(int field) {
    static const FieldRange kRanges[kFieldCount] = {{0, 59}, {0, 23}, {1, 31}, {0, 11}, {1, 0}};
    return kRanges[field];
}

int match_field(char** cursor, long long value) {
    return field_matches(take_field(cursor), false, value, -1) ? 1 : 0;
}

// A weekday outside 0-6 names no day; the item is still read as a number.
int match_day_field(char** cursor, int day_of_month, int weekday) {
    return field_matches(take_field(cursor), true, day_of_month, weekday) ? 1 : 0;
}

int match_schedule(const char* expression, const std::tm* t) {
    char copy[base::kPathSize];
    std::size_t length = strnlen(expression, base::kPathSize);
    if (length >= base::kPathSize) {
        return 0;
    }
    std::memcpy(copy, expression, length + 1);
    char* cursor = copy;
    // In order, stopping at the first field that does not match.
    const bool due = match_field(&cursor, compared_value(*t, kMinuteField)) != 0 &&
                     match_field(&cursor, compared_value(*t, kHourField)) != 0 &&
                     match_day_field(&cursor, t->tm_mday, t->tm_wday) != 0 &&
                     match_field(&cursor, compared_value(*t, kMonthField)) != 0 &&
                     match_field(&cursor, compared_value(*t, kYearField)) != 0;
    return due ? 1 : 0;
}

}  // namespace omvar::cron
