// omvar-zbs: writing and inspecting schedule files with the agent's own code.
#pragma once

#include <cstdio>
#include <string>

#include "agent/cron/schedule_file.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/estream.h"
#include "agent/platform/platform.h"

namespace omvar::zbs {

constexpr int kExitOk = 0;
constexpr int kExitInvalid = 1;  // not a schedule file: wrong key, bad header, no schedule line
constexpr int kExitUsage = 2;    // usage error, or a file that cannot be read or written

// Ten years with their leap days, in seconds: the farthest `next` looks ahead.
constexpr platform::Seconds kNextHorizon = 3653LL * 24 * 60 * 60;

// Where the install directory came from.
enum class InstallDirSource { kOption, kEnvironment, kEnvironmentFile, kService, kCurrentDirectory };

struct Options {
    std::string command;
    std::string args[2];
    int arg_count = 0;
    std::string install_dir;  // as given or found; never changed into
    InstallDirSource install_dir_source = InstallDirSource::kOption;
    bool has_at = false;
    platform::Seconds at = 0;
    bool has_from = false;
    platform::Seconds from = 0;
    long count = 10;
    bool has_count = false;
    bool json = false;
};

// Prints the message after "omvar-zbs: " on standard error and returns code.
int fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "YYYY-MM-DD HH:MM" in local time to the first second of that minute (the
// earlier one when the hour repeats); false for malformed text or a local time
// that does not exist.
bool parse_local_minute(const char* text, platform::Seconds* out);
std::string format_local_minute(platform::Seconds t);

// The install directory when --install-dir is not given. On Linux the
// environment's OMVAR_INSTALL_DIR (environment_value), else the one in the
// packaged service's environment file; on Windows the arguments of the
// registered service; else the current directory (as an absolute path). A null
// environment_value or environment_file is not looked at.
void find_install_dir(const char* environment_value, const char* environment_file, Options* options);
// The value an environment file in systemd's format gives OMVAR_INSTALL_DIR
// (the last assignment wins); false when none does.
bool install_dir_in_environment_file(const std::string& text, std::string* value);
// "--install-dir", "the current directory", ...: for text output.
std::string install_dir_source_text(const Options& options);
// "option", "environment", "environment-file", "service", "current-directory": for JSON.
const char* install_dir_source_name(InstallDirSource source);
// What went wrong with the install directory, where it was taken from, and the way out.
std::string install_dir_problem(const Options& options, const std::string& error);

// "<install_dir>/etc/omvar.ak", for messages and looks at the file.
std::string key_file_path(const Options& options);
// Loads the install directory's key, with a message on failure; only with
// may_create (encrypt, which must write under some key) is a missing key file
// created. kExitOk or kExitUsage.
int prepare_key(const Options& options, bool may_create = false);
// What a missing key file means, for messages.
extern const char kNoKeyFileConsequence[];
// Opens a schedule file for decrypting under key_dir's key. kExitOk, or
// kExitUsage after a message (nothing left open).
int open_schedule_stream(const std::string& key_dir, const std::string& path, std::FILE** file,
                         crypt::EncryptedStream* stream);

// Reads a schedule file as the agent does. kExitOk with the expression,
// kExitInvalid with *reason set, or kExitUsage after a message.
int read_schedule_expression(const std::string& key_dir, const std::string& path, std::string* expression,
                             std::string* reason);
// The same for a stream already open; the caller closes it. found, when given,
// gets what the agent's reading found.
int read_opened_schedule(crypt::EncryptedStream* stream, std::string* expression, std::string* reason,
                         cron::ScheduleLine* found = nullptr);

// True when the name ends in ".zbs", in any letter case: the names the agent scans.
bool ends_with_zbs(const std::string& path);

// The process id in a pid file; 0 when there is none in it (or no file).
long read_pid(const char* path);

// Printable form of an expression for messages: control bytes as \xNN.
std::string quoted(const std::string& text);
// The text as it is, but control bytes (which could steer a terminal) as \xNN.
std::string shown(const std::string& text);

int run_encrypt(const Options& options);
int run_decrypt(const Options& options);
int run_check(const Options& options);
int run_next(const Options& options);
int run_list(const Options& options);
int run_status(const Options& options);
int run_explain(const Options& options);
int run_watch(const Options& options);

}  // namespace omvar::zbs
