// An expression as the agent reads it, field by field and item by item, in
// words, with what in it is likely not what its writer meant.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "agent/cron/schedule.h"

namespace omvar::zbs {

extern const char* const kFieldNames[cron::kFieldCount];  // "minute" ... "year"
extern const char* const kMonthNames[12];                 // "January" ... "December"

struct ItemRead {
    std::string text;
    cron::ItemReading reading;
};

struct FieldRead {
    std::string text;
    bool present = false;  // false: the expression ended before this field (it reads as empty)
    std::vector<ItemRead> items;
};

struct ExpressionRead {
    std::string expression;
    bool too_long = false;  // 1024 bytes or more: never matches
    FieldRead fields[cron::kFieldCount];
    int fields_present = 0;
    std::string ignored;  // text after the fifth field
};

ExpressionRead read_expression(const std::string& expression);

// The field, as read, against one compared value (weekday only for the day field).
bool field_read_matches(const ExpressionRead& read, int field, long long value, int weekday);
// The whole expression, as read, against a time record: what match_schedule decides.
bool read_matches(const ExpressionRead& read, const std::tm& t);

// "*", the weekday's name, the number, or "" when the item matches nothing.
std::string reads_as_text(const ItemRead& item);

// "at minute 30 of hour 8, on Mondays and Fridays, in every month, in every year"
std::string describe(const ExpressionRead& read);
// The same without "at" and without the fields after the hour that allow every
// value: "minute 56 of every hour".
std::string describe_briefly(const ExpressionRead& read);

struct Warning {
    Warning(std::string field_name, std::string item_text, std::string message_text,
            std::string second_field_name = "")
        : field(std::move(field_name)),
          item(std::move(item_text)),
          message(std::move(message_text)),
          second_field(std::move(second_field_name)) {}
    std::string field;  // "" when the warning is about the whole expression
    std::string item;   // "" when it names no item
    std::string message;
    std::string second_field;  // a time of day concerns minute and hour
};

// One line: `day "Monday": message`, `minute and hour: message`, or the message alone.
std::string warning_text(const Warning& warning);

// What the text alone tells; from_year decides which years are past.
std::vector<Warning> text_warnings(const ExpressionRead& read, long long from_year);

}  // namespace omvar::zbs
