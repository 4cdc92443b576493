// The POSIX process entry: argument handling, and the real omvar-cron binary as a
// service manager sees it (pid file, stop signals, exit codes, one agent per
// install directory, readiness notification).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent/cron/entry_posix.h"
#include "agent/cron/settings.h"
#include "test_support.h"

namespace {

using omvar::cron::EntryAction;
using omvar::cron::EntryCommand;
using omvar::cron::parse_entry_arguments;
using omvar::test::file_exists;
using omvar::test::read_file;
using omvar::test::TempDir;

EntryCommand parse(std::vector<std::string> args) {
    args.insert(args.begin(), "omvar-cron");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    static EntryCommand command;
    parse_entry_arguments(static_cast<int>(args.size()), argv.data(), &command);
    if (command.bad_argument != nullptr) {
        // It points into args, which end with this call.
        static std::string bad;
        bad = command.bad_argument;
        command.bad_argument = bad.c_str();
    }
    return command;
}

TEST(EntryArguments, ArgumentsAreJoinedOrTakenAsOptions) {
    struct Case {
        std::vector<std::string> args;
        EntryAction action;
        std::string text;  // install directory, or the rejected option
    };
    const Case cases[] = {
        {{"/opt/omvar"}, EntryAction::kRun, "/opt/omvar"},
        {{"/opt/My", "Backup"}, EntryAction::kRun, "/opt/My Backup"},
        {{"/opt/a", "", "b"}, EntryAction::kRun, "/opt/a  b"},
        {{"/opt/trailing "}, EntryAction::kRun, "/opt/trailing "},
        {{"\"/opt/quoted\""}, EntryAction::kRun, "\"/opt/quoted\""},
        {{"-x"}, EntryAction::kRun, "-x"},
        {{"--", "--odd"}, EntryAction::kRun, "--odd"},
        {{"--", "/opt/a", "--", "b"}, EntryAction::kRun, "/opt/a -- b"},
        {{"/opt/a", "--", "--b"}, EntryAction::kRun, "/opt/a --b"},
        {{""}, EntryAction::kRun, ""},
        {{"--help"}, EntryAction::kHelp, ""},
        {{"--version"}, EntryAction::kVersion, ""},
        {{"--version", "/opt/a"}, EntryAction::kVersion, ""},
        {{}, EntryAction::kUsageError, ""},
        {{"--"}, EntryAction::kUsageError, ""},
        {{"--bogus"}, EntryAction::kUsageError, "--bogus"},
        {{"/opt/a", "--verbose"}, EntryAction::kUsageError, "--verbose"},
        {{"--help=x"}, EntryAction::kUsageError, "--help=x"},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) {
            label += "[" + a + "]";
        }
        SCOPED_TRACE(label);
        EntryCommand command = parse(c.args);
        EXPECT_EQ(command.action, c.action);
        if (c.action == EntryAction::kRun) {
            EXPECT_EQ(std::string(command.install_dir), c.text);
        }
        if (c.action == EntryAction::kUsageError) {
            EXPECT_EQ(command.bad_argument != nullptr ? std::string(command.bad_argument) : std::string(),
                      c.text);
        }
    }
}

// A joined text longer than agent_init accepts is cut one byte past its limit, so
// it is still refused as too long rather than shortened into another path.
TEST(EntryArguments, OverlongJoinedTextStaysTooLong) {
    struct Case {
        std::vector<std::string> args;
        std::size_t length;
    };
    const std::string half(600, 'h');
    const Case cases[] = {
        {{"/" + std::string(1022, 'a')}, 1023},
        {{"/" + std::string(1023, 'a')}, 1024},
        {{"/" + std::string(4000, 'a')}, 1024},
        {{half, half, half}, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EntryCommand command = parse(c.args);
        ASSERT_EQ(command.action, EntryAction::kRun);
        EXPECT_EQ(std::strlen(command.install_dir), c.length);
        omvar::test::DebugCapture capture;
        if (c.length >= omvar::cron::kPathSize) {
            EXPECT_EQ(omvar::cron::agent_init(command.install_dir), 1);
            EXPECT_EQ(capture.lines(), std::vector<std::string>{"agent\\cron\\cron:159\r\n"});
        }
    }
}

// ---------------------------------------------------------------- the binary

struct Child {
    pid_t pid = -1;
    std::string out;  // files holding its standard output and error
    std::string err;
};

// Starts omvar-cron with args; its output goes to files in dir.
Child start(const TempDir& dir, const std::string& name, const std::vector<std::string>& args,
            const char* notify_socket = nullptr) {
    Child child;
    child.out = dir.file(name + ".out");
    child.err = dir.file(name + ".err");
    std::vector<std::string> all = {OMVAR_CRON_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    child.pid = fork();
    if (child.pid == 0) {
        int out = open(child.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(child.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (notify_socket == nullptr) {
            unsetenv("NOTIFY_SOCKET");
        } else {
            setenv("NOTIFY_SOCKET", notify_socket, 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// The wait status, or -1 if the child is still running after timeout_ms (it is
// then killed, so that no test leaves an agent behind).
int wait_exit(const Child& child, int timeout_ms) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            return status;
        }
        if (waited >= timeout_ms) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Looks without reaping, so that wait_exit still sees how it ended.
bool still_running(const Child& child) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

// Waits until the file holds exactly `contents`.
bool wait_for_contents(const std::string& path, const std::string& contents, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (read_file(path) == contents) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return read_file(path) == contents;
}

std::string pid_line(const Child& child) { return std::to_string(child.pid) + "\n"; }

// An install directory with its etc directory.
class Binary : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(mkdir(dir_.file("etc").c_str(), 0755), 0); }
    std::string pid_path() const { return dir_.file("etc/omvarcrond.pid"); }

    TempDir dir_;
    TempDir logs_;
};

int exit_code(int status) { return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

TEST_F(Binary, StopSignalEndsTheAgentWithExitZeroAndRemovesThePidFile) {
    const int signals[] = {SIGTERM, SIGINT};
    for (int sig : signals) {
        SCOPED_TRACE(sig);
        Child agent = start(logs_, "agent", {dir_.path()});
        ASSERT_TRUE(wait_for_contents(pid_path(), pid_line(agent), 2000));
        // Hang-ups and broken pipes are not stop requests.
        kill(agent.pid, SIGHUP);
        kill(agent.pid, SIGPIPE);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(still_running(agent));

        kill(agent.pid, sig);
        int status = wait_exit(agent, 2000);
        ASSERT_NE(status, -1) << "no exit within two seconds";
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(exit_code(status), 0);
        EXPECT_FALSE(file_exists(pid_path()));
        // Nothing is printed while the agent runs.
        EXPECT_EQ(read_file(agent.out), "");
        EXPECT_EQ(read_file(agent.err), "");
    }
}

TEST_F(Binary, SecondAgentOnTheSameDirectoryExitsOneAndLeavesThePidFile) {
    Child first = start(logs_, "first", {dir_.path()});
    ASSERT_TRUE(wait_for_contents(pid_path(), pid_line(first), 2000));

    Child second = start(logs_, "second", {dir_.path()});
    EXPECT_EQ(exit_code(wait_exit(second, 2000)), 1);
    const std::string said = read_file(second.err);
    EXPECT_NE(said.find(std::to_string(first.pid)), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    EXPECT_EQ(read_file(pid_path()), pid_line(first));
    EXPECT_TRUE(still_running(first));

    kill(first.pid, SIGTERM);
    EXPECT_EQ(exit_code(wait_exit(first, 2000)), 0);

    // Once the first has stopped, the directory is free again.
    Child third = start(logs_, "third", {dir_.path()});
    EXPECT_TRUE(wait_for_contents(pid_path(), pid_line(third), 2000));
    kill(third.pid, SIGTERM);
    EXPECT_EQ(exit_code(wait_exit(third, 2000)), 0);
}

TEST_F(Binary, InstallDirectoryMayBeSplitOverArguments) {
    const std::string dir = dir_.file("My Backup");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/etc").c_str(), 0755), 0);
    Child agent = start(logs_, "agent", {"--", dir_.file("My"), "Backup"});
    EXPECT_TRUE(wait_for_contents(dir + "/etc/omvarcrond.pid", pid_line(agent), 2000));
    kill(agent.pid, SIGTERM);
    EXPECT_EQ(exit_code(wait_exit(agent, 2000)), 0);
    EXPECT_FALSE(file_exists(dir + "/etc/omvarcrond.pid"));
}

// The etc directory may be writable by less trusted programs: whatever they put at
// the pid file's path is replaced, never written through.
TEST_F(Binary, PidFilePathIsReplacedNeverFollowed) {
    enum Kind { kSymlinkToFile, kDanglingSymlink, kFifo, kHardLink };
    const char* names[] = {"symlink to a file", "dangling symlink", "fifo", "hard link"};
    for (Kind kind : {kSymlinkToFile, kDanglingSymlink, kFifo, kHardLink}) {
        SCOPED_TRACE(names[kind]);
        TempDir elsewhere;
        const std::string target = elsewhere.file("target");
        if (kind != kDanglingSymlink) {
            omvar::test::write_file(target, "keep me\n");
        }
        switch (kind) {
            case kSymlinkToFile:
            case kDanglingSymlink:
                ASSERT_EQ(symlink(target.c_str(), pid_path().c_str()), 0);
                break;
            case kFifo:
                ASSERT_EQ(mkfifo(pid_path().c_str(), 0644), 0);
                break;
            case kHardLink:
                ASSERT_EQ(link(target.c_str(), pid_path().c_str()), 0);
                break;
        }
        Child agent = start(logs_, "agent", {dir_.path()});
        EXPECT_TRUE(wait_for_contents(pid_path(), pid_line(agent), 2000));
        struct stat st {};
        ASSERT_EQ(lstat(pid_path().c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        kill(agent.pid, SIGTERM);
        EXPECT_EQ(exit_code(wait_exit(agent, 2000)), 0);
        EXPECT_FALSE(file_exists(pid_path()));
        if (kind == kDanglingSymlink) {
            EXPECT_FALSE(file_exists(target));
        } else if (kind != kFifo) {
            EXPECT_EQ(read_file(target), "keep me\n");
        }
    }
}

TEST_F(Binary, StartUpFailuresExitOneWithTheirLogLine) {
    struct Case {
        std::string dir;
        std::string line;
    };
    const Case cases[] = {
        {dir_.file("missing"), "agent\\cron\\cron:167\n"},
        {"\"" + dir_.path() + "\"", "agent\\cron\\cron:167\n"},
        {"/" + std::string(1100, 'x'), "agent\\cron\\cron:159\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        Child agent = start(logs_, "agent", {c.dir});
        EXPECT_EQ(exit_code(wait_exit(agent, 2000)), 1);
        EXPECT_EQ(read_file(agent.err), c.line);
        EXPECT_EQ(read_file(agent.out), "");
    }
    EXPECT_FALSE(file_exists(pid_path()));
}

TEST_F(Binary, HelpVersionAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int code;
        bool to_stdout;      // the text goes to standard output (else standard error)
        std::string starts;  // what that text begins with
    };
    const Case cases[] = {
        {{"--help"}, 0, true, "usage: omvar-cron"},
        {{"--version"}, 0, true, "omvar-cron "},
        {{}, 2, false, "omvar-cron: "},
        {{"--bogus"}, 2, false, "omvar-cron: unknown option '--bogus'"},
        {{dir_.path(), "--verbose"}, 2, false, "omvar-cron: unknown option '--verbose'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.back());
        Child agent = start(logs_, "agent", c.args);
        EXPECT_EQ(exit_code(wait_exit(agent, 2000)), c.code);
        const std::string out = read_file(agent.out);
        const std::string err = read_file(agent.err);
        const std::string& text = c.to_stdout ? out : err;
        EXPECT_EQ(text.rfind(c.starts, 0), 0u) << text;
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(c.to_stdout ? err : out, "");
    }
    EXPECT_FALSE(file_exists(pid_path()));
}

// The service manager's socket, at a path or at an abstract address ("@name").
TEST_F(Binary, ReportsReadyAndStoppingToTheServiceManager) {
    for (bool abstract : {false, true}) {
        SCOPED_TRACE(abstract ? "abstract" : "path");
        // Abstract names live in the network namespace: unique per test process.
        const std::string name =
            abstract ? "@omvar-notify-test-" + std::to_string(getpid()) : logs_.file("notify");
        int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(sock, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(name.size(), sizeof addr.sun_path);
        std::memcpy(addr.sun_path, name.data(), name.size());
        socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (abstract) {
            addr.sun_path[0] = '\0';
        } else {
            length += 1;
        }
        ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), length), 0) << std::strerror(errno);
        timeval timeout{2, 0};
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        auto receive = [&]() {
            char message[256];
            ssize_t n = recv(sock, message, sizeof message, 0);
            return n > 0 ? std::string(message, static_cast<std::size_t>(n)) : std::string("<nothing>");
        };

        Child agent = start(logs_, "agent", {dir_.path()}, name.c_str());
        EXPECT_EQ(receive(), "READY=1");
        EXPECT_TRUE(wait_for_contents(pid_path(), pid_line(agent), 2000));
        kill(agent.pid, SIGTERM);
        EXPECT_EQ(receive(), "STOPPING=1");
        EXPECT_EQ(exit_code(wait_exit(agent, 2000)), 0);
        EXPECT_EQ(read_file(agent.err), "");
        close(sock);
        if (!abstract) {
            unlink(name.c_str());
        }
    }
}

// A variable that names no listening socket is ignored: the agent runs and stops
// as it does without one.
TEST_F(Binary, UnusableNotifySocketIsIgnored) {
    omvar::test::write_file(logs_.file("plain"), "not a socket\n");
    const std::string unusable[] = {
        "",
        logs_.file("missing/notify"),
        logs_.file("plain"),
        "notify",  // relative
        "@",       // an empty abstract name
        "@omvar-notify-nobody-listens-" + std::to_string(getpid()),
        "/" + std::string(300, 'x'),  // longer than a socket address holds
        "@" + std::string(300, 'x'),
        "vsock:2:999",
        "\x01\x7f garbage",
    };
    for (const std::string& name : unusable) {
        SCOPED_TRACE(name);
        Child agent = start(logs_, "agent", {dir_.path()}, name.c_str());
        EXPECT_TRUE(wait_for_contents(pid_path(), pid_line(agent), 2000));
        kill(agent.pid, SIGTERM);
        EXPECT_EQ(exit_code(wait_exit(agent, 2000)), 0);
        EXPECT_EQ(read_file(agent.err), "");
        EXPECT_FALSE(file_exists(pid_path()));
    }
}

// An install directory of exactly `length` bytes below base, made of nested
// directories (a single name may not exceed 255 bytes), with its etc directory.
std::string make_install_dir(const std::string& base, std::size_t length) {
    std::string dir = base;
    while (dir.size() < length) {
        std::size_t room = length - dir.size() - 1;  // after the '/'
        // Leave no remainder too short to form a name of its own.
        std::size_t name = room > 200 ? (room - 200 < 2 ? 150 : 200) : room;
        dir += "/" + std::string(name, 'd');
        if (mkdir(dir.c_str(), 0755) != 0) {
            return "";
        }
    }
    return mkdir((dir + "/etc").c_str(), 0755) == 0 ? dir : "";
}

// The one-agent lock holds for every install directory start-up accepts, up to
// the longest, whose pid file path runs well past 1024 bytes.
TEST_F(Binary, SecondAgentOnTheLongestInstallDirectoryExitsOne) {
    const std::string dir = make_install_dir(dir_.path(), omvar::cron::kPathSize - 1);
    ASSERT_EQ(dir.size(), omvar::cron::kPathSize - 1) << "could not build the directory";
    const std::string pid = dir + "/etc/omvarcrond.pid";

    // No assertion may end the test from here on: both agents must be stopped.
    Child first = start(logs_, "first", {dir});
    EXPECT_TRUE(wait_for_contents(pid, pid_line(first), 2000)) << read_file(first.err);

    Child second = start(logs_, "second", {dir});
    EXPECT_EQ(exit_code(wait_exit(second, 2000)), 1);
    const std::string said = read_file(second.err);
    EXPECT_NE(said.find("(pid " + std::to_string(first.pid) + ")"), std::string::npos) << said;
    EXPECT_EQ(read_file(pid), pid_line(first));
    EXPECT_TRUE(still_running(first));

    kill(first.pid, SIGTERM);
    EXPECT_EQ(exit_code(wait_exit(first, 2000)), 0);
    EXPECT_FALSE(file_exists(pid));
}

}  // namespace
