// Shared helpers of the tests: temporary install directories, captured debug
// lines, a simulated clock that runs hours of ticks in milliseconds, a recorder
// that stands in for the companion starts and the engine's channel, and the
// reset of the agent's process-wide state. Every test uses these, never its own.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "agent/platform/platform.h"

namespace omvar::test {

// A fresh directory below the system's temporary directory, removed afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The stand-ins below are in force while they live, in a test program that
// names their part of the system in its build (REPLACES in tests/CMakeLists.txt:
// debug_output, clock, launch and mailslot; tests/system_standins/). Without
// one alive, that part is the system's.

// Collects every debug line while it lives.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    const std::vector<std::string>& lines() const;
};

// Simulated time while it lives: now() reads the counter, a sleep advances it,
// and scheduled jumps change it as a user setting the system clock would.
// Local time is the system's conversion in the current TZ.
class FakeClock {
  public:
    explicit FakeClock(platform::Seconds start);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    platform::Seconds now = 0;
    long long slept_ms = 0;
    int sleeps = 0;

    // Once the clock has reached `when` (after a sleep), it moves by `delta`.
    void jump_at(platform::Seconds when, platform::Seconds delta);

    // Run at every reading of now(), and after every sleep (with the milliseconds
    // asked for) once the clock has moved.
    std::function<void()> on_read;
    std::function<void(unsigned ms)> on_sleep;

  private:
    friend struct FakeClockAccess;
    struct Jump {
        platform::Seconds when;
        platform::Seconds delta;
        bool done;
    };
    std::vector<Jump> jumps_;
};

// Stands in for the companion programs' start and the engine's channel while it
// lives, and records every call in order. Every open, write and launch succeeds
// unless scripted otherwise; nothing is started and nothing is sent, unless
// to_system passes the calls on.
class Recorder {
  public:
    struct Call {
        enum Kind { kOpen, kWrite, kClose, kLaunch, kSleep } kind;
        std::string text;  // open: the name; write: the message; launch: the command line; sleep: ms
        platform::MailslotHandle handle;  // of the open (when it succeeded), write and close
        int result;                       // what the call returned (0 for close and sleep)
    };

    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Scripted answers, taken one per call: nonzero fails that call. None left: success.
    std::deque<int> open_results;
    std::deque<int> write_results;
    int launch_result = 0;
    platform::MailslotHandle next_handle = 7;  // given by the next successful open
    // Each call is made on the system, and recorded with the system's answer.
    bool to_system = false;

    std::vector<Call> calls;
    std::vector<platform::LaunchSpec> launch_specs;  // their texts are the agent's own buffers

    int count(Call::Kind kind) const;
    // Every message, and every message but the one-byte probe with its NUL taken
    // off (a request without one is marked "<no NUL>").
    std::vector<std::string> messages() const;
    std::vector<std::string> requests() const;
    // Notes a sleep among the calls (for a FakeClock's on_sleep).
    void note_sleep(unsigned ms) { calls.push_back({Call::kSleep, std::to_string(ms), 0, 0}); }

    // The one alive, or nullptr; the stand-ins of the launch and the channel
    // hand it their calls.
    static Recorder* active();
    int launch(const platform::LaunchSpec& launch_spec);
    int open(const char* name, platform::MailslotHandle* handle);
    int write(platform::MailslotHandle handle, const void* data, std::size_t length);
    void close(platform::MailslotHandle handle);
};

// Puts the agent's process-wide state back as a new process has it: settings,
// tick clock, minute tick, cached key and open channel. (The service flag and
// record are the hosting test's.)
void reset_agent_state();

// Puts the working directory back when it goes (agent_init enters the install
// directory). Declare it after the directories it may be inside: it leaves them
// before they are removed, which Windows requires.
class ScopedCwd {
  public:
    ScopedCwd();
    ~ScopedCwd() { restore(); }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;
    void restore() const;
    const std::string& saved() const { return saved_; }

  private:
    std::string saved_;
};

// Seconds since the epoch of a local time in the current TZ.
platform::Seconds local_seconds(int year, int month, int day, int hour, int minute, int second);
std::string local_text(platform::Seconds t);  // "YYYY-MM-DD HH:MM:SS"

// Sets TZ for the life of the object.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();

  private:
    std::string old_;
    bool had_old_;
};

// The end of a line written in text mode: the Windows runtime turns "\n" into "\r\n".
#ifdef _WIN32
inline const char kTextLineEnd[] = "\r\n";
#else
inline const char kTextLineEnd[] = "\n";
#endif

// Limits of the Windows file system that no portable code can lift, for the few
// cases that need POSIX paths: a path longer than MAX_PATH (260 bytes) cannot be
// entered or opened, and a blank at the end of a name is dropped, so "dir " names
// "dir". Tests of these cases skip themselves, or leave such rows out, on Windows.
#ifdef _WIN32
constexpr bool kPathsBeyondMaxPath = false;
constexpr bool kTrailingBlankKeptInNames = false;
#else
constexpr bool kPathsBeyondMaxPath = true;
constexpr bool kTrailingBlankKeptInNames = true;
#endif
#define OMVAR_SKIP_WITHOUT_LONG_PATHS()                                              \
    do {                                                                             \
        if (!::omvar::test::kPathsBeyondMaxPath) {                                   \
            GTEST_SKIP() << "paths beyond MAX_PATH cannot be used on this platform"; \
        }                                                                            \
    } while (0)

// For a case that needs what only POSIX systems give a test (symlinks made
// without privileges, the host's time-zone database): skipped on Windows.
#ifdef _WIN32
#define OMVAR_POSIX_ONLY(why) GTEST_SKIP() << "POSIX only: " why
#else
#define OMVAR_POSIX_ONLY(why) static_cast<void>(0)
#endif

// Polls cond every few milliseconds of real time; false if it did not hold within timeout_ms.
bool wait_until(const std::function<bool()>& cond, int timeout_ms);
// Real milliseconds since `since`.
long elapsed_ms(std::chrono::steady_clock::time_point since);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool file_exists(const std::string& path);

}  // namespace omvar::test
