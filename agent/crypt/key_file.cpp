#include "agent/crypt/key_file.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "agent/base/sizes.h"
#include "agent/base/text.h"
#include "agent/crypt/crypto_init.h"
#include "agent/platform/platform.h"

namespace omvar::crypt {

const char kKeyFilePath[] = "etc/omvar.ak";

bool format_key_file_path(const char* dir, char* out, std::size_t size) {
    return base::format_checked(out, size, "%s/%s", dir, kKeyFilePath);
}

namespace {

// Room for any install directory the agent accepts, "/" and the file's name
// (both NULs counted, one for the "/").
constexpr std::size_t kKeyPathSize = base::kPathSize + sizeof kKeyFilePath;

// The table must stay inside a freshly created key file and its windows apart.
constexpr bool windows_are_sound() {
    for (int i = 0; i < kKeyWindowCount; ++i) {
        long a = kKeyWindows[i];
        if (a < 0 || a + static_cast<long>(kKeyWindowSize) > static_cast<long>(kKeyFileSize)) {
            return false;
        }
        for (int j = i + 1; j < kKeyWindowCount; ++j) {
            long b = kKeyWindows[j];
            if (a < b + static_cast<long>(kKeyWindowSize) && b < a + static_cast<long>(kKeyWindowSize)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(windows_are_sound(), "key windows must lie inside the key file and not overlap");
static_assert(kKeyWindowCount * kKeyWindowSize == kScheduleKeySize, "the windows make up the key");

unsigned char cached_key[kScheduleKeySize];
bool key_cached = false;
char cached_dir[kKeyPathSize];  // whose key file the cached key came from

// Assembles the key into out; 0 or -1. Nothing is cached on failure.
int read_key_windows(const char* path, unsigned char* out) {
    int fd = platform::file_open_read(path);
    if (fd < 0) {
        return -1;
    }
    for (int i = 0; i < kKeyWindowCount; ++i) {
        if (platform::file_seek(fd, kKeyWindows[i]) != 0 ||
            platform::file_read(fd, out + i * kKeyWindowSize, kKeyWindowSize) !=
                static_cast<long>(kKeyWindowSize)) {
            platform::file_close(fd);
            return -1;
        }
    }
    platform::file_close(fd);
    return 0;
}

}  // namespace

int write_all(int fd, const void* data, long length) {
    // The count is returned as an int: a length it cannot hold is refused before
    // anything is written rather than reported as a negative total.
    if (length > static_cast<long>(INT_MAX)) {
        return -1;
    }
    const unsigned char* p = static_cast<const unsigned char*>(data);
    long total = 0;
    while (total < length) {
        long n = platform::file_write(fd, p + total, static_cast<std::size_t>(length - total));
        // A write that reports success but moves nothing would repeat for ever.
        if (n <= 0) {
            return -1;
        }
        total += n;
    }
    return static_cast<int>(total);
}

int create_key_file(const char* dir) {
    char path[kKeyPathSize];
    // Before the file exists: a library that cannot start must not leave an empty one.
    if (!format_key_file_path(dir, path, sizeof path) || crypto_library_init() != 0) {
        return -1;
    }
    int fd = platform::file_create_exclusive(path);
    if (fd < 0) {
        return -1;
    }
    unsigned char bytes[kKeyFileSize];
    // A key file of predictable bytes, or a short one that every later load
    // rejects without ever replacing it, is worse than none: remove what was
    // created so that the next schedule file tries again.
    bool written = RAND_bytes(bytes, static_cast<int>(sizeof bytes)) == 1 &&
                   write_all(fd, bytes, static_cast<long>(sizeof bytes)) == static_cast<int>(sizeof bytes);
    OPENSSL_cleanse(bytes, sizeof bytes);
    platform::file_close(fd);
    if (!written) {
        platform::delete_file(path);
        return -1;
    }
    return 0;
}

namespace {

int load_key(const char* dir, unsigned char* key_out, bool may_create) {
    if (!key_cached || std::strcmp(cached_dir, dir) != 0) {
        char path[kKeyPathSize];
        if (!format_key_file_path(dir, path, sizeof path)) {
            return -1;
        }
        platform::FileStatus status = platform::file_status(path);
        if (status == platform::FileStatus::kMissing && may_create) {
            if (create_key_file(dir) != 0) {
                return -1;
            }
        } else if (status != platform::FileStatus::kExists) {
            return -1;
        }
        unsigned char key[kScheduleKeySize];
        int result = read_key_windows(path, key);
        if (result == 0) {
            // The path fitted, so the directory text does too (else nothing is cached).
            std::memcpy(cached_key, key, sizeof cached_key);
            key_cached = base::format_checked(cached_dir, sizeof cached_dir, "%s", dir);
        }
        OPENSSL_cleanse(key, sizeof key);
        if (result != 0) {
            return -1;
        }
    }
    std::memcpy(key_out, cached_key, sizeof cached_key);
    return 0;
}

}  // namespace

int load_schedule_key(const char* dir, unsigned char* key_out) { return load_key(dir, key_out, true); }

int read_existing_schedule_key(const char* dir, unsigned char* key_out) {
    return load_key(dir, key_out, false);
}

void reset_schedule_key_cache() {
    OPENSSL_cleanse(cached_key, sizeof cached_key);
    key_cached = false;
}

}  // namespace omvar::crypt
