// Who may read a file by its access list, where the system keeps one per file
// (Windows) instead of permission bits: for omvar-zbs status, which warns when
// the key file is open to every user. Nothing here changes a file.
#pragma once

#include <cstddef>

namespace omvar::platform {

enum class AccessList {
    kNotKept,           // the system has permission bits instead (see path_info)
    kClosed,            // no entry lets every user read the file
    kReadableByOthers,  // an entry lets Everyone, Users, Authenticated Users or Interactive read it
    kError,             // the list could not be read; reason says why
};
AccessList file_access_list(const char* path, char* reason, std::size_t reason_size);

}  // namespace omvar::platform
