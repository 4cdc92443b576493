// The installation's key file and the schedule key assembled from it.
#pragma once

#include <cstddef>

namespace omvar::crypt {

constexpr std::size_t kScheduleKeySize = 32;
constexpr std::size_t kKeyFileSize = 4096;
extern const char kKeyFilePath[];  // "etc/omvar.ak", relative to the install directory

// Every key operation takes the install directory from its caller: the agent
// passes ".", its working directory since start-up; the tool passes the
// directory it inspects and never changes its own.
// "<dir>/etc/omvar.ak"; false when it does not fit in size bytes.
bool format_key_file_path(const char* dir, char* out, std::size_t size);

// Byte offsets of the eight 4-byte windows whose bytes, in this order, make up the
// schedule key. Every program that shares a key file must use the same table.
constexpr int kKeyWindowCount = 8;
constexpr std::size_t kKeyWindowSize = 4;
inline constexpr long kKeyWindows[kKeyWindowCount] = {3900, 531, 2672, 1473, 3336, 900, 2974, 102};

// The end of the farthest window: a shorter key file yields no key.
constexpr long key_file_min_length() {
    long end = 0;
    for (long offset : kKeyWindows) {
        long window_end = offset + static_cast<long>(kKeyWindowSize);
        end = window_end > end ? window_end : end;
    }
    return end;
}
inline constexpr long kKeyFileMinLength = key_file_min_length();

// 0 with the 32-byte key of dir's key file in key_out, -1 when the key file cannot
// be read or created. The key is read once per process and cached (for another
// dir it is read afresh).
int load_schedule_key(const char* dir, unsigned char* key_out);
// As load_schedule_key, but never creates a missing key file: for tools that must
// leave the installation as they find it. A key read here is cached, so streams
// opened afterwards use it.
int read_existing_schedule_key(const char* dir, unsigned char* key_out);
// 0 when a new key file of random bytes was written in dir, -1 otherwise (also
// when one exists).
int create_key_file(const char* dir);
// Bytes written (always length), or -1 on an error, a write that makes no progress,
// or a length beyond INT_MAX. A length of 0 or less writes nothing and gives 0.
int write_all(int fd, const void* data, long length);

// Forgets the cached key so that the next load reads the key file again. For tests;
// the agent never calls it.
void reset_schedule_key_cache();

}  // namespace omvar::crypt
