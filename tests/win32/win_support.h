// Helpers of the Windows tests: build outputs as Windows paths, running programs
// with a timeout, the engine stand-in, and a listener for debugger output.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/platform/inspect.h"
#include "test_support.h"

namespace omvar::wintest {

// The path with every "/" made a "\\".
std::string win_path(std::string path);
// A path of the Linux build tree as Wine sees it (drive Z: is the root).
std::string host_path(const char* build_path);
std::string engine_exe();    // the engine stand-in
std::string recorder_exe();  // the recorder stand-in
std::string cron_exe();      // omvar-cron.exe
std::string zbs_exe();       // omvar-zbs.exe

void copy_program(const std::string& from, const std::string& to);
bool exists(const std::string& path);

// A file's access list in SDDL ("D:P(A;;FA;;;SY)..."), "" when it cannot be
// read; and replacing it with one given so. Wine keeps no list of its own: it
// derives one from the Unix mode (owner, SYSTEM, and Everyone for the "other"
// bits) and maps a list it is given back onto the mode.
std::string dacl_sddl(const std::string& path);
bool set_dacl(const std::string& path, const std::string& sddl);
bool under_wine();

struct RunResult {
    bool finished;  // false: killed after the timeout
    DWORD exit_code;
    std::string output;  // standard output and standard error
};
// Runs a command line to its end (at most timeout_ms, or until stop_when
// holds), capturing its output.
RunResult run(const std::string& command_line, int timeout_ms, const char* cwd = nullptr,
              const std::function<bool()>& stop_when = nullptr);

// Starts a program that keeps running; the caller owns the handle.
HANDLE start(const std::string& command_line, const char* cwd);

// The engine stand-in, started in dir with its record and markers there.
class Engine {
  public:
    explicit Engine(const std::string& dir);
    ~Engine();
    bool ready() const { return ready_; }
    std::string record() const { return dir_ + "\\engine-record.txt"; }
    // The messages read so far, as (length, bytes) in order.
    std::vector<std::string> messages() const;
    void stop();

  private:
    std::string dir_;
    HANDLE process_ = nullptr;
    bool ready_ = false;
};

// The "msg" payloads of an engine record.
std::vector<std::string> engine_messages(const std::string& record);

struct DebugLine {
    DWORD pid;
    std::string text;
};

// Receives what OutputDebugStringA writes in any process of the session (and
// on the global channel), with the platform layer's listener, the one
// omvar-zbs watch uses. One at a time.
class DbwinListener {
  public:
    DbwinListener();
    ~DbwinListener();
    bool listening() const { return listening_; }
    std::vector<DebugLine> lines();
    bool wait_for(const std::function<bool(const DebugLine&)>& match, int timeout_ms);

  private:
    void run();
    platform::DebugListener listener_{};
    bool listening_ = false;
    volatile bool quit_ = false;
    std::mutex mutex_;
    std::vector<DebugLine> lines_;
    std::thread thread_;
};

}  // namespace omvar::wintest
