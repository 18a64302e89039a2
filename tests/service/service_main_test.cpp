// The service entry and its controls: the order of the stop, the driver's shut-down request, and
// the states the service reports on its way.
#include "service/service_main.h"

#include "machine_fixture.h"
#include "platform/service_host.h"
#include "service/agent_run.h"
#include "service/stop_flag.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace farlink::service {
namespace {

class ServiceControl : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        stopFlag.store(0);
        stopEvent().reset();
    }

    // Runs the control on this thread while another waits on the stop event and notes what it
    // finds the moment it wakes.
    template <typename Look> auto lookWhenWoken(std::uint32_t control, Look look) {
        decltype(look()) seen{};
        std::thread waiter([&] {
            stopEvent().wait(-1);
            seen = look();
        });
        controlHandler(control);
        waiter.join();
        return seen;
    }
};

TEST_F(ServiceControl, StopSetsTheFlagBeforeTheEvent) {
    const std::uint32_t flagSeen = lookWhenWoken(1, [] { return stopFlag.load(); });
    EXPECT_EQ(flagSeen, 1u);
    const platform::ServiceStatus status = platform::lastReportedStatus();
    EXPECT_EQ(status.currentState, platform::kStateStopPending);
    EXPECT_EQ(status.checkPoint, 1u);
    EXPECT_EQ(status.waitHint, 3000u);
    EXPECT_EQ(record(), "") << "a plain stop leaves the driver alone";
}

TEST_F(ServiceControl, ShutDownTellsTheDriverBeforeTheEvent) {
    // The driver's answer is a pipe: the request is held inside the driver until the test has
    // looked at the event and lets it finish by closing the other end.
    answer(0x80002010, {});
    const std::string held = image + "/devices/KORU/8000205c.bin";
    ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
    std::thread handler(controlHandler, 5u);
    const int driverEnd = ::open(held.c_str(), O_WRONLY); // returns once the request is made
    const bool eventDuringRequest = stopEvent().wait(0);
    const std::uint32_t flagDuringRequest = stopFlag.load();
    ::close(driverEnd);
    handler.join();
    EXPECT_FALSE(eventDuringRequest);
    EXPECT_EQ(flagDuringRequest, 1u);
    EXPECT_TRUE(stopEvent().wait(0));
    EXPECT_EQ(record(), "KORU 0x8000205c\n");
    EXPECT_TRUE(platform::loggedEvents().empty());
}

struct ShutdownFailure {
    bool driverPresent;
    const char* event;
};

class ShutDownFails : public ServiceControl,
                      public ::testing::WithParamInterface<ShutdownFailure> {};

TEST_P(ShutDownFails, WithOneEventAndStopsAllTheSame) {
    // A present driver without an answer for the request refuses it.
    if (GetParam().driverPresent) answer(0x80002010, {});
    controlHandler(5);
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].id, 0x40060004u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0], GetParam().event);
    EXPECT_EQ(stopFlag.load(), 1u);
    EXPECT_TRUE(stopEvent().wait(0));
}

INSTANTIATE_TEST_SUITE_P(Driver, ShutDownFails,
                         ::testing::Values(ShutdownFailure{false, "Couldn't open the device: 2"},
                                           ShutdownFailure{true,
                                                           "Error 1 occured in SHUTDOWN IOCTL"}));

TEST_F(ServiceControl, InterrogateAndOtherControlsAreIgnored) {
    reportStatus(platform::kStateRunning, 0, 0, 0);
    for (std::uint32_t control : {4u, 2u, 3u, 0u, 0x80u})
        controlHandler(control);
    EXPECT_EQ(platform::lastReportedStatus().currentState, platform::kStateRunning);
    EXPECT_EQ(stopFlag.load(), 0u);
    EXPECT_FALSE(stopEvent().wait(0));
}

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
  public:
    explicit NotifySocket(std::string path) : path_(std::move(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    // The next message; empty when none is waiting and `wait` is false.
    std::string next(bool wait = true) {
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, wait ? 0 : MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

TEST_F(ServiceControl, ServiceMainReportsEachStateInTurnAndEndsOnStop) {
    NotifySocket notify(windir.path() + "/notify");
    ASSERT_TRUE(notify.bound());
    testing::ScopedEnv notifyEnv("NOTIFY_SOCKET", windir.path() + "/notify");
    std::thread service(serviceMain);
    std::vector<std::string> messages;
    do {
        messages.push_back(notify.next());
    } while (messages.back().find("READY=1") == std::string::npos && messages.size() < 3);
    EXPECT_EQ(machine.threadsStarted, 1) << "the start-up worker is started before running";
    platform::deliverControl(1);
    service.join();
    for (std::string m = notify.next(false); !m.empty(); m = notify.next(false))
        messages.push_back(m);
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_TRUE(startsWith(messages[0], "STATUS=Starting"));
    EXPECT_TRUE(startsWith(messages[1], "STATUS=Starting"));
    EXPECT_TRUE(startsWith(messages[2], "READY=1"));
    EXPECT_TRUE(startsWith(messages[3], "STOPPING=1"));
    EXPECT_TRUE(startsWith(messages[4], "STATUS=Stopped"));
    EXPECT_EQ(platform::lastReportedStatus().controlsAccepted, 5u);
}

TEST_F(ServiceControl, StopBeforeTheServiceWaitsIsNotLost) {
    ASSERT_TRUE(platform::registerControlHandler("FARLINK", controlHandler));
    platform::deliverControl(1);
    serviceMain();
    EXPECT_EQ(platform::lastReportedStatus().currentState, platform::kStateStopped);
}

TEST_F(ServiceControl, StatusThatCannotBeReportedEndsTheService) {
    testing::ScopedEnv notifyEnv("NOTIFY_SOCKET", windir.path() + "/nobody-listens");
    serviceMain();
    EXPECT_EQ(machine.threadsStarted, 0);
    EXPECT_TRUE(stopEvent().wait(0));
    EXPECT_EQ(platform::lastReportedStatus().currentState, platform::kStateStopped);
}

TEST_F(ServiceControl, WorkerThatCannotStartEndsTheService) {
    machine.failThreadStart = 1;
    serviceMain();
    EXPECT_EQ(machine.threadsStarted, 1);
    EXPECT_EQ(platform::lastReportedStatus().currentState, platform::kStateStopped);
}

TEST(CommandLine, VersionAndUsageEndWithOne) {
    const char* version[] = {"farlink", "-v"};
    const char* other[] = {"farlink", "-V"};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(agentMain(2, version), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Koru Agent for Windows NT OOB Server V1.2a\n");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(agentMain(2, other), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Input Format:FARLINK -v\n");
}

} // namespace
} // namespace farlink::service
