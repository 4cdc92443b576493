// The operating-system services the agent uses, one small set of plain functions;
// what the tools look at besides is in inspect.h.
// Only the files below agent/platform/posix and agent/platform/win32 implement them
// and include operating-system headers; everything else in the agent calls these.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "agent/base/sizes.h"

namespace omvar::platform {

// ---------------------------------------------------------------- clock and sleep

// Whole seconds since the epoch, as time() gives them.
using Seconds = std::int64_t;

// The clock, the sleep, the zone, the debugger output, process start, the
// channel and the directory watch are the parts of the system a test program
// may stand in for: which one is linked is settled at build time
// (agent/platform/system.h).

Seconds clock_now();
// Broken-down local time of t; on failure the record is zeroed and false returned.
bool clock_to_local(Seconds t, std::tm* out);
// May return early when a signal arrives (a stop request is then seen at once).
void sleep_ms(unsigned milliseconds);

// Makes clock_to_local use the zone the machine has now (TZ, when set, still
// decides): the system's zone is otherwise read once and kept. One look at the
// zone's file or setting; meant for once a minute, not for every conversion.
void clock_refresh_zone();

// ---------------------------------------------------------------- diagnostics

// One finished line ending in "\r\n", for the system debugger output.
void debug_output(const char* line);

// Where the system's own output goes: the debugger-output channel, which the
// tools can read back (inspect.h), or standard error (the journal under systemd).
enum class DebugDestination { kDebuggerChannel, kStandardError };
DebugDestination system_debug_destination();

// ---------------------------------------------------------------- process

int process_id();
// 0 on success, -1 on failure.
int change_directory(const char* path);

// ---------------------------------------------------------------- pid file

// The agent's pid file from acquire to release. Where the platform keeps one
// agent per install directory, acquire opens the file and takes an exclusive
// lock that the record's descriptor holds until release (or process exit);
// every write goes through that descriptor. Elsewhere nothing is locked and
// the file is written and deleted by its path.
struct PidFile {
    bool acquired;
    std::intptr_t handle;  // the locked descriptor, where there is one
    char path[base::kPidPathSize];
};

enum class PidLock { kAcquired, kHeldByOther, kUnavailable };
// For a record not yet acquired. kHeldByOther sets *holder_pid to the pid the
// other agent wrote (0 if unreadable); kUnavailable leaves the record unacquired.
PidLock pid_file_acquire(const char* path, PidFile* pid_file, int* holder_pid);
// Replaces the contents with "<pid>\n" (a text-mode line). 0, or -1 (also when
// not acquired).
int pid_file_write(PidFile* pid_file, int pid);
// Deletes the file and drops the lock; failures are ignored. Nothing when not
// acquired.
void pid_file_release(PidFile* pid_file);

// ---------------------------------------------------------------- files

// The same protections for a descriptor read with file_read and closed with
// file_close, never inherited by a started program: the schedule files are read
// this way, with no stream buffer between the file and the cipher. -1 on failure.
int file_open_regular(const char* path);

enum class FileStatus { kExists, kMissing, kError };
FileStatus file_status(const char* path);

// Descriptor-level I/O for the key file. Descriptors are -1 on failure.
int file_create_exclusive(const char* path);  // new file for writing, never an existing one
int file_open_read(const char* path);
int file_seek(int fd, long offset);  // from the start; 0 or -1
long file_read(int fd, void* data, std::size_t length);
long file_write(int fd, const void* data, std::size_t length);
void file_close(int fd);

// 0 when deleted, -1 when not (missing, in use, a directory, no permission).
int delete_file(const char* path);

// ---------------------------------------------------------------- directory search

constexpr std::size_t kEntryNameSize = 260;

struct DirEntry {
    char name[kEntryNameSize];
    // A directory, or a link to one (as a junction is on Windows): never opened
    // as a file, never deleted as a trigger.
    bool directory;
};

inline bool is_directory(const DirEntry& entry) { return entry.directory; }

struct DirSearch {
    std::intptr_t handle;
    bool open;
    const char* extension_filter;  // kept for dir_next where the system cannot filter
    bool listed;                   // set by dir_first when the directory was read, also when nothing matched
};

// Starts a search of the directory dir. With extension_filter null every entry,
// "." and ".." included, is returned in the order the system keeps them; with a
// filter such as ".now" only entries whose names end in it (ASCII case ignored,
// and on some systems also looser matches, so callers check again).
// 0 with the first entry in *entry, -1 when nothing is found or the directory
// cannot be listed (then the search needs no close).
int dir_first(const char* dir, const char* extension_filter, DirSearch* search, DirEntry* entry);
// 0 with the next entry, -1 at the end.
int dir_next(DirSearch* search, DirEntry* entry);
void dir_close(DirSearch* search);

// ---------------------------------------------------------------- directory changes
// Lets the run-now poll skip a listing that could not find anything the last
// one did not. Where the system cannot report a directory's changes every
// answer is "changed", and every poll lists the directory.

// True only when it is certain that no entry whose name ends in extension (ASCII
// case ignored) has appeared in dir, by creation or by a rename into it, since
// dir_watch_settle marked dir settled. Otherwise false, and every change until
// now is taken into account: a listing started after this call sees them.
bool dir_watch_unchanged(const char* dir, const char* extension);
// For a listing of dir started after dir_watch_unchanged answered false that
// found no entry with the extension: marks dir settled.
void dir_watch_settle(const char* dir);
// Drops the settled mark: the next dir_watch_unchanged answers false.
void dir_watch_forget();

// ---------------------------------------------------------------- companion programs

struct LaunchSpec {
    const char* command_line;  // Windows command-line text: quoted program path, arguments
    const char* working_dir;
    bool below_normal_priority;
    const char* desktop;  // nullptr: inherited
    // The same program where programs start from a path and an argument vector
    // (POSIX): program_dir's bytes, "/" and program_name, with arguments
    // (nullptr-ended) after it. The command line is never read there: a
    // backslash or a quote is an ordinary byte of a POSIX path, so splitting it
    // by Windows rules could name a program in another directory.
    const char* program_dir = nullptr;
    const char* program_name = nullptr;
    const char* const* arguments = nullptr;
};

// Starts the program and forgets it. 0 when it started, -1 when it could not be.
int launch_process(const LaunchSpec& launch_spec);

// ---------------------------------------------------------------- mailslot

using MailslotHandle = std::intptr_t;

// Opens an existing mailslot for writing. 0 or -1.
int mailslot_open(const char* name, MailslotHandle* handle);
// Writes one message. 0 or -1.
int mailslot_write(MailslotHandle handle, const void* data, std::size_t length);
void mailslot_close(MailslotHandle handle);

}  // namespace omvar::platform
