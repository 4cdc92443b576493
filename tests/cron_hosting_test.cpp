// The hosting modes and the service status sequence, driven through a fake host:
// every exit code, including those of the 95/98/ME family that no test machine
// can show, and every status report.
#include "agent/cron/hosting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/platform.h"
#include "system_standins/service_host.h"
#include "test_support.h"

namespace {

using namespace omvar::cron;
using omvar::platform::ServiceProcessRegistration;
using omvar::platform::ServiceStatus;
using omvar::test::Dispatch;

// What the loop stand-in saw, and what it does while "running".
struct LoopLog {
    int runs = 0;
    bool on_service_flag = false;
    int flag_at_start = -1;
    std::string cwd_at_start;
    std::function<void()> body;
};
LoopLog* loop_log = nullptr;

void fake_loop(const std::atomic<int>* run_flag) {
    ++loop_log->runs;
    loop_log->on_service_flag = run_flag == &service_run_flag;
    loop_log->flag_at_start = run_flag->load();
    loop_log->cwd_at_start = std::filesystem::current_path().string();
    if (loop_log->body) {
        loop_log->body();
    }
}

class HostingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop_log = &loop_;
        reset_state();
    }
    void TearDown() override {
        reset_state();
        loop_log = nullptr;
    }

    // The agent's state, and the hosting's own.
    static void reset_state() {
        omvar::test::reset_agent_state();
        service_run_flag.store(1);
        service_status = ServiceStatus{};
    }

    std::string missing_dir() const { return install_.file("not-there"); }

    omvar::test::TempDir install_;
    omvar::test::FakeHost host_;
    LoopLog loop_;
    omvar::test::ScopedCwd cwd_;  // leaves the temporary directories before they go
};

struct ModeCase {
    const char* row;
    bool query_ok;
    unsigned long platform_id;
    ServiceProcessRegistration registration;
    Dispatch dispatch;
    bool install_dir_exists;
    int exit_code;
    int loop_runs;
    int dispatcher_runs;
    int registrations;
    const char* log_line;  // the start-up check that failed, or nullptr
};

constexpr auto kRegistered = ServiceProcessRegistration::kRegistered;

const ModeCase kModeCases[] = {
    {"version query fails (or no service host)", false, 2, kRegistered, Dispatch::kRunsService, true, 1, 0, 0,
     0, nullptr},
    {"platform unknown (0)", true, 0, kRegistered, Dispatch::kRunsService, true, 1, 0, 0, 0, nullptr},
    {"platform neither 1 nor 2 (3)", true, 3, kRegistered, Dispatch::kRunsService, true, 1, 0, 0, 0, nullptr},
    {"95/98/ME: RegisterServiceProcess missing", true, 1, ServiceProcessRegistration::kNotFound,
     Dispatch::kRunsService, true, 31, 0, 0, 1, nullptr},
    {"95/98/ME: RegisterServiceProcess refuses", true, 1, ServiceProcessRegistration::kFailed,
     Dispatch::kRunsService, true, 32, 0, 0, 1, nullptr},
    {"95/98/ME: agent_init fails", true, 1, kRegistered, Dispatch::kRunsService, false, 38, 0, 0, 1,
     "agent\\cron\\cron:167\r\n"},
    {"95/98/ME: the loop ends", true, 1, kRegistered, Dispatch::kRunsService, true, 90, 1, 0, 1, nullptr},
    {"NT: agent_init fails before the dispatcher", true, 2, kRegistered, Dispatch::kRunsService, false, 94, 0,
     0, 0, "agent\\cron\\cron:167\r\n"},
    {"NT service: the dispatcher returns", true, 2, kRegistered, Dispatch::kRunsService, true, 0, 1, 1, 0,
     nullptr},
    {"NT: the dispatcher fails otherwise", true, 2, kRegistered, Dispatch::kFailsOther, true, 103, 0, 1, 0,
     nullptr},
    {"NT stand-alone: second agent_init fails", true, 2, kRegistered, Dispatch::kFails1063AndDirGone, true,
     25, 0, 1, 0, "agent\\cron\\cron:167\r\n"},
    {"NT stand-alone: the loop ends", true, 2, kRegistered, Dispatch::kFails1063, true, 41, 1, 1, 0, nullptr},
};

TEST_F(HostingTest, EveryExitCodeOfTheTable) {
    for (const ModeCase& c : kModeCases) {
        SCOPED_TRACE(c.row);
        host_.reset();
        loop_ = LoopLog{};
        host_.query_ok = c.query_ok;
        host_.platform_id = c.platform_id;
        host_.registration = c.registration;
        host_.dispatch = c.dispatch;
        // A directory of its own per row: one row removes it.
        std::string dir = install_.file(std::string("install-") + std::to_string(&c - kModeCases));
        std::filesystem::create_directory(dir);
        host_.remove_on_dispatch = dir;
        std::string text = c.install_dir_exists ? dir : missing_dir();

        omvar::test::DebugCapture debug;
        EXPECT_EQ(agent_main(text.c_str(), fake_loop), c.exit_code);
        EXPECT_EQ(loop_.runs, c.loop_runs);
        EXPECT_EQ(host_.dispatcher_runs, c.dispatcher_runs);
        EXPECT_EQ(host_.registrations, c.registrations);
        if (c.log_line != nullptr) {
            EXPECT_EQ(debug.lines(), std::vector<std::string>{c.log_line});
        } else {
            EXPECT_TRUE(debug.lines().empty());
        }
        if (c.loop_runs > 0) {
            // Every mode runs the loop inside the install directory it was given.
            EXPECT_TRUE(std::filesystem::equivalent(loop_.cwd_at_start, dir)) << loop_.cwd_at_start;
            EXPECT_EQ(loop_.flag_at_start, 1);
            // Only the service's loop can be stopped from outside.
            EXPECT_EQ(loop_.on_service_flag, c.exit_code == 0);
        }
        if (c.exit_code != 0) {
            EXPECT_TRUE(host_.reports.empty()) << "no status outside service mode";
        }
        cwd_.restore();
    }
}

TEST_F(HostingTest, DispatcherAndHandlerUseTheServiceName) {
    std::string dir = install_.path();
    ASSERT_EQ(agent_main(dir.c_str(), fake_loop), 0);
    EXPECT_EQ(host_.dispatched_name, "omvarCron");
    EXPECT_EQ(host_.handler_name, "omvarCron");
}

// The status record as the service manager sees it, one report at a time.
struct Report {
    std::uint32_t state;
    std::uint32_t wait_hint;
};

std::vector<Report> states_of(const std::vector<ServiceStatus>& reports) {
    std::vector<Report> out;
    for (const ServiceStatus& s : reports) {
        out.push_back({s.current_state, s.wait_hint});
    }
    return out;
}

bool operator==(const Report& a, const Report& b) { return a.state == b.state && a.wait_hint == b.wait_hint; }

void PrintTo(const Report& r, std::ostream* os) {
    *os << "{state " << r.state << ", wait " << r.wait_hint << "}";
}

TEST_F(HostingTest, StatusSequenceOfAServiceLife) {
    std::vector<int> flag_after;
    loop_.body = [&] {
        ASSERT_NE(host_.handler, nullptr);
        host_.handler(kControlInterrogate);
        flag_after.push_back(service_run_flag.load());
        host_.handler(kControlStop);
        flag_after.push_back(service_run_flag.load());
        // A control after the stop must not take the stop back.
        host_.handler(kControlInterrogate);
        flag_after.push_back(service_run_flag.load());
        host_.handler(kControlStop);
        flag_after.push_back(service_run_flag.load());
    };
    std::string dir = install_.path();
    ASSERT_EQ(agent_main(dir.c_str(), fake_loop), 0);

    const std::vector<Report> expected = {
        {kStateRunning, 250},       // first report: start pending is never reported
        {kStateRunning, 2000},      // interrogation while running
        {kStateStopPending, 2000},  // the stop
        {kStateStopPending, 2000},  // interrogation after the stop
        {kStateStopPending, 2000},  // a second stop
        {kStateStopped, 0},         // after the loop has ended
    };
    EXPECT_EQ(states_of(host_.reports), expected);
    EXPECT_EQ(flag_after, (std::vector<int>{1, 0, 0, 0}));
    for (const ServiceStatus& s : host_.reports) {
        EXPECT_EQ(s.service_type, 0x30u);
        EXPECT_EQ(s.controls_accepted, 1u);
        EXPECT_EQ(s.win32_exit_code, 0u);
        EXPECT_EQ(s.service_specific_exit_code, 0u);
        EXPECT_EQ(s.check_point, 0u);
    }
}

TEST_F(HostingTest, UnknownControlsWhileRunningReportRunning) {
    loop_.body = [&] {
        for (unsigned code : {kControlInterrogate, 2u /* pause */, 3u /* continue */, 0x80u /* user */}) {
            host_.handler(code);
        }
    };
    std::string dir = install_.path();
    ASSERT_EQ(agent_main(dir.c_str(), fake_loop), 0);
    const std::vector<Report> expected = {
        {kStateRunning, 250},  {kStateRunning, 2000}, {kStateRunning, 2000},
        {kStateRunning, 2000}, {kStateRunning, 2000}, {kStateStopped, 0},
    };
    EXPECT_EQ(states_of(host_.reports), expected);
    EXPECT_EQ(service_run_flag.load(), 1);
}

TEST_F(HostingTest, HandlerRegistrationFailureReportsNothingAndRunsNoLoop) {
    host_.handler_ok = false;
    std::string dir = install_.path();
    EXPECT_EQ(agent_main(dir.c_str(), fake_loop), 0);
    EXPECT_TRUE(host_.reports.empty());
    EXPECT_EQ(loop_.runs, 0);
}

// With the real loop: a stop control arriving while the loop waits ends it within
// a second of sleep, and "stopped" is reported only after the pid file is gone.
TEST_F(HostingTest, StopEndsTheRealLoopBeforeStoppedIsReported) {
    std::filesystem::create_directory(install_.file("etc"));
    const std::string pid_path = install_.file("etc/omvarcrond.pid");
    bool pid_file_seen_while_running = false;
    bool pid_file_present_at_stopped = true;
    host_.on_report = [&](const ServiceStatus& status) {
        if (status.current_state == kStateStopped) {
            pid_file_present_at_stopped = omvar::test::file_exists(pid_path);
        }
    };
    // Twenty seconds before a minute boundary: no tick comes before the stop.
    omvar::test::FakeClock clock(1700000000 - 1700000000 % 60 + 40);
    clock.on_sleep = [&](unsigned) {
        if (clock.sleeps == 3) {
            pid_file_seen_while_running = omvar::test::file_exists(pid_path);
            host_.handler(kControlStop);
        }
    };

    std::string dir = install_.path();
    EXPECT_EQ(agent_main(dir.c_str(), cron_run), 0);

    EXPECT_TRUE(pid_file_seen_while_running);
    EXPECT_FALSE(pid_file_present_at_stopped);
    EXPECT_EQ(clock.sleeps, 3) << "the loop must end at the first check after the stop";
    const std::vector<Report> expected = {
        {kStateRunning, 250}, {kStateStopPending, 2000}, {kStateStopped, 0}};
    EXPECT_EQ(states_of(host_.reports), expected);
}

}  // namespace
