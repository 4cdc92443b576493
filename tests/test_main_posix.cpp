// The main of every Linux test program. It first moves the program into an IPC
// namespace of its own, so that the request queue "/omvarbackup" it creates,
// opens or removes is never the machine's: an agent running on the machine, or
// another test run, neither receives these tests' requests nor sends them its
// own. Every program a test starts (the agent, the stand-in engine) inherits it.
#include <sched.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) touches no queue.
    if (!::testing::GTEST_FLAG(list_tests) && unshare(CLONE_NEWIPC) != 0) {
        // Without the privilege for it (not root) the tests still pass as long as
        // nothing else on the machine uses the queue.
        std::fprintf(stderr, "note: no private IPC namespace (%s); sharing the queue name with the machine\n",
                     std::strerror(errno));
    }
    return RUN_ALL_TESTS();
}
