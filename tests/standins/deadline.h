// A deadline for every test of the executables that include this header: tests
// that open FIFOs, wait for another process or run a tool could otherwise hang
// the whole run when the code under test blocks. At the deadline SIGALRM's
// default action ends the test process, and the test is reported as failed.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

namespace omvar::test {

// Far above the few seconds the slowest of these tests takes.
constexpr unsigned kTestDeadlineSeconds = 60;

class TestDeadline : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { alarm(kTestDeadlineSeconds); }
    void OnTestEnd(const ::testing::TestInfo&) override { alarm(0); }
};

inline bool install_test_deadline() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestDeadline);
    return true;
}

// Installed once per executable, before main runs the tests.
inline const bool kTestDeadlineInstalled = install_test_deadline();

}  // namespace omvar::test
