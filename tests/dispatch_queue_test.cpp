// The backup request channel over a real message queue, with the engine stand-in.
#include <fcntl.h>
#include <mqueue.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"
#include "agent/platform/system.h"
#include "standins/standin_control.h"
#include "test_support.h"

namespace omvar::dispatch {
namespace {

using platform::MailslotHandle;

const char* const kEngineOptions[] = {"OMVAR_ENGINE_MSGSIZE", "OMVAR_ENGINE_MAXMSG",
                                      "OMVAR_ENGINE_READ_DELAY_MS", "OMVAR_ENGINE_NO_READ",
                                      "OMVAR_ENGINE_START_DELAY_MS"};

long queued_messages() {
    mqd_t q = mq_open(test::kEngineQueue, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (q == static_cast<mqd_t>(-1)) {
        return -1;
    }
    mq_attr attr{};
    mq_getattr(q, &attr);
    mq_close(q);
    return attr.mq_curmsgs;
}

class Channel : public ::testing::Test {
  protected:
    void SetUp() override {
        test::remove_engine_queue();
        install_ = std::filesystem::canonical(dir_.path()).string();
        ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
        record_ = install_ + "/engine-record.txt";
        ready_ = install_ + "/engine-ready";
        // Every call passes to the system and is recorded on the way; the wait
        // after starting the engine really waits (bounded) when a marker is set.
        recorder_.to_system = true;
        clock_.on_sleep = [this](unsigned ms) {
            recorder_.note_sleep(ms);
            if (!wait_for_marker_.empty()) {
                test::wait_for_file(wait_for_marker_, 3000);
            }
        };
    }
    void TearDown() override {
        test::reset_agent_state();
        if (test::file_exists(ready_)) {
            EXPECT_TRUE(test::stop_engine(ready_));
        }
        for (const char* name : kEngineOptions) {
            unsetenv(name);
        }
        EXPECT_FALSE(test::remove_engine_queue()) << "a test left the queue behind";
    }

    // Starts the engine stand-in outside the channel and waits until it reads.
    void start_engine() {
        test::install_engine(install_);
        const dispatch::CompanionCommand& engine = cron::agent_settings.companion[dispatch::kBackupEngine];
        ASSERT_EQ(platform::system::launch_process(
                      dispatch::companion_launch_spec(dispatch::kBackupEngine, engine)),
                  0);
        ASSERT_TRUE(test::wait_for_file(ready_, 3000));
    }

    // Waits until the engine has recorded n messages and the queue is empty.
    std::vector<std::string> messages_after(std::size_t n) {
        test::wait_until([&] { return test::engine_messages(record_).size() >= n && queued_messages() == 0; },
                         5000);
        return test::engine_messages(record_);
    }

    // The channel's calls: "open", "write LENGTH", "close".
    std::vector<std::string> channel_calls() const {
        std::vector<std::string> out;
        for (const test::Recorder::Call& call : recorder_.calls) {
            if (call.kind == test::Recorder::Call::kOpen) {
                out.push_back("open");
            } else if (call.kind == test::Recorder::Call::kWrite) {
                out.push_back("write " + std::to_string(call.text.size()));
            } else if (call.kind == test::Recorder::Call::kClose) {
                out.push_back("close");
            }
        }
        return out;
    }
    int launches() const { return recorder_.count(test::Recorder::Call::kLaunch); }
    std::vector<unsigned> sleeps() const {
        std::vector<unsigned> out;
        for (const test::Recorder::Call& call : recorder_.calls) {
            if (call.kind == test::Recorder::Call::kSleep) {
                out.push_back(static_cast<unsigned>(std::stoul(call.text)));
            }
        }
        return out;
    }

    test::Recorder recorder_;
    test::FakeClock clock_{platform::system::clock_now()};
    std::string wait_for_marker_;
    test::TempDir dir_;
    std::string install_;
    std::string record_;
    std::string ready_;
    test::ScopedCwd cwd_;
};

const std::string kProbe = test::probe_line();

TEST_F(Channel, RunningEngineGetsProbeAndPathAndNothingIsStarted) {
    start_engine();
    const std::string path = install_ + "/etc/nightly.zbs";
    submit_backup_request(path.c_str());

    EXPECT_EQ(messages_after(2), (std::vector<std::string>{kProbe, test::request_line(path)}));
    EXPECT_EQ(launches(), 0);
    EXPECT_TRUE(sleeps().empty());
    EXPECT_EQ(channel_calls(), (std::vector<std::string>{
                                   "open", "write 1", "write " + std::to_string(path.size() + 1), "close"}));
}

TEST_F(Channel, EngineNotRunningIsStartedOnceBelowNormalThenGetsTheRequest) {
    test::install_engine(install_);
    wait_for_marker_ = ready_;
    const std::string path = install_ + "/etc/a.zbs";
    submit_backup_request(path.c_str());

    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(sleeps(), std::vector<unsigned>{3000});
    EXPECT_EQ(channel_calls(),
              (std::vector<std::string>{"open", "open", "write 1", "write " + std::to_string(path.size() + 1),
                                        "close"}));
    EXPECT_EQ(messages_after(2), (std::vector<std::string>{kProbe, test::request_line(path)}));
    EXPECT_EQ(test::count_lines_starting(record_, "start\t"), 1);
    errno = 0;
    EXPECT_EQ(test::start_field(record_, "nice"), std::to_string(std::max(10, getpriority(PRIO_PROCESS, 0))));
    EXPECT_EQ(test::start_field(record_, "cwd"), install_);
    EXPECT_EQ(test::start_field(record_, "argv0"), install_ + "/omvar-backup.exe");
    EXPECT_EQ(test::start_field(record_, "args"), "background");
}

TEST_F(Channel, EngineSlowerThanTheWaitLosesTheRequest) {
    test::install_engine(install_);
    setenv("OMVAR_ENGINE_START_DELAY_MS", "200", 1);
    submit_backup_request("/x/etc/a.zbs");  // the recorded wait returns at once

    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(sleeps(), std::vector<unsigned>{3000});
    EXPECT_EQ(channel_calls(), (std::vector<std::string>{"open", "open"}));
    ASSERT_TRUE(test::wait_for_file(ready_, 3000));
    EXPECT_TRUE(test::engine_messages(record_).empty());
}

TEST_F(Channel, EngineMissingMeansTwoOpensNoWaitNothingDelivered) {
    auto start = std::chrono::steady_clock::now();
    submit_backup_request("/x/etc/a.zbs");
    EXPECT_LT(test::elapsed_ms(start), 1000);
    EXPECT_EQ(channel_calls(), (std::vector<std::string>{"open", "open"}));
    EXPECT_EQ(launches(), 1);
    EXPECT_TRUE(sleeps().empty());
    EXPECT_FALSE(test::engine_queue_exists());
}

TEST_F(Channel, SeveralRequestsInOneTickEachWithItsOwnOpenProbeWriteClose) {
    start_engine();
    const std::vector<std::string> paths = {install_ + "/etc/a.zbs", install_ + "/etc/b.zbs",
                                            install_ + "/x y"};
    std::vector<std::string> expected_calls;
    std::vector<std::string> expected_messages;
    for (const std::string& p : paths) {
        submit_backup_request(p.c_str());
        expected_calls.insert(expected_calls.end(),
                              {"open", "write 1", "write " + std::to_string(p.size() + 1), "close"});
        expected_messages.insert(expected_messages.end(), {kProbe, test::request_line(p)});
    }
    EXPECT_EQ(channel_calls(), expected_calls);
    EXPECT_EQ(messages_after(6), expected_messages);
    EXPECT_EQ(launches(), 0);
}

// A mailslot has no message count limit; a queue of two messages must still
// carry 50 requests to an engine that keeps reading.
TEST_F(Channel, FullQueueWaitsForRoomAndLosesNothing) {
    setenv("OMVAR_ENGINE_MAXMSG", "2", 1);
    setenv("OMVAR_ENGINE_READ_DELAY_MS", "3", 1);
    start_engine();
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) {
        const std::string path = install_ + "/etc/job" + std::to_string(i) + ".zbs";
        submit_backup_request(path.c_str());
        expected.insert(expected.end(), {kProbe, test::request_line(path)});
    }
    EXPECT_EQ(messages_after(100), expected);
    EXPECT_EQ(launches(), 0);
}

TEST_F(Channel, QueueThatStaysFullFailsAfterABoundedWait) {
    setenv("OMVAR_ENGINE_MAXMSG", "1", 1);
    setenv("OMVAR_ENGINE_NO_READ", "1", 1);
    start_engine();

    ASSERT_EQ(mailslot_open(kBackupMailslot), 0);  // the probe takes the one place
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mailslot_write("/x", 3), kMailslotWriteFailed);
    long waited = test::elapsed_ms(start);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    mailslot_close();

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(mailslot_open(kBackupMailslot), kMailslotProbeFailed);
    waited = test::elapsed_ms(start);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(channel_calls(),
              (std::vector<std::string>{"open", "write 1", "write 3", "close", "open", "write 1", "close"}));
}

TEST_F(Channel, MessageLargerThanTheQueueTakesFailsAtOnce) {
    setenv("OMVAR_ENGINE_MSGSIZE", "8", 1);
    start_engine();
    const std::string path = install_ + "/etc/longer-than-eight.zbs";
    auto start = std::chrono::steady_clock::now();
    submit_backup_request(path.c_str());
    EXPECT_LT(test::elapsed_ms(start), 500);
    EXPECT_EQ(channel_calls(), (std::vector<std::string>{
                                   "open", "write 1", "write " + std::to_string(path.size() + 1), "close"}));
    EXPECT_EQ(messages_after(1), std::vector<std::string>{kProbe});
}

// Another local user must not be able to take the engine's name and receive
// the job paths.
TEST_F(Channel, QueueOfAnotherUserIsNotOpenedNorWritten) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to create a queue as another user";
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(1);
        }
        mode_t old = umask(0);
        mqd_t q = mq_open(test::kEngineQueue, O_RDONLY | O_CREAT | O_EXCL, 0666, nullptr);
        umask(old);
        _exit(q == static_cast<mqd_t>(-1) ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(mailslot_open(kBackupMailslot), kMailslotOpenFailed);
    submit_backup_request("/x/etc/a.zbs");  // no engine installed: its start fails
    EXPECT_EQ(channel_calls(), (std::vector<std::string>{"open", "open", "open"}));
    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(queued_messages(), 0);
    EXPECT_TRUE(test::remove_engine_queue());
}

TEST_F(Channel, EngineReplacesItsOwnStaleQueue) {
    mqd_t stale = mq_open(test::kEngineQueue, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, nullptr);
    ASSERT_NE(stale, static_cast<mqd_t>(-1));
    ASSERT_EQ(mq_send(stale, "old", 3, 0), 0);
    mq_close(stale);
    start_engine();
    submit_backup_request("/x/etc/a.zbs");
    EXPECT_EQ(messages_after(2), (std::vector<std::string>{kProbe, test::request_line("/x/etc/a.zbs")}));
}

TEST_F(Channel, MailslotNameMapsToItsLastComponent) {
    mqd_t reader = mq_open(test::kEngineQueue, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, nullptr);
    ASSERT_NE(reader, static_cast<mqd_t>(-1));

    MailslotHandle handle = -1;
    ASSERT_EQ(platform::mailslot_open(kBackupMailslot, &handle), 0);
    EXPECT_NE(fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(fcntl(static_cast<int>(handle), F_GETFL) & O_ACCMODE, O_WRONLY);
    platform::mailslot_close(handle);

    const char* const refused[] = {"\\\\.\\mailslot\\", "\\\\.\\mailslot\\a/b",
                                   "\\\\.\\mailslot\\omvarmissing", ""};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::mailslot_open(name, &handle), -1);
    }
    mq_close(reader);
    EXPECT_TRUE(test::remove_engine_queue());
}

}  // namespace
}  // namespace omvar::dispatch
