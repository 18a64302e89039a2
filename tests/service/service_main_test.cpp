// The service entry and its controls: the driver's shut-down request and the ways the service ends.
#include "service/service_main.h"

#include "machine_fixture.h"
#include "platform/service_host.h"
#include "runtime/stop_flag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

namespace farlink::service {

using runtime::stopFlag;
namespace {

class ServiceControl : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        stopFlag.store(0);
        stopEvent().reset();
    }
};

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

class ShutDownFails : public ServiceControl, public ::testing::WithParamInterface<bool> {};

TEST_P(ShutDownFails, WithOneEventAndStopsAllTheSame) {
    // A present driver without an answer for the request refuses it.
    const bool driverPresent = GetParam();
    if (driverPresent) answer(0x80002010, {});
    controlHandler(5);
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].id, 0x40060004u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0],
              driverPresent ? "Error 1 occured in SHUTDOWN IOCTL" : "Couldn't open the device: 2");
    EXPECT_EQ(stopFlag.load(), 1u);
    EXPECT_TRUE(stopEvent().wait(0));
}

INSTANTIATE_TEST_SUITE_P(Driver, ShutDownFails, ::testing::Bool());

TEST_F(ServiceControl, StopBeforeTheServiceWaitsIsNotLost) {
    ASSERT_TRUE(platform::registerControlHandler("FARLINK", controlHandler));
    platform::deliverControl(1);
    serviceMain();
    EXPECT_EQ(machine.threadsStarted, 1) << "the start-up worker is started before running";
    EXPECT_EQ(platform::lastReportedStatus().controlsAccepted, 5u);
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

} // namespace
} // namespace farlink::service
