// What one tick does in a real scan directory, with the companion programs and
// the engine's channel recorded instead of started and written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/platform.h"
#include "crypt_test_portable.h"
#include "test_support.h"

namespace {

using namespace omvar;
using test::local_seconds;

// Every companion start and channel message, in the order they happened:
// "launch update1" (the program's name only), "probe", "request PATH".
std::vector<std::string> events_of(const test::Recorder& recorder) {
    std::vector<std::string> events;
    for (const test::Recorder::Call& call : recorder.calls) {
        if (call.kind == test::Recorder::Call::kLaunch) {
            // "...\omvar-update1.exe" -> "update1".
            std::size_t slash = call.text.find_last_of('\\');
            std::size_t dot = call.text.rfind(".exe");
            events.push_back("launch " + call.text.substr(slash + 7, dot - slash - 7));
        } else if (call.kind == test::Recorder::Call::kWrite) {
            const std::string& bytes = call.text;
            // The path travels with its NUL.
            events.push_back(bytes == std::string(1, '\0') ? "probe"
                             : bytes.back() == '\0'        ? "request " + bytes.substr(0, bytes.size() - 1)
                                                           : "request without its NUL: " + bytes);
        }
    }
    return events;
}

class TickActions : public ::testing::Test {
  protected:
    void SetUp() override {
        test::reset_agent_state();
        ASSERT_EQ(cron::agent_init(install_.path().c_str()), 0);
        key_ = install_.use_known_key();
    }
    void TearDown() override { test::reset_agent_state(); }

    std::vector<std::string> events() const { return events_of(recorder_); }

    std::string etc(const std::string& name) const { return install_.file("etc/" + name); }

    // A schedule file encrypted under the install's key.
    void schedule(const std::string& name, const std::string& expression) {
        const std::string plain = install_.file("plain.txt");
        test::write_file(plain, "# Omvar Backup Schedule\r\nschedule=" + expression + "\r\n");
        ASSERT_TRUE(test::encrypt_file(key_, plain, etc(name)));
    }

    void tick_at(int hour, int minute, int second) {
        cron::next_tick = local_seconds(2026, 12, 9, hour, minute, second);
        cron::on_tick();
    }

    test::ScopedTimeZone zone_{"UTC"};
    test::Recorder recorder_;
    test::InstallDir install_;
    std::string key_;
};

TEST_F(TickActions, UpdaterRunsAtMinute56BeforeTheScanAndOnlyOnce) {
    schedule("nightly.zbs", "* * * * *");
    tick_at(10, 56, 0);
    tick_at(10, 56, 3);
    tick_at(10, 57, 0);
    const std::string path = etc("nightly.zbs");
    EXPECT_EQ(events(), (std::vector<std::string>{"launch update1", "probe", "request " + path, "probe",
                                                  "request " + path}));
}

TEST_F(TickActions, TheTickTimeDecidesNotTheClock) {
    test::FakeClock clock(local_seconds(2026, 12, 9, 11, 3, 30));
    tick_at(10, 56, 0);
    EXPECT_EQ(events(), std::vector<std::string>{"launch update1"});
}

TEST_F(TickActions, MailSenderStartsOncePerMinuteWhileMailFilesExist) {
    test::write_file(etc("one.eml"), "x");
    test::write_file(etc("TWO.EML"), "x");
    tick_at(9, 0, 0);
    tick_at(9, 0, 3);
    tick_at(9, 1, 0);
    EXPECT_EQ(events(), (std::vector<std::string>{"launch txmail", "launch txmail"}));

    // A directory with the extension counts too; the agent never touches mail files.
    ASSERT_TRUE(std::filesystem::remove(etc("one.eml")));
    ASSERT_TRUE(std::filesystem::remove(etc("TWO.EML")));
    ASSERT_TRUE(std::filesystem::create_directory(etc("outbox.eml")));
    recorder_.calls.clear();
    tick_at(9, 2, 0);
    EXPECT_EQ(events(), std::vector<std::string>{"launch txmail"});
}

TEST_F(TickActions, OnlyScheduleFilesByExtensionAreEvaluated) {
    schedule("UPPER.ZBS", "0 2 * * *");
    schedule(".zbs", "0 2 * * *");
    schedule("a.zbs.bak", "0 2 * * *");
    schedule("noextension", "0 2 * * *");
    schedule("later.zbs", "1 2 * * *");
    ASSERT_TRUE(std::filesystem::create_directory(etc("folder.zbs")));
    tick_at(2, 0, 0);
    std::vector<std::string> requests;
    for (const std::string& e : events()) {
        if (e.rfind("request ", 0) == 0) {
            requests.push_back(e.substr(8));
        }
    }
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests, (std::vector<std::string>{etc(".zbs"), etc("UPPER.ZBS")}));
}

TEST_F(TickActions, MissingScanDirectoryStillChecksTheUpdater) {
    ASSERT_GT(std::filesystem::remove_all(install_.file("etc")), 0u);
    tick_at(10, 56, 0);
    EXPECT_EQ(events(), std::vector<std::string>{"launch update1"});
}

// Only the minute field is compared: a clock set back an hour and a minute
// lands on a tick that only polls.
TEST_F(TickActions, SameMinuteFieldAfterAClockChangeOnlyPolls) {
    schedule("nightly.zbs", "* * * * *");
    tick_at(10, 16, 0);
    ASSERT_EQ(events().size(), 2u);
    test::write_file(etc("nightly.zbs.now"), "");
    tick_at(9, 16, 0);
    EXPECT_EQ(events().size(), 4u);
    EXPECT_EQ(events()[3], "request " + etc("nightly.zbs"));
    EXPECT_FALSE(test::file_exists(etc("nightly.zbs.now")));
}

TEST_F(TickActions, OneTriggerPerPollingTickDeletedBeforeItsRequest) {
    test::write_file(etc("a.zbs.now"), "");
    test::write_file(etc("B.ZBS.NOW"), "");
    test::write_file(etc("c.now"), "");
    test::DebugCapture debug;
    tick_at(8, 0, 0);  // a minute tick does not poll
    EXPECT_TRUE(events().empty());
    for (int second = 3; second <= 12; second += 3) {
        tick_at(8, 0, second);
    }
    // Three ticks, one trigger each, in the order the directory gives them.
    ASSERT_EQ(events().size(), 6u);
    ASSERT_EQ(debug.lines().size(), 3u);
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& line = debug.lines()[i];
        ASSERT_EQ(line.rfind("found " + etc(""), 0), 0u) << line;
        std::string trigger = line.substr(6, line.size() - 8);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        EXPECT_EQ(events()[2 * i], "probe");
        EXPECT_EQ(events()[2 * i + 1], "request " + trigger.substr(0, trigger.size() - 4));
        seen.push_back(trigger.substr(etc("").size()));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"B.ZBS.NOW", "a.zbs.now", "c.now"}));
    for (const char* name : {"a.zbs.now", "B.ZBS.NOW", "c.now"}) {
        EXPECT_FALSE(test::file_exists(etc(name))) << name;
    }
}

TEST_F(TickActions, ABareNowTriggerRequestsTheScanDirectory) {
    test::write_file(etc(".now"), "");
    tick_at(8, 0, 0);
    tick_at(8, 0, 3);
    EXPECT_EQ(events(), (std::vector<std::string>{"probe", "request " + etc("")}));
}

// A directory can never be deleted: it must not block the triggers behind it.
TEST_F(TickActions, DirectoryNamedLikeATriggerIsPassedOver) {
    ASSERT_TRUE(std::filesystem::create_directory(etc("stuck.now")));
    test::write_file(etc("real.zbs.now"), "");
    // Names differing only in case are one name on Windows.
    std::error_code ec;
    std::filesystem::create_directory(etc("STUCK.NOW"), ec);
    ASSERT_TRUE(std::filesystem::is_directory(etc("STUCK.NOW")));
    test::DebugCapture debug;
    tick_at(8, 0, 0);
    tick_at(8, 0, 3);
    tick_at(8, 0, 6);
    EXPECT_EQ(events(), (std::vector<std::string>{"probe", "request " + etc("real.zbs")}));
    // Directories are never taken as triggers, before or after the file.
    EXPECT_EQ(debug.lines(), std::vector<std::string>{"found " + etc("real.zbs.now") + "\r\n"});
    EXPECT_TRUE(test::file_exists(etc("stuck.now")));
}

TEST_F(TickActions, NamesThatOnlyResembleTriggersAreLeftAlone) {
    test::write_file(etc("job.nowx"), "");
    test::write_file(etc("job.now.bak"), "");
    tick_at(8, 0, 0);
    tick_at(8, 0, 3);
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(test::file_exists(etc("job.nowx")));
    EXPECT_TRUE(test::file_exists(etc("job.now.bak")));
}

// The first trigger a full listing of etc finds (the polls' reference), or "".
std::string first_trigger_listed(const std::string& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : "";
        std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return std::tolower(c); });
        if (tail == ".now" && !entry.is_directory()) {
            return name;
        }
    }
    return "";
}

// A poll may skip reading an unchanged directory, but must never find a trigger
// later than a full listing would: triggers come at random moments between
// polls, by creation or by a rename into etc, also just after a minute tick, and
// every poll must handle exactly the trigger a listing made just before it
// finds first, in directory order.
TEST_F(TickActions, PollsFindWhatAFullListingFinds) {
    for (int i = 0; i < 300; ++i) {
        test::write_file(etc("job" + std::to_string(i) + ".zbs"), "not encrypted");
    }
    std::mt19937 random(20261210);
    std::vector<std::string> staged;  // written under another name, renamed in later
    int made = 0;
    int handled = 0;
    for (int minute = 0; minute < 8; ++minute) {
        for (int second = 0; second < 60; second += 3) {
            SCOPED_TRACE(std::to_string(minute) + ":" + std::to_string(second));
            const std::string name = "t" + std::to_string(made++);
            switch (random() % 7) {
                case 0:
                    test::write_file(etc(name + ".now"), "");
                    break;
                case 1:
                    test::write_file(etc(name + ".NOW"), "");
                    test::write_file(etc(name + "b.now"), "");
                    break;
                case 2:
                    staged.push_back(name);
                    test::write_file(etc(name + ".part"), "");
                    break;
                case 3:
                    if (!staged.empty()) {
                        std::filesystem::rename(etc(staged.back() + ".part"), etc(staged.back() + ".now"));
                        staged.pop_back();
                    }
                    break;
                case 4:
                    test::write_file(etc(name + ".zbs"), "not a trigger");
                    break;
                default:
                    break;  // nothing new: the poll may skip the listing
            }
            if (minute == 3 && second == 3) {
                test::write_file(etc("after-minute-tick.now"), "");
            }
            const std::string expected = second == 0 ? "" : first_trigger_listed(etc(""));
            test::DebugCapture debug;
            tick_at(9, minute, second);
            if (expected.empty()) {
                EXPECT_EQ(debug.lines(), std::vector<std::string>{});
            } else {
                EXPECT_EQ(debug.lines(), std::vector<std::string>{"found " + etc(expected) + "\r\n"});
                EXPECT_FALSE(test::file_exists(etc(expected)));
                ++handled;
            }
        }
    }
    EXPECT_GE(handled, 40);  // the random moments did bring triggers
}

// An install directory deep enough that entry names reach the 1024-byte limit.
class LongPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        OMVAR_SKIP_WITHOUT_LONG_PATHS();
        test::reset_agent_state();
        std::string dir = root_.path();
        while (dir.size() < 800) {
            dir += "/" + std::string(std::min<std::size_t>(200, 820 - dir.size()), 'd');
            ASSERT_TRUE(std::filesystem::create_directory(dir)) << dir;
        }
        install_ = dir;
        ASSERT_TRUE(std::filesystem::create_directory(dir + "/etc"));
        test::write_file(dir + "/etc/omvar.ak", test::known_key_file_bytes());
        key_ = test::key_from_file_bytes(test::known_key_file_bytes());
        ASSERT_EQ(cron::agent_init(dir.c_str()), 0);
    }
    void TearDown() override { test::reset_agent_state(); }
    // Name of the given length ending in the extension.
    std::string name_of(std::size_t length, const std::string& extension) const {
        return std::string(length - extension.size(), 'n') + extension;
    }
    void tick_at(int minute, int second) {
        cron::next_tick = local_seconds(2026, 12, 9, 2, minute, second);
        cron::on_tick();
    }

    test::ScopedTimeZone zone_{"UTC"};
    test::TempDir root_;
    test::ScopedCwd cwd_;
    std::vector<std::string> events() const { return events_of(recorder_); }

    test::Recorder recorder_;
    std::string install_;
    std::string key_;
};

TEST_F(LongPaths, ScheduleFileWhosePathWouldNotFitIsSkipped) {
    const std::string scan = install_ + "/etc";
    // The full path with its NUL takes scan + 1 + name + 1 bytes.
    const std::size_t fits = 1024 - scan.size() - 2 - 1;
    ASSERT_LE(fits + 1, 255u);
    const std::string plain = root_.file("plain.txt");
    test::write_file(plain, "# Omvar Backup Schedule\nschedule=* * * * *\n");
    for (std::size_t length : {fits, fits + 1}) {
        ASSERT_TRUE(test::encrypt_file(key_, plain, scan + "/" + name_of(length, ".zbs")));
    }
    tick_at(0, 0);
    EXPECT_EQ(events(), (std::vector<std::string>{"probe", "request " + scan + "/" + name_of(fits, ".zbs")}));
}

TEST_F(LongPaths, TriggerWhosePathWouldNotFitIsPassedOver) {
    const std::string scan = install_ + "/etc";
    const std::size_t fits = 1024 - scan.size() - 2;
    ASSERT_LE(fits + 1, 255u);
    const std::string too_long = scan + "/" + name_of(fits + 1, ".now");
    const std::string longest = scan + "/" + name_of(fits, ".now");
    test::write_file(too_long, "");
    test::write_file(longest, "");
    test::DebugCapture debug;
    tick_at(0, 0);
    tick_at(0, 3);
    tick_at(0, 6);
    EXPECT_EQ(events(),
              (std::vector<std::string>{"probe", "request " + longest.substr(0, longest.size() - 4)}));
    EXPECT_TRUE(test::file_exists(too_long));
    EXPECT_FALSE(test::file_exists(longest));
    // The "found" line is cut to the debug buffer, never past it.
    ASSERT_EQ(debug.lines().size(), 1u);
    EXPECT_LE(debug.lines()[0].size(), 255u);
}

}  // namespace
