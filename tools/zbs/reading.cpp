#include "tools/zbs/reading.h"

#include <algorithm>
#include <cstdio>

#include "agent/base/sizes.h"

namespace omvar::zbs {

const char* const kFieldNames[cron::kFieldCount] = {"minute", "hour", "day", "month", "year"};
const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

namespace {

const char* const kWeekdayPlurals[7] = {"Sundays",   "Mondays", "Tuesdays", "Wednesdays",
                                        "Thursdays", "Fridays", "Saturdays"};

std::string number_text(long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

// "a", "a and b", "a, b and c"
std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += (i + 1 == parts.size()) ? " and " : ", ";
        }
        out += parts[i];
    }
    return out;
}

bool has_star(const FieldRead& field) {
    return std::any_of(field.items.begin(), field.items.end(),
                       [](const ItemRead& item) { return item.reading.kind == cron::ItemKind::kStar; });
}

// The distinct numbers the field compares, weekday names left out (their 0 is never a day).
std::vector<long long> numbers_of(const FieldRead& field) {
    std::vector<long long> values;
    for (const ItemRead& item : field.items) {
        if (item.reading.kind == cron::ItemKind::kNumber && item.reading.has_number) {
            values.push_back(item.reading.number);
        }
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

std::string month_word(long long month) {
    return (month >= 0 && month < 12) ? kMonthNames[month] : "month " + number_text(month);
}

std::string field_words(const ExpressionRead& read, int f) {
    static const char* const kEvery[cron::kFieldCount] = {"every minute", "of every hour", "on every day",
                                                          "in every month", "in every year"};
    const FieldRead& field = read.fields[f];
    if (has_star(field)) {
        return kEvery[f];
    }
    std::vector<std::string> words;
    for (long long value : numbers_of(field)) {
        words.push_back(f == cron::kMonthField ? month_word(value) : number_text(value));
    }
    switch (f) {
        case cron::kMinuteField:
            return words.empty() ? "at no minute"
                                 : (words.size() == 1 ? "at minute " : "at minutes ") + joined(words);
        case cron::kHourField:
            return words.empty() ? "of no hour"
                                 : (words.size() == 1 ? "of hour " : "of hours ") + joined(words);
        case cron::kMonthField:
            return words.empty() ? "in no month" : "in " + joined(words);
        case cron::kYearField:
            return words.empty() ? "in no year" : "in " + joined(words);
        default:
            break;
    }
    std::vector<std::string> days;
    bool weekday_seen[7] = {};
    for (const ItemRead& item : field.items) {
        if (item.reading.kind == cron::ItemKind::kWeekday) {
            weekday_seen[item.reading.weekday] = true;
        }
    }
    for (int day = 0; day < 7; ++day) {
        if (weekday_seen[day]) {
            days.push_back(kWeekdayPlurals[day]);
        }
    }
    std::string out;
    if (!days.empty()) {
        out = "on " + joined(days);
    }
    if (!words.empty()) {
        out += (out.empty() ? "on " : " and on ");
        out += (words.size() == 1 ? "day " : "days ") + joined(words) + " of the month";
    }
    return out.empty() ? "on no day" : out;
}

bool has_digit(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\t') {
            out += "\\t";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// What the item's text promises and the reading does not keep; "" when nothing.
std::string misreading(int f, const ItemRead& item) {
    const std::string& t = item.text;
    const cron::ItemReading& r = item.reading;
    if (r.kind != cron::ItemKind::kNumber || r.consumed >= t.size()) {
        return "";
    }
    const std::string value = r.has_number ? number_text(r.number) : "nothing";
    const std::string reads = "\"" + printable(t) + "\" reads as " + value;
    const std::string rest = t.substr(r.consumed);
    const bool digits = has_digit(t.substr(0, r.consumed));
    if (t[0] == '*' || (digits && rest[0] == '/')) {
        if (t.find('/') != std::string::npos) {
            return reads + ": there are no steps";
        }
        return reads + ": \"*\" must be the whole item";
    }
    if (digits && rest[0] == '-' && rest.size() > 1 && rest[1] >= '0' && rest[1] <= '9') {
        return reads + ": there are no ranges";
    }
    if (!digits && is_letter(rest[0])) {
        if (f == cron::kDayField) {
            return reads + ": only the three-letter weekday names Sun to Sat are read as names";
        }
        if (f == cron::kMonthField) {
            return reads + " (January): month names are not read, months count from 0";
        }
        return reads + ": names are read only as weekdays in the day field";
    }
    return reads + ": the text after the number is ignored";
}

// Why a value can never come; "" when it can.
std::string out_of_range(int f, long long value, long long from_year) {
    const std::string v = number_text(value);
    const cron::FieldRange range = cron::calendar_range(f);
    if (range.last < range.first) {
        return value < from_year ? "year " + v + " is already past" : "";
    }
    if (value >= range.first && value <= range.last) {
        return "";
    }
    switch (f) {
        case cron::kMinuteField:
            return "minute " + v + " never comes (minutes are 0 to 59)";
        case cron::kHourField:
            return "hour " + v + " never comes (hours are 0 to 23)";
        case cron::kDayField:
            return "day " + v + " never comes (days of the month are 1 to 31)";
        default:
            return "month " + v + " never comes: months count from 0, January, to 11, December";
    }
}

}  // namespace

ExpressionRead read_expression(const std::string& expression) {
    ExpressionRead read;
    read.expression = expression;
    // The matcher reads a C string: whatever follows a NUL byte is not there for it.
    const std::string text = expression.substr(0, expression.find('\0'));
    read.too_long = text.size() >= base::kPathSize;
    const char* cursor = text.c_str();
    const char* end = cursor + text.size();
    bool more = true;
    for (int f = 0; f < cron::kFieldCount; ++f) {
        FieldRead& field = read.fields[f];
        field.present = more;
        if (more) {
            ++read.fields_present;
        }
        bool had_blank = false;
        cron::TextSpan span = cron::next_field(&cursor, end, &had_blank);
        more = had_blank;
        field.text.assign(span.text, span.length);
        cron::ItemCursor items = cron::items_of(span);
        cron::TextSpan item{};
        while (cron::next_item(&items, &item)) {
            field.items.push_back(
                ItemRead{std::string(item.text, item.length), cron::read_item(item, f == cron::kDayField)});
        }
    }
    if (more) {
        read.ignored.assign(cursor, end);
    }
    return read;
}

bool field_read_matches(const ExpressionRead& read, int field, long long value, int weekday) {
    const int compared_weekday = field == cron::kDayField ? weekday : -1;
    return std::any_of(
        read.fields[field].items.begin(), read.fields[field].items.end(),
        [&](const ItemRead& item) { return cron::item_matches(item.reading, value, compared_weekday); });
}

bool read_matches(const ExpressionRead& read, const std::tm& t) {
    if (read.too_long) {
        return false;
    }
    for (int f = 0; f < cron::kFieldCount; ++f) {
        if (!field_read_matches(read, f, cron::compared_value(t, f), t.tm_wday)) {
            return false;
        }
    }
    return true;
}

std::string reads_as_text(const ItemRead& item) {
    switch (item.reading.kind) {
        case cron::ItemKind::kStar:
            return "*";
        case cron::ItemKind::kWeekday:
            return cron::kWeekdayNames[item.reading.weekday];
        case cron::ItemKind::kNumber:
            break;
    }
    return item.reading.has_number ? number_text(item.reading.number) : "";
}

namespace {

// Briefly: without the leading "at" and without the fields after the hour that
// allow every value.
std::string words_of(const ExpressionRead& read, bool briefly) {
    std::string out = field_words(read, cron::kMinuteField);
    const std::string at = "at ";
    if (briefly && out.compare(0, at.size(), at) == 0) {
        out.erase(0, at.size());
    }
    out += " " + field_words(read, cron::kHourField);
    for (int f = cron::kDayField; f < cron::kFieldCount; ++f) {
        if (!briefly || !has_star(read.fields[f])) {
            out += ", " + field_words(read, f);
        }
    }
    return out;
}

}  // namespace

std::string describe(const ExpressionRead& read) { return words_of(read, false); }

std::string describe_briefly(const ExpressionRead& read) { return words_of(read, true); }

std::string warning_text(const Warning& warning) {
    std::string out;
    if (!warning.field.empty()) {
        out = warning.field + (warning.second_field.empty() ? "" : " and " + warning.second_field) +
              (warning.item.empty() ? "" : " \"" + warning.item + "\"") + ": ";
    } else if (!warning.item.empty()) {
        out = "\"" + warning.item + "\": ";
    }
    return out + warning.message;
}

std::vector<Warning> text_warnings(const ExpressionRead& read, long long from_year) {
    std::vector<Warning> out;
    if (read.fields_present == 1 && read.fields[0].text.empty()) {
        out.push_back({"", "", "the expression is empty: it never matches"});
        return out;
    }
    if (read.too_long) {
        // Nothing of it is read, so nothing else about it matters.
        out.push_back({"", "", "the expression is 1024 bytes or longer: the agent never matches it"});
        return out;
    }
    if (read.expression.find('\0') != std::string::npos) {
        out.push_back({"", "", "a NUL byte ends the expression: the agent reads nothing after it"});
    }
    if (read.fields_present < cron::kFieldCount) {
        out.push_back({kFieldNames[read.fields_present], "",
                       "only " + number_text(read.fields_present) +
                           " of five fields: the missing ones read as 0, so it never matches"});
    }
    for (int f = 0; f < read.fields_present; ++f) {
        const FieldRead& field = read.fields[f];
        if (field.text.empty()) {
            out.push_back({kFieldNames[f], "",
                           f == 0 && read.expression[0] == ' '
                               ? "a leading blank makes the minute field empty: it reads as 0"
                               : "two blanks in a row make this field empty: it reads as 0, and the later "
                                 "fields shift by one"});
            continue;
        }
        if (field.text.find_first_of("\t\n\v\f\r") != std::string::npos) {
            out.push_back({kFieldNames[f], printable(field.text),
                           "white space other than a blank does not separate fields: it stays in this one"});
        }
        for (const ItemRead& item : field.items) {
            if (item.text.empty()) {
                out.push_back({kFieldNames[f], "", "an empty item reads as 0"});
                continue;
            }
            std::string message = misreading(f, item);
            if (!message.empty()) {
                out.push_back({kFieldNames[f], printable(item.text), message});
            }
            const cron::ItemReading& r = item.reading;
            if (r.kind == cron::ItemKind::kNumber && !r.has_number) {
                out.push_back({kFieldNames[f], printable(item.text),
                               "the number is too large for the agent to read: the item matches nothing"});
            } else if (r.kind == cron::ItemKind::kNumber && (has_digit(item.text) || message.empty())) {
                std::string range = out_of_range(f, r.number, from_year);
                if (!range.empty()) {
                    out.push_back({kFieldNames[f], printable(item.text), range});
                }
            }
        }
    }
    if (!read.ignored.empty()) {
        out.push_back({"", printable(read.ignored), "text after the fifth field is ignored"});
    }
    return out;
}

}  // namespace omvar::zbs
