// The out-of-band thread turns port sections into configured ports with running readers.
#include "link/serial_setup.h"

#include "platform/event_log.h"
#include "platform/pty.h"
#include "platform/threads.h"
#include "runtime/stop_flag.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace farlink::link {
namespace {

using Texts = std::vector<std::string>;

std::string section(int n, const std::string& keys) {
    return "[Serial Port Parameters." + std::to_string(n) + "]\n" + keys;
}

class SerialSetupTest : public ::testing::Test {
  protected:
    farlink::testing::TempProfileDir dir;
    std::vector<platform::PtyPair> lines;

    void SetUp() override {
        runtime::stopFlag = 0;
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
    }
    void TearDown() override {
        runtime::stopFlag = 1;
        threadsSettleAt(0);
        for (PortRecord& r : portTable.ports)
            if (r.port) platform::closeSerialPort(r.port);
        for (auto& line : lines)
            platform::closePtyPair(line);
    }
    // Waits, within a generous bound, until n threads are running.
    static bool threadsSettleAt(int n) {
        for (int i = 0; i < 500 && platform::runningThreads() != n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return platform::runningThreads() == n;
    }
    // Gives COMn a pseudo-terminal line.
    void wire(const char* portName) {
        platform::PtyPair pair;
        ASSERT_TRUE(platform::openPtyPair(pair));
        ASSERT_TRUE(platform::exposeAsComPort(pair, portName));
        lines.push_back(pair);
    }
    Texts eventTexts() {
        Texts texts;
        for (const auto& e : platform::loggedEvents()) {
            EXPECT_EQ(e.id, 0x40060001u);
            texts.push_back(e.strings.at(0));
        }
        platform::clearLoggedEvents();
        return texts;
    }
};

TEST_F(SerialSetupTest, PortIsUsedOnlyWithModemYAndRefusedWithoutParityInitStringOrComName) {
    wire("COM2");
    EXPECT_EQ(openComPort("COM5"), nullptr);
    EXPECT_EQ(openComPort("/dev/null"), nullptr);
    const Texts failed = {" Failed to configure COM PORT 1"};
    // A port section, and the events of a thread that brings no port up.
    const std::pair<std::string, Texts> cases[] = {
        {"PortNumber=COM2\n", {}}, // without Modem=Y the port is simply not used
        {"PortNumber=COM2\nModem=y\nParity=NONE\nModemInitString=AT\n", {}},
        {"PortNumber=COM2\nModem=Y\n", failed},
        {"PortNumber=COM2\nModem=Y\nParity=none\n", failed},
        {"PortNumber=COM5\nModem=Y\nParity=NONE\nModemInitString=A\n", failed}};
    for (const auto& [keys, events] : cases) {
        dir.write("TESSEL.INI", section(1, keys));
        EXPECT_EQ(outOfBandThread(), 1) << keys;
        EXPECT_EQ(eventTexts(), events) << keys;
    }
}

TEST_F(SerialSetupTest, LineSettingsOutsideTheirRangesFailThePortAndCloseIt) {
    wire("COM1");
    const std::string base = "PortNumber=com1\nModem=Y\nModemInitString=ATZ\n";
    // Settings, and the speed and stop bits they give ({} when refused); the first one passing
    // is all defaults. A pseudo-terminal holds its framing at eight bits without parity.
    using Line = std::pair<unsigned, int>;
    const std::pair<std::string, Line> cases[] = {
        {"Parity=none\nBaud=115200\n", {}},
        {"Parity=none\ndataBits=9\n", {}},
        {"Parity=none\nstopBits=3\n", {}},
        {"Parity=EVENLY\n", {}},
        {"Parity=none\n", {9600, 0}},
        {"Parity=Space\nstopBits=2\ndataBits=7\nBaud=57600\n", {57600, 2}}};
    for (const auto& [keys, want] : cases) {
        dir.write("TESSEL.INI", section(1, base + keys));
        fillPortTable();
        PortRecord& record = portTable.ports[0];
        const bool passes = want.first != 0;
        ASSERT_EQ(configurePort(record), passes ? 1 : 0) << keys;
        if (!passes) {
            EXPECT_EQ(record.port, nullptr) << keys;
            continue;
        }
        platform::CommState s;
        ASSERT_TRUE(record.port->getState(s));
        EXPECT_EQ(Line(s.baudRate, s.stopBits), want) << keys;
        platform::closeSerialPort(record.port);
        record.port = nullptr;
    }
}

TEST_F(SerialSetupTest, ThreePortsOneFailingGiveTwoReadersAndOneEvent) {
    wire("COM1");
    wire("COM3");
    dir.write("TESSEL.INI",
              section(1, "PortNumber=COM1\nModem=Y\nParity=none\nModemInitString=ATZ\n") +
                  section(2, "PortNumber=COM3\nModem=Y\nParity=odd\nModemInitString=AT\n") +
                  section(4, "PortNumber=COM4\nModem=Y\nParity=even\nModemInitString=\n"));
    EXPECT_EQ(outOfBandThread(), 0);
    EXPECT_EQ(eventTexts(), Texts{" Failed to configure COM PORT 4"});
    // The modem monitors end at once on lines without modem signals; the readers stay.
    EXPECT_TRUE(threadsSettleAt(2)) << platform::runningThreads();
    EXPECT_EQ(portTable.ports[3].use, 'N');
}

} // namespace
} // namespace farlink::link
