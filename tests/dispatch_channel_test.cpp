// The portable dispatch code over recording launch, mailslot and clock tables:
// the exact sequence of calls for each outcome of each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"
#include "hex.h"
#include "test_support.h"

namespace omvar::dispatch {
namespace {

// The calls as "open NAME", "write HANDLE HEX", "close HANDLE", "launch COMMAND LINE", "sleep MS".
std::vector<std::string> texts_of(const test::Recorder& recorder) {
    using Call = test::Recorder::Call;
    std::vector<std::string> out;
    for (const Call& call : recorder.calls) {
        switch (call.kind) {
            case Call::kOpen:
                out.push_back("open " + call.text);
                break;
            case Call::kWrite:
                out.push_back("write " + std::to_string(call.handle) + " " + test::to_hex(call.text));
                break;
            case Call::kClose:
                out.push_back("close " + std::to_string(call.handle));
                break;
            case Call::kLaunch:
                out.push_back("launch " + call.text);
                break;
            case Call::kSleep:
                out.push_back("sleep " + call.text);
                break;
        }
    }
    return out;
}

class DispatchFakes : public ::testing::Test {
  protected:
    void SetUp() override {
        test::reset_agent_state();
        ASSERT_EQ(cron::agent_init(dir_.path().c_str()), 0);
        clock_.on_sleep = [this](unsigned ms) { recorder_.note_sleep(ms); };
        engine_ = "launch \"" + dir_.path() + "\\omvar-backup.exe\" background";
    }
    void TearDown() override { test::reset_agent_state(); }

    std::vector<std::string> calls() const { return texts_of(recorder_); }

    test::Recorder recorder_;
    test::FakeClock clock_{0};
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
        recorder_.calls.clear();
        recorder_.next_handle = 7;
        recorder_.open_results.assign(c.opens.begin(), c.opens.end());
        recorder_.write_results.assign(c.writes.begin(), c.writes.end());
        recorder_.launch_result = c.launch;
        submit_backup_request(kPath);
        std::vector<std::string> expected;
        for (const std::string& e : c.expected) {
            expected.push_back(e == "@engine" ? engine_ : e);
        }
        EXPECT_EQ(calls(), expected);
        // Nothing stays open after a request.
        recorder_.calls.clear();
        mailslot_close();
        EXPECT_TRUE(calls().empty());
    }
}

TEST_F(DispatchFakes, SeveralRequestsEachOpenProbeWriteClose) {
    submit_backup_request("/a");
    submit_backup_request("/b");
    const std::vector<std::string> expected = {kOpen, "write 7 00", "write 7 2f6100", "close 7",
                                               kOpen, "write 8 00", "write 8 2f6200", "close 8"};
    EXPECT_EQ(calls(), expected);
}

TEST_F(DispatchFakes, ChannelResultCodes) {
    recorder_.open_results = {1};
    EXPECT_EQ(mailslot_open("\\\\.\\mailslot\\x"), kMailslotOpenFailed);
    EXPECT_EQ(calls(), (std::vector<std::string>{"open \\\\.\\mailslot\\x"}));

    recorder_.calls.clear();
    recorder_.write_results = {1};
    EXPECT_EQ(mailslot_open(kBackupMailslot), kMailslotProbeFailed);
    EXPECT_EQ(calls(), (std::vector<std::string>{kOpen, "write 7 00", "close 7"}));

    // No open channel: a write fails without reaching the platform, a close does nothing.
    recorder_.calls.clear();
    EXPECT_EQ(mailslot_write("x", 1), kMailslotWriteFailed);
    mailslot_close();
    EXPECT_TRUE(calls().empty());

    EXPECT_EQ(mailslot_open(kBackupMailslot), 0);
    recorder_.write_results = {1};
    EXPECT_EQ(mailslot_write("ab", 2), kMailslotWriteFailed);
    EXPECT_EQ(mailslot_write("ab", 2), 0);
    mailslot_close();
    mailslot_close();
    EXPECT_EQ(calls(),
              (std::vector<std::string>{kOpen, "write 8 00", "write 8 6162", "write 8 6162", "close 8"}));
}

TEST_F(DispatchFakes, LaunchesUseTheSettings) {
    const cron::AgentSettings& s = cron::agent_settings;
    launch_companion(kUpdater);
    launch_companion(kMailSender);
    launch_companion(kBackupEngine);
    ASSERT_EQ(recorder_.launch_specs.size(), 3u);
    EXPECT_STREQ(recorder_.launch_specs[0].command_line, s.companion[kUpdater].command_line);
    EXPECT_STREQ(recorder_.launch_specs[0].working_dir, s.companion[kUpdater].working_dir);
    EXPECT_FALSE(recorder_.launch_specs[0].below_normal_priority);
    EXPECT_STREQ(recorder_.launch_specs[0].desktop, "WinSta0\\Default");

    EXPECT_STREQ(recorder_.launch_specs[1].command_line, s.companion[kMailSender].command_line);
    EXPECT_STREQ(recorder_.launch_specs[1].working_dir, s.companion[kMailSender].working_dir);
    EXPECT_FALSE(recorder_.launch_specs[1].below_normal_priority);
    EXPECT_EQ(recorder_.launch_specs[1].desktop, nullptr);

    EXPECT_STREQ(recorder_.launch_specs[2].command_line, s.companion[kBackupEngine].command_line);
    EXPECT_STREQ(recorder_.launch_specs[2].working_dir, s.companion[kBackupEngine].working_dir);
    EXPECT_TRUE(recorder_.launch_specs[2].below_normal_priority);
    EXPECT_STREQ(recorder_.launch_specs[2].desktop, "WinSta0\\Default");

    // Where programs start from an argument vector: the program in the install
    // directory and the table's words, not a re-reading of the command line.
    for (const platform::LaunchSpec& launch : recorder_.launch_specs) {
        EXPECT_STREQ(launch.program_dir, s.install_dir);
    }
    EXPECT_STREQ(recorder_.launch_specs[0].program_name, "omvar-update1.exe");
    EXPECT_EQ(recorder_.launch_specs[0].arguments[0], nullptr);
    EXPECT_STREQ(recorder_.launch_specs[2].program_name, "omvar-backup.exe");
    EXPECT_STREQ(recorder_.launch_specs[2].arguments[0], "background");
    EXPECT_EQ(recorder_.launch_specs[2].arguments[1], nullptr);

    // Only the engine's start is followed by the wait.
    const std::vector<std::string> started = calls();
    EXPECT_EQ(started.back(), "sleep 3000");
    EXPECT_EQ(std::count(started.begin(), started.end(), "sleep 3000"), 1);

    recorder_.calls.clear();
    recorder_.launch_result = -1;
    launch_companion(kUpdater);
    launch_companion(kMailSender);
    launch_companion(kBackupEngine);
    EXPECT_EQ(calls().size(), 3u);  // three launches, no sleep, no retry
    EXPECT_EQ(recorder_.count(test::Recorder::Call::kSleep), 0);
}

}  // namespace
}  // namespace omvar::dispatch
