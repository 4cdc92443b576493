#include "e2e_support.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "standins/standin_control.h"

namespace omvar::test {

std::string libfaketime_path() {
    const char* configured = OMVAR_LIBFAKETIME;  // "...-NOTFOUND" when it was missing
    return configured[0] == '/' && access(configured, R_OK) == 0 ? configured : "";
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& cwd,
            const std::string& out_path, const std::string& err_path, uid_t user, bool own_session) {
    // Everything the child needs is built before the fork.
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0 || (own_session && setsid() < 0)) {
        _exit(126);
    }
    if (close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 4096; ++fd) {
            close(fd);
        }
    }
    // Supplementary groups too: a program run as nobody must not keep root's group.
    if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) {
        _exit(125);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

std::string proc_stat_field(pid_t pid, int field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    // "pid (comm) state ...": comm may hold blanks, so count from the last ')'.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || field < 3) {
        return "";
    }
    std::istringstream rest(text.substr(close + 1));
    std::string value;
    for (int at = 3; at <= field && rest >> value; ++at) {
    }
    return rest ? value : "";
}

int wait_exit(pid_t pid, int timeout_ms) {
    int status = 0;
    if (!wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms)) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

int stop_child(pid_t pid, int timeout_ms) {
    kill(pid, SIGTERM);
    int code = wait_exit(pid, timeout_ms);
    if (code == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return code < 0 ? -1 : code;
}

namespace {

// True if the user can run the file, as the kernel decides it for that user.
bool user_can_run(const std::string& path, uid_t user) {
    pid_t child = fork();
    if (child == 0) {
        bool as_user = setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0;
        _exit(as_user && access(path.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string copy_for_user(const std::string& program, const std::string& dir, uid_t user, std::string* why) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    const std::string copy = dir + "/" + std::filesystem::path(program).filename().string();
    if (error ||
        !std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing,
                                    error) ||
        chmod(dir.c_str(), 0755) != 0 || chmod(copy.c_str(), 0755) != 0) {
        *why = "cannot copy " + program + " into " + dir + ": " +
               (error ? error.message() : std::strerror(errno));
        return "";
    }
    if (!user_can_run(copy, user)) {
        *why = "user " + std::to_string(user) + " cannot run " + copy +
               ": a directory above it is closed to others (set TMPDIR to a directory all users can reach)";
        return "";
    }
    return copy;
}

}  // namespace omvar::test
