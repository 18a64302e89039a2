#include "platform/service_host.h"

#include "platform/systemd_host.h"
#include "platform/threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

// A datagram socket standing in for systemd's notification socket, bound at `name`: a path, or
// after an '@' a name in the abstract namespace.
class NotifyListener {
  public:
    explicit NotifyListener(const std::string& name) : name_(name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') address.sun_path[0] = '\0';
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~NotifyListener() { ::close(fd_); }

    // The datagram waiting, or "(none)". A local datagram is queued before sendto returns, so
    // there is nothing to wait for.
    std::string take() {
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        return n < 0 ? std::string("(none)") : std::string(buffer, static_cast<std::size_t>(n));
    }

    int fd_ = -1;
    bool bound_ = false;
    std::string name_;
};

bool report(std::uint32_t state) {
    ServiceStatus status;
    status.currentState = state;
    return setServiceStatus(status);
}

TEST(ServiceHost, EachStateIsOneDatagramToTheNotifySocket) {
    NotifyListener listener("@farlink-test-notify-" + std::to_string(::getpid()));
    ASSERT_TRUE(listener.bound_);
    ScopedEnv socket("NOTIFY_SOCKET", listener.name_);
    const std::pair<std::uint32_t, const char*> expected[] = {
        {kStateStartPending, "STATUS=Starting"},
        {kStateRunning, "READY=1\nSTATUS=Running"},
        {kStateStopPending, "STOPPING=1\nSTATUS=Stopping"},
        {kStateStopped, "STATUS=Stopped"}};
    for (const auto& [state, datagram] : expected) {
        EXPECT_TRUE(report(state));
        EXPECT_EQ(listener.take(), datagram);
        EXPECT_EQ(listener.take(), "(none)") << "one report is one datagram";
    }
    TempProfileDir dir;
    ScopedEnv outsideSystemd("NOTIFY_SOCKET", "");
    EXPECT_TRUE(report(kStateStopPending)) << "nobody listens: kept and counted as delivered";
    EXPECT_EQ(lastReportedStatus().currentState, kStateStopPending);
    for (const std::string& name :
         {dir.path() + "/nobody-listens", std::string("relative/path"), std::string("@")}) {
        ScopedEnv unreachable("NOTIFY_SOCKET", name);
        EXPECT_FALSE(report(kStateRunning)) << name;
    }
}

// The dispatcher test's shared state: the routines are plain function pointers.
std::atomic<int> signalToRaise{0};
std::atomic<std::uint32_t> seenControl{0};
std::atomic<pthread_t> handlerThread{};
std::atomic<bool> mainReturned{false};

void recordControl(std::uint32_t control) {
    handlerThread = pthread_self();
    seenControl = control;
}

void mainRaisingSignal() {
    ASSERT_TRUE(registerControlHandler("FARLINK", recordControl));
    // Sent to the process, as systemd does; the wait is bounded so that a fault fails the test.
    ::kill(::getpid(), signalToRaise.load());
    for (int step = 0; step < 20000 && seenControl.load() == 0; ++step)
        sleepMs(1);
    EXPECT_NE(seenControl.load(), 0u);
    mainReturned = true;
}

class SignalControls : public ::testing::TestWithParam<std::pair<int, std::uint32_t>> {};

TEST(ServiceHost, ReadinessBeforeRunningWaitsForRunning) {
    NotifyListener listener("@farlink-test-ready-" + std::to_string(::getpid()));
    ASSERT_TRUE(listener.bound_);
    ScopedEnv socket("NOTIFY_SOCKET", listener.name_);
    deferReadiness();
    EXPECT_TRUE(reportReady("Serving COM1"));
    EXPECT_TRUE(reportStatusText("Serving COM1 on /dev/pts/3"));
    EXPECT_EQ(listener.take(), "(none)");
    EXPECT_TRUE(report(kStateRunning));
    EXPECT_EQ(listener.take(), "STATUS=Running");
    EXPECT_EQ(listener.take(), "READY=1\nSTATUS=Serving COM1");
    EXPECT_EQ(listener.take(), "STATUS=Serving COM1 on /dev/pts/3");
    EXPECT_TRUE(reportStatusText("Serving COM2"));
    EXPECT_EQ(listener.take(), "STATUS=Serving COM2") << "after Running, sent at once";
}

TEST_P(SignalControls, SignalBecomesItsControlOnTheDispatcherThread) {
    signalToRaise = GetParam().first;
    seenControl = 0;
    mainReturned = false;
    ASSERT_TRUE(startServiceDispatcher("FARLINK", mainRaisingSignal));
    EXPECT_TRUE(mainReturned) << "the service routine runs on the calling thread to its end";
    EXPECT_EQ(seenControl.load(), GetParam().second);
    EXPECT_FALSE(pthread_equal(handlerThread.load(), pthread_self()))
        << "controls arrive on the dispatcher's thread";
}

INSTANTIATE_TEST_SUITE_P(ServiceHost, SignalControls,
                         ::testing::Values(std::pair{SIGTERM, kControlStop},
                                           std::pair{SIGPWR, kControlShutdown}));

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

TEST_F(FakeSystemctl, ChildStartsWithNoSignalBlocked) {
    // The agent blocks its control signals; systemctl must not inherit that.
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
    EXPECT_EQ(runSystemctl({"is-system-running"}, &output, 10000), 0);
    EXPECT_EQ(output, "SigBlk:\t0000000000000000\n");
}

TEST_F(FakeSystemctl, ArgumentsStatusAndOutputPassAndACallThatDoesNotEndIsCutOff) {
    install("echo \"$*\"\nexit 3\n");
    std::string output;
    EXPECT_EQ(runSystemctl({"start", "--no-block", "farlink.service"}, &output, 10000), 3);
    EXPECT_EQ(output, "--no-ask-password start --no-block farlink.service\n");
    install("exec sleep 600\n");
    errno = 0;
    EXPECT_EQ(runSystemctl({"is-system-running"}, nullptr, 100), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    ScopedEnv path("PATH", dir_.path() + "/nowhere");
    errno = 0;
    EXPECT_EQ(runSystemctl({"is-system-running"}, nullptr, 10000), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
} // namespace farlink::platform
