#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

// A chunk that _read and _write take in one call (their count is an unsigned int).
constexpr std::size_t kMaxChunk = INT_MAX;

// The key file's access list: full control for LocalSystem (the service) and
// the Administrators group, nothing for anyone else, and protected, so that no
// inheritable entry of etc\ is added (under Program Files those let Users read,
// and whoever reads the key reads every job). In SDDL: D:P(A;;FA;;;SY)(A;;FA;;;BA).
// Built in fixed buffers: the same few bytes every time, and nothing to free.
struct OwnerOnlyDescriptor {
    SECURITY_DESCRIPTOR descriptor;
    alignas(DWORD) unsigned char acl[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    alignas(DWORD) unsigned char sid[SECURITY_MAX_SID_SIZE];
};

bool build_owner_only(OwnerOnlyDescriptor* out) {
    PACL acl = reinterpret_cast<PACL>(out->acl);
    if (!InitializeAcl(acl, sizeof out->acl, ACL_REVISION)) {
        return false;
    }
    // An entry keeps its own copy of the SID, so one buffer serves both.
    const WELL_KNOWN_SID_TYPE owners[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (WELL_KNOWN_SID_TYPE owner : owners) {
        DWORD size = sizeof out->sid;
        if (!CreateWellKnownSid(owner, nullptr, out->sid, &size) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, out->sid)) {
            return false;
        }
    }
    return InitializeSecurityDescriptor(&out->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&out->descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&out->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace

// Only a file on disk: a name such as "con.zbs" or a pipe must never be read
// (it would block the loop or read a device).
std::FILE* open_regular_file(const char* path) {
    struct _stat st {};
    if (_stat(path, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// As open_regular_file, for a descriptor that no started program inherits.
int file_open_regular(const char* path) {
    struct _stat st {};
    if (_stat(path, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        return -1;
    }
    int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        return -1;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) {
        _close(fd);
        return -1;
    }
    return fd;
}

FileStatus file_status(const char* path) {
    struct _stat st {};
    if (_stat(path, &st) == 0) {
        return FileStatus::kExists;
    }
    return errno == ENOENT ? FileStatus::kMissing : FileStatus::kError;
}

// Only SYSTEM and Administrators may use it, never an existing file, and never
// through a reparse point: CREATE_NEW refuses any name that exists, a link or a
// junction included, and the flag keeps the last component from being followed.
// No descriptor, no file: one that inherited etc\'s list would stay open to all.
int file_create_exclusive(const char* path) {
    OwnerOnlyDescriptor owner_only;
    if (!build_owner_only(&owner_only)) {
        return -1;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &owner_only.descriptor, FALSE};
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        // An empty key file would be refused by every load and never replaced.
        CloseHandle(file);
        DeleteFileA(path);
        return -1;
    }
    return fd;
}

int file_open_read(const char* path) {
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    return fd >= 0 ? fd : -1;
}

int file_seek(int fd, long offset) {
    if (offset < 0) {
        return -1;
    }
    return _lseek(fd, offset, SEEK_SET) == offset ? 0 : -1;
}

long file_read(int fd, void* data, std::size_t length) {
    if (length > kMaxChunk) {
        length = kMaxChunk;
    }
    int n = _read(fd, data, static_cast<unsigned>(length));
    return n >= 0 ? static_cast<long>(n) : -1;
}

long file_write(int fd, const void* data, std::size_t length) {
    if (length > kMaxChunk) {
        length = kMaxChunk;
    }
    int n = _write(fd, data, static_cast<unsigned>(length));
    return n >= 0 ? static_cast<long>(n) : -1;
}

void file_close(int fd) {
    if (fd >= 0) {
        _close(fd);
    }
}

int delete_file(const char* path) { return DeleteFileA(path) ? 0 : -1; }

int set_binary_mode(std::FILE* stream) {
    std::fflush(stream);
    return _setmode(_fileno(stream), _O_BINARY) == -1 ? -1 : 0;
}

}  // namespace omvar::platform
