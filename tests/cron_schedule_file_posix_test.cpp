// Schedule files that only POSIX systems can present: a FIFO.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "agent/cron/schedule_file.h"
#include "agent/platform/platform.h"
#include "crypt_test_support.h"

namespace omvar::test {
namespace {

int messages = 0;
int count_open(const char*, platform::MailslotHandle* handle) {
    *handle = 7;
    return 0;
}
int count_write(platform::MailslotHandle, const void*, std::size_t) {
    ++messages;
    return 0;
}
void count_close(platform::MailslotHandle) {}
constexpr platform::MailslotOps kCountingMailslot = {count_open, count_write, count_close};

// A FIFO would block the agent's only thread if it were opened for reading.
TEST(ScheduleFilePosix, FifoIsNeverRead) {
    InstallDir install;
    install.use_known_key();
    const std::string scan_dir = install.file("etc");
    ASSERT_EQ(mkfifo((scan_dir + "/pipe.zbs").c_str(), 0600), 0);
    platform::set_mailslot_ops(&kCountingMailslot);
    messages = 0;
    platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "pipe.zbs");
    std::tm t{};
    t.tm_hour = 2;
    t.tm_mday = 5;
    t.tm_year = 109;
    t.tm_wday = 1;
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
    platform::set_mailslot_ops(nullptr);
    EXPECT_EQ(messages, 0);
}

}  // namespace
}  // namespace omvar::test
