// The Windows command-line splitter used to start companion programs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent/platform/command_line.h"

namespace omvar::platform {
namespace {

std::vector<std::string> args_of(const CommandLineArgs& args) {
    std::vector<std::string> out;
    for (int i = 0; i < args.count; ++i) {
        out.emplace_back(args.argv[i]);
    }
    return out;
}

struct SplitCase {
    const char* name;
    const char* line;
    std::vector<std::string> expected;
};

// Raw strings: what is written is exactly the command-line text.
const SplitCase kCases[] = {
    {"engine command line",
     R"("C:\Apps\Backup\omvar-backup.exe" background)",
     {R"(C:\Apps\Backup\omvar-backup.exe)", "background"}},
    {"posix install dir",
     R"("/opt/omvar\omvar-backup.exe" background)",
     {R"(/opt/omvar\omvar-backup.exe)", "background"}},
    {"blank in quoted program",
     R"("/opt/my backup\omvar-txmail.exe")",
     {R"(/opt/my backup\omvar-txmail.exe)"}},
    {"program keeps backslashes before its closing quote", R"("C:\dir\\" arg)", {R"(C:\dir\\)", "arg"}},
    {"doubled backslash from a trailing one in the install dir",
     R"("C:\dir\\omvar-update1.exe")",
     {R"(C:\dir\\omvar-update1.exe)"}},
    {"program partly quoted", R"("a b"c d)", {"a bc", "d"}},
    {"unquoted program", "prog a b", {"prog", "a", "b"}},
    {"quoted argument", R"(p "a b" c)", {"p", "a b", "c"}},
    {"even backslashes before quote are halved, quote groups", R"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
    {"odd backslashes before quote give a literal quote", R"(p a\\\"b)", {"p", R"(a\"b)"}},
    {"escaped quote alone", R"(p \")", {"p", "\""}},
    {"backslashes elsewhere are literal", R"(p a\\b\c)", {"p", R"(a\\b\c)"}},
    {"doubled quote inside quotes is one quote", R"(p "a""b")", {"p", "a\"b"}},
    {"doubled quote keeps the quoted part open", R"(p "a""b c" d)", {"p", "a\"b c", "d"}},
    {"doubled quote outside quotes is nothing", R"(p a""b)", {"p", "ab"}},
    {"empty quoted argument", R"(p "" x)", {"p", "", "x"}},
    {"trailing backslashes are literal", R"(p a\\)", {"p", R"(a\\)"}},
    {"trailing backslashes before closing quote", R"(p "a\\")", {"p", R"(a\)"}},
    {"escaped quote at the end of an open quote", R"(p "a\")", {"p", "a\""}},
    {"unterminated quote runs to the end", R"(p "a b)", {"p", "a b"}},
    {"quote opens in the middle of an argument", R"(p a"b c"d)", {"p", "ab cd"}},
    {"blanks and tabs around", " \t p\ta  b\t ", {"p", "a", "b"}},
    {"tab inside quotes kept", "p \"a\tb\"", {"p", "a\tb"}},
    {"empty", "", {}},
    {"only blanks", "  \t  ", {}},
    {"only quotes", "\"\"", {""}},
};

TEST(CommandLine, SplitsByWindowsRules) {
    for (const SplitCase& c : kCases) {
        SCOPED_TRACE(c.name);
        static CommandLineArgs args;
        EXPECT_TRUE(split_command_line(c.line, &args));
        EXPECT_FALSE(args.truncated);
        EXPECT_EQ(args_of(args), c.expected);
        EXPECT_EQ(args.argv[args.count], nullptr);
    }
}

TEST(CommandLine, StopsAtLengthAndAtNul) {
    static CommandLineArgs args;
    const char text[] = "p a\0b";
    EXPECT_TRUE(split_command_line(text, sizeof text - 1, &args));
    EXPECT_EQ(args_of(args), (std::vector<std::string>{"p", "a"}));

    EXPECT_TRUE(split_command_line("prog arg", 4, &args));
    EXPECT_EQ(args_of(args), (std::vector<std::string>{"prog"}));
}

TEST(CommandLine, TooManyArgumentsAreReportedNotOverrun) {
    std::string line = "p";
    for (std::size_t i = 0; i < kMaxArgs + 6; ++i) {
        line += " a" + std::to_string(i);
    }
    static CommandLineArgs args;
    EXPECT_FALSE(split_command_line(line.c_str(), &args));
    EXPECT_TRUE(args.truncated);
    ASSERT_EQ(args.count, static_cast<int>(kMaxArgs));
    EXPECT_EQ(args.argv[kMaxArgs], nullptr);
    EXPECT_STREQ(args.argv[kMaxArgs - 1], ("a" + std::to_string(kMaxArgs - 2)).c_str());

    // Exactly as many as fit is not a truncation.
    line = "p";
    for (std::size_t i = 1; i < kMaxArgs; ++i) {
        line += " x";
    }
    EXPECT_TRUE(split_command_line(line.c_str(), &args));
    EXPECT_EQ(args.count, static_cast<int>(kMaxArgs));
}

TEST(CommandLine, TextLongerThanTheBufferIsCutAtItsEnd) {
    static CommandLineArgs args;
    std::string fits(kArgTextSize - 1, 'x');  // with its NUL exactly the buffer
    EXPECT_TRUE(split_command_line(fits.c_str(), &args));
    EXPECT_EQ(std::strlen(args.argv[0]), kArgTextSize - 1);

    std::string one_more(kArgTextSize, 'x');
    EXPECT_FALSE(split_command_line(one_more.c_str(), &args));
    EXPECT_TRUE(args.truncated);
    ASSERT_EQ(args.count, 1);
    EXPECT_EQ(std::strlen(args.argv[0]), kArgTextSize - 1);

    // An argument that starts where only its NUL still fits is kept empty.
    std::string second = std::string(kArgTextSize - 2, 'y') + " z";
    EXPECT_FALSE(split_command_line(second.c_str(), &args));
    ASSERT_EQ(args.count, 2);
    EXPECT_STREQ(args.argv[1], "");

    // A long run of backslashes before a quote, in an argument.
    std::string slashes = "p " + std::string(3 * kArgTextSize, '\\') + "\"";
    EXPECT_FALSE(split_command_line(slashes.c_str(), &args));
    ASSERT_EQ(args.count, 2);
    EXPECT_EQ(std::strlen(args.argv[1]), kArgTextSize - 3);
}

// Arbitrary bytes: whatever comes in, every argument lies inside the text buffer
// and is terminated there.
TEST(CommandLine, ArbitraryBytesStayInsideTheRecord) {
    static CommandLineArgs args;
    unsigned state = 12345;
    const char alphabet[] = {'"', '\\', ' ', '\t', 'a', '\0', '\x80', '\xff'};
    for (int round = 0; round < 2000; ++round) {
        state = state * 1103515245u + 12345u;
        std::size_t length = (state >> 8) % (kArgTextSize + 600);
        std::string text(length, ' ');
        for (char& c : text) {
            state = state * 1103515245u + 12345u;
            c = alphabet[(state >> 16) % sizeof alphabet];
        }
        bool ok = split_command_line(text.data(), text.size(), &args);
        EXPECT_EQ(ok, !args.truncated);
        ASSERT_LE(args.count, static_cast<int>(kMaxArgs));
        ASSERT_EQ(args.argv[args.count], nullptr);
        for (int i = 0; i < args.count; ++i) {
            ASSERT_GE(args.argv[i], args.text);
            ASSERT_LT(args.argv[i], args.text + kArgTextSize);
            std::size_t room = static_cast<std::size_t>(args.text + kArgTextSize - args.argv[i]);
            ASSERT_LT(strnlen(args.argv[i], room), room);
        }
    }
}

}  // namespace
}  // namespace omvar::platform
