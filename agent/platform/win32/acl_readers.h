// Whether a file's access list lets every user read it: the rule omvar-zbs
// status applies to the key file, apart from reading the list.
#pragma once

#include <windows.h>

namespace omvar::platform {

// True when an entry that applies to the file itself allows Everyone, Users,
// Authenticated Users or Interactive to read it, or to change its list or owner
// (and so read it next); also for no list at all (dacl nullptr), which lets
// everyone do everything. An entry that denies is not weighed against it: the
// list is meant to hold no entry for these groups.
bool acl_lets_others_read(const ACL* dacl);

}  // namespace omvar::platform
