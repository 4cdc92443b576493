// The key file's access list, read as omvar-zbs status reports it.
#include <aclapi.h>
#include <windows.h>

#include "agent/base/text.h"
#include "agent/platform/inspect.h"
#include "agent/platform/win32/acl_readers.h"

namespace omvar::platform {

namespace {

// The groups every local user is in.
constexpr WELL_KNOWN_SID_TYPE kEveryUser[] = {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid,
                                              WinInteractiveSid};

// Reading the data, or gaining it by rewriting the list or taking the file.
constexpr ACCESS_MASK kReadingRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;

bool every_user(PSID sid) {
    for (WELL_KNOWN_SID_TYPE group : kEveryUser) {
        if (IsWellKnownSid(sid, group)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool acl_lets_others_read(const ACL* dacl) {
    if (dacl == nullptr) {
        return true;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) {
            return true;  // a list that cannot be read through is not known to be closed
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kReadingRights) != 0 && every_user(&allowed->SidStart)) {
            return true;
        }
    }
    return false;
}

AccessList file_access_list(const char* path, char* reason, std::size_t reason_size) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        if (reason != nullptr && reason_size > 0 &&
            !base::format_checked(reason, reason_size, "system error %lu",
                                  static_cast<unsigned long>(error))) {
            reason[0] = '\0';
        }
        return AccessList::kError;
    }
    const bool open = acl_lets_others_read(dacl);
    LocalFree(descriptor);
    return open ? AccessList::kReadableByOthers : AccessList::kClosed;
}

}  // namespace omvar::platform
