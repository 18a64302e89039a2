#include "platform/systemd_host.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <sys/stat.h>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

// A stand-in `systemctl` found first on PATH: a shell script the test writes.
class FakeSystemctl : public ::testing::Test {
  protected:
    void install(const std::string& body) {
        dir_.write("systemctl", "#!/bin/sh\n" + body);
        ::chmod((dir_.path() + "/systemctl").c_str(), 0755);
    }

    TempProfileDir dir_;
    ScopedEnv path_{"PATH", dir_.path() + ":" + std::getenv("PATH")};
};

TEST_F(FakeSystemctl, ArgumentsGoThroughAndOutputAndStatusComeBack) {
    install("echo \"$*\"\nexit 3\n");
    std::string output;
    EXPECT_EQ(runSystemctl({"start", "--no-block", "farlink.service"}, &output, 10000), 3);
    EXPECT_EQ(output, "--no-ask-password start --no-block farlink.service\n");
}

TEST_F(FakeSystemctl, ChildStartsWithNoSignalBlocked) {
    // The agent blocks its control signals in every thread; systemctl must not inherit that.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGPWR);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Read with the shell's own builtins: a forked helper would catch the shell in the middle
    // of its fork, when it blocks everything for a moment.
    install("while read -r line; do case $line in SigBlk*) echo \"$line\";; esac; done "
            "</proc/$$/status\n");
    std::string output;
    EXPECT_EQ(runSystemctl({"is-system-running"}, nullptr, 10000), 0);
    EXPECT_EQ(runSystemctl({"is-system-running"}, &output, 10000), 0);
    EXPECT_EQ(output, "SigBlk:\t0000000000000000\n");
}

TEST_F(FakeSystemctl, CallThatDoesNotEndIsCutOff) {
    install("exec sleep 600\n");
    errno = 0;
    EXPECT_EQ(runSystemctl({"is-system-running"}, nullptr, 100), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(Systemctl, MissingProgramIsAFailure) {
    TempProfileDir empty;
    ScopedEnv path("PATH", empty.path());
    errno = 0;
    EXPECT_EQ(runSystemctl({"is-system-running"}, nullptr, 10000), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
} // namespace farlink::platform
