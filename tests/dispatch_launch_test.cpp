// Starting real programs (the recorder stand-in) through the POSIX launcher.
#include <dirent.h>
#include <fcntl.h>
#include <mqueue.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "agent/cron/settings.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"
#include "e2e_support.h"
#include "standins/standin_control.h"
#include "test_support.h"

namespace omvar::dispatch {
namespace {

using test::RecorderRun;

// Our own descriptors that a started program may rightly inherit: those without
// close-on-exec that the test runner gave us (standard streams, perhaps others).
std::string inheritable_fds() {
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        int fd = std::atoi(entry->d_name);
        int flags = fcntl(fd, F_GETFD);
        if (fd != own && flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            fds.insert(fd);
        }
    }
    closedir(dir);
    std::string out;
    for (int fd : fds) {
        out += (out.empty() ? "" : ",") + std::to_string(fd);
    }
    return out;
}

// Processes whose parent is this test, zombies included.
int children_of_this_process() {
    int n = 0;
    const std::string me = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        n += pid > 0 && test::proc_stat_field(pid, 4) == me ? 1 : 0;
    }
    return n;
}

class Launcher : public ::testing::Test {
  protected:
    void SetUp() override {
        // A blank in the install directory must survive the quoting.
        install_ = std::filesystem::canonical(dir_.path()).string() + "/My Backup";
        ASSERT_EQ(mkdir(install_.c_str(), 0755), 0);
        ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
        record_ = install_ + "/recorder-record.txt";
    }
    void TearDown() override {
        unsetenv("OMVAR_RECORDER_RECORD");
        unsetenv("OMVAR_RECORDER_SLEEP_MS");
    }

    std::vector<RecorderRun> wait_for_runs(std::size_t n, const std::string& record) {
        test::wait_until([&] { return test::recorder_runs(record).size() >= n; }, 5000);
        return test::recorder_runs(record);
    }

    test::TempDir dir_;
    std::string install_;
    std::string record_;
    test::ScopedCwd cwd_;
};

TEST_F(Launcher, UpdaterAndMailSenderRunAtOwnPriorityInTheInstallDir) {
    test::install_recorder(install_, "omvar-update1.exe");
    test::install_recorder(install_, "omvar-txmail.exe");
    // The agent's environment reaches the program.
    const std::string record = dir_.file("from-env.txt");
    setenv("OMVAR_RECORDER_RECORD", record.c_str(), 1);

    launch_companion(kUpdater);
    launch_companion(kMailSender);
    std::vector<RecorderRun> runs = wait_for_runs(2, record);
    ASSERT_EQ(runs.size(), 2u);
    std::sort(runs.begin(), runs.end(),
              [](const RecorderRun& a, const RecorderRun& b) { return a.name > b.name; });
    EXPECT_EQ(runs[0].name, "omvar-update1.exe");
    EXPECT_EQ(runs[1].name, "omvar-txmail.exe");
    for (const RecorderRun& run : runs) {
        SCOPED_TRACE(run.name);
        EXPECT_EQ(run.argv0, install_ + "/" + run.name);
        EXPECT_TRUE(run.args.empty());
        EXPECT_EQ(run.cwd, install_);
        EXPECT_EQ(run.nice, test::own_nice());
    }
}

TEST_F(Launcher, EngineRunsBelowNormalWithBackgroundAndIsWaitedFor) {
    test::install_recorder(install_, "omvar-backup.exe");
    test::FakeClock clock(1000);
    launch_companion(kBackupEngine);
    EXPECT_EQ(clock.sleeps, 1);
    EXPECT_EQ(clock.slept_ms, 3000);

    std::vector<RecorderRun> runs = wait_for_runs(1, record_);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].argv0, install_ + "/omvar-backup.exe");
    EXPECT_EQ(runs[0].args, std::vector<std::string>{"background"});
    EXPECT_EQ(runs[0].cwd, install_);
    EXPECT_EQ(runs[0].nice, std::max(10, test::own_nice()));
}

TEST_F(Launcher, ProgramsThatCannotStartFailBeforeLaunchReturns) {
    test::write_file(install_ + "/plain.exe", "#!/bin/sh\nexit 0\n");
    chmod((install_ + "/plain.exe").c_str(), 0644);
    test::write_file(install_ + "/noshebang.exe", "echo not a program\n");
    chmod((install_ + "/noshebang.exe").c_str(), 0755);
    mkdir((install_ + "/dir.exe").c_str(), 0755);
    test::install_recorder(install_, "omvar-txmail.exe");
    const std::string too_long(base::kPathSize, 'x');
    const char* const arguments[] = {"background", nullptr};

    struct Case {
        const char* name;
        std::string dir;
        std::string program;
        std::string working_dir;
    };
    const Case cases[] = {
        {"missing program", install_, "omvar-nothere.exe", install_},
        {"not executable", install_, "plain.exe", install_},
        {"no shell for a file without interpreter line", install_, "noshebang.exe", install_},
        {"a directory", install_, "dir.exe", install_},
        {"working directory missing", install_, "omvar-txmail.exe", install_ + "/gone"},
        {"empty directory: never the root directory's program", "", "omvar-txmail.exe", install_},
        {"empty program name", install_, "", install_},
        {"program path too long", install_ + "/" + too_long, "omvar-txmail.exe", install_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::LaunchSpec launch_spec{
            "", c.working_dir.c_str(), false, nullptr, c.dir.c_str(), c.program.c_str(), arguments};
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::launch_process(launch_spec), -1);
        EXPECT_LT(test::elapsed_ms(start), 1000);
    }
    EXPECT_FALSE(test::file_exists(record_));

    // A failed engine start costs no wait.
    test::FakeClock clock(1000);
    launch_companion(kBackupEngine);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST_F(Launcher, LaunchReturnsWhileTheProgramStillRuns) {
    test::install_recorder(install_, "omvar-txmail.exe");
    setenv("OMVAR_RECORDER_SLEEP_MS", "3000", 1);
    const CompanionCommand& mailer = cron::agent_settings.companion[kMailSender];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::launch_process(companion_launch_spec(kMailSender, mailer)), 0);
    EXPECT_LT(test::elapsed_ms(start), 2000);
    EXPECT_EQ(wait_for_runs(1, record_).size(), 1u);
}

TEST_F(Launcher, RepeatedStartsLeaveNoChildNorZombie) {
    test::install_recorder(install_, "omvar-txmail.exe");
    struct sigaction before {};
    sigaction(SIGCHLD, nullptr, &before);
    for (int i = 0; i < 5; ++i) {
        launch_companion(kMailSender);
    }
    ASSERT_EQ(wait_for_runs(5, record_).size(), 5u);
    EXPECT_EQ(children_of_this_process(), 0);
    struct sigaction after {};
    sigaction(SIGCHLD, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    EXPECT_EQ(after.sa_flags, before.sa_flags);
}

// As process 1 of a container the agent inherits the programs it starts; their
// exits must not pile up as zombies there either.
TEST_F(Launcher, AsProcessOneStartedProgramsLeaveNoZombie) {
    test::install_recorder(install_, "omvar-txmail.exe");
    pid_t outer = fork();
    ASSERT_GE(outer, 0);
    if (outer == 0) {
        if (unshare(CLONE_NEWPID) != 0) {
            _exit(77);
        }
        pid_t init = fork();  // process 1 of the new namespace
        if (init < 0) {
            _exit(3);
        }
        if (init == 0) {
            for (int i = 0; i < 5; ++i) {
                launch_companion(kMailSender);
            }
            if (!test::wait_until([&] { return test::recorder_runs(record_).size() >= 5; }, 5000)) {
                _exit(4);
            }
            // Each recorder exits right after its record: wait until none is left,
            // failing as soon as an exited one is still there to be waited for.
            int result = 5;
            test::wait_until(
                [&] {
                    pid_t r = waitpid(-1, nullptr, WNOHANG);
                    if (r > 0) {
                        result = 1;  // a zombie
                    } else if (r < 0 && errno == ECHILD) {
                        result = 0;  // no child at all
                    }
                    return result != 5;
                },
                5000);
            _exit(result);
        }
        int status = 0;
        while (waitpid(init, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(outer, &status, 0), outer);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no permission for a new process namespace";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: zombie left, 4: programs did not run, 5: still running";
    EXPECT_EQ(test::recorder_runs(record_).size(), 5u);
}

TEST_F(Launcher, NothingTheAgentOpensLeaksIntoThePrograms) {
    test::install_recorder(install_, "omvar-txmail.exe");
    // Descriptors the agent holds while it launches: the instance lock and a channel.
    const std::string pid_path = dir_.file("omvarcrond.pid");
    int holder = 0;
    static platform::PidFile pid_file;
    ASSERT_EQ(platform::pid_file_acquire(pid_path.c_str(), &pid_file, &holder), platform::PidLock::kAcquired);
    mq_unlink(test::kEngineQueue);
    mqd_t reader = mq_open(test::kEngineQueue, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, nullptr);
    ASSERT_NE(reader, static_cast<mqd_t>(-1));
    platform::MailslotHandle channel = -1;
    ASSERT_EQ(platform::mailslot_open("\\\\.\\mailslot\\omvarbackup", &channel), 0);

    const std::string expected = inheritable_fds();
    launch_companion(kMailSender);
    std::vector<RecorderRun> runs = wait_for_runs(1, record_);

    platform::mailslot_close(channel);
    mq_close(reader);
    mq_unlink(test::kEngineQueue);
    platform::pid_file_release(&pid_file);

    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].fds, expected);
}

TEST_F(Launcher, ProgramsStartWithDefaultSignals) {
    test::install_recorder(install_, "omvar-txmail.exe");
    // The agent ignores SIGHUP and SIGPIPE; its programs must not inherit that.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction old_hup {};
    sigaction(SIGHUP, &ignore, &old_hup);
    sigset_t block;
    sigset_t old_mask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    sigprocmask(SIG_BLOCK, &block, &old_mask);

    launch_companion(kMailSender);

    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    std::vector<RecorderRun> runs = wait_for_runs(1, record_);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(std::strtoull(runs[0].sigign.c_str(), nullptr, 16), 0u) << runs[0].sigign;
    EXPECT_EQ(std::strtoull(runs[0].sigblk.c_str(), nullptr, 16), 0u) << runs[0].sigblk;
}

}  // namespace
}  // namespace omvar::dispatch
