// Start-up settings from the install directory, and the debug line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/cron/debug_log.h"
#include "agent/cron/settings.h"
#include "test_support.h"

namespace {

using omvar::cron::agent_init;
using omvar::cron::agent_settings;
using omvar::cron::AgentSettings;
using omvar::cron::debug_log;
using omvar::dispatch::kBackupEngine;
using omvar::dispatch::kMailSender;
using omvar::dispatch::kUpdater;
using omvar::test::DebugCapture;
using omvar::test::TempDir;

std::string command_of(const AgentSettings& s, omvar::dispatch::Companion which) {
    return s.companion[which].command_line;
}
std::string dir_of(const AgentSettings& s, omvar::dispatch::Companion which) {
    return s.companion[which].working_dir;
}

// agent_init changes the process's directory; put it back for the other tests.
class Settings : public ::testing::Test {
  protected:
    TempDir dir_;
    omvar::test::ScopedCwd cwd_;
};

void expect_settings_for(const std::string& dir) {
    EXPECT_EQ(std::string(agent_settings.install_dir), dir);
    EXPECT_EQ(command_of(agent_settings, kUpdater), "\"" + dir + "\\omvar-update1.exe\"");
    EXPECT_EQ(dir_of(agent_settings, kUpdater), dir);
    EXPECT_EQ(command_of(agent_settings, kMailSender), "\"" + dir + "\\omvar-txmail.exe\"");
    EXPECT_EQ(dir_of(agent_settings, kMailSender), dir);
    EXPECT_EQ(command_of(agent_settings, kBackupEngine), "\"" + dir + "\\omvar-backup.exe\" background");
    EXPECT_EQ(dir_of(agent_settings, kBackupEngine), dir);
}

// A real directory below base whose path is exactly `length` bytes long.
std::string directory_of_length(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const std::size_t left = length - path.size();
        if (left == 1 && path != base) {
            path += 'd';  // a separator alone would add no name: lengthen the last one
        } else {
            path += "/" + std::string(std::min<std::size_t>(200, left - 1), 'd');
        }
    }
    std::filesystem::create_directories(path);
    return path;
}

TEST_F(Settings, AllFieldsAreFormedFromTheInstallDirectoryAndItIsEntered) {
    // A blank and a trailing backslash are part of the name and passed on unchanged.
    const std::string names[] = {"plain", "with blank", "trailing\\"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string dir = dir_.file(name);
        ASSERT_TRUE(std::filesystem::create_directory(dir));
        DebugCapture capture;
        ASSERT_EQ(agent_init(dir.c_str()), 0);
        expect_settings_for(dir);
        // "/." because the Windows runtime cannot look up a directory path that
        // ends in a backslash, where it is a separator rather than part of a name.
        EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir + "/."));
        EXPECT_TRUE(capture.lines().empty());
    }
    EXPECT_EQ(command_of(agent_settings, kBackupEngine),
              "\"" + dir_.path() + "/trailing\\\\omvar-backup.exe\" background");
}

// The tool forms the command lines for any directory without entering it and
// without touching the running agent's settings.
TEST_F(Settings, CommandLinesAreAPureFunctionOfTheDirectory) {
    ASSERT_EQ(agent_init(dir_.path().c_str()), 0);
    const AgentSettings before = agent_settings;
    const std::filesystem::path cwd = std::filesystem::current_path();
    AgentSettings formed{};
    ASSERT_TRUE(omvar::cron::form_command_lines("/no/such dir", &formed));
    EXPECT_EQ(command_of(formed, kBackupEngine), "\"/no/such dir\\omvar-backup.exe\" background");
    EXPECT_EQ(command_of(formed, kUpdater), "\"/no/such dir\\omvar-update1.exe\"");
    EXPECT_EQ(dir_of(formed, kMailSender), "/no/such dir");
    EXPECT_EQ(std::memcmp(&before, &agent_settings, sizeof before), 0);
    EXPECT_EQ(std::filesystem::current_path(), cwd);
}

TEST_F(Settings, SecondCallRebuildsEverythingFromScratch) {
    OMVAR_SKIP_WITHOUT_LONG_PATHS();
    const std::string long_dir = directory_of_length(dir_.path(), 900);
    const std::string short_dir = dir_.file("s");
    ASSERT_TRUE(std::filesystem::create_directory(short_dir));

    ASSERT_EQ(agent_init(long_dir.c_str()), 0);
    ASSERT_EQ(agent_init(short_dir.c_str()), 0);
    expect_settings_for(short_dir);

    AgentSettings first;
    std::memcpy(&first, &agent_settings, sizeof first);
    ASSERT_EQ(agent_init(short_dir.c_str()), 0);
    EXPECT_EQ(std::memcmp(&first, &agent_settings, sizeof first), 0);
}

TEST_F(Settings, LongestAcceptedInstallDirectoryYieldsWholeCommandLines) {
    OMVAR_SKIP_WITHOUT_LONG_PATHS();
    const std::string dir = directory_of_length(dir_.path(), 1023);
    ASSERT_EQ(dir.size(), 1023u);
    DebugCapture capture;
    ASSERT_EQ(agent_init(dir.c_str()), 0);
    // The backup engine's line is 30 bytes longer than the directory: nothing cut.
    expect_settings_for(dir);
    EXPECT_EQ(command_of(agent_settings, kBackupEngine).size(), 1023u + 30);
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(Settings, TooLongTextIsRefusedBeforeAnythingChanges) {
    const std::string good = dir_.file("good");
    ASSERT_TRUE(std::filesystem::create_directory(good));
    ASSERT_EQ(agent_init(good.c_str()), 0);
    AgentSettings before;
    std::memcpy(&before, &agent_settings, sizeof before);

    // 1024 bytes naming a real directory, and far longer texts.
    const std::string real = directory_of_length(dir_.path(), 1024);
    const std::string texts[] = {real, std::string(1024, 'x'), "/" + std::string(5000, 'y')};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        DebugCapture capture;
        EXPECT_EQ(agent_init(text.c_str()), 1);
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"agent\\cron\\cron:159\r\n"});
        EXPECT_EQ(std::memcmp(&before, &agent_settings, sizeof before), 0);
        EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), good));
    }
}

TEST_F(Settings, DirectoryThatCannotBeEnteredIsLoggedAndKeptAsText) {
    const std::string file = dir_.file("a-file");
    omvar::test::write_file(file, "");
    // Quotes and trailing blanks are part of the path, so these name nothing.
    std::vector<std::string> texts = {"\"" + dir_.path() + "\"", dir_.file("missing"), file, ""};
    if (omvar::test::kTrailingBlankKeptInNames) {
        texts.push_back(dir_.path() + " ");
    }
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        DebugCapture capture;
        EXPECT_EQ(agent_init(text.c_str()), 1);
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"agent\\cron\\cron:167\r\n"});
        EXPECT_EQ(std::string(agent_settings.install_dir), text);
        EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), cwd_.saved()));
    }
}

TEST(DebugLog, LineIsTheMessageWithCarriageReturnAndLineFeed) {
    DebugCapture capture;
    debug_log("%s:%d", "agent\\cron\\cron", 159);
    debug_log("found %s", "/opt/omvar/etc/nightly.zbs.now");
    debug_log("%s", "");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"agent\\cron\\cron:159\r\n",
                                        "found /opt/omvar/etc/nightly.zbs.now\r\n", "\r\n"}));
}

// At most 253 characters of message fit beside "\r\n" and the NUL in 256 bytes;
// a longer message is cut, never written past the line (AddressSanitizer sees that).
TEST(DebugLog, LongMessageIsCutToTheLineBuffer) {
    struct Case {
        std::size_t path_length;  // after "found "
        std::size_t kept;         // characters of message in the line
    };
    const Case cases[] = {{246, 252}, {247, 253}, {248, 253}, {249, 253}, {1000, 253}, {5000, 253}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path_length);
        std::string path;
        for (std::size_t i = 0; i < c.path_length; ++i) {
            path += static_cast<char>('a' + i % 26);
        }
        DebugCapture capture;
        debug_log("found %s", path.c_str());
        ASSERT_EQ(capture.lines().size(), 1u);
        const std::string message = ("found " + path).substr(0, c.kept);
        EXPECT_EQ(capture.lines()[0], message + "\r\n");
    }
}

// A name's control bytes are shown escaped, so no file name can start a line of
// its own; an escape is never cut in half at the end of the line.
TEST(DebugLog, ControlBytesAreEscapedAndNeverCutInHalf) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"a\nfound evil.now", "a\\nfound evil.now"},
        {"tab\there.now", "tab\\there.now"},
        {"\x1b[31mred\x7f\r.now", "\\x1b[31mred\\x7f\\x0d.now"},
        {std::string(246, 'p') + "\x01", std::string(246, 'p')},  // 4 bytes would not fit
        {std::string(243, 'p') + "\x01", std::string(243, 'p') + "\\x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        DebugCapture capture;
        debug_log("found %s", c.name.c_str());
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"found " + c.shown + "\r\n"});
    }
}

// Lines for standard error are valid UTF-8 and one line for every reader (the
// journal stores any other line as binary data; Unicode-aware readers break
// lines at U+0085, U+2028 and U+2029). The Windows debugger output takes the
// name's bytes in the ANSI code page, as they are.
TEST(DebugLog, BytesAbove127ByTheReadersEncoding) {
    using omvar::cron::LineEncoding;
    const struct {
        const char* what;
        std::string message;
        std::string utf8;
        std::string code_page;  // "": the message itself
    } cases[] = {
        {"Latin-1 name", "found caf\xe9.now", "found caf\\xe9.now", ""},
        {"lone continuation byte", "found x\x80y.now", "found x\\x80y.now", ""},
        {"valid UTF-8 of 2, 3 and 4 bytes", "found \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe.now",
         "found \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe.now", ""},
        {"U+2028 and U+2029",
         "found a\xe2\x80\xa8"
         "found b\xe2\x80\xa9.now",
         "found a\\xe2\\x80\\xa8found b\\xe2\\x80\\xa9.now", ""},
        {"U+0085 and a raw 0x85",
         "found a\xc2\x85"
         "b\x85.now",
         "found a\\xc2\\x85b\\x85.now", ""},
        {"C1 control U+009B",
         "found \xc2\x9b"
         "31m.now",
         "found \\xc2\\x9b31m.now", ""},
        {"overlong, surrogate, above U+10FFFF", "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80",
         "\\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80", ""},
        {"sequence cut short by the end", "found \xe2\x82", "found \\xe2\\x82", ""},
        {"control bytes in either encoding", "a\xe9\n\x1b", "a\\xe9\\n\\x1b", "a\xe9\\n\\x1b"},
        {"a character that does not fit is left out whole", std::string(252, 'p') + "\xc3\xa9",
         std::string(252, 'p'), std::string(252, 'p') + "\xc3"},
        {"so is its escape", std::string(242, 'p') + "\xe2\x80\xa8", std::string(242, 'p'),
         std::string(242, 'p') + "\xe2\x80\xa8"},
        {"an escaped character that fits", std::string(241, 'p') + "\xe2\x80\xa8",
         std::string(241, 'p') + "\\xe2\\x80\\xa8", std::string(241, 'p') + "\xe2\x80\xa8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        char line[omvar::cron::kDebugLineSize];
        omvar::cron::format_debug_line(c.message.c_str(), LineEncoding::kUtf8, line);
        EXPECT_EQ(std::string(line), c.utf8 + "\r\n");
        omvar::cron::format_debug_line(c.message.c_str(), LineEncoding::kAnsiCodePage, line);
        EXPECT_EQ(std::string(line), (c.code_page.empty() ? c.message : c.code_page) + "\r\n");
    }
}

}  // namespace
