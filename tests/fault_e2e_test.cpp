// The real agent binary against faults of its neighbours: a slow engine, an engine
// that never reads, a missing engine, a late scan directory, bad key files, a
// kill -9, and a stop request in the middle of a tick.
//
// The agent runs under libfaketime with its clock set two seconds before a minute
// boundary, so that its first minute tick comes at once; the engine stand-in is
// started by the test from outside the install directory unless a test says so.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crypt_test_support.h"
#include "e2e_support.h"
#include "standins/standin_control.h"
#include "test_support.h"

namespace omvar::test {
namespace {

constexpr uid_t kNobody = 65534;

long ms_since(std::chrono::steady_clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

std::vector<std::string> zbs_in_scan_order(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (const dirent* e = d != nullptr ? readdir(d) : nullptr) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".zbs") {
            names.push_back(name);
        }
    }
    if (d != nullptr) {
        closedir(d);
    }
    return names;
}

class FaultE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(libfaketime_path().empty()) << "libfaketime is needed (package faketime)";
        remove_engine_queue();
        install_ = std::filesystem::canonical(dir_.path()).string() + "/install";
        aux_ = std::filesystem::canonical(dir_.path()).string() + "/aux";
        etc_ = install_ + "/etc";
        ASSERT_EQ(mkdir(install_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(etc_.c_str(), 0755), 0);
        // Writable by the unprivileged runs too: records, markers, agent output.
        ASSERT_EQ(mkdir(aux_.c_str(), 0777), 0);
        chmod(aux_.c_str(), 0777);
        chmod(dir_.path().c_str(), 0755);
        record_ = aux_ + "/engine-record.txt";
        ready_ = aux_ + "/engine-ready";
        agent_err_ = aux_ + "/agent-stderr.txt";
        key_ = key_from_file_bytes(known_key_file_bytes());
    }
    void TearDown() override {
        for (pid_t pid : agents_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (file_exists(ready_)) {
            EXPECT_TRUE(stop_engine(ready_));
        }
        if (engine_ != 0) {
            waitpid(engine_, nullptr, 0);
        }
        remove_engine_queue();
    }

    void write_good_key() {
        write_file(etc_ + "/omvar.ak", known_key_file_bytes());
        chmod((etc_ + "/omvar.ak").c_str(), 0644);
    }

    // A schedule file under the known key, readable by every user.
    void write_schedule(const std::string& name, const std::string& expression) {
        std::string plain = aux_ + "/plain.txt";
        write_file(plain, "# Omvar Backup Schedule 1\njob=" + name + "\nschedule=" + expression + "\n");
        ASSERT_TRUE(openssl_encrypt(key_, plain, etc_ + "/" + name));
        chmod((etc_ + "/" + name).c_str(), 0644);
    }

    // The program itself, or for another user a copy that this user can reach.
    std::string program_for(const char* program, uid_t user) {
        if (user == 0) {
            return program;
        }
        std::string why;
        std::string copy = copy_for_user(program, dir_.file("programs"), user, &why);
        EXPECT_FALSE(copy.empty()) << why;
        return copy;
    }

    // options: "NAME=value" entries for the engine stand-in.
    void start_engine(const std::vector<std::string>& options, uid_t as_user = 0) {
        std::vector<std::string> env = options;
        env.push_back("PATH=/usr/bin:/bin");
        env.push_back("OMVAR_ENGINE_RECORD=" + record_);
        env.push_back("OMVAR_ENGINE_READY=" + ready_);
        const std::string engine = program_for(OMVAR_TEST_ENGINE, as_user);
        ASSERT_FALSE(engine.empty());
        engine_ = spawn({engine, "background"}, env, aux_, "/dev/null", "/dev/null", as_user);
        ASSERT_TRUE(wait_for_file(ready_, 3000)) << "engine stand-in did not start";
    }

    // The agent with its clock at `start` (local time, UTC); speed "" or "x10".
    // extra_env: further "NAME=value" entries.
    pid_t start_agent(const std::string& start = "2026-01-05 02:00:58", const std::string& speed = "",
                      uid_t as_user = 0, const std::vector<std::string>& extra_env = {}) {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "LD_PRELOAD=" + libfaketime_path(),
            "FAKETIME=@" + start + (speed.empty() ? "" : " " + speed),
            "FAKETIME_DONT_FAKE_MONOTONIC=1",
            "TZ=UTC",
            // A sanitized agent would refuse the preloaded clock library ahead of its runtime.
            "ASAN_OPTIONS=verify_asan_link_order=0",
        };
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        const std::string agent = program_for(OMVAR_CRON_BINARY, as_user);
        started_ = std::chrono::steady_clock::now();
        pid_t pid = spawn({agent, install_}, env, "/", "/dev/null", agent_err_, as_user);
        agents_.push_back(pid);
        return pid;
    }
    int stop_agent(pid_t pid, int timeout_ms = 5000) {
        kill(pid, SIGTERM);
        int code = wait_exit(pid, timeout_ms);
        if (code != -1) {
            agents_.erase(std::remove(agents_.begin(), agents_.end(), pid), agents_.end());
        }
        return code;
    }

    std::vector<std::string> messages() const { return engine_messages(record_); }
    bool wait_messages(std::size_t n, int timeout_ms) const {
        return wait_until([&] { return messages().size() >= n; }, timeout_ms);
    }
    std::string agent_output() const { return file_exists(agent_err_) ? read_file(agent_err_) : ""; }
    bool wait_output(const std::string& text, int timeout_ms) const {
        return wait_until([&] { return agent_output().find(text) != std::string::npos; }, timeout_ms);
    }

    TempDir dir_;
    std::string install_, aux_, etc_, record_, ready_, agent_err_, key_;
    pid_t engine_ = 0;
    std::vector<pid_t> agents_;
    std::chrono::steady_clock::time_point started_;
};

TEST_F(FaultE2e, SlowEngineGetsEveryRequestAfterItsProbeInScanOrder) {
    write_good_key();
    for (int i = 0; i < 20; ++i) {
        write_schedule("job" + std::to_string(i) + ".zbs", "1 2 * * *");
    }
    start_engine({"OMVAR_ENGINE_READ_DELAY_MS=100"});
    pid_t agent = start_agent();

    ASSERT_TRUE(wait_messages(40, 15000)) << messages().size() << " messages";
    std::vector<std::string> expected;
    for (const std::string& name : zbs_in_scan_order(etc_)) {
        expected.push_back(probe_line());
        expected.push_back(request_line(etc_ + "/" + name));
    }
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(stop_agent(agent), 0);
}

TEST_F(FaultE2e, EngineThatNeverReadsCannotHoldTheAgent) {
    write_good_key();
    for (int i = 0; i < 4; ++i) {
        write_schedule("job" + std::to_string(i) + ".zbs", "1 2 * * *");
    }
    // Room for one probe and one request; then every write has to give up.
    start_engine({"OMVAR_ENGINE_NO_READ=1", "OMVAR_ENGINE_MAXMSG=2"});
    pid_t agent = start_agent();
    // The tick is blocked in its writes now; a trigger waits for the next tick.
    write_file(etc_ + "/late.now", "");

    ASSERT_TRUE(wait_output("found " + etc_ + "/late.now", 20000)) << agent_output();
    // Three files of two seconds each at most (a one-second wait for room per
    // attempt, two attempts), after the two seconds to the minute boundary.
    EXPECT_LT(ms_since(started_), 12000);
    EXPECT_TRUE(wait_until([&] { return !file_exists(etc_ + "/late.now"); }, 3000));
    EXPECT_EQ(waitpid(agent, nullptr, WNOHANG), 0) << "the agent ended";
    EXPECT_EQ(stop_agent(agent), 0);
}

struct MissingEngineCase {
    const char* name;
    bool install_plain_file;  // a non-executable omvar-backup.exe instead of none
};

class MissingEngine : public FaultE2e, public ::testing::WithParamInterface<MissingEngineCase> {};

TEST_P(MissingEngine, AgentGoesOnWithoutWaitingOrLogging) {
    if (GetParam().install_plain_file) {
        write_file(install_ + "/omvar-backup.exe", "#!/bin/sh\nexit 0\n");
        chmod((install_ + "/omvar-backup.exe").c_str(), 0644);
    }
    write_good_key();
    write_schedule("a.zbs", "1 2 * * *");
    write_schedule("b.zbs", "1 2 * * *");
    write_file(etc_ + "/go.now", "");
    pid_t agent = start_agent();

    // The first poll comes 3 s after the minute tick; a 3-second wait per file
    // after a start that seemed to succeed would push it past 8 s.
    ASSERT_TRUE(wait_output("found ", 12000));
    EXPECT_LT(ms_since(started_), 7500);
    EXPECT_EQ(waitpid(agent, nullptr, WNOHANG), 0) << "the agent ended";
    EXPECT_FALSE(engine_queue_exists());
    EXPECT_EQ(agent_output(), "found " + etc_ + "/go.now\n");
    EXPECT_EQ(stop_agent(agent), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingEngine,
                         ::testing::Values(MissingEngineCase{"missing", false},
                                           MissingEngineCase{"not_executable", true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(FaultE2e, ScanDirectoryThatAppearsLateIsScannedFromTheNextMinute) {
    ASSERT_EQ(rmdir(etc_.c_str()), 0);
    install_recorder(install_, "omvar-update1.exe");
    start_engine({});
    // Ten times fast: 01:56:00 comes after 0.3 s, 01:57:00 6 s later.
    pid_t agent =
        start_agent("2026-01-05 01:55:57", "x10", 0, {"OMVAR_RECORDER_RECORD=" + aux_ + "/updater.txt"});

    ASSERT_TRUE(wait_for_file(aux_ + "/updater.txt", 5000)) << "no updater start at minute 56";
    ASSERT_EQ(mkdir(etc_.c_str(), 0755), 0);
    write_good_key();
    write_schedule("late.zbs", "57 1 * * *");

    ASSERT_TRUE(wait_messages(2, 12000)) << agent_output();
    EXPECT_EQ(messages(), (std::vector<std::string>{probe_line(), request_line(etc_ + "/late.zbs")}));
    EXPECT_EQ(count_lines_starting(aux_ + "/updater.txt", "run"), 1) << read_file(aux_ + "/updater.txt");
    EXPECT_EQ(stop_agent(agent), 0);
}

// Each bad key file in turn. A read-only etc directory and an unreadable file
// only mean what they say to an unprivileged agent; the short file is left in a
// directory the agent (root) could change, so that leaving it alone is its choice.
struct BadKeyCase {
    const char* name;
    uid_t user;
    void (*make)(const std::string& etc);
};

const BadKeyCase kBadKeys[] = {
    {"missing_in_read_only_etc", kNobody, [](const std::string&) {}},  // etc is root's, 0755
    {"too_short", 0,
     [](const std::string& etc) {
         write_file(etc + "/omvar.ak", known_key_file_bytes(3000));
         chmod((etc + "/omvar.ak").c_str(), 0644);
     }},
    {"unreadable", kNobody,
     [](const std::string& etc) {
         write_file(etc + "/omvar.ak", known_key_file_bytes());
         chmod((etc + "/omvar.ak").c_str(), 0000);
     }},
};

class BadKey : public FaultE2e, public ::testing::WithParamInterface<BadKeyCase> {};

std::string listing(const std::string& dir) {
    std::string out;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        struct stat st {};
        stat((dir + "/" + n).c_str(), &st);
        out += n + " " + std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_size) + "\n";
    }
    return out;
}

TEST_P(BadKey, SchedulesAreSkippedUntilAGoodKeyAndARestart) {
    write_schedule("nightly.zbs", "1 2 * * *");
    GetParam().make(etc_);
    const std::string key_bytes_before =
        file_exists(etc_ + "/omvar.ak") ? read_file(etc_ + "/omvar.ak") : std::string("(none)");
    const uid_t user = GetParam().user;
    start_engine({}, user);
    const std::string before = listing(etc_);
    pid_t agent = start_agent("2026-01-05 02:00:58", "", user);

    // Past the minute tick and one more tick: the agent is still there.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(waitpid(agent, nullptr, WNOHANG), 0) << "the agent ended: " << agent_output();
    EXPECT_TRUE(messages().empty()) << "a schedule ran without a key";
    // The pid file comes and goes with a root agent; nothing else may change.
    EXPECT_EQ(stop_agent(agent), 0);
    EXPECT_EQ(listing(etc_), before) << "the etc directory was changed";
    EXPECT_EQ(file_exists(etc_ + "/omvar.ak") ? read_file(etc_ + "/omvar.ak") : std::string("(none)"),
              key_bytes_before);

    // A good key and a restart: the schedule runs.
    write_good_key();
    pid_t again = start_agent("2026-01-05 02:00:58", "", user);
    ASSERT_TRUE(wait_messages(2, 6000)) << agent_output();
    EXPECT_EQ(messages(), (std::vector<std::string>{probe_line(), request_line(etc_ + "/nightly.zbs")}));
    EXPECT_EQ(stop_agent(again), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, BadKey, ::testing::ValuesIn(kBadKeys),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(FaultE2e, TriggerThatCannotBeDeletedIsRetriedAtEveryPollWithoutARequest) {
    // The etc directory is root's: an unprivileged agent can see the trigger but
    // not delete it.
    write_file(etc_ + "/stuck.now", "");
    start_engine({}, kNobody);
    pid_t agent = start_agent("2026-01-05 02:00:58", "", kNobody);
    const std::string found = "found " + etc_ + "/stuck.now\n";
    ASSERT_TRUE(wait_output(found + found, 10000)) << agent_output();
    EXPECT_TRUE(file_exists(etc_ + "/stuck.now"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(stop_agent(agent), 0);
}

TEST_F(FaultE2e, RestartAfterKillNineReplacesTheStalePidFile) {
    const std::string pid_file = etc_ + "/omvarcrond.pid";
    const std::string before = listing(etc_);
    pid_t first = start_agent();
    // The file exists from the moment the lock is taken; the pid follows.
    ASSERT_TRUE(wait_until([&] { return read_file(pid_file) == std::to_string(first) + "\n"; }, 3000))
        << read_file(pid_file);
    kill(first, SIGKILL);
    ASSERT_EQ(wait_exit(first, 3000), -2);
    agents_.clear();
    ASSERT_TRUE(file_exists(pid_file)) << "the stale pid file is the case under test";

    pid_t second = start_agent();
    ASSERT_TRUE(wait_until([&] { return read_file(pid_file) == std::to_string(second) + "\n"; }, 3000))
        << read_file(pid_file);
    EXPECT_EQ(stop_agent(second), 0);
    EXPECT_EQ(listing(etc_), before) << "something was left over";
    EXPECT_FALSE(engine_queue_exists());
}

TEST_F(FaultE2e, StopRequestDuringABlockedTickEndsTheLoopAfterThatTick) {
    write_good_key();
    for (int i = 0; i < 3; ++i) {
        write_schedule("job" + std::to_string(i) + ".zbs", "1 2 * * *");
    }
    start_engine({"OMVAR_ENGINE_NO_READ=1", "OMVAR_ENGINE_MAXMSG=2"});
    const std::string pid_file = etc_ + "/omvarcrond.pid";
    pid_t agent = start_agent();
    // The first request fills the queue; the tick then waits on the next ones.
    ASSERT_TRUE(wait_until([&] { return engine_queue_exists() && ms_since(started_) > 2700; }, 5000));
    write_file(etc_ + "/stays.now", "");
    kill(agent, SIGTERM);

    const int code = wait_exit(agent, 10000);
    EXPECT_EQ(code, 0) << agent_output();
    if (code != -1) {
        agents_.clear();  // reaped; otherwise the tear-down kills it
    }
    EXPECT_FALSE(file_exists(pid_file));
    // No tick after the stopped one: the trigger was never polled.
    EXPECT_TRUE(file_exists(etc_ + "/stays.now"));
    EXPECT_EQ(agent_output().find("found"), std::string::npos);
}

}  // namespace
}  // namespace omvar::test
