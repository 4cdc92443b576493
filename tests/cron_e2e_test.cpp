// End-to-end runs of the real omvar-cron binary: a temporary install directory
// with the stand-in companions installed under the product's names, real
// encrypted schedule files and a key file, and a clock that the test sets.
//
// libfaketime (LD_PRELOAD) answers the agent's wall-clock calls from a file that
// holds a stopped time and is read again at every call. Sleeps and the
// monotonic clock stay real, so the agent still wakes once a real second and
// then acts on whatever time the file holds. A test steps the clock to a tick
// time and waits for what that tick must do; nothing waits for a real minute.
// Setting the clock more than one tick ahead makes the agent run the ticks in
// between back to back, as it does after a short forward clock change.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "agent/platform/command_line.h"
#include "crypt_test_support.h"
#include "e2e_support.h"
#include "standins/standin_control.h"
#include "test_support.h"

namespace omvar::test {
namespace {

// A tick normally follows a clock step within about a real second; these leave
// room for a loaded machine.
constexpr int kTickWaitMs = 20000;
constexpr int kStopWaitMs = 10000;

// A local wall-clock time on one fixed day (a Tuesday); the agent runs in UTC.
struct At {
    int hour;
    int minute;
    int second;
};

std::string clock_text(At at) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-03-10 %02d:%02d:%02d", at.hour, at.minute, at.second);
    return text;
}

const std::string kProbe(1, '\0');

std::string request(const std::string& path) { return path + std::string(1, '\0'); }

std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

bool ends_with_ignoring_case(const std::string& text, const std::string& lower_suffix) {
    if (text.size() < lower_suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lower_suffix.size(); ++i) {
        char c = text[text.size() - lower_suffix.size() + i];
        if (static_cast<char>(std::tolower(static_cast<unsigned char>(c))) != lower_suffix[i]) {
            return false;
        }
    }
    return true;
}

// Entry names in the order the system lists them.
std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(d)) {
        names.push_back(entry->d_name);
    }
    closedir(d);
    return names;
}

std::vector<std::string> triggers_in(const std::string& dir) {
    std::vector<std::string> out;
    for (const std::string& name : listing(dir)) {
        if (ends_with_ignoring_case(name, ".now")) {
            out.push_back(name);
        }
    }
    return out;
}

// A field of /proc/PID/status as a number, -1 if there is none.
long status_number(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

// The program a Windows-rule reading of a command line starts: its first token,
// quotes grouping, with every backslash taken as a directory separator.
std::string windows_rule_program(const std::string& command_line) {
    static platform::CommandLineArgs args;
    if (!platform::split_command_line(command_line.c_str(), &args) || args.count == 0) {
        return "";
    }
    std::string program = args.argv[0];
    std::replace(program.begin(), program.end(), '\\', '/');
    return program;
}

// True while the process is blocked in a sleep call: the agent's only sleeps are
// its one-second steps towards the next tick and the wait after starting the engine.
bool in_sleep_call(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    if (!(in >> number)) {
        return false;
    }
#ifdef SYS_nanosleep
    if (number == SYS_nanosleep) {
        return true;
    }
#endif
    return number == SYS_clock_nanosleep;
}

class CronEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        faketime_ = libfaketime_path();
        if (faketime_.empty()) {
            GTEST_SKIP() << "libfaketime is not installed (Debian package \"faketime\"); the end-to-end "
                            "tests need it to set the agent's clock";
        }
        if (!install_.empty()) {
            std::filesystem::create_directories(install_);
        }
        ASSERT_EQ(mkdir(etc_dir().c_str(), 0755), 0);
        std::string bytes = known_key_file_bytes();
        write_file(etc("omvar.ak"), bytes);
        key_ = key_from_file_bytes(bytes);
        install_engine(root());
        install_recorder(root(), "omvar-update1.exe");
        install_recorder(root(), "omvar-txmail.exe");
        remove_engine_queue();  // left by an earlier run that was killed
    }

    void TearDown() override {
        if (agent_ > 0) {
            stop_agent();
        }
        // An engine the agent started is no child of ours; its marker names it.
        if (file_exists(engine_ready())) {
            stop_engine(engine_ready(), kStopWaitMs);
        }
        if (own_engine_ > 0) {
            stop_child(own_engine_, kStopWaitMs);
        }
        remove_engine_queue();
    }

    // The install directory: the temporary directory itself unless a test set install_.
    std::string root() const { return install_.empty() ? dir_.path() : install_; }
    std::string etc_dir() const { return root() + "/etc"; }
    std::string etc(const std::string& name) const { return etc_dir() + "/" + name; }
    std::string engine_record() const { return dir_.file("engine-record.txt"); }
    std::string engine_ready() const { return dir_.file("engine-ready"); }
    std::string recorder_record() const { return dir_.file("recorder-record.txt"); }
    std::string agent_stderr() const { return dir_.file("agent-stderr.txt"); }
    std::string clock_file() const { return dir_.file("clock"); }

    // Encrypted the way the product writes schedule files, by the openssl tool
    // rather than by the agent's own code.
    void write_schedule(const std::string& name, const std::string& expression, const std::string& key) {
        std::string plain = dir_.file("plain.txt");
        write_file(plain, "# Omvar Backup Schedule 2\r\nsource=/home/user/Documents\r\nschedule=" +
                              expression + "\r\ntarget=/media/backup\r\n");
        ASSERT_TRUE(openssl_encrypt(key, plain, etc(name))) << name;
        std::remove(plain.c_str());
    }
    void write_schedule(const std::string& name, const std::string& expression) {
        write_schedule(name, expression, key_);
    }

    void touch(const std::string& path) { write_file(path, "run now\n"); }

    // Replaced in one step, so the agent never reads a half-written time.
    void set_clock(At at) {
        std::string temp = clock_file() + ".tmp";
        write_file(temp, clock_text(at) + "\n");
        ASSERT_EQ(std::rename(temp.c_str(), clock_file().c_str()), 0);
    }

    std::vector<std::string> agent_env() const {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "LD_PRELOAD=" + faketime_,
            "FAKETIME_TIMESTAMP_FILE=" + clock_file(),
            "FAKETIME_NO_CACHE=1",
            "FAKETIME_DONT_FAKE_MONOTONIC=1",
            // A sanitizer build would refuse to run with another library preloaded.
            "ASAN_OPTIONS=verify_asan_link_order=0",
            "OMVAR_ENGINE_RECORD=" + engine_record(),
            "OMVAR_ENGINE_READY=" + engine_ready(),
            "OMVAR_RECORDER_RECORD=" + recorder_record(),
        };
        if (machine_zone_) {
            // The clock runs, four times fast, from a start read once: a time
            // read again from the file would be converted in the changed zone.
            env.erase(std::remove_if(env.begin(), env.end(),
                                     [](const std::string& e) { return e.rfind("FAKETIME_", 0) == 0; }),
                      env.end());
            env.push_back("FAKETIME=@" + clock_text(machine_zone_start_) + " x4");
            env.push_back("FAKETIME_DONT_FAKE_MONOTONIC=1");
            env.push_back("NO_FAKE_STAT=1");  // the zone file's time stamps as they are
        } else {
            env.push_back("TZ=UTC0");
        }
        return env;
    }

    // Starts the agent with the clock at `start` and returns once it has aligned
    // its first tick and is waiting for it.
    void start_agent(At start, const std::vector<std::string>& extra_env = {}) {
        set_clock(start);
        std::vector<std::string> env = agent_env();
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        agent_ = spawn({OMVAR_CRON_BINARY, root()}, env, "/", dir_.file("agent-stdout.txt"), agent_stderr(),
                       0, own_session_);
        ASSERT_GT(agent_, 0);
        bool waiting =
            wait_until([&] { return in_sleep_call(agent_) || waitpid(agent_, nullptr, WNOHANG) == agent_; },
                       kTickWaitMs);
        ASSERT_TRUE(waiting && in_sleep_call(agent_))
            << "the agent did not reach its tick wait; its output:\n"
            << read_file(agent_stderr());
    }

    // Returns once the agent has caught up with the clock of the last set_clock.
    // It sleeps towards a tick only after reading the clock and finding that tick
    // still ahead; of the sleeps counted from now on, only the one it may be in
    // already can rest on a reading from before the clock was set. So: wait
    // until it sleeps again after that one. When it is seen in the same sleep
    // before and after the count is read, the next block is enough; otherwise
    // it may be between a reading and its sleep, and the second one is needed.
    // (Not usable while the agent may be in its wait after starting the engine,
    // which is a sleep too.)
    void settle() {
        long before = status_number(agent_, "voluntary_ctxt_switches");
        bool sleeping = in_sleep_call(agent_);
        long after = status_number(agent_, "voluntary_ctxt_switches");
        ASSERT_GE(before, 0);
        long target = (sleeping && before == after) ? after + 1 : after + 2;
        ASSERT_TRUE(wait_until(
            [&] {
                return status_number(agent_, "voluntary_ctxt_switches") >= target && in_sleep_call(agent_);
            },
            kTickWaitMs));
    }

    int stop_agent() {
        pid_t pid = agent_;
        agent_ = -1;
        return stop_child(pid, kStopWaitMs);
    }

    // An engine that runs before the agent does, as after the product's start.
    void start_engine() {
        std::vector<std::string> env = {"PATH=/usr/bin:/bin", "OMVAR_ENGINE_RECORD=" + engine_record(),
                                        "OMVAR_ENGINE_READY=" + engine_ready()};
        own_engine_ = spawn({root() + "/omvar-backup.exe", "background"}, env, root(),
                            dir_.file("engine-stdout.txt"), dir_.file("engine-stderr.txt"));
        ASSERT_GT(own_engine_, 0);
        ASSERT_TRUE(wait_for_file(engine_ready(), kTickWaitMs)) << read_file(engine_record());
    }

    // Every message the engine has read, as raw bytes.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const std::string& line : engine_messages(engine_record())) {
            std::istringstream fields(line);
            std::string tag, length, hex;
            std::getline(fields, tag, '\t');
            std::getline(fields, length, '\t');
            std::getline(fields, hex, '\t');
            out.push_back(from_hex(hex));
        }
        return out;
    }

    bool wait_for_messages(std::size_t n) const {
        return wait_until([&] { return messages().size() >= n; }, kTickWaitMs);
    }

    // Steps to the tick `at` and waits until the engine holds `n` messages.
    void step_until_messages(At at, std::size_t n) {
        set_clock(at);
        ASSERT_TRUE(wait_for_messages(n)) << "at " << clock_text(at) << ", engine record:\n"
                                          << read_file(engine_record()) << "agent output:\n"
                                          << read_file(agent_stderr());
    }

    // Lets the agent catch up with the clock, then creates a trigger and steps to
    // the polling tick `at`. Once its request has arrived, every tick before `at`
    // has finished and all that it did is on record.
    void handle_sentinel(At at) {
        ASSERT_NO_FATAL_FAILURE(settle());
        touch(etc("sentinel.now"));
        step_until_messages(at, messages().size() + 2);
    }

    std::vector<std::string> found_lines() const {
        std::vector<std::string> out;
        for (const std::string& line : read_lines(agent_stderr())) {
            if (line.rfind("found ", 0) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }

    std::vector<RecorderRun> runs_of(const std::string& name) const {
        std::vector<RecorderRun> out;
        for (const RecorderRun& run : recorder_runs(recorder_record())) {
            if (run.name == name) {
                out.push_back(run);
            }
        }
        return out;
    }

    bool wait_for_runs(const std::string& name, std::size_t n) const {
        return wait_until([&] { return runs_of(name).size() >= n; }, kTickWaitMs);
    }

    // Checks what a companion started by the agent got from it.
    void expect_companion_run(const RecorderRun& run, const std::string& name) const {
        EXPECT_EQ(run.name, name);
        EXPECT_EQ(run.argv0, root() + "/" + name);
        EXPECT_TRUE(run.args.empty());
        EXPECT_EQ(run.cwd, root());
        // The standard streams reach it. (Its descriptor list also holds the one
        // that the preloaded libfaketime opens in every process, so the agent's own
        // descriptors are checked at their source instead: agent_descriptors_kept.)
        EXPECT_EQ(run.fds.rfind("0,1,2", 0), 0u) << run.fds;
        EXPECT_EQ(run.sigign, "0000000000000000");
        EXPECT_EQ(run.sigblk, "0000000000000000");
    }

    // The agent's descriptors above the standard streams that a started program
    // would inherit: those without close-on-exec. The pid-file lock among them
    // would make a long-lived companion hold the lock after the agent stopped.
    std::vector<std::string> agent_descriptors_kept() const {
        std::vector<std::string> kept;
        std::string fd_dir = "/proc/" + std::to_string(agent_) + "/fd";
        for (const std::string& name : listing(fd_dir)) {
            if (name == "." || name == ".." || std::atoi(name.c_str()) <= 2) {
                continue;
            }
            std::ifstream info("/proc/" + std::to_string(agent_) + "/fdinfo/" + name);
            long flags = -1;
            for (std::string line; std::getline(info, line);) {
                if (line.rfind("flags:", 0) == 0) {
                    flags = std::strtol(line.c_str() + 6, nullptr, 8);
                }
            }
            if (flags < 0 || (flags & O_CLOEXEC) == 0) {
                char target[4096] = {};
                ssize_t n = readlink((fd_dir + "/" + name).c_str(), target, sizeof target - 1);
                kept.push_back(name + " -> " +
                               (n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?"));
            }
        }
        return kept;
    }

    // The agent's descriptors by what they refer to ("anon_inode:inotify", a path).
    std::vector<std::string> agent_descriptor_targets() const {
        std::vector<std::string> targets;
        std::string fd_dir = "/proc/" + std::to_string(agent_) + "/fd";
        for (const std::string& name : listing(fd_dir)) {
            char target[4096] = {};
            if (name != "." && name != ".." &&
                readlink((fd_dir + "/" + name).c_str(), target, sizeof target - 1) > 0) {
                targets.push_back(target);
            }
        }
        return targets;
    }

    bool machine_zone_ = false;  // no TZ: the agent uses /etc/localtime
    bool own_session_ = false;   // the agent in a session of its own, with no terminal, as under systemd
    std::string install_;
    At machine_zone_start_ = {1, 58, 55};
    TempDir dir_;
    std::string faketime_;
    std::string key_;
    pid_t agent_ = -1;
    pid_t own_engine_ = -1;
};

TEST_F(CronEndToEnd, TypicalScheduledBackupSendsOneProbeAndThePath) {
    write_schedule("nightly.zbs", "0 2 * * *");
    write_schedule("weekly.zbs", "0 3 * * *");                         // not due at 02:00
    write_schedule("old.zbs.bak", "0 2 * * *");                        // due, but not a schedule file by name
    write_schedule("foreign.zbs", "0 2 * * *", std::string(32, 'k'));  // another installation's key
    write_file(etc("notes.txt"), "not a schedule\n");
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({1, 59, 59}));

    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 0, 0}, 2));
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({2, 0, 3}));

    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(etc("nightly.zbs")), kProbe,
                                                    request(etc("sentinel"))}));
    EXPECT_EQ(count_lines_starting(engine_record(), "start\t"), 1) << "the running engine was started again";
    EXPECT_TRUE(recorder_runs(recorder_record()).empty()) << read_file(recorder_record());
    EXPECT_EQ(read_lines(agent_stderr()), (std::vector<std::string>{"found " + etc("sentinel.now")}));
    EXPECT_TRUE(file_exists(etc("nightly.zbs")));

    EXPECT_EQ(stop_agent(), 0);
    EXPECT_FALSE(file_exists(etc("omvarcrond.pid")));
}

// The system's OpenSSL configuration is never loaded into the agent: under one
// that breaks every configuration-loading program, the agent still creates its
// key file from random bytes, decrypts a due schedule file and sends it.
TEST_F(CronEndToEnd, OpensslConfigurationIsNotLoaded) {
    const std::string conf = write_unloadable_openssl_conf(dir_.file("broken.cnf"));
    ASSERT_FALSE(openssl_tool_encrypts_under(conf)) << "the configuration should break the openssl tool";
    ASSERT_EQ(std::remove(etc("omvar.ak").c_str()), 0);
    write_file(etc("first.zbs"), "evaluated first: creates the key file");
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({1, 59, 59}, {"OPENSSL_CONF=" + conf}));

    set_clock({2, 0, 0});
    ASSERT_TRUE(wait_until([&] { return read_file(etc("omvar.ak")).size() == 4096; }, kTickWaitMs))
        << read_file(agent_stderr());
    write_schedule("nightly.zbs", "1 2 * * *", key_from_file_bytes(read_file(etc("omvar.ak"))));
    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 1, 0}, 2));

    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(etc("nightly.zbs"))}));
    EXPECT_EQ(read_file(agent_stderr()), "");
    EXPECT_EQ(stop_agent(), 0);
}

struct UpdaterCase {
    const char* name;
    bool scan_directory;
};

void PrintTo(const UpdaterCase& c, std::ostream* os) { *os << c.name; }

class CronEndToEndUpdater : public CronEndToEnd, public ::testing::WithParamInterface<UpdaterCase> {};

// The updater's fixed schedule is checked before the scan directory is listed,
// so it runs even when that directory is missing.
TEST_P(CronEndToEndUpdater, StartsAtMinute56OnlyOnItsMinuteTick) {
    if (!GetParam().scan_directory) {
        std::remove(etc("omvar.ak").c_str());
        ASSERT_EQ(rmdir(etc_dir().c_str()), 0);
    }
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({10, 55, 59}));

    set_clock({10, 56, 0});
    ASSERT_TRUE(wait_for_runs("omvar-update1.exe", 1)) << read_file(agent_stderr());
    if (!GetParam().scan_directory) {
        ASSERT_EQ(mkdir(etc_dir().c_str(), 0755), 0);
    }
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({10, 56, 3}));

    std::vector<RecorderRun> runs = recorder_runs(recorder_record());
    ASSERT_EQ(runs.size(), 1u) << read_file(recorder_record());
    expect_companion_run(runs[0], "omvar-update1.exe");
    EXPECT_EQ(runs[0].nice, own_nice());
    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(etc("sentinel"))}));
    EXPECT_EQ(agent_descriptors_kept(), std::vector<std::string>{});
    // The polls' watch on etc is one descriptor, close-on-exec like the rest.
    const std::vector<std::string> targets = agent_descriptor_targets();
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "anon_inode:inotify"), 1);
}

INSTANTIATE_TEST_SUITE_P(ScanDirectory, CronEndToEndUpdater,
                         ::testing::Values(UpdaterCase{"Present", true}, UpdaterCase{"Missing", false}),
                         [](const ::testing::TestParamInfo<UpdaterCase>& param_info) {
                             return param_info.param.name;
                         });

// /etc/localtime of a private mount namespace: a file of the test's bound onto
// it, rewritten as a zone change rewrites the machine's; all undone at the end.
class MachineZone {
  public:
    explicit MachineZone(const std::string& file) : file_(file) {
        own_ = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (own_ < 0 || unshare(CLONE_NEWNS) != 0) {
            why_ = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        entered_ = true;
        write_file(file_, read_file("/usr/share/zoneinfo/UTC"));
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(file_.c_str(), "/etc/localtime", nullptr, MS_BIND, nullptr) != 0) {
            why_ = std::string("cannot bind a file onto /etc/localtime: ") + std::strerror(errno);
        }
    }
    ~MachineZone() {
        if (entered_) {
            umount2("/etc/localtime", MNT_DETACH);
            setns(own_, CLONE_NEWNS);
        }
        if (own_ >= 0) {
            close(own_);
        }
    }
    const std::string& why_not() const { return why_; }

    // Rewrites the bound file in place with another zone; its time stamp moves
    // well away, as the C library notices a changed file by it.
    void change_to(const std::string& zone) {
        struct stat before {};
        ASSERT_EQ(stat(file_.c_str(), &before), 0);
        write_file(file_, read_file("/usr/share/zoneinfo/" + zone));
        timespec times[2] = {{before.st_mtime + 100000, 0}, {before.st_mtime + 100000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
    }

  private:
    std::string file_;
    std::string why_;
    int own_ = -1;
    bool entered_ = false;
};

// A laptop that travels: the machine's zone changes from UTC to Tokyo under the
// running agent. 02:00 UTC is 11:00 in Tokyo: the schedule due at 11:00 runs,
// the one due at 02:00 (only in the old zone) does not.
TEST_F(CronEndToEnd, MinuteTickFollowsTheMachinesZoneChange) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private mount namespace";
    }
    if (!file_exists("/usr/share/zoneinfo/Asia/Tokyo") || !file_exists("/etc/localtime")) {
        GTEST_SKIP() << "needs the zone database (Debian package \"tzdata\") and /etc/localtime";
    }
    MachineZone zone(dir_.file("localtime"));
    if (!zone.why_not().empty()) {
        GTEST_SKIP() << zone.why_not();
    }
    write_schedule("utc.zbs", "59 1 * * *");
    write_schedule("tokyo.zbs", "0 11 * * *");
    write_schedule("old-zone.zbs", "0 2 * * *");
    ASSERT_NO_FATAL_FAILURE(start_engine());
    machine_zone_ = true;
    ASSERT_NO_FATAL_FAILURE(start_agent(machine_zone_start_));

    // 01:59 UTC comes about a second later, 02:00 fifteen seconds after that.
    ASSERT_TRUE(wait_for_messages(2)) << read_file(engine_record());
    ASSERT_NO_FATAL_FAILURE(zone.change_to("Asia/Tokyo"));
    ASSERT_TRUE(wait_for_messages(4)) << read_file(engine_record());
    EXPECT_EQ(stop_agent(), 0);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{kProbe, request(etc("utc.zbs")), kProbe, request(etc("tokyo.zbs"))}));
}

TEST_F(CronEndToEnd, MailFilesStartTheMailSenderOncePerMinute) {
    touch(etc("a.eml"));
    touch(etc("B.EML"));
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({11, 59, 59}));

    set_clock({12, 0, 0});
    ASSERT_TRUE(wait_for_runs("omvar-txmail.exe", 1));
    // Fifty-seven seconds ahead: the nineteen polling ticks run back to back, then
    // the next minute tick.
    set_clock({12, 1, 0});
    ASSERT_TRUE(wait_for_runs("omvar-txmail.exe", 2));
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({12, 1, 3}));

    std::vector<RecorderRun> runs = recorder_runs(recorder_record());
    ASSERT_EQ(runs.size(), 2u) << read_file(recorder_record());
    for (const RecorderRun& run : runs) {
        expect_companion_run(run, "omvar-txmail.exe");
    }
    // Mail files are the mail sender's to remove, never the agent's.
    EXPECT_TRUE(file_exists(etc("a.eml")));
    EXPECT_TRUE(file_exists(etc("B.EML")));
}

TEST_F(CronEndToEnd, ThreeTriggersAreHandledAtThreeSuccessivePollingTicks) {
    write_schedule("hourly.zbs", "0 * * * *");
    touch(etc("nightly.zbs.now"));
    touch(etc("B.NOW"));
    touch(etc("c.now"));
    const std::vector<std::string> order = triggers_in(etc_dir());
    ASSERT_EQ(order.size(), 3u);
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({11, 59, 59}));

    // The minute tick does not poll: all three wait for the ticks after it.
    ASSERT_NO_FATAL_FAILURE(step_until_messages({12, 0, 0}, 2));
    EXPECT_EQ(triggers_in(etc_dir()).size(), 3u);

    std::vector<std::string> expected_messages = {kProbe, request(etc("hourly.zbs"))};
    std::vector<std::string> expected_found;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string path = etc(order[i]);
        ASSERT_NO_FATAL_FAILURE(step_until_messages({12, 0, 3 * static_cast<int>(i + 1)}, 4 + 2 * i));
        // Deleted before its request went out, and only this one in this tick.
        EXPECT_FALSE(file_exists(path));
        EXPECT_EQ(triggers_in(etc_dir()).size(), order.size() - 1 - i);
        expected_messages.push_back(kProbe);
        expected_messages.push_back(request(path.substr(0, path.size() - 4)));
        expected_found.push_back("found " + path);
    }
    EXPECT_EQ(messages(), expected_messages);
    EXPECT_EQ(found_lines(), expected_found);
    EXPECT_TRUE(file_exists(etc("hourly.zbs")));
}

struct LateTriggerCase {
    const char* name;
    bool before_minute_tick;
};

void PrintTo(const LateTriggerCase& c, std::ostream* os) { *os << c.name; }

class CronEndToEndTriggerTiming : public CronEndToEnd,
                                  public ::testing::WithParamInterface<LateTriggerCase> {};

TEST_P(CronEndToEndTriggerTiming, TriggerIsSeenAtTheFirstPollingTickAfterTheMinuteTick) {
    write_schedule("job.zbs", "0 10 * * *");
    if (GetParam().before_minute_tick) {
        touch(etc("late.now"));
    }
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({9, 59, 59}));

    ASSERT_NO_FATAL_FAILURE(step_until_messages({10, 0, 0}, 2));
    if (GetParam().before_minute_tick) {
        EXPECT_TRUE(file_exists(etc("late.now"))) << "the minute tick took the trigger";
    } else {
        touch(etc("late.now"));
    }
    ASSERT_NO_FATAL_FAILURE(step_until_messages({10, 0, 3}, 4));

    EXPECT_EQ(messages(),
              (std::vector<std::string>{kProbe, request(etc("job.zbs")), kProbe, request(etc("late"))}));
    EXPECT_EQ(found_lines(), (std::vector<std::string>{"found " + etc("late.now")}));
    EXPECT_FALSE(file_exists(etc("late.now")));
}

INSTANTIATE_TEST_SUITE_P(Created, CronEndToEndTriggerTiming,
                         ::testing::Values(LateTriggerCase{"JustAfterTheMinuteTick", false},
                                           LateTriggerCase{"BeforeTheMinuteTick", true}),
                         [](const ::testing::TestParamInfo<LateTriggerCase>& param_info) {
                             return param_info.param.name;
                         });

// The engine stand-in takes a second to create its queue, well inside the wait
// after its start: only a launcher that waits before the second open delivers.
TEST_F(CronEndToEnd, EngineNotRunningIsStartedOnceAndGetsTheRequestAfterTheWait) {
    write_schedule("night.zbs", "0 3 * * *");
    ASSERT_FALSE(engine_queue_exists());
    ASSERT_NO_FATAL_FAILURE(start_agent({2, 59, 59}, {"OMVAR_ENGINE_START_DELAY_MS=1000"}));

    ASSERT_NO_FATAL_FAILURE(step_until_messages({3, 0, 0}, 2));
    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(etc("night.zbs"))}));
    EXPECT_EQ(start_field(engine_record(), "args"), "background");
    EXPECT_EQ(start_field(engine_record(), "argv0"), root() + "/omvar-backup.exe");
    EXPECT_EQ(start_field(engine_record(), "cwd"), root());
    EXPECT_EQ(start_field(engine_record(), "nice"), std::to_string(std::max(10, own_nice())));

    // Now running, the engine takes the next request without another start.
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({3, 0, 3}));
    EXPECT_EQ(count_lines_starting(engine_record(), "start\t"), 1) << read_file(engine_record());
    EXPECT_EQ(messages().back(), request(etc("sentinel")));
}

// A schedule entry may be a symlink, and one may lead to a terminal. The agent,
// a session leader with no terminal as under systemd, must not take it as its
// controlling terminal: a ^C typed there would stop it, a ^Z freeze it.
TEST_F(CronEndToEnd, TerminalBehindAScheduleEntryNeverBecomesTheAgentsTerminal) {
    struct Master {
        int fd;
        ~Master() {
            if (fd >= 0) {
                close(fd);
            }
        }
    } master{open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC)};
    if (master.fd < 0) {
        GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
    }
    ASSERT_EQ(grantpt(master.fd), 0);
    ASSERT_EQ(unlockpt(master.fd), 0);
    const char* terminal = ptsname(master.fd);
    ASSERT_NE(terminal, nullptr);
    ASSERT_EQ(symlink(terminal, etc("console.zbs").c_str()), 0);
    write_schedule("job.zbs", "0 2 * * *");
    ASSERT_NO_FATAL_FAILURE(start_engine());
    own_session_ = true;
    ASSERT_NO_FATAL_FAILURE(start_agent({1, 59, 59}));
    ASSERT_EQ(proc_stat_field(agent_, 6), std::to_string(agent_)) << "the agent should lead its own session";

    // Once the next polling tick's trigger is handled, the minute tick has opened console.zbs.
    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 0, 0}, 2));
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({2, 0, 3}));
    EXPECT_EQ(proc_stat_field(agent_, 7), "0") << "the agent has a controlling terminal (tty_nr)";

    ASSERT_EQ(write(master.fd, "\x1a\x03", 2), 2);  // ^Z, ^C
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({2, 0, 6}));
    EXPECT_EQ(waitpid(agent_, nullptr, WNOHANG), 0) << "the agent ended";
    EXPECT_EQ(messages(),
              (std::vector<std::string>{kProbe, request(etc("job.zbs")), kProbe, request(etc("sentinel")),
                                        kProbe, request(etc("sentinel"))}));
}

struct InstallDirCase {
    const char* name;
    const char* below_temp;  // the install directory below the temporary directory
};

void PrintTo(const InstallDirCase& c, std::ostream* os) { *os << c.name; }

class CronEndToEndInstallDir : public CronEndToEnd, public ::testing::WithParamInterface<InstallDirCase> {
  protected:
    void SetUp() override {
        install_ = dir_.file(GetParam().below_temp);
        CronEndToEnd::SetUp();
    }
};

// On Linux a backslash or a quote is an ordinary byte of a path: the engine
// started is the one in the install directory, whatever its bytes, and never a
// program at the path a Windows-rule reading of the command line would give.
TEST_P(CronEndToEndInstallDir, EngineStartedIsTheOneInTheInstallDirectory) {
    const std::string engine = root() + "/omvar-backup.exe";
    const std::string decoy = windows_rule_program("\"" + root() + "\\omvar-backup.exe\" background");
    if (!decoy.empty() && decoy != engine) {
        const std::filesystem::path at(decoy);
        std::filesystem::create_directories(at.parent_path());
        install_recorder(at.parent_path().string(), at.filename().string());
    }
    write_schedule("job.zbs", "0 2 * * *");
    ASSERT_NO_FATAL_FAILURE(start_agent({1, 59, 59}));

    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 0, 0}, 2));
    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(etc("job.zbs"))}));
    EXPECT_EQ(start_field(engine_record(), "argv0"), engine);
    EXPECT_EQ(start_field(engine_record(), "args"), "background");
    EXPECT_TRUE(std::filesystem::equivalent(start_field(engine_record(), "cwd"), root()));
    EXPECT_TRUE(recorder_runs(recorder_record()).empty()) << "started: " << read_file(recorder_record());
}

INSTANTIATE_TEST_SUITE_P(Bytes, CronEndToEndInstallDir,
                         ::testing::Values(InstallDirCase{"Backslash", "my\\dir/inst"},
                                           InstallDirCase{"TrailingBackslash", "inst\\"},
                                           InstallDirCase{"DoubleQuote", "a\"b/inst"},
                                           InstallDirCase{"Blank", "My Backup"},
                                           InstallDirCase{"TrailingSlash", "inst/"}),
                         [](const ::testing::TestParamInfo<InstallDirCase>& param_info) {
                             return param_info.param.name;
                         });

// Back by two minutes just after the 04:01 minute tick: the grid is re-anchored
// at 04:00 and both minutes get their minute ticks, and their schedules, again.
TEST_F(CronEndToEnd, ClockSetBackTwoMinutesRunsTheRepeatedMinutesSchedulesAgain) {
    write_schedule("early.zbs", "0,1 4 * * *");
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({3, 59, 59}));

    ASSERT_NO_FATAL_FAILURE(step_until_messages({4, 0, 0}, 2));
    ASSERT_NO_FATAL_FAILURE(step_until_messages({4, 1, 0}, 4));
    set_clock({3, 59, 0});
    ASSERT_NO_FATAL_FAILURE(settle());
    ASSERT_NO_FATAL_FAILURE(step_until_messages({4, 0, 0}, 6));
    ASSERT_NO_FATAL_FAILURE(step_until_messages({4, 1, 0}, 8));
    ASSERT_NO_FATAL_FAILURE(handle_sentinel({4, 1, 3}));

    const std::string early = request(etc("early.zbs"));
    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, early, kProbe, early, kProbe, early, kProbe,
                                                    early, kProbe, request(etc("sentinel"))}));
}

// A directory named like a trigger can never be deleted; it must not stand in
// front of the file triggers behind it, at this polling tick or any later one.
TEST_F(CronEndToEnd, DirectoryNamedLikeATriggerIsPassedOver) {
    ASSERT_EQ(mkdir(etc("x.now").c_str(), 0755), 0);
    // Trigger names that the system lists after the directory.
    std::vector<std::string> behind;
    for (int i = 0; i < 64 && behind.size() < 2; ++i) {
        std::string name = "job" + std::to_string(i) + ".zbs.now";
        touch(etc(name));
        std::vector<std::string> names = listing(etc_dir());
        auto dir_at = std::find(names.begin(), names.end(), "x.now");
        auto file_at = std::find(names.begin(), names.end(), name);
        if (file_at > dir_at) {
            behind.push_back(name);
        }
        std::remove(etc(name).c_str());
    }
    ASSERT_EQ(behind.size(), 2u) << "no trigger name is listed after the directory here";

    touch(etc(behind[0]));
    ASSERT_NO_FATAL_FAILURE(start_engine());
    ASSERT_NO_FATAL_FAILURE(start_agent({1, 59, 59}));
    // Three seconds ahead: the minute tick, then the first polling tick.
    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 0, 3}, 2));
    touch(etc(behind[1]));
    ASSERT_NO_FATAL_FAILURE(step_until_messages({2, 0, 6}, 4));

    const std::string first = etc(behind[0]);
    const std::string second = etc(behind[1]);
    EXPECT_EQ(messages(), (std::vector<std::string>{kProbe, request(first.substr(0, first.size() - 4)),
                                                    kProbe, request(second.substr(0, second.size() - 4))}));
    EXPECT_EQ(found_lines(), (std::vector<std::string>{"found " + first, "found " + second}));
    struct stat st {};
    EXPECT_TRUE(stat(etc("x.now").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

}  // namespace
}  // namespace omvar::test
