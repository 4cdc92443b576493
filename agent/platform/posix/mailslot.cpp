// The backup engine's mailslot on POSIX systems is a message queue of the same
// name: "\\.\mailslot\omvarbackup" is the queue "/omvarbackup". The engine
// creates it; the agent only ever opens an existing one, write-only.
#include <errno.h>
#include <fcntl.h>
#include <mqueue.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "agent/platform/posix/layer.h"
#include "agent/platform/system.h"

namespace omvar::platform {

namespace {

// A mailslot takes messages without a count limit, a queue holds only a few:
// a full queue is given this long per message to make room.
constexpr long kRoomWaitMs = 1000;
// Bounds the retries when room appears and is taken again before our send.
constexpr int kMaxSendPasses = 1000;

// A queue someone else created is not the engine's: another local user could
// otherwise take the name, read every job path and block every backup.
bool owned_by_us_or_root(mqd_t queue) {
    struct stat st {};
    if (fstat(queue, &st) != 0) {
        return false;
    }
    return st.st_uid == geteuid() || st.st_uid == 0;
}

// Elapsed time is read from the monotonic clock: the realtime clock may be
// faked or set, and a wait must never stretch with it.
long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000L + now.tv_nsec / 1000000L;
}

}  // namespace

int system::mailslot_open(const char* name, MailslotHandle* handle) {
    *handle = -1;
    char qname[kQueueNameSize];
    if (!queue_name(name, qname, sizeof qname)) {
        return -1;
    }
    mqd_t queue = mq_open(qname, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (queue == static_cast<mqd_t>(-1)) {
        return -1;
    }
    if (!owned_by_us_or_root(queue)) {
        mq_close(queue);
        return -1;
    }
    *handle = static_cast<MailslotHandle>(queue);
    return 0;
}

int system::mailslot_write(MailslotHandle handle, const void* data, std::size_t length) {
    mqd_t queue = static_cast<mqd_t>(handle);
    const char* bytes = static_cast<const char*>(data);
    long start = monotonic_ms();
    for (int pass = 0; pass < kMaxSendPasses; ++pass) {
        if (mq_send(queue, bytes, length, 0) == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return -1;  // EMSGSIZE among them: the message can never fit
        }
        long left = kRoomWaitMs - (monotonic_ms() - start);
        if (left <= 0) {
            return -1;
        }
        pollfd room{queue, POLLOUT, 0};
        if (poll(&room, 1, static_cast<int>(left)) == 0) {
            return -1;
        }
        // Room, or a signal: try again.
    }
    return -1;
}

void system::mailslot_close(MailslotHandle handle) {
    if (handle >= 0) {
        mq_close(static_cast<mqd_t>(handle));
    }
}

bool queue_name(const char* mailslot, char* out, std::size_t size) {
    const char* last = std::strrchr(mailslot, '\\');
    const char* component = last != nullptr ? last + 1 : mailslot;
    std::size_t n = std::strlen(component);
    if (n == 0 || n + 2 > size || std::strchr(component, '/') != nullptr) {
        return false;
    }
    out[0] = '/';
    std::memcpy(out + 1, component, n + 1);
    return true;
}

}  // namespace omvar::platform
