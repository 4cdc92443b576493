#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "agent/base/sizes.h"
#include "agent/base/text.h"
#include "agent/cron/scan_entry.h"
#include "agent/cron/schedule_file.h"
#include "agent/cron/settings.h"
#include "agent/crypt/estream.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/scan.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

const char kNoKeyFileConsequence[] =
    "the agent creates one at its first schedule file, and every existing schedule file then fails";

int fail(int code, const char* format, ...) {
    std::fputs("omvar-zbs: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): va_start above
    va_end(args);
    std::fputc('\n', stderr);
    return code;
}

namespace {

bool read_digits(const char* text, int count, int* out) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    *out = value;
    return true;
}

// mktime with a daylight-saving hint; true when the result shows the same wall time.
bool local_to_seconds(int year, int month, int day, int hour, int minute, int isdst, platform::Seconds* out) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = isdst;
    std::time_t value = std::mktime(&t);
    if (value == static_cast<std::time_t>(-1)) {
        return false;
    }
    std::tm back{};
    if (!platform::clock_to_local(static_cast<platform::Seconds>(value), &back)) {
        return false;
    }
    *out = static_cast<platform::Seconds>(value);
    return back.tm_year == year - 1900 && back.tm_mon == month - 1 && back.tm_mday == day &&
           back.tm_hour == hour && back.tm_min == minute;
}

}  // namespace

bool parse_local_minute(const char* text, platform::Seconds* out) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (std::strlen(text) != 16 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        !read_digits(text, 4, &year) || !read_digits(text + 5, 2, &month) ||
        !read_digits(text + 8, 2, &day) || !read_digits(text + 11, 2, &hour) ||
        !read_digits(text + 14, 2, &minute)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
        return false;
    }
    // A repeated hour has two answers; take the earlier one so that "at or after" misses neither.
    platform::Seconds best = 0;
    bool found = false;
    for (int isdst = 0; isdst <= 1; ++isdst) {
        platform::Seconds t = 0;
        if (local_to_seconds(year, month, day, hour, minute, isdst, &t) && (!found || t < best)) {
            best = t;
            found = true;
        }
    }
    if (!found) {
        return false;
    }
    std::tm local{};
    platform::clock_to_local(best, &local);
    *out = best - local.tm_sec;
    return true;
}

std::string format_local_minute(platform::Seconds t) {
    std::tm local{};
    if (!platform::clock_to_local(t, &local)) {
        return "(time out of range)";
    }
    char text[96];
    int n = std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d",
                          static_cast<long long>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour, local.tm_min);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) {
        return "(time out of range)";
    }
    return text;
}

std::string key_file_path(const Options& options) { return options.install_dir + "/" + crypt::kKeyFilePath; }

namespace {

// True when the etc directory holds a .zbs entry: files that a new key would
// leave undecryptable.
bool has_schedule_files(const std::string& install_dir) {
    const std::string etc = install_dir + "/etc";
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (platform::dir_first(etc.c_str(), cron::kScheduleExtension, &search, &entry) != 0) {
        return false;
    }
    bool found = false;
    do {
        found = base::has_extension(entry.name, cron::kScheduleExtension);
    } while (!found && platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
    return found;
}

}  // namespace

int prepare_key(const Options& options, bool may_create) {
    const std::string key_path = key_file_path(options);
    const char* dir = options.install_dir.c_str();
    char reason[256] = {};
    if (options.install_dir.size() >= base::kPathSize) {
        return fail(kExitUsage, "%s",
                    install_dir_problem(
                        options, "the install directory's path is 1024 bytes or longer: the agent refuses it")
                        .c_str());
    }
    if (platform::path_info(dir, reason, sizeof reason).kind != platform::PathKind::kDirectory) {
        const std::string why = *reason != '\0' ? reason : "not a directory";
        return fail(kExitUsage, "%s",
                    install_dir_problem(options, "cannot use the install directory " +
                                                     shown(options.install_dir) + ": " + why)
                        .c_str());
    }
    platform::FileStatus before = platform::file_status(key_path.c_str());
    // Asked before the key file is made: encrypt is about to write one more.
    const bool had_schedule_files = before == platform::FileStatus::kMissing && has_schedule_files(dir);
    unsigned char key[crypt::kScheduleKeySize];
    int result =
        may_create ? crypt::load_schedule_key(dir, key) : crypt::read_existing_schedule_key(dir, key);
    std::memset(key, 0, sizeof key);
    if (result != 0) {
        if (before == platform::FileStatus::kMissing && !may_create) {
            return fail(kExitUsage, "no key file %s: %s", key_path.c_str(), kNoKeyFileConsequence);
        }
        if (before == platform::FileStatus::kMissing) {
            return fail(kExitUsage,
                        "cannot create the key file %s (is there an etc directory, and may it be written?)",
                        key_path.c_str());
        }
        return fail(
            kExitUsage,
            "cannot read the key file %s (not a regular file, a symlink, no permission, or shorter than %ld "
            "bytes)",
            key_path.c_str(), crypt::kKeyFileMinLength);
    }
    if (before == platform::FileStatus::kMissing && had_schedule_files) {
        fail(kExitOk, "created a new key file %s; files encrypted under an earlier key no longer decrypt",
             key_path.c_str());
    } else if (before == platform::FileStatus::kMissing) {
        fail(kExitOk, "created a new key file %s", key_path.c_str());
    }
    return kExitOk;
}

int open_schedule_stream(const std::string& key_dir, const std::string& path, std::FILE** file,
                         crypt::EncryptedStream* stream) {
    *file = platform::open_regular_file(path.c_str());
    if (*file == nullptr) {
        return fail(kExitUsage, "cannot open %s (missing, not a regular file, or no permission)",
                    path.c_str());
    }
    if (crypt::estream_open(stream, *file, 0, key_dir.c_str()) != 0) {
        std::fclose(*file);
        *file = nullptr;
        return fail(kExitUsage, "the schedule key cannot be had");
    }
    return kExitOk;
}

int read_schedule_expression(const std::string& key_dir, const std::string& path, std::string* expression,
                             std::string* reason) {
    std::FILE* file = nullptr;
    crypt::EncryptedStream stream;
    int opened = open_schedule_stream(key_dir, path, &file, &stream);
    if (opened != kExitOk) {
        return opened;
    }
    int result = read_opened_schedule(&stream, expression, reason);
    crypt::estream_close(&stream);
    std::fclose(file);
    return result;
}

int read_opened_schedule(crypt::EncryptedStream* stream_in, std::string* expression, std::string* reason,
                         cron::ScheduleLine* found_out) {
    crypt::EncryptedStream& stream = *stream_in;
    char line[base::kPathSize];
    cron::ScheduleLine found = cron::read_schedule_line(&stream, line, static_cast<int>(sizeof line));
    if (found_out != nullptr) {
        *found_out = found;
    }
    // Read on to the end to learn whether the padding holds: that tells a wrong
    // key from a wrong header.
    unsigned char rest[4096];
    while (crypt::estream_read(&stream, rest, static_cast<long>(sizeof rest)) > 0) {
    }
    bool clean = stream.final_ok != 0;

    switch (found) {
        case cron::ScheduleLine::kFound:
            *expression = line + cron::kSchedulePrefixLength;
            return kExitOk;
        case cron::ScheduleLine::kNoScheduleLine:
            *reason = "the header is right, but no \"schedule=\" line follows it";
            return kExitInvalid;
        case cron::ScheduleLine::kNoHeader:
            break;
    }
    *reason = clean
                  ? std::string("it decrypts, but its first line does not begin with \"") +
                        cron::kScheduleHeader + "\""
                  : "it does not decrypt under this installation's key (another key, damaged, empty, or not "
                    "encrypted)";
    return kExitInvalid;
}

bool ends_with_zbs(const std::string& path) {
    return base::ends_with_ignoring_case(path.c_str(), cron::kScheduleExtension);
}

namespace {

// Control bytes, and with quoting also '"' and '\\', as \xNN.
std::string escaped(const std::string& text, bool quoting) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || (quoting && (c == '"' || c == '\\'))) {
            static const char kDigits[] = "0123456789abcdef";
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string quoted(const std::string& text) { return "\"" + escaped(text, true) + "\""; }

std::string shown(const std::string& text) { return escaped(text, false); }

long read_pid(const char* path) {
    std::FILE* file = platform::open_regular_file(path);
    if (file == nullptr) {
        return 0;
    }
    char text[32] = {};
    bool got = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    char* end = nullptr;
    long pid = got ? std::strtol(text, &end, 10) : 0;
    return (got && end != text && pid > 0) ? pid : 0;
}

}  // namespace omvar::zbs
