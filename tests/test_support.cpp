#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/key_file.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/system.h"

namespace omvar::test {

#ifdef _WIN32
// No mkdtemp in the Windows runtime: try fresh names until one can be created.
TempDir::TempDir() {
    const char* base = std::getenv("TEMP");
    if (base == nullptr) {
        base = std::getenv("TMP");
    }
    std::string root = base != nullptr ? base : "C:\\Windows\\Temp";
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = root + "\\omvar-test-" + std::to_string(_getpid()) + "-" +
                                std::to_string(++counter) + "-" + std::to_string(std::rand());
        if (_mkdir(candidate.c_str()) == 0) {
            path_ = candidate;
            return;
        }
    }
    std::abort();
}
#else
TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/omvar-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        std::abort();
    }
    path_ = buffer.data();
}
#endif

TempDir::~TempDir() {
    std::error_code ignored;
#ifdef _WIN32
    // Read-only files cannot be deleted on Windows; make everything writable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
#else
    // Tests make directories read-only; give the owner back the right to clean up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            chmod(it->path().c_str(), 0700);
        }
    }
    chmod(path_.c_str(), 0700);
#endif
    std::filesystem::remove_all(path_, ignored);
}

namespace {

Recorder* active_recorder = nullptr;

int take(std::deque<int>* results) {
    if (results->empty()) {
        return 0;
    }
    int r = results->front();
    results->pop_front();
    return r;
}

}  // namespace

Recorder::Recorder() { active_recorder = this; }

Recorder::~Recorder() { active_recorder = nullptr; }

Recorder* Recorder::active() { return active_recorder; }

int Recorder::open(const char* name, platform::MailslotHandle* handle) {
    int result = 0;
    if (to_system) {
        result = platform::system::mailslot_open(name, handle);
    } else if (take(&open_results) != 0) {
        result = -1;
    } else {
        *handle = next_handle++;
    }
    calls.push_back({Call::kOpen, name, result == 0 ? *handle : -1, result});
    return result;
}

int Recorder::write(platform::MailslotHandle handle, const void* data, std::size_t length) {
    const int result = to_system                   ? platform::system::mailslot_write(handle, data, length)
                       : take(&write_results) != 0 ? -1
                                                   : 0;
    calls.push_back({Call::kWrite, std::string(static_cast<const char*>(data), length), handle, result});
    return result;
}

void Recorder::close(platform::MailslotHandle handle) {
    calls.push_back({Call::kClose, "", handle, 0});
    if (to_system) {
        platform::system::mailslot_close(handle);
    }
}

int Recorder::launch(const platform::LaunchSpec& launch_spec) {
    const int result = to_system ? platform::system::launch_process(launch_spec) : launch_result;
    calls.push_back({Call::kLaunch, launch_spec.command_line, 0, result});
    launch_specs.push_back(launch_spec);
    return result;
}

int Recorder::count(Call::Kind kind) const {
    int n = 0;
    for (const Call& call : calls) {
        n += call.kind == kind ? 1 : 0;
    }
    return n;
}

std::vector<std::string> Recorder::messages() const {
    std::vector<std::string> out;
    for (const Call& call : calls) {
        if (call.kind == Call::kWrite) {
            out.push_back(call.text);
        }
    }
    return out;
}

std::vector<std::string> Recorder::requests() const {
    std::vector<std::string> out;
    for (const std::string& message : messages()) {
        if (message == std::string(1, '\0')) {
            continue;
        }
        // The path travels with its NUL.
        out.push_back(!message.empty() && message.back() == '\0' ? message.substr(0, message.size() - 1)
                                                                 : message + "<no NUL>");
    }
    return out;
}

void reset_agent_state() {
    dispatch::mailslot_close();
    crypt::reset_schedule_key_cache();
    cron::agent_settings = cron::AgentSettings{};
    cron::next_tick = 0;
    cron::last_minute = -1;
    dispatch::set_companion_commands(nullptr);
}

platform::Seconds local_seconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<platform::Seconds>(std::mktime(&t));
}

std::string local_text(platform::Seconds t) {
    std::time_t value = static_cast<std::time_t>(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &value);
#else
    localtime_r(&value, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) {
        old_ = old;
    }
#ifdef _WIN32
    _putenv_s("TZ", tz);
    _tzset();
#else
    setenv("TZ", tz, 1);
    tzset();
#endif
}

ScopedTimeZone::~ScopedTimeZone() {
#ifdef _WIN32
    // An empty value removes the variable.
    _putenv_s("TZ", had_old_ ? old_.c_str() : "");
    _tzset();
#else
    if (had_old_) {
        setenv("TZ", old_.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
#endif
}

ScopedCwd::ScopedCwd() {
    std::error_code ec;
    saved_ = std::filesystem::current_path(ec).string();
    if (ec) {
        ADD_FAILURE() << "no working directory: " << ec.message();
    }
}

void ScopedCwd::restore() const {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
    if (ec) {
        ADD_FAILURE() << "cannot return to " << saved_ << ": " << ec.message();
    }
}

bool wait_until(const std::function<bool()>& cond, int timeout_ms) {
#ifdef _WIN32
    const auto poll = std::chrono::milliseconds(20);  // Wine's processes answer slower
#else
    const auto poll = std::chrono::milliseconds(5);
#endif
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (cond()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
}

long elapsed_ms(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

bool file_exists(const std::string& path) {
#ifdef _WIN32
    struct _stat st {};
    return _stat(path.c_str(), &st) == 0;
#else
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
#endif
}

}  // namespace omvar::test
