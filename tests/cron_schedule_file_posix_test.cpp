// Schedule files that only POSIX systems can present: a FIFO.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "agent/cron/schedule_file.h"
#include "agent/platform/platform.h"
#include "crypt_test_support.h"
#include "test_support.h"

namespace omvar::test {
namespace {

// A FIFO would block the agent's only thread if it were opened for reading.
TEST(ScheduleFilePosix, FifoIsNeverRead) {
    InstallDir install;
    install.use_known_key();
    const std::string scan_dir = install.file("etc");
    ASSERT_EQ(mkfifo((scan_dir + "/pipe.zbs").c_str(), 0600), 0);
    Recorder recorder;
    platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "pipe.zbs");
    std::tm t{};
    t.tm_hour = 2;
    t.tm_mday = 5;
    t.tm_year = 109;
    t.tm_wday = 1;
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
    EXPECT_TRUE(recorder.calls.empty());
}

}  // namespace
}  // namespace omvar::test
