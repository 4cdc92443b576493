// The readiness datagram to the service manager, sent by the agent's own code:
// which NOTIFY_SOCKET texts name a socket, what arrives there, and that a manager
// that does not read never stalls the agent.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/platform/daemon.h"
#include "test_support.h"

namespace {

using omvar::platform::notify_service_manager;
using omvar::test::TempDir;

// A bound datagram socket at a path or an abstract name ("@name").
class Listener {
  public:
    explicit Listener(const std::string& name) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.data(), name.size());
        socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (name[0] == '@') {
            addr.sun_path[0] = '\0';
        } else {
            length += 1;
        }
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
    }
    ~Listener() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool bound() const { return bound_; }
    int fd() const { return fd_; }
    // The next datagram, or "<nothing>" when none waits.
    std::string receive() const {
        char message[256];
        ssize_t n = recv(fd_, message, sizeof message, 0);
        return n > 0 ? std::string(message, static_cast<std::size_t>(n)) : std::string("<nothing>");
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

class ScopedNotifySocket {
  public:
    explicit ScopedNotifySocket(const char* value) {
        if (value == nullptr) {
            unsetenv("NOTIFY_SOCKET");
        } else {
            setenv("NOTIFY_SOCKET", value, 1);
        }
    }
    ~ScopedNotifySocket() { unsetenv("NOTIFY_SOCKET"); }
};

int open_descriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

std::string abstract_name(const char* what) {
    return std::string("@omvar-notify-unit-") + what + "-" + std::to_string(getpid());
}

// Up to the longest names a socket address holds: a path's terminating NUL takes
// the last byte, an abstract name has no terminator.
TEST(NotifyServiceManager, SendsOneDatagramToAPathOrAnAbstractName) {
    const std::size_t room = sizeof(sockaddr_un::sun_path);
    TempDir dir;
    std::string longest_path = dir.path() + "/";
    longest_path += std::string(room - 1 - longest_path.size(), 'n');
    std::string longest_abstract = "@" + std::to_string(getpid()) + "-";
    longest_abstract += std::string(room - longest_abstract.size(), 'a');
    const std::string names[] = {dir.file("notify"), abstract_name("listen"), longest_path, longest_abstract};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Listener listener(name);
        ASSERT_TRUE(listener.bound()) << std::strerror(errno);
        ScopedNotifySocket env(name.c_str());
        EXPECT_EQ(notify_service_manager("READY=1"), 0);
        EXPECT_EQ(notify_service_manager("STOPPING=1"), 0);
        EXPECT_EQ(listener.receive(), "READY=1");
        EXPECT_EQ(listener.receive(), "STOPPING=1");
        EXPECT_EQ(listener.receive(), "<nothing>");
    }
}

// Whatever the variable holds, nothing is sent and no descriptor stays open.
TEST(NotifyServiceManager, UnusableVariableSendsNothing) {
    TempDir dir;
    omvar::test::write_file(dir.file("plain"), "x");
    const std::string cases[] = {
        "",
        "relative/notify",
        dir.file("missing"),
        dir.file("plain"),
        dir.path(),
        "@",
        abstract_name("nobody"),
        "/" + std::string(sizeof(sockaddr_un::sun_path), 'p'),
        "@" + std::string(sizeof(sockaddr_un::sun_path), 'a'),
        "vsock:2:1234",
        "\x01\x7f",
    };
    const int before = open_descriptors();
    ASSERT_GT(before, 0);
    {
        ScopedNotifySocket env(nullptr);
        EXPECT_EQ(notify_service_manager("READY=1"), -1) << "variable absent";
    }
    for (const std::string& value : cases) {
        SCOPED_TRACE(value);
        ScopedNotifySocket env(value.c_str());
        EXPECT_EQ(notify_service_manager("READY=1"), -1);
    }
    EXPECT_EQ(open_descriptors(), before);
}

// A manager whose queue is full must not hold up the agent: the send fails at
// once instead of waiting (a hang here ends the test by its alarm).
TEST(NotifyServiceManager, FullQueueFailsWithoutBlocking) {
    const std::string name = abstract_name("full");
    Listener listener(name);
    ASSERT_TRUE(listener.bound());
    ScopedNotifySocket env(name.c_str());
    int sent = 0;
    alarm(10);
    while (notify_service_manager("READY=1") == 0) {
        ASSERT_LT(++sent, 100000) << "the queue never filled";
    }
    alarm(0);
    EXPECT_GT(sent, 0);
    EXPECT_EQ(listener.receive(), "READY=1");
    // Room again: the next message goes through.
    EXPECT_EQ(notify_service_manager("STOPPING=1"), 0);
}

}  // namespace
