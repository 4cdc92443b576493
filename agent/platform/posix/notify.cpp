// The service manager's readiness protocol, spoken directly: one text datagram on
// the AF_UNIX socket that NOTIFY_SOCKET names. Linking a client library for two
// short messages would load far more code into a root process than this.
#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "agent/platform/daemon.h"

namespace omvar::platform {

namespace {

// Fills *address from the variable's text; false when it names no usable socket
// (other address families, an empty abstract name, a name too long to hold).
bool notify_address(const char* name, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::size_t n = std::strlen(name);
    if (name[0] == '/') {
        if (n >= sizeof address->sun_path) {
            return false;
        }
        std::memcpy(address->sun_path, name, n);
        *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + 1);
        return true;
    }
    if (name[0] == '@') {
        // An abstract name: a leading NUL, then the bytes after "@", unterminated.
        if (n < 2 || n > sizeof address->sun_path) {
            return false;
        }
        std::memcpy(address->sun_path + 1, name + 1, n - 1);
        *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
        return true;
    }
    return false;
}

}  // namespace

int notify_service_manager(const char* state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    sockaddr_un address;
    socklen_t address_length = 0;
    if (name == nullptr || !notify_address(name, &address, &address_length)) {
        return -1;
    }
    // Close-on-exec: the companion programs must not inherit it. Non-blocking: a
    // manager that does not read must never stall the tick loop.
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    std::size_t length = std::strlen(state);
    ssize_t sent = -1;
    do {
        sent = sendto(fd, state, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                      address_length);
    } while (sent < 0 && errno == EINTR);
    close(fd);
    return sent == static_cast<ssize_t>(length) ? 0 : -1;
}

void notify_ready() { notify_service_manager("READY=1"); }

void notify_stopping() { notify_service_manager("STOPPING=1"); }

}  // namespace omvar::platform
