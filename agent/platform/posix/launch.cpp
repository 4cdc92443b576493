// Starting a companion program on POSIX systems: the program in its directory,
// with its arguments as an argv (no shell, and the Windows command line is not
// read), detached from the agent.
//
// The agent forks a child that forks the program and exits at once; the agent
// reaps that child, so the program is never the agent's child and can never
// become its zombie, and no SIGCHLD handling is needed (except as process 1 or
// a subreaper, which inherit the programs; see below). A close-on-exec pipe
// carries an errno back from the program's side if chdir, setpriority or execv
// fails, so a start that failed is known before launch_process returns; end of
// file on the pipe means the exec happened.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "agent/base/text.h"
#include "agent/platform/posix/layer.h"
#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

// Below-normal priority; never more favourable than the agent's own.
constexpr int kBelowNormalNice = 10;

// At most this many arguments after the program.
constexpr std::size_t kMaxArguments = 16;

// The argv of one start. Only the single loop thread launches, so one record
// serves every start.
struct ProgramArgv {
    char path[kProgramPathSize];
    char* argv[kMaxArguments + 2];
};
ProgramArgv launch_argv;

// False when the path does not fit or there are too many arguments.
bool form_argv(const LaunchSpec& launch_spec, ProgramArgv* out) {
    if (!program_path(launch_spec, out->path)) {
        return false;
    }
    std::size_t count = 0;
    out->argv[count++] = out->path;
    for (const char* const* argument = launch_spec.arguments; argument != nullptr && *argument != nullptr;
         ++argument) {
        if (count > kMaxArguments) {
            return false;
        }
        // execve takes char* const[] for historical reasons; it never writes through them.
        out->argv[count++] = const_cast<char*>(*argument);
    }
    out->argv[count] = nullptr;
    return true;
}

[[noreturn]] void report_and_exit(int fd, int error) {
    ssize_t ignored = write(fd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Runs in the grandchild, between fork and exec: async-signal-safe calls only.
[[noreturn]] void become_program(const LaunchSpec& launch_spec, char* const* argv, int report_fd) {
    // Ignored signals and the blocked mask would survive exec; the program gets
    // the defaults, as a program started afresh would.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        sigaction(sig, &defaults, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (launch_spec.working_dir != nullptr && chdir(launch_spec.working_dir) != 0) {
        report_and_exit(report_fd, errno);
    }
    if (launch_spec.below_normal_priority) {
        errno = 0;
        int own = getpriority(PRIO_PROCESS, 0);
        if (errno != 0) {
            report_and_exit(report_fd, errno);
        }
        if (own < kBelowNormalNice && setpriority(PRIO_PROCESS, 0, kBelowNormalNice) != 0) {
            report_and_exit(report_fd, errno);
        }
    }
    execve(argv[0], argv, environ);
    report_and_exit(report_fd, errno);
}

// 0 when the pipe closed without a report (the program is running), -1 otherwise.
int read_start_report(int fd) {
    int error = 0;
    for (;;) {
        ssize_t n = read(fd, &error, sizeof error);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n == 0 ? 0 : -1;
    }
}

void reap(pid_t child) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    // ECHILD: something in the process reaps children itself; nothing is left over.
}

// As process 1 (a container's entry point) or a child subreaper the agent
// becomes the parent of every program it starts, once the middle child is gone:
// the kernel is then told to reap exited children itself. A plain agent keeps
// the default, so that nothing else in the process loses its children.
void reap_adopted_programs() {
    static bool set = false;
    if (set) {
        return;
    }
    int subreaper = 0;
    if (getpid() != 1 && (prctl(PR_GET_CHILD_SUBREAPER, &subreaper) != 0 || subreaper == 0)) {
        return;
    }
    struct sigaction auto_reap {};
    auto_reap.sa_handler = SIG_DFL;
    auto_reap.sa_flags = SA_NOCLDWAIT;
    sigemptyset(&auto_reap.sa_mask);
    set = sigaction(SIGCHLD, &auto_reap, nullptr) == 0;
}

}  // namespace

int system::launch_process(const LaunchSpec& launch_spec) {
    reap_adopted_programs();
    if (!form_argv(launch_spec, &launch_argv)) {
        return -1;
    }

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (child == 0) {
        close(report[0]);
        pid_t program = fork();
        if (program < 0) {
            report_and_exit(report[1], errno);
        }
        if (program > 0) {
            _exit(0);
        }
        become_program(launch_spec, launch_argv.argv, report[1]);
    }
    close(report[1]);
    reap(child);
    int result = read_start_report(report[0]);
    close(report[0]);
    return result;
}

bool program_path(const LaunchSpec& launch_spec, char (&out)[kProgramPathSize]) {
    if (launch_spec.program_dir == nullptr || launch_spec.program_name == nullptr ||
        launch_spec.program_dir[0] == '\0' || launch_spec.program_name[0] == '\0') {
        return false;
    }
    return base::format_checked(out, sizeof out, "%s/%s", launch_spec.program_dir, launch_spec.program_name);
}

}  // namespace omvar::platform
