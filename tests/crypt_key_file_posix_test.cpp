// The key file and write_all with what only POSIX systems have: mode bits,
// symlinks, FIFOs, pipes, /dev/null, a file size limit and an interposed write().
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "agent/crypt/key_file.h"
#include "crypt_test_support.h"

// Writes that report success but move nothing, as a faulty driver or network file
// system can: while stall_writes is set, every write to a descriptor above 2 moves
// at most write_budget bytes in total and then reports 0. After kStallLimit such
// reports it fails, so that a loop that never gives up ends anyway and is seen.
namespace {
bool stall_writes = false;
long write_budget = 0;
long zero_writes = 0;
constexpr long kStallLimit = 1000;
}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t length) {
    if (stall_writes && fd > 2 && length > 0) {
        if (write_budget > 0) {
            size_t n =
                length < static_cast<size_t>(write_budget) ? length : static_cast<size_t>(write_budget);
            long done = syscall(SYS_write, fd, data, n);
            write_budget -= done > 0 ? done : 0;
            return done;
        }
        if (++zero_writes > kStallLimit) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    return syscall(SYS_write, fd, data, length);
}

namespace omvar::test {
namespace {

TEST(KeyFile, FirstLoadCreatesAnOwnerOnlyRegularFile) {
    InstallDir install;
    ASSERT_EQ(load_key().size(), 32u);
    struct stat st {};
    ASSERT_EQ(lstat(install.key_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 4096);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(KeyFile, SymlinkAndFifoKeyPathsFailWithoutTouchingAnything) {
    const UnusableKeyPath cases[] = {
        {"symlink to a readable file",
         [](const InstallDir& install, const std::string& victim) {
             ASSERT_EQ(symlink(victim.c_str(), install.key_path().c_str()), 0);
         }},
        {"dangling symlink",
         [](const InstallDir& install, const std::string&) {
             ASSERT_EQ(symlink(install.file("nowhere").c_str(), install.key_path().c_str()), 0);
         }},
        // Opening a FIFO for reading would block until a writer came.
        {"fifo", [](const InstallDir& install,
                    const std::string&) { ASSERT_EQ(mkfifo(install.key_path().c_str(), 0600), 0); }},
    };
    expect_unusable_key_paths_refused(cases);
}

TEST(WriteAll, WritesEverythingAndReportsErrors) {
    InstallDir install;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const char data[] = "0123456789";
    EXPECT_EQ(crypt::write_all(fds[1], data, 10), 10);
    EXPECT_EQ(crypt::write_all(fds[1], data, 0), 0);
    EXPECT_EQ(crypt::write_all(fds[1], data, -5), 0);
    char back[16] = {};
    ASSERT_EQ(read(fds[0], back, sizeof back), 10);
    EXPECT_EQ(std::string(back), "0123456789");
    close(fds[0]);
    // The reading end is gone: the write fails instead of raising SIGPIPE's default.
    auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(crypt::write_all(fds[1], data, 10), -1);
    std::signal(SIGPIPE, old_pipe);
    close(fds[1]);
    EXPECT_EQ(crypt::write_all(-1, data, 10), -1);
}

TEST(WriteAll, GivesUpOnWritesThatMoveNothing) {
    struct Case {
        const char* what;
        long budget;
        const char* left;
    };
    const Case cases[] = {
        {"no byte ever moves", 0, ""},
        {"stalls after a partial write", 2, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallDir install;
        int fd = ::open(install.file("stalled").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        zero_writes = 0;
        write_budget = c.budget;
        stall_writes = true;
        int result = crypt::write_all(fd, "abcdef", 6);
        stall_writes = false;
        ::close(fd);
        EXPECT_EQ(result, -1);
        EXPECT_LE(zero_writes, 10) << "kept writing after no progress";
        EXPECT_EQ(read_file(install.file("stalled")), c.left);
    }

    // A key file whose bytes never arrive is not left behind, short, for ever.
    InstallDir install;
    zero_writes = 0;
    write_budget = 100;
    stall_writes = true;
    int created = crypt::create_key_file(".");
    stall_writes = false;
    EXPECT_EQ(created, -1);
    EXPECT_LE(zero_writes, 10);
    EXPECT_FALSE(file_exists(install.key_path()));
}

// The total is an int: a larger length must not come back as a negative count.
TEST(WriteAll, LengthBeyondAnIntIsRefused) {
    int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    static const char data[16] = {};
    // /dev/null takes any count without reading the bytes.
    EXPECT_EQ(crypt::write_all(fd, data, 3000000000L), -1);
    EXPECT_EQ(crypt::write_all(fd, data, 16), 16);
    ::close(fd);
}

// With a file size limit the kernel accepts part of the write and then refuses
// the rest: write_all goes on after the partial write and then fails, and a key
// file cut short that way is removed rather than left to fail every later load.
TEST(WriteAll, PartialWriteThenRefusalLeavesNoShortKeyFile) {
    InstallDir install;
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_xfsz = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    std::string plain_path = install.file("partial");
    int fd = ::open(plain_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string data(4096, 'x');
    int written = crypt::write_all(fd, data.data(), static_cast<long>(data.size()));
    ::close(fd);
    int created = crypt::create_key_file(".");

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    std::signal(SIGXFSZ, old_xfsz);

    EXPECT_EQ(written, -1);
    EXPECT_EQ(read_file(plain_path).size(), 1000u);
    EXPECT_EQ(created, -1);
    EXPECT_FALSE(file_exists(install.key_path()));
    // The next attempt, with room to write, succeeds.
    EXPECT_EQ(load_key().size(), 32u);
    EXPECT_EQ(read_file(install.key_path()).size(), 4096u);
}

}  // namespace
}  // namespace omvar::test
