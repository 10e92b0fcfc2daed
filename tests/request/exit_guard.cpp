// The library ends a request with exit status 0, which a test runner would take for success.
// This guard fails the test program when it ends, with any status, while a test is running;
// death-test children, which are meant to exit, are left alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const pid_t test_process = getpid();
bool test_running = false;

class RunningListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { test_running = true; }
    void OnTestEnd(const testing::TestInfo&) override { test_running = false; }
};

void fail_premature_exit() {
    if (!test_running || getpid() != test_process) return;
    if (!GTEST_FLAG_GET(internal_run_death_test).empty()) return;
    std::fputs("the test program exited in the middle of a test\n", stderr);
    std::fflush(stderr);
    _exit(1);
}

const bool guard_installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new RunningListener);
    return std::atexit(fail_premature_exit) == 0;
}();

}  // namespace
