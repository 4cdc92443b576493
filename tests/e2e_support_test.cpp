// What makes the process tests hermetic: a queue namespace of their own, and
// programs copied where another user can run them.
#include <fcntl.h>
#include <mqueue.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e_support.h"
#include "test_support.h"

namespace omvar::test {
namespace {

constexpr uid_t kNobody = 65534;

std::string ipc_namespace(const std::string& pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + pid + "/ns/ipc", error).string();
}

class TestIsolation : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: a private IPC namespace and runs as another user";
        }
    }
    TempDir dir_;
};

// The namespace the test program was started in stands for the machine's: that
// of CTest, or of the shell.
TEST_F(TestIsolation, QueuesOfATestAreInvisibleToTheMachine) {
    const std::string starter = std::to_string(getppid());
    ASSERT_NE(ipc_namespace("self"), ipc_namespace(starter))
        << "the test program shares its starter's namespace";
    const std::string name = "/omvar-isolation-" + std::to_string(getpid());
    mqd_t queue = mq_open(name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, nullptr);
    ASSERT_NE(queue, static_cast<mqd_t>(-1));

    // A process in the starter's namespace, as an agent running there would be.
    const std::string starter_ns = "/proc/" + starter + "/ns/ipc";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int host = open(starter_ns.c_str(), O_RDONLY | O_CLOEXEC);
        if (host < 0 || setns(host, CLONE_NEWIPC) != 0) {
            _exit(2);
        }
        mqd_t seen = mq_open(name.c_str(), O_WRONLY | O_NONBLOCK);
        _exit(seen == static_cast<mqd_t>(-1) && errno == ENOENT ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the machine sees the test's queue, 2: cannot enter its namespace";
    mq_close(queue);
    EXPECT_EQ(mq_unlink(name.c_str()), 0);
}

// A program in a directory only its owner can enter, as a build in /root is.
struct CopyCase {
    const char* name;
    mode_t target_parent_mode;  // of the directory above the copy's directory
    bool runnable;
};

class CopyForUser : public TestIsolation, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyForUser, CopyRunsAsTheUserOrSaysWhyNot) {
    chmod(dir_.path().c_str(), 0755);
    const std::string build = dir_.file("build");
    ASSERT_EQ(mkdir(build.c_str(), 0700), 0);
    std::filesystem::copy_file("/bin/true", build + "/program");
    ASSERT_EQ(chmod((build + "/program").c_str(), 0755), 0);
    const std::string parent = dir_.file("parent");
    ASSERT_EQ(mkdir(parent.c_str(), GetParam().target_parent_mode), 0);
    ASSERT_EQ(chmod(parent.c_str(), GetParam().target_parent_mode), 0);

    ASSERT_EQ(wait_exit(spawn({build + "/program"}, {}, "/", "/dev/null", "/dev/null", kNobody), 5000), 127)
        << "the build directory is expected to be closed to the user";
    std::string why;
    const std::string copy = copy_for_user(build + "/program", parent + "/programs", kNobody, &why);
    if (!GetParam().runnable) {
        EXPECT_EQ(copy, "");
        EXPECT_NE(why.find("cannot run"), std::string::npos) << why;
        return;
    }
    ASSERT_EQ(copy, parent + "/programs/program") << why;
    EXPECT_EQ(wait_exit(spawn({copy}, {}, "/", "/dev/null", "/dev/null", kNobody), 5000), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, CopyForUser,
                         ::testing::Values(CopyCase{"reachable", 0755, true},
                                           CopyCase{"parent_closed", 0700, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace omvar::test
