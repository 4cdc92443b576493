// What the tools that explain the agent look at in the system besides what the
// agent itself calls (platform.h): the zone's name, the debugger-output channel
// read back, files and programs as the agent would meet them, the pid file's
// lock, the engine's channel, access lists and the service registration. None of
// these creates, changes or takes anything the agent uses. The agent's own code
// never includes this header (a test checks the include direction).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "agent/base/sizes.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

// ---------------------------------------------------------------- zone

// Which zone clock_to_local uses after clock_refresh_zone, for people: its
// name and where it comes from ("Asia/Tokyo (/etc/localtime)", "TZ=UTC").
// False when it does not fit in size bytes.
bool clock_zone_name(char* out, std::size_t size);

// ---------------------------------------------------------------- debugger output

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
// One channel's objects, as the system's handles (all zero when not open).
struct DebugChannel {
    std::intptr_t buffer_ready;
    std::intptr_t data_ready;
    std::intptr_t mapping;
    const void* view;
};
struct DebugListener {
    DebugChannel session;  // this session's channel
    DebugChannel global;   // the global channel, where it is another one
    DebugChannels channels;
    bool open;
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

// ---------------------------------------------------------------- files

// Makes the stream pass its bytes on unchanged; Windows would otherwise write
// every "\n" as "\r\n". 0 or -1.
int set_binary_mode(std::FILE* stream);

// Opens a regular file for buffered binary reading; never blocks on a FIFO or a
// device, refuses anything that is not a regular file. nullptr on failure.
std::FILE* open_regular_file(const char* path);

// ---------------------------------------------------------------- what the agent would meet

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
// and may be started (on Windows the command line's first token, elsewhere the
// program's directory and name); reason says why not. program gets the path that
// is started, or "" when there is none or it does not fit.
bool program_startable(const LaunchSpec& launch_spec, char* program, std::size_t program_size, char* reason,
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

// ---------------------------------------------------------------- access lists
// Who may read a file by its access list, where the system keeps one per file
// (Windows) instead of permission bits: status warns when the key file is open
// to every user.

enum class AccessList {
    kNotKept,           // the system has permission bits instead (see path_info)
    kClosed,            // no entry lets every user read the file
    kReadableByOthers,  // an entry lets Everyone, Users, Authenticated Users or Interactive read it
    kError,             // the list could not be read; reason says why
};
AccessList file_access_list(const char* path, char* reason, std::size_t reason_size);

}  // namespace omvar::platform
