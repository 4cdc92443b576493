// Helpers for tests that run the companion stand-ins (test_engine.cpp,
// recorder.cpp): installing them under the product's names, waiting for their
// records, stopping a started engine, and the queue it uses.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "standins/deadline.h"
#include "test_support.h"

namespace omvar::test {

constexpr char kEngineQueue[] = "/omvarbackup";

// Copies the engine stand-in into dir as "omvar-backup.exe".
void install_engine(const std::string& dir);
// Copies the recorder stand-in into dir as name ("omvar-update1.exe", ...).
void install_recorder(const std::string& dir, const std::string& name);

bool wait_for_file(const std::string& path, int timeout_ms);

std::vector<std::string> read_lines(const std::string& path);
// The "msg" lines of an engine record, in order.
std::vector<std::string> engine_messages(const std::string& record);
// The record line the engine writes for a message with these bytes, for the
// one-byte probe, and for a request for path (sent with its NUL).
std::string message_line(const std::string& bytes);
std::string probe_line();
std::string request_line(const std::string& path);
// This process's nice value: a started companion's is compared with it.
int own_nice();

// The tab-separated "key=value" field of the engine's "start" line ("" if none).
std::string start_field(const std::string& record, const std::string& key);
// Number of "start" lines (engine) or "run" blocks (recorder) in a record.
int count_lines_starting(const std::string& record, const std::string& prefix);

// One run of the recorder stand-in, as it recorded itself.
struct RecorderRun {
    std::string name;  // the program's file name, e.g. "omvar-txmail.exe"
    std::string argv0;
    std::vector<std::string> args;  // argv[1..]
    std::string cwd;
    int nice = 0;
    std::string fds;     // "0,1,2"
    std::string sigign;  // hex masks of ignored and blocked signals
    std::string sigblk;
};
// The complete runs in a recorder record, in order.
std::vector<RecorderRun> recorder_runs(const std::string& record);

// Sends SIGTERM to the engine whose ready marker this is and waits until it has
// removed its queue and the marker. False if it did not stop in time.
bool stop_engine(const std::string& ready_marker, int timeout_ms = 3000);

// Removes the queue if one is left; true if there was one.
bool remove_engine_queue();
bool engine_queue_exists();

}  // namespace omvar::test
