// Stand-in for the backup engine omvar-backup.exe, for unit and end-to-end tests.
//
// Copy it into an install directory as "omvar-backup.exe". Started with the one
// argument "background" it creates the message queue "/omvarbackup" (removing a
// stale queue of the same user first; a queue of another user makes it fail with
// exit code 3), writes a ready marker, and appends every message it reads to a
// record file until SIGTERM or SIGINT; then it removes the queue (if still its
// own), appends "stop" and removes the ready marker, in that order, and exits 0.
// Any other argument list: exit code 2, nothing created.
//
// Environment (all optional):
//   OMVAR_ENGINE_RECORD=path        record file (default "engine-record.txt" in the
//                                   working directory)
//   OMVAR_ENGINE_READY=path         ready marker (default "engine-ready" in the working
//                                   directory); holds the engine's pid and a newline;
//                                   created only after the queue exists
//   OMVAR_ENGINE_MSGSIZE=n          mq_msgsize of the queue (default 4096)
//   OMVAR_ENGINE_MAXMSG=n           mq_maxmsg of the queue (default 10)
//   OMVAR_ENGINE_READ_DELAY_MS=n    sleep this long after each message read
//   OMVAR_ENGINE_NO_READ=1          create the queue but never read it
//   OMVAR_ENGINE_START_DELAY_MS=n   wait this long before creating the queue
//   OMVAR_ENGINE_STDOUT=1           also print "probe" or "request: <path>" per message
//                                   to standard output
//
// Record file, one line per event, fields separated by tabs, each line written
// with a single append:
//   start  pid=<pid>  nice=<nice>  cwd=<dir>  argv0=<argv[0]>  args=<argv[1..] joined by blanks>
//   msg    <length>   <bytes as lower-case hex, empty for an empty message>
//   error  <what>     <strerror text>
//   stop
// A probe appears as "msg\t1\t00"; the request for "/a/b" as "msg\t5\t2f612f6200".
#include <errno.h>
#include <fcntl.h>
#include <mqueue.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hex.h"

namespace {

constexpr char kQueue[] = "/omvarbackup";

volatile sig_atomic_t stop_requested = 0;

extern "C" void on_stop(int) { stop_requested = 1; }

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : fallback;
}

long env_number(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

bool env_flag(const char* name) { return env_number(name, 0) != 0; }

std::string record_path;

void append_line(const std::string& line) {
    int fd = open(record_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

void record_error(const char* what) {
    append_line(std::string("error\t") + what + "\t" + std::strerror(errno));
}

void sleep_ms(long ms) {
    if (ms <= 0) {
        return;
    }
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR && !stop_requested) {
    }
}

void record_start(int argc, char** argv) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        std::strcpy(cwd, "?");
    }
    errno = 0;
    int nice_value = getpriority(PRIO_PROCESS, 0);
    std::string args;
    for (int i = 1; i < argc; ++i) {
        args += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    append_line("start\tpid=" + std::to_string(getpid()) + "\tnice=" + std::to_string(nice_value) +
                "\tcwd=" + cwd + "\targv0=" + argv[0] + "\targs=" + args);
}

// Removes a queue left behind by an earlier engine of this user.
bool remove_stale_queue() {
    mqd_t old = mq_open(kQueue, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (old == static_cast<mqd_t>(-1)) {
        return true;
    }
    struct stat st {};
    bool ours = fstat(old, &st) == 0 && st.st_uid == geteuid();
    mq_close(old);
    if (!ours) {
        errno = EPERM;
        record_error("stale queue of another user");
        return false;
    }
    mq_unlink(kQueue);
    return true;
}

// Unlinks the queue only if the name still refers to the one this engine made.
void remove_own_queue(mqd_t queue) {
    struct stat mine {};
    struct stat named {};
    mqd_t again = mq_open(kQueue, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (again == static_cast<mqd_t>(-1)) {
        return;
    }
    bool same = fstat(queue, &mine) == 0 && fstat(again, &named) == 0 && mine.st_ino == named.st_ino;
    mq_close(again);
    if (same) {
        mq_unlink(kQueue);
    }
}

void report_message(const char* data, std::size_t length, bool to_stdout) {
    append_line("msg\t" + std::to_string(length) + "\t" + omvar::test::to_hex(data, length));
    if (!to_stdout) {
        return;
    }
    if (length == 1 && data[0] == '\0') {
        std::printf("probe\n");
    } else {
        std::printf("request: %.*s\n", static_cast<int>(strnlen(data, length)), data);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "background") != 0) {
        std::fprintf(stderr, "usage: omvar-backup.exe background\n");
        return 2;
    }
    record_path = env_or("OMVAR_ENGINE_RECORD", "engine-record.txt");
    std::string ready_path = env_or("OMVAR_ENGINE_READY", "engine-ready");
    const long msgsize = env_number("OMVAR_ENGINE_MSGSIZE", 4096);
    const long maxmsg = env_number("OMVAR_ENGINE_MAXMSG", 10);
    const long read_delay = env_number("OMVAR_ENGINE_READ_DELAY_MS", 0);
    const bool no_read = env_flag("OMVAR_ENGINE_NO_READ");
    const bool to_stdout = env_flag("OMVAR_ENGINE_STDOUT");

    struct sigaction stop {};
    stop.sa_handler = on_stop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    record_start(argc, argv);
    sleep_ms(env_number("OMVAR_ENGINE_START_DELAY_MS", 0));
    if (stop_requested) {
        append_line("stop");
        return 0;
    }
    if (!remove_stale_queue()) {
        return 3;
    }
    mq_attr attr{};
    attr.mq_maxmsg = maxmsg;
    attr.mq_msgsize = msgsize;
    mqd_t queue = mq_open(kQueue, O_RDONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0600, &attr);
    if (queue == static_cast<mqd_t>(-1)) {
        record_error("mq_open");
        return 3;
    }
    std::string pid_text = std::to_string(getpid()) + "\n";
    int marker = open(ready_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (marker >= 0) {
        ssize_t ignored = write(marker, pid_text.data(), pid_text.size());
        (void)ignored;
        close(marker);
    }

    std::string buffer(static_cast<std::size_t>(msgsize), '\0');
    while (!stop_requested) {
        pollfd ready{queue, static_cast<short>(no_read ? 0 : POLLIN), 0};
        if (poll(&ready, 1, 100) <= 0 || no_read) {
            continue;
        }
        ssize_t n = mq_receive(queue, &buffer[0], buffer.size(), nullptr);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                record_error("mq_receive");
                sleep_ms(100);
            }
            continue;
        }
        report_message(buffer.data(), static_cast<std::size_t>(n), to_stdout);
        sleep_ms(read_delay);
    }

    remove_own_queue(queue);
    mq_close(queue);
    append_line("stop");
    unlink(ready_path.c_str());
    return 0;
}
