// Handing backup requests to the backup engine through its mailslot.
#pragma once

#include <cstddef>

namespace omvar::dispatch {

extern const char kBackupMailslot[];  // "\\.\mailslot\omvarbackup"

constexpr int kMailslotOpenFailed = 80;
constexpr int kMailslotProbeFailed = 86;
constexpr int kMailslotWriteFailed = 104;

void submit_backup_request(const char* path);

int mailslot_open(const char* name);
int mailslot_write(const void* data, std::size_t length);
void mailslot_close();

}  // namespace omvar::dispatch
