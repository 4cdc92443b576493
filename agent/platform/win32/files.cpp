#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "agent/platform/platform.h"

namespace omvar::platform {

namespace {

// The key file's creation mode; on Windows only the write bit has an effect.
constexpr int kKeyFileMode = 0777;

// A chunk that _read and _write take in one call (their count is an unsigned int).
constexpr std::size_t kMaxChunk = INT_MAX;

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

int file_create_exclusive(const char* path) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, kKeyFileMode);
    return fd >= 0 ? fd : -1;
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
