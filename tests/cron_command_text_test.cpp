#include "agent/cron/command_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using omvar::cron::command_line_text;

struct TextCase {
    const char* what;
    std::string command_line;
    std::string expected;
};

class CommandTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(CommandTextTest, CutsTheProgramNameOnly) {
    const TextCase& c = GetParam();
    const char* line = c.command_line.c_str();
    const char* text = command_line_text(line);
    EXPECT_EQ(std::string(text), c.expected) << c.what;
    // The result is the tail of the command line itself, not a copy.
    EXPECT_GE(text, line);
    EXPECT_LE(text, line + c.command_line.size());
}

const TextCase kCases[] = {
    {"service binary path, registered unquoted", "C:\\omvar\\omvar-cron.exe C:\\Apps\\Backup",
     "C:\\Apps\\Backup"},
    {"started by hand: the program name quoted",
     "\"C:\\Program Files\\omvar\\omvar-cron.exe\" C:\\Apps\\Backup", "C:\\Apps\\Backup"},
    {"blanks in the install directory stay", "omvar-cron.exe C:\\Program Files\\Omvar Backup",
     "C:\\Program Files\\Omvar Backup"},
    {"quotes around the install directory stay", "omvar-cron.exe \"C:\\Apps\\Backup\"",
     "\"C:\\Apps\\Backup\""},
    {"trailing blanks stay", "omvar-cron.exe C:\\Apps  ", "C:\\Apps  "},
    {"every blank and control character after the name goes", "omvar-cron.exe \t \r\n C:\\Apps", "C:\\Apps"},
    {"a control character ends an unquoted name",
     std::string("omvar-cron.exe\x01"
                 "C:\\Apps"),
     "C:\\Apps"},
    {"a quoted name needs no blank after it", "\"C:\\omvar\\omvar-cron.exe\"C:\\Apps", "C:\\Apps"},
    {"a quote inside an unquoted name does not group", "C:\\a\"b c\\omvar-cron.exe D", "c\\omvar-cron.exe D"},
    {"an unclosed quote runs to the end", "\"C:\\omvar\\omvar-cron.exe C:\\Apps", ""},
    {"ANSI bytes above 127 belong to the name", "C:\\\xe9t\xe9\\omvar-cron.exe C:\\\xe9", "C:\\\xe9"},
    {"the program name alone", "omvar-cron.exe", ""},
    {"the quoted program name alone, with blanks", "\"omvar-cron.exe\"   ", ""},
    {"an empty command line", "", ""},
    {"a leading blank ends an empty program name", " C:\\Apps", "C:\\Apps"},
};

// Test names from the descriptions: letters and digits, words joined by "_".
std::string case_name(const ::testing::TestParamInfo<TextCase>& info) {
    std::string name;
    for (const char* p = info.param.what; *p != '\0'; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) {
            name += *p;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rules, CommandTextTest, ::testing::ValuesIn(kCases), case_name);

}  // namespace
