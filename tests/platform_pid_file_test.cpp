// The pid file's life on POSIX systems: one record owns the locked descriptor
// from acquire to release, every write goes through it, and release deletes
// only the file it locked.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "agent/platform/platform.h"
#include "test_support.h"

namespace {

using omvar::platform::pid_file_acquire;
using omvar::platform::pid_file_release;
using omvar::platform::pid_file_write;
using omvar::platform::PidFile;
using omvar::platform::PidLock;
using omvar::test::file_exists;
using omvar::test::read_file;
using omvar::test::TempDir;
using omvar::test::write_file;

class PidFileLife : public ::testing::Test {
  protected:
    std::string path() const { return dir_.file("omvarcrond.pid"); }

    TempDir dir_;
    PidFile mine_{};
    PidFile other_{};
};

TEST_F(PidFileLife, HolderKeepsOthersOutUntilItReleases) {
    int holder = -1;
    ASSERT_EQ(pid_file_acquire(path().c_str(), &mine_, &holder), PidLock::kAcquired);
    EXPECT_EQ(holder, 0);
    ASSERT_EQ(pid_file_write(&mine_, 4242), 0);
    EXPECT_EQ(read_file(path()), "4242\n");

    // A second record is a second open file: the lock keeps it out even within
    // this process, and it learns the pid that was written.
    EXPECT_EQ(pid_file_acquire(path().c_str(), &other_, &holder), PidLock::kHeldByOther);
    EXPECT_EQ(holder, 4242);
    EXPECT_FALSE(other_.acquired);
    EXPECT_EQ(read_file(path()), "4242\n");

    // Writes replace the whole line through the same descriptor.
    ASSERT_EQ(pid_file_write(&mine_, 7), 0);
    EXPECT_EQ(read_file(path()), "7\n");

    pid_file_release(&mine_);
    EXPECT_FALSE(mine_.acquired);
    EXPECT_FALSE(file_exists(path()));
    ASSERT_EQ(pid_file_acquire(path().c_str(), &other_, &holder), PidLock::kAcquired);
    pid_file_release(&other_);
}

TEST_F(PidFileLife, ReleaseDeletesOnlyTheFileItLocked) {
    int holder = 0;
    ASSERT_EQ(pid_file_acquire(path().c_str(), &mine_, &holder), PidLock::kAcquired);
    // Something else has since been put at the path.
    const std::string replacement = dir_.file("replacement");
    write_file(replacement, "not ours\n");
    ASSERT_EQ(std::rename(replacement.c_str(), path().c_str()), 0);

    pid_file_release(&mine_);
    EXPECT_EQ(read_file(path()), "not ours\n");
}

TEST_F(PidFileLife, UnacquiredRecordWritesAndDeletesNothing) {
    write_file(path(), "123\n");
    PidFile never{};
    EXPECT_EQ(pid_file_write(&never, 99), -1);
    pid_file_release(&never);
    EXPECT_EQ(read_file(path()), "123\n");
}

TEST_F(PidFileLife, PathsThatCannotHoldAPidFileAreUnavailable) {
    struct Case {
        const char* what;
        std::string path;
    };
    const Case cases[] = {
        {"no such directory", dir_.file("missing/omvarcrond.pid")},
        {"longer than the record holds", dir_.path() + "/" + std::string(sizeof PidFile{}.path, 'p')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PidFile pid_file{};
        int holder = -1;
        EXPECT_EQ(pid_file_acquire(c.path.c_str(), &pid_file, &holder), PidLock::kUnavailable);
        EXPECT_EQ(holder, 0);
        EXPECT_FALSE(pid_file.acquired);
    }
}

}  // namespace
