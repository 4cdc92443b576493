// Handing backup requests to the backup engine through its mailslot.
#pragma once

#include <cstddef>

#include "agent/base/fixed_codes.h"  // the result codes

namespace omvar::dispatch {

extern const char kBackupMailslot[];  // "\\.\mailslot\omvarbackup"

void submit_backup_request(const char* path);

int mailslot_open(const char* name);
int mailslot_write(const void* data, std::size_t length);
void mailslot_close();

}  // namespace omvar::dispatch
