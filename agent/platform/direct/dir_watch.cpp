// The shipped programs' directory-change watch: the system's own.
#include "agent/platform/system.h"

namespace omvar::platform {

bool dir_watch_unchanged(const char* dir, const char* extension) {
    return system::dir_watch_unchanged(dir, extension);
}
void dir_watch_settle(const char* dir) { system::dir_watch_settle(dir); }
void dir_watch_forget() { system::dir_watch_forget(); }

}  // namespace omvar::platform
