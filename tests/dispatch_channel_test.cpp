// The portable dispatch code over recording launch, mailslot and clock tables:
// the exact sequence of calls for each outcome of each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"
#include "test_support.h"

namespace omvar::dispatch {
namespace {

using platform::MailslotHandle;

std::vector<std::string> calls;
std::deque<int> open_results;   // consumed per open; empty: success
std::deque<int> write_results;  // consumed per write; empty: success
int launch_result = 0;
MailslotHandle next_handle = 7;
std::vector<platform::LaunchSpec> launches_seen;

std::string hex(const void* data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

int take(std::deque<int>* results) {
    if (results->empty()) {
        return 0;
    }
    int r = results->front();
    results->pop_front();
    return r;
}

int fake_open(const char* name, MailslotHandle* handle) {
    calls.push_back(std::string("open ") + name);
    if (take(&open_results) != 0) {
        return -1;
    }
    *handle = next_handle++;
    return 0;
}

int fake_write(MailslotHandle handle, const void* data, std::size_t length) {
    calls.push_back("write " + std::to_string(handle) + " " + hex(data, length));
    return take(&write_results) != 0 ? -1 : 0;
}

void fake_close(MailslotHandle handle) { calls.push_back("close " + std::to_string(handle)); }

int fake_launch(const platform::LaunchSpec& launch_spec) {
    calls.push_back(std::string("launch ") + launch_spec.command_line);
    launches_seen.push_back(launch_spec);
    return launch_result;
}

void fake_sleep(unsigned ms) { calls.push_back("sleep " + std::to_string(ms)); }
platform::Seconds fake_now() { return 0; }
bool fake_to_local(platform::Seconds, std::tm* out) {
    *out = std::tm{};
    return true;
}

const platform::MailslotOps kFakeMailslot = {fake_open, fake_write, fake_close};
const platform::LaunchOps kFakeLaunch = {fake_launch};
const platform::ClockOps kFakeClock = {fake_now, fake_to_local, fake_sleep};

class DispatchFakes : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        open_results.clear();
        write_results.clear();
        launches_seen.clear();
        launch_result = 0;
        next_handle = 7;
        ASSERT_EQ(cron::agent_init(dir_.path().c_str()), 0);
        platform::set_mailslot_ops(&kFakeMailslot);
        platform::set_launch_ops(&kFakeLaunch);
        platform::set_clock_ops(&kFakeClock);
        engine_ = "launch \"" + dir_.path() + "\\omvar-backup.exe\" background";
    }
    void TearDown() override {
        mailslot_close();
        platform::set_mailslot_ops(nullptr);
        platform::set_launch_ops(nullptr);
        platform::set_clock_ops(nullptr);
    }

    test::TempDir dir_;
    std::string engine_;
};

const std::string kOpen = "open \\\\.\\mailslot\\omvarbackup";
// "/x/etc/a.zbs" and its NUL.
const char kPath[] = "/x/etc/a.zbs";
const std::string kPathHex = "2f782f6574632f612e7a627300";

TEST_F(DispatchFakes, MailslotNameIsTheEnginesSlot) {
    EXPECT_STREQ(kBackupMailslot, "\\\\.\\mailslot\\omvarbackup");
}

struct SubmitCase {
    const char* name;
    std::vector<int> opens;             // nonzero: that open fails
    std::vector<int> writes;            // nonzero: that write fails
    int launch;                         // launch_process result
    std::vector<std::string> expected;  // "@engine" stands for the engine's launch line
};

TEST_F(DispatchFakes, SubmitSequences) {
    const SubmitCase cases[] = {
        {"slot there", {}, {}, 0, {kOpen, "write 7 00", "write 7 " + kPathHex, "close 7"}},
        {"engine started, second open succeeds",
         {1},
         {},
         0,
         {kOpen, "@engine", "sleep 3000", kOpen, "write 7 00", "write 7 " + kPathHex, "close 7"}},
        {"engine started, second open fails", {1, 1}, {}, 0, {kOpen, "@engine", "sleep 3000", kOpen}},
        {"engine cannot be started: no wait", {1, 1}, {}, -1, {kOpen, "@engine", kOpen}},
        {"probe refused: slot closed, engine started, second try",
         {},
         {1},
         0,
         {kOpen, "write 7 00", "close 7", "@engine", "sleep 3000", kOpen, "write 8 00", "write 8 " + kPathHex,
          "close 8"}},
        {"probe refused twice",
         {},
         {1, 1},
         0,
         {kOpen, "write 7 00", "close 7", "@engine", "sleep 3000", kOpen, "write 8 00", "close 8"}},
        {"request write fails: closed, no retry",
         {},
         {0, 1},
         0,
         {kOpen, "write 7 00", "write 7 " + kPathHex, "close 7"}},
    };
    for (const SubmitCase& c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        next_handle = 7;
        open_results.assign(c.opens.begin(), c.opens.end());
        write_results.assign(c.writes.begin(), c.writes.end());
        launch_result = c.launch;
        submit_backup_request(kPath);
        std::vector<std::string> expected;
        for (const std::string& e : c.expected) {
            expected.push_back(e == "@engine" ? engine_ : e);
        }
        EXPECT_EQ(calls, expected);
        // Nothing stays open after a request.
        calls.clear();
        mailslot_close();
        EXPECT_TRUE(calls.empty());
    }
}

TEST_F(DispatchFakes, SeveralRequestsEachOpenProbeWriteClose) {
    submit_backup_request("/a");
    submit_backup_request("/b");
    const std::vector<std::string> expected = {kOpen, "write 7 00", "write 7 2f6100", "close 7",
                                               kOpen, "write 8 00", "write 8 2f6200", "close 8"};
    EXPECT_EQ(calls, expected);
}

TEST_F(DispatchFakes, ChannelResultCodes) {
    open_results = {1};
    EXPECT_EQ(mailslot_open("\\\\.\\mailslot\\x"), kMailslotOpenFailed);
    EXPECT_EQ(calls, (std::vector<std::string>{"open \\\\.\\mailslot\\x"}));

    calls.clear();
    write_results = {1};
    EXPECT_EQ(mailslot_open(kBackupMailslot), kMailslotProbeFailed);
    EXPECT_EQ(calls, (std::vector<std::string>{kOpen, "write 7 00", "close 7"}));

    // No open channel: a write fails without reaching the platform, a close does nothing.
    calls.clear();
    EXPECT_EQ(mailslot_write("x", 1), kMailslotWriteFailed);
    mailslot_close();
    EXPECT_TRUE(calls.empty());

    EXPECT_EQ(mailslot_open(kBackupMailslot), 0);
    write_results = {1};
    EXPECT_EQ(mailslot_write("ab", 2), kMailslotWriteFailed);
    EXPECT_EQ(mailslot_write("ab", 2), 0);
    mailslot_close();
    mailslot_close();
    EXPECT_EQ(calls,
              (std::vector<std::string>{kOpen, "write 8 00", "write 8 6162", "write 8 6162", "close 8"}));
}

TEST_F(DispatchFakes, LaunchesUseTheSettings) {
    const cron::AgentSettings& s = cron::agent_settings;
    launch_updater();
    launch_mail_sender();
    launch_backup_engine();
    ASSERT_EQ(launches_seen.size(), 3u);
    EXPECT_STREQ(launches_seen[0].command_line, s.updater_cmd);
    EXPECT_STREQ(launches_seen[0].working_dir, s.updater_dir);
    EXPECT_FALSE(launches_seen[0].below_normal_priority);
    EXPECT_STREQ(launches_seen[0].desktop, "WinSta0\\Default");

    EXPECT_STREQ(launches_seen[1].command_line, s.mailer_cmd);
    EXPECT_STREQ(launches_seen[1].working_dir, s.mailer_dir);
    EXPECT_FALSE(launches_seen[1].below_normal_priority);
    EXPECT_EQ(launches_seen[1].desktop, nullptr);

    EXPECT_STREQ(launches_seen[2].command_line, s.backup_cmd);
    EXPECT_STREQ(launches_seen[2].working_dir, s.backup_dir);
    EXPECT_TRUE(launches_seen[2].below_normal_priority);
    EXPECT_STREQ(launches_seen[2].desktop, "WinSta0\\Default");

    // Only the engine's start is followed by the wait.
    EXPECT_EQ(calls.back(), "sleep 3000");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "sleep 3000"), 1);

    calls.clear();
    launch_result = -1;
    launch_updater();
    launch_mail_sender();
    launch_backup_engine();
    EXPECT_EQ(calls.size(), 3u);  // three launches, no sleep, no retry
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "sleep 3000"), 0);
}

}  // namespace
}  // namespace omvar::dispatch
