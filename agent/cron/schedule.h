// Five-field schedule expressions: minute hour day month year.
#pragma once

#include <cstddef>
#include <ctime>

namespace omvar::cron {

// 1 when the expression matches the broken-down local time, 0 when not.
int match_schedule(const char* expression, const std::tm* t);

// Each consumes the next blank-separated field from *cursor (a private, writable
// copy of the expression, whose blanks it overwrites) and returns 1 when one of
// its comma-separated items matches. The value is widened so that the year of an
// extreme time record cannot overflow.
int match_field(char** cursor, long long value);
int match_day_field(char** cursor, int day_of_month, int weekday);

// ---------------------------------------------------------------- the one reading
// The matcher and everything that explains an expression read it through these,
// so that what is shown is exactly what is compared.

constexpr int kMinuteField = 0;
constexpr int kHourField = 1;
constexpr int kDayField = 2;
constexpr int kMonthField = 3;
constexpr int kYearField = 4;
constexpr int kFieldCount = 5;
extern const char* const kWeekdayNames[7];  // "Sun" ... "Sat", indexed by tm_wday

// What a field is compared with: tm_min, tm_hour, tm_mday, tm_mon (January is 0)
// and the full year, widened so that no time record overflows it. The day field
// is also given tm_wday, for its weekday names.
long long compared_value(const std::tm& t, int field);

// The values a calendar gives a field: minute 0-59, hour 0-23, day 1-31,
// month 0-11. The year has no such bound (last < first).
struct FieldRange {
    long long first;
    long long last;
};
FieldRange calendar_range(int field);

// A piece of the expression's text; not NUL-terminated.
struct TextSpan {
    const char* text;
    std::size_t length;
};

// Takes the next field: the text up to the next blank, or the rest. *cursor moves
// past that one blank, or to the end, so every field after the last is empty.
// *had_blank tells whether a blank ended the field (may be null).
TextSpan next_field(const char** cursor, const char* end, bool* had_blank);

// Walks the comma-separated items of a field; an empty field has one empty item.
struct ItemCursor {
    const char* next;
    const char* end;
    bool done;
};
ItemCursor items_of(TextSpan field);
bool next_item(ItemCursor* cursor, TextSpan* item);

enum class ItemKind {
    kStar,     // exactly "*": matches every value
    kWeekday,  // a three-letter weekday name, in the day field only; also reads as the number 0
    kNumber,   // anything else, read as atoi reads it
};

struct ItemReading {
    ItemKind kind;
    int weekday;           // kWeekday: 0 (Sunday) to 6
    bool has_number;       // false when the number lies outside int's range: it matches nothing
    long long number;      // the value compared (kNumber and kWeekday)
    std::size_t consumed;  // bytes of the item that the number reading used (white space, sign, digits)
};

ItemReading read_item(TextSpan item, bool day_field);

// An item matches by "*", by its number or by its weekday name; the day field
// matches a day when one of its items matches the day of the month or one
// matches the weekday. weekday < 0 for every field but the day field.
bool item_matches_number(const ItemReading& reading, long long value);
bool item_matches_weekday(const ItemReading& reading, int weekday);
bool item_matches(const ItemReading& reading, long long value, int weekday);

}  // namespace omvar::cron
