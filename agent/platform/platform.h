// The operating-system services the agent uses, one small set of plain functions.
// Only the files below agent/platform/posix and agent/platform/win32 implement them
// and include operating-system headers; everything else in the agent calls these.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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
// Which zone clock_to_local uses after clock_refresh_zone, for people: its
// name and where it comes from ("Asia/Tokyo (/etc/localtime)", "TZ=UTC").
// False when it does not fit in size bytes.
bool clock_zone_name(char* out, std::size_t size);

// ---------------------------------------------------------------- diagnostics

// One finished line ending in "\r\n", for the system debugger output.
void debug_output(const char* line);

// Where the system's own output goes: the debugger-output channel, which a
// listener below can read, or standard error (the journal under systemd).
enum class DebugDestination { kDebuggerChannel, kStandardError };
DebugDestination system_debug_destination();

// Reading the debugger-output channel back, as a debugger-output viewer does:
// every line any process writes to the channels listened on, with the writer's
// pid. One listener per channel; while it listens, writers wait for it to take
// each line. On Windows a service writes to the global channel (session 0's),
// every other program to the one of its own session: the listener takes both,
// where they differ and where it may create the global one (that needs the
// privilege to create global objects, which administrators have).
constexpr std::size_t kDebugChannelSize = 4096;  // the channel's buffer: a pid, then the text
enum class DebugChannels {
    kNone,
    kGlobalAndSession,  // the service's lines and those of programs in this session
    kGlobal,            // the listener runs in session 0, whose channel is the global one
    kSessionOnly,       // the global channel was refused: no line of the service arrives
};
struct DebugListener {
    std::intptr_t buffer_ready;  // this session's channel
    std::intptr_t data_ready;
    std::intptr_t mapping;
    const void* view;
    bool open;
    std::intptr_t global_buffer_ready = 0;  // the global channel, where it is another one
    std::intptr_t global_data_ready = 0;
    std::intptr_t global_mapping = 0;
    const void* global_view = nullptr;
    DebugChannels channels = DebugChannels::kNone;
};
struct DebugMessage {
    unsigned long pid;
    char text[kDebugChannelSize];  // NUL-terminated, as written ("...\r\n" for the agent's lines)
};
// 0, or -1 with reason set (another viewer listens already, the platform has no
// channel, or the system refused).
int debug_listen_open(DebugListener* listener, char* reason, std::size_t reason_size);
// Waits at most timeout_ms for the next line: 1 with it in *message, 0 when none
// came, -1 on failure.
int debug_listen_next(DebugListener* listener, unsigned timeout_ms, DebugMessage* message);
void debug_listen_close(DebugListener* listener);

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

// Makes the stream pass its bytes on unchanged; Windows would otherwise write
// every "\n" as "\r\n". 0 or -1.
int set_binary_mode(std::FILE* stream);

// Opens a regular file for buffered binary reading; never blocks on a FIFO or a
// device, refuses anything that is not a regular file. nullptr on failure.
std::FILE* open_regular_file(const char* path);
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

// ---------------------------------------------------------------- inspection
// Read-only looks at what the agent would meet, for the tools that explain it.
// None of these creates, changes or takes anything.

enum class PathKind { kRegular, kDirectory, kOther, kDangling, kMissing, kError };
struct PathInfo {
    PathKind kind;
    long long size;          // kRegular
    bool permissions_known;  // false where the platform has no owner/group/other bits
    bool others_may_access;  // group or other bits set
    long owner;              // user id, -1 where unknown
    bool symlink;            // the path itself is a symlink
};
// Follows a symlink (the agent opens through it); a link to nothing is kDangling.
// reason gets the system's text for kError.
PathInfo path_info(const char* path, char* reason, std::size_t reason_size);
// True when a regular file at path can be opened for reading; otherwise reason
// gets the system's text.
bool can_read_file(const char* path, char* reason, std::size_t reason_size);
bool directory_writable(const char* path);
// True when the directory can be listed; otherwise reason gets the system's text.
bool directory_listable(const char* path, char* reason, std::size_t reason_size);

// Whether the program that launch_process would start for launch_spec exists
// and may be started; reason says why not. program gets the path that is
// started, or "" when there is none or it does not fit.
bool program_startable(const LaunchSpec& launch_spec, char* program, std::size_t program_size, char* reason,
                       std::size_t reason_size);
// The same for the first token of a command line, which is the program Windows
// starts: the Windows layer's check behind the one above (Windows only).
bool program_startable(const char* command_line, char* program, std::size_t program_size, char* reason,
                       std::size_t reason_size);

enum class ProcessState { kRunning, kGone, kUnknown };
ProcessState process_state(int pid);
// The process that holds the pid file's lock: its pid, 0 when nobody holds it,
// -1 where the platform cannot tell.
int pid_file_lock_holder(const char* path);

enum class ChannelState { kPresent, kMissing, kError };
// Whether the backup engine's mailslot exists; owner gets its user id (-1 where
// unknown). Opened for writing, as the agent does, and closed without a message.
ChannelState channel_probe(const char* name, long* owner);
// The effective user id of this process, -1 where the platform has none.
long current_user();

// How the service manager has the service registered, where there is one.
enum class ServiceQuery { kRegistered, kNotRegistered, kError, kNotApplicable };
enum class ServiceStart { kAutomatic, kDelayedAutomatic, kDemand, kDisabled, kOther };
constexpr std::size_t kServicePathSize = 2 * base::kPathSize;
struct ServiceRegistration {
    ServiceStart start;
    bool path_truncated;                 // the registered text did not fit
    char binary_path[kServicePathSize];  // program and arguments, exactly as registered
};
// kError sets reason (no access to the service manager, for one).
ServiceQuery service_registration(const char* name, ServiceRegistration* out, char* reason,
                                  std::size_t reason_size);

}  // namespace omvar::platform
