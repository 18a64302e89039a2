#include "platform/service_host.h"

#include "platform/threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

// Waits in short steps until the condition holds, with a generous bound so that a fault shows
// as a failure rather than a hung test.
template <typename Condition> bool eventually(Condition condition) {
    for (int step = 0; step < 20000; ++step) {
        if (condition()) return true;
        sleepMs(1);
    }
    return condition();
}

// A datagram socket standing in for systemd's notification socket.
class NotifyListener {
  public:
    // Bound at a path in dir, or in the abstract namespace when abstractName is given.
    explicit NotifyListener(const std::string& dir, const std::string& abstractName = {}) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socklen_t length;
        if (abstractName.empty()) {
            name_ = dir + "/notify";
            std::strncpy(address.sun_path, name_.c_str(), sizeof address.sun_path - 1);
            length = sizeof address;
        } else {
            name_ = "@" + abstractName;
            std::memcpy(address.sun_path + 1, abstractName.data(), abstractName.size());
            length =
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
        }
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~NotifyListener() { ::close(fd_); }
    bool bound() const { return bound_; }
    const std::string& name() const { return name_; }

    // The datagram waiting, or "(none)". A local datagram is queued before sendto returns, so
    // there is nothing to wait for.
    std::string take() {
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        return n < 0 ? std::string("(none)") : std::string(buffer, static_cast<std::size_t>(n));
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
    std::string name_;
};

struct NotifyCase {
    std::uint32_t state;
    const char* datagram;
};

class NotifyMessages : public ::testing::TestWithParam<NotifyCase> {};

TEST_P(NotifyMessages, EachStateSendsItsLines) {
    TempProfileDir dir;
    NotifyListener listener(dir.path());
    ASSERT_TRUE(listener.bound());
    ScopedEnv socket("NOTIFY_SOCKET", listener.name());
    ServiceStatus status;
    status.currentState = GetParam().state;
    status.checkPoint = 2;
    status.waitHint = 3000;
    EXPECT_TRUE(setServiceStatus(status));
    EXPECT_EQ(listener.take(), GetParam().datagram);
    EXPECT_EQ(listener.take(), "(none)") << "one report is one datagram";
}

INSTANTIATE_TEST_SUITE_P(ServiceHost, NotifyMessages,
                         ::testing::Values(NotifyCase{kStateStartPending, "STATUS=Starting"},
                                           NotifyCase{kStateRunning, "READY=1\nSTATUS=Running"},
                                           NotifyCase{kStateStopPending,
                                                      "STOPPING=1\nSTATUS=Stopping"},
                                           NotifyCase{kStateStopped, "STATUS=Stopped"}));

TEST(ServiceHost, AbstractNotifySocketIsReached) {
    NotifyListener listener("", "farlink-test-notify-" + std::to_string(::getpid()));
    ASSERT_TRUE(listener.bound());
    ScopedEnv socket("NOTIFY_SOCKET", listener.name());
    ServiceStatus status;
    status.currentState = kStateRunning;
    EXPECT_TRUE(setServiceStatus(status));
    EXPECT_EQ(listener.take(), "READY=1\nSTATUS=Running");
}

TEST(ServiceHost, WithoutNotifySocketTheStatusIsKeptAndCountsAsDelivered) {
    ScopedEnv socket("NOTIFY_SOCKET", "");
    const ServiceStatus status{0x10, kStateStopPending, 5, 0, 0, 1, 3000};
    EXPECT_TRUE(setServiceStatus(status));
    const ServiceStatus kept = lastReportedStatus();
    EXPECT_EQ(kept.serviceType, 0x10u);
    EXPECT_EQ(kept.currentState, kStateStopPending);
    EXPECT_EQ(kept.controlsAccepted, 5u);
    EXPECT_EQ(kept.checkPoint, 1u);
    EXPECT_EQ(kept.waitHint, 3000u);
}

TEST(ServiceHost, UndeliverableReportFailsButIsKept) {
    TempProfileDir dir;
    for (const std::string& name :
         {dir.path() + "/nobody-listens", std::string("relative/path"), std::string("@")}) {
        ScopedEnv socket("NOTIFY_SOCKET", name);
        ServiceStatus status;
        status.currentState = kStateRunning;
        status.checkPoint = static_cast<std::uint32_t>(name.size());
        EXPECT_FALSE(setServiceStatus(status)) << name;
        EXPECT_EQ(lastReportedStatus().checkPoint, name.size()) << name;
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
    // Sent to the process, as systemd and kill(1) do; the dispatcher takes it.
    ::kill(::getpid(), signalToRaise.load());
    EXPECT_TRUE(eventually([] { return seenControl.load() != 0; }));
    mainReturned = true;
}

struct SignalCase {
    int signalNumber;
    std::uint32_t control;
};

class SignalControls : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalControls, SignalBecomesItsControlOnTheDispatcherThread) {
    // Outside a stopping systemd host a SIGTERM is a plain stop.
    signalToRaise = GetParam().signalNumber;
    seenControl = 0;
    mainReturned = false;
    ASSERT_TRUE(startServiceDispatcher("FARLINK", mainRaisingSignal));
    EXPECT_TRUE(mainReturned) << "the service routine runs on the calling thread to its end";
    EXPECT_EQ(seenControl.load(), GetParam().control);
    EXPECT_FALSE(pthread_equal(handlerThread.load(), pthread_self()))
        << "controls arrive on the dispatcher's thread";
}

INSTANTIATE_TEST_SUITE_P(ServiceHost, SignalControls,
                         ::testing::Values(SignalCase{SIGTERM, kControlStop},
                                           SignalCase{SIGINT, kControlStop},
                                           SignalCase{SIGPWR, kControlShutdown}));

TEST(ServiceHost, DeliveredControlReachesTheRegisteredHandler) {
    deliverControl(kControlStop); // nobody registered yet: nothing happens
    seenControl = 0;
    EXPECT_FALSE(registerControlHandler("FARLINK", nullptr));
    ASSERT_TRUE(registerControlHandler("FARLINK", recordControl));
    deliverControl(kControlInterrogate);
    EXPECT_EQ(seenControl.load(), kControlInterrogate);
}

} // namespace
} // namespace farlink::platform
