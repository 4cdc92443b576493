// The tool's reading of expressions: held to the matcher itself over the
// expression table and the fuzz corpus, and its words, warnings and JSON text.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "agent/cron/schedule.h"
#include "cron_schedule_cases.h"
#include "fuzz/fuzz_support.h"
#include "tools/zbs/json.h"
#include "tools/zbs/reading.h"

namespace omvar::zbs {
namespace {

// The candidate values of each field: its range and a little beyond, plus every
// number an item names (so that a far year or a negative minute is tried too).
std::vector<long long> candidates(const ExpressionRead& read, int field) {
    static const long long kLow[] = {-2, -2, -1, -2, 1999};
    static const long long kHigh[] = {61, 25, 33, 13, 2031};
    std::vector<long long> values;
    for (long long v = kLow[field]; v <= kHigh[field]; ++v) {
        values.push_back(v);
    }
    for (const ItemRead& item : read.fields[field].items) {
        if (item.reading.has_number) {
            for (long long d = -1; d <= 1; ++d) {
                long long v = item.reading.number + d;
                if (v >= INT_MIN + 1900LL && v <= INT_MAX) {
                    values.push_back(v);
                }
            }
        }
    }
    return values;
}

std::tm record(const long long values[5], int weekday) {
    std::tm t{};
    t.tm_min = static_cast<int>(values[0]);
    t.tm_hour = static_cast<int>(values[1]);
    t.tm_mday = static_cast<int>(values[2]);
    t.tm_mon = static_cast<int>(values[3]);
    t.tm_year = static_cast<int>(values[4] - 1900);
    t.tm_wday = weekday;
    return t;
}

// Field by field: with every other field at a value the reading says matches
// (where there is one), each candidate value of the field must be matched by
// match_schedule exactly when the reading says so.
void expect_agreement(const std::string& expression) {
    SCOPED_TRACE(testing::Message() << '"' << expression << '"');
    const ExpressionRead read = read_expression(expression);
    long long base[5] = {0, 0, 1, 0, 2026};
    int base_weekday = 0;
    for (int f = 0; f < cron::kFieldCount; ++f) {
        for (long long v : candidates(read, f)) {
            bool found = false;
            for (int w = 0; w < 7 && !found; ++w) {
                if (field_read_matches(read, f, v, f == cron::kDayField ? w : -1)) {
                    base[f] = v;
                    base_weekday = f == cron::kDayField ? w : base_weekday;
                    found = true;
                }
            }
            if (found) {
                break;
            }
        }
    }
    for (int f = 0; f < cron::kFieldCount; ++f) {
        for (long long v : candidates(read, f)) {
            for (int w = 0; w < (f == cron::kDayField ? 8 : 1); ++w) {
                long long values[5];
                std::copy(base, base + 5, values);
                values[f] = v;
                const std::tm t = record(values, f == cron::kDayField ? w : base_weekday);
                ASSERT_EQ(cron::match_schedule(expression.c_str(), &t) == 1, read_matches(read, t))
                    << kFieldNames[f] << " = " << v << ", weekday " << t.tm_wday;
            }
        }
    }
}

TEST(ZbsReading, AgreesWithTheMatcherOverTheExpressionTable) {
    for (const auto& c : test::schedule_cases::kCases) {
        expect_agreement(c.expression);
        const ExpressionRead read = read_expression(c.expression);
        EXPECT_EQ(cron::match_schedule(c.expression, &c.when) == 1, read_matches(read, c.when))
            << c.expression;
    }
    expect_agreement(std::string(1023, '*'));
    expect_agreement("0 2 * * *" + std::string(1014, ' '));
    expect_agreement("0 2 * * *" + std::string(1015, ' '));  // 1024 bytes: never
}

TEST(ZbsReading, AgreesWithTheMatcherOverTheFuzzCorpus) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(OMVAR_MATCH_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Decoded as the fuzz target decodes it: a time record, then the expression.
        fuzz::Reader reader{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
        std::tm t = reader.time_record();
        const std::string expression = reader.rest_as_c_string();
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(cron::match_schedule(expression.c_str(), &t) == 1,
                  read_matches(read_expression(expression), t));
        expect_agreement(expression);
        ++inputs;
    }
    EXPECT_GE(inputs, 10) << "the corpus was not found";
}

TEST(ZbsReading, ItemsReadAsTheAgentReadsThem) {
    struct Case {
        const char* expression;
        int field;
        std::vector<std::string> reads_as;  // "" for an item that matches nothing
    };
    const Case cases[] = {
        {"30 8 mon,FRI,15 * *", 2, {"Mon", "Fri", "15"}},
        {"30 8 Monday * *", 2, {"0"}},
        {"Mon * * * *", 0, {"0"}},
        {"1-5,*/15,*,07x,+7,-3, 9 * * * *", 0, {"1", "0", "*", "7", "7", "-3", "0"}},
        {"0 2 * Jan,11 *", 3, {"0", "11"}},
        {"99999999999 * * * *", 0, {""}},
        {"5 * * *", 4, {"0"}},   // a missing field reads as one empty item
        {"5  * * *", 1, {"0"}},  // as does an empty one
        {"\t7,7\t * * * *", 0, {"7", "7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        const ExpressionRead read = read_expression(c.expression);
        std::vector<std::string> got;
        for (const ItemRead& item : read.fields[c.field].items) {
            got.push_back(reads_as_text(item));
        }
        EXPECT_EQ(got, c.reads_as);
    }
    EXPECT_EQ(read_expression("5 * * *").fields_present, 4);
    EXPECT_FALSE(read_expression("5 * * *").fields[4].present);
    EXPECT_EQ(read_expression("0 2 * * * and more").ignored, "and more");
}

TEST(ZbsReading, WordsSayWhatIsCompared) {
    struct Case {
        const char* expression;
        const char* words;
    };
    const Case cases[] = {
        {"30 8 mon,fri * *", "at minute 30 of hour 8, on Mondays and Fridays, in every month, in every year"},
        {"0,30 0 1,15 11 2027",
         "at minutes 0 and 30 of hour 0, on days 1 and 15 of the month, in December, in 2027"},
        {"* 2,3,4 Mon,15 0 *",
         "every minute of hours 2, 3 and 4, on Mondays and on day 15 of the month, in January, in every "
         "year"},
        {"0 2 * 12,1 2026,2027",
         "at minute 0 of hour 2, on every day, in February and month 12, in 2026 and 2027"},
        {"99999999999 2 * * *", "at no minute of hour 2, on every day, in every month, in every year"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(read_expression(c.expression)), c.words) << c.expression;
    }
}

struct Expected {
    std::string field;
    std::string item;
    std::string message_has;
};

TEST(ZbsReading, WarningsNameTheFieldAndTheItem) {
    struct Case {
        std::string expression;
        std::vector<Expected> warnings;  // exactly these, in this order
    };
    const Case cases[] = {
        {"1-5 * * * *", {{"minute", "1-5", "\"1-5\" reads as 1: there are no ranges"}}},
        {"*/15 * * * *", {{"minute", "*/15", "reads as 0: there are no steps"}}},
        {"0/15 * * * *", {{"minute", "0/15", "there are no steps"}}},
        {"*x * * * *", {{"minute", "*x", "\"*\" must be the whole item"}}},
        {"07x * * * *", {{"minute", "07x", "\"07x\" reads as 7: the text after the number is ignored"}}},
        {"30 8 Monday * *", {{"day", "Monday", "only the three-letter weekday names"}}},
        {"0 2 * Jan *", {{"month", "Jan", "reads as 0 (January)"}}},
        {"Mon 2 * * *", {{"minute", "Mon", "names are read only as weekdays in the day field"}}},
        {"60 24 0 12 *",
         {{"minute", "60", "minute 60 never comes"},
          {"hour", "24", "hour 24 never comes"},
          {"day", "0", "day 0 never comes"},
          {"month", "12", "months count from 0, January, to 11, December"}}},
        {"0 2 32 * *", {{"day", "32", "day 32 never comes"}}},
        {"-1 2 * * *", {{"minute", "-1", "minute -1 never comes"}}},
        {"0 2 * * 2025", {{"year", "2025", "year 2025 is already past"}}},
        {"99999999999 2 * * *", {{"minute", "99999999999", "too large"}}},
        {"5  * * * *",
         {{"hour", "", "two blanks in a row"}, {"", "*", "text after the fifth field is ignored"}}},
        {" 5 * * * *",
         {{"minute", "", "a leading blank"}, {"", "*", "text after the fifth field is ignored"}}},
        {"5 * * *", {{"year", "", "only 4 of five fields"}}},
        {"0 2 * * * weekly", {{"", "weekly", "text after the fifth field is ignored"}}},
        {"0\t2 * * * *",
         {{"minute", "0\\t2", "does not separate fields"}, {"minute", "0\\t2", "\"0\\t2\" reads as 0"}}},
        {"0,,30 2 * * *", {{"minute", "", "an empty item reads as 0"}}},
        {"", {{"", "", "the expression is empty"}}},
        {std::string(1024, '*'), {{"", "", "1024 bytes or longer"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.expression.substr(0, 40) << '"');
        const std::vector<Warning> got = text_warnings(read_expression(c.expression), 2026);
        ASSERT_EQ(got.size(), c.warnings.size()) << (got.empty() ? "" : warning_text(got[0]));
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].field, c.warnings[i].field);
            EXPECT_EQ(got[i].item, c.warnings[i].item);
            EXPECT_NE(got[i].message.find(c.warnings[i].message_has), std::string::npos) << got[i].message;
        }
    }
}

TEST(ZbsReading, PlainExpressionsGiveNoWarnings) {
    for (const char* expression :
         {"0 2 * * *", "56 * * * *", "30 8 mon,fri * *", "30 8 MON * *", "0 12 1,15 * *", "0 0 * 11 *",
          "0 9 Mon,15 * *", "59 23 31 0,11 2026,2027", "+7 * * * *", "0 0 1 0 *", "* * * * *"}) {
        const std::vector<Warning> got = text_warnings(read_expression(expression), 2026);
        EXPECT_TRUE(got.empty()) << expression << ": " << warning_text(got.front());
    }
}

TEST(ZbsJson, StringsAreValidJsonForAnyBytes) {
    struct Case {
        std::string bytes;
        std::string json;
    };
    const Case cases[] = {
        {"nightly.zbs", "\"nightly.zbs\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\there\nline", "\"tab\\there\\nline\""},
        {std::string("a\0b\x1f\x7f", 5), "\"a\\u0000b\\u001f\\u007f\""},
        {"w\xc3\xb6"
         "chentlich",
         "\"w\xc3\xb6"
         "chentlich\""},  // valid UTF-8 stays
        {"\xf0\x9f\x92\xbe", "\"\xf0\x9f\x92\xbe\""},
        {"bad\xff", "\"bad\\udcff\""},                             // not UTF-8: surrogate escape
        {"\xc3", "\"\\udcc3\""},                                   // a lead byte alone
        {"\xc3(", "\"\\udcc3(\""},                                 // a lead byte without its continuation
        {"\xc0\xaf", "\"\\udcc0\\udcaf\""},                        // overlong
        {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},             // an encoded surrogate
        {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // beyond U+10FFFF
        {"\x80", "\"\\udc80\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_string(c.bytes), c.json);
    }
    EXPECT_EQ(json_string_or_null(""), "null");
    EXPECT_EQ(warnings_json({{"day", "Monday", "m"}, {"", "", "n"}, {"minute", "", "t", "hour"}}),
              "[{\"field\":\"day\",\"fields\":[\"day\"],\"item\":\"Monday\",\"message\":\"m\"},"
              "{\"field\":null,\"fields\":[],\"item\":null,\"message\":\"n\"},"
              "{\"field\":\"minute\",\"fields\":[\"minute\",\"hour\"],\"item\":null,\"message\":\"t\"}]");
}

}  // namespace
}  // namespace omvar::zbs
