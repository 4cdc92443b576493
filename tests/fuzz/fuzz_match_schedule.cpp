// match_schedule over arbitrary expressions and time records, checked against a
// second, deliberately plain reading of the expression rules.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "agent/cron/schedule.h"
#include "fuzz_support.h"

namespace {

bool item_matches(const std::string& item, long long value, int weekday) {
    static const char* const kNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    if (item == "*") {
        return true;
    }
    if (weekday >= 0 && weekday < 7 && item.size() == 3) {
        std::string lower;
        for (char c : item) {
            lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (lower == kNames[weekday]) {
            return true;
        }
    }
    // atoi's reading; a number outside int's range matches nothing.
    errno = 0;
    long long number = std::strtoll(item.c_str(), nullptr, 10);
    if (errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    return number == value;
}

bool field_matches(const std::string& field, long long value, int weekday) {
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = field.find(',', start);
        std::string item =
            field.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item_matches(item, value, weekday)) {
            return true;
        }
        if (comma == std::string::npos) {
            return false;
        }
        start = comma + 1;
    }
}

int reference_match(const std::string& expression, const std::tm& t) {
    if (expression.size() >= 1024) {
        return 0;
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        if (start > expression.size()) {
            fields.emplace_back();
            continue;
        }
        std::size_t blank = expression.find(' ', start);
        if (blank == std::string::npos) {
            fields.push_back(expression.substr(start));
            start = expression.size() + 1;
        } else {
            fields.push_back(expression.substr(start, blank - start));
            start = blank + 1;
        }
    }
    const long long values[5] = {t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon,
                                 static_cast<long long>(t.tm_year) + 1900};
    for (int i = 0; i < 5; ++i) {
        if (!field_matches(fields[static_cast<std::size_t>(i)], values[i], i == 2 ? t.tm_wday : -1)) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    omvar::fuzz::Reader in{data, size};
    std::tm t = in.time_record();
    // The rest is the expression, cut at its first NUL as a C string would be.
    std::string expression = in.rest_as_c_string();
    const std::string before = expression;

    int got = omvar::cron::match_schedule(expression.c_str(), &t);
    FUZZ_CHECK(got == 0 || got == 1);
    FUZZ_CHECK(expression == before);  // the expression is never modified
    FUZZ_CHECK(got == reference_match(expression, t));
    return 0;
}
