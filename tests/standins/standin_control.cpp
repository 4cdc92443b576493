#include "standins/standin_control.h"

#include <mqueue.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hex.h"

namespace omvar::test {

namespace {

void copy_program(const char* from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    chmod(to.c_str(), 0755);
}

}  // namespace

void install_engine(const std::string& dir) { copy_program(OMVAR_TEST_ENGINE, dir + "/omvar-backup.exe"); }

void install_recorder(const std::string& dir, const std::string& name) {
    copy_program(OMVAR_TEST_RECORDER, dir + "/" + name);
}

bool wait_for_file(const std::string& path, int timeout_ms) {
    return wait_until([&] { return access(path.c_str(), F_OK) == 0; }, timeout_ms);
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> engine_messages(const std::string& record) {
    std::vector<std::string> out;
    for (const std::string& line : read_lines(record)) {
        if (line.rfind("msg\t", 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

std::string message_line(const std::string& bytes) {
    return "msg\t" + std::to_string(bytes.size()) + "\t" + to_hex(bytes);
}

std::string probe_line() { return message_line(std::string(1, '\0')); }

std::string request_line(const std::string& path) { return message_line(path + std::string(1, '\0')); }

int own_nice() {
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
}

std::string start_field(const std::string& record, const std::string& key) {
    for (const std::string& line : read_lines(record)) {
        if (line.rfind("start\t", 0) != 0) {
            continue;
        }
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            if (field.rfind(key + "=", 0) == 0) {
                return field.substr(key.size() + 1);
            }
        }
    }
    return "";
}

int count_lines_starting(const std::string& record, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : read_lines(record)) {
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

std::vector<RecorderRun> recorder_runs(const std::string& record) {
    std::vector<RecorderRun> runs;
    RecorderRun run;
    for (const std::string& line : read_lines(record)) {
        std::size_t tab = line.find('\t');
        std::string key = line.substr(0, tab);
        std::string value = tab == std::string::npos ? "" : line.substr(tab + 1);
        if (key == "run") {
            run = RecorderRun{};
            run.name = value;
        } else if (key == "argv0") {
            run.argv0 = value;
        } else if (key == "arg") {
            run.args.push_back(value);
        } else if (key == "cwd") {
            run.cwd = value;
        } else if (key == "nice") {
            run.nice = std::atoi(value.c_str());
        } else if (key == "fds") {
            run.fds = value;
        } else if (key == "sigign") {
            run.sigign = value;
        } else if (key == "sigblk") {
            run.sigblk = value;
        } else if (key == "end") {
            runs.push_back(run);
        }
    }
    return runs;
}

bool stop_engine(const std::string& ready_marker, int timeout_ms) {
    std::ifstream in(ready_marker);
    long pid = 0;
    if (!(in >> pid) || pid <= 0) {
        return false;
    }
    kill(static_cast<pid_t>(pid), SIGTERM);
    return wait_until([&] { return access(ready_marker.c_str(), F_OK) != 0; }, timeout_ms);
}

bool remove_engine_queue() { return mq_unlink(kEngineQueue) == 0; }

bool engine_queue_exists() {
    mqd_t q = mq_open(kEngineQueue, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (q == static_cast<mqd_t>(-1)) {
        return false;
    }
    mq_close(q);
    return true;
}

}  // namespace omvar::test
