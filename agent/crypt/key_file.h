// The installation's key file and the schedule key assembled from it.
#pragma once

#include <cstddef>

namespace omvar::crypt {

constexpr std::size_t kScheduleKeySize = 32;
constexpr std::size_t kKeyFileSize = 4096;
extern const char kKeyFilePath[];  // "etc/omvar.ak", relative to the install directory

int load_schedule_key(unsigned char* key_out);
int create_key_file();
int write_all(int fd, const void* data, long length);

}  // namespace omvar::crypt
