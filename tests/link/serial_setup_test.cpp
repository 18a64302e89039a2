// The out-of-band thread turns port sections into configured ports with running readers.
#include "link/serial_setup.h"

#include "platform/event_log.h"
#include "platform/pty.h"
#include "platform/threads.h"
#include "service/stop_flag.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace farlink::link {
namespace {

using farlink::testing::TempProfileDir;

std::string section(int n, const std::string& keys) {
    return "[Serial Port Parameters." + std::to_string(n) + "]\n" + keys;
}

const std::string kGoodKeys = "PortNumber=COM1\nModem=Y\nParity=none\nModemInitString=ATZ\n";

class SerialSetupTest : public ::testing::Test {
  protected:
    TempProfileDir dir;
    std::vector<platform::PtyPair> lines;

    void SetUp() override {
        service::stopFlag = 0;
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
    }
    void TearDown() override {
        service::stopFlag = 1;
        for (int i = 0; i < 500 && platform::runningThreads() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (PortRecord& r : portTable.ports)
            if (r.port) platform::closeSerialPort(r.port);
        for (auto& line : lines)
            platform::closePtyPair(line);
    }
    // Gives COMn a pseudo-terminal line.
    void wire(const char* portName) {
        platform::PtyPair pair;
        ASSERT_TRUE(platform::openPtyPair(pair));
        ASSERT_TRUE(platform::exposeAsComPort(pair, portName));
        lines.push_back(pair);
    }
    std::vector<std::string> eventTexts() {
        std::vector<std::string> texts;
        for (const auto& e : platform::loggedEvents()) {
            EXPECT_EQ(e.id, 0x40060001u);
            texts.push_back(e.strings.at(0));
        }
        return texts;
    }
};

TEST_F(SerialSetupTest, PortIsUsedOnlyWithModemYAndFailsWithoutParityOrInitString) {
    wire("COM2");
    dir.write("TESSEL.INI", section(1, "PortNumber=COM2\n"));
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_TRUE(eventTexts().empty()) << "a port without Modem=Y is simply not used";

    dir.write("TESSEL.INI",
              section(1, "PortNumber=COM2\nModem=y\nParity=NONE\nModemInitString=AT\n"));
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_TRUE(eventTexts().empty()) << "a lower-case y leaves the port out";

    dir.write("TESSEL.INI", section(1, "PortNumber=COM2\nModem=Y\n"));
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{" Failed to configure COM PORT 1"});
    platform::clearLoggedEvents();

    dir.write("TESSEL.INI", section(1, "PortNumber=COM2\nModem=Y\nParity=none\n"));
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{" Failed to configure COM PORT 1"});
}

TEST_F(SerialSetupTest, CompleteSectionIsSetUpWithItsDefaults) {
    wire("COM2");
    dir.write("TESSEL.INI",
              section(1, "PortNumber=com2\nModem=Y\nParity=none\nModemInitString=ATZ\n"));
    fillPortTable();
    PortRecord& record = portTable.ports[0];
    ASSERT_EQ(record.use, 'Y');
    ASSERT_EQ(configurePort(record), 1);
    platform::CommState state;
    ASSERT_TRUE(record.port->getState(state));
    EXPECT_EQ(state.baudRate, 9600u);
    EXPECT_EQ(state.byteSize, 8);
    EXPECT_EQ(state.parity, 0);
    EXPECT_EQ(state.stopBits, 0);
}

TEST_F(SerialSetupTest, LineSettingsOutsideTheirRangesFailThePort) {
    wire("COM1");
    const std::string base = "PortNumber=COM1\nModem=Y\nModemInitString=ATZ\n";
    for (const std::string bad : {"Parity=none\nBaud=115200\n", "Parity=none\ndataBits=9\n",
                                  "Parity=none\nstopBits=3\n", "Parity=EVENLY\n"}) {
        dir.write("TESSEL.INI", section(1, base + bad));
        fillPortTable();
        EXPECT_EQ(configurePort(portTable.ports[0]), 0) << bad;
        EXPECT_EQ(portTable.ports[0].port, nullptr) << "a failed port is closed again";
    }
    for (const std::string good : {"Parity=none\nBaud=14400\n",
                                   "Parity=Space\nstopBits=2\ndataBits=7\nBaud=57600\n"}) {
        dir.write("TESSEL.INI", section(1, base + good));
        fillPortTable();
        EXPECT_EQ(configurePort(portTable.ports[0]), 1) << good;
        platform::closeSerialPort(portTable.ports[0].port);
        portTable.ports[0].port = nullptr;
    }
}

TEST_F(SerialSetupTest, NamesOtherThanComOneToFourAreRefusedWithoutOpening) {
    EXPECT_EQ(openComPort("COM5"), nullptr);
    EXPECT_EQ(openComPort("/dev/null"), nullptr);
    dir.write("TESSEL.INI",
              section(3, "PortNumber=COM5\nModem=Y\nParity=NONE\nModemInitString=A\n"));
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{" Failed to configure COM PORT 3"});
}

TEST_F(SerialSetupTest, ThreePortsOneFailingGiveTwoReadersAndOneEvent) {
    wire("COM1");
    wire("COM3");
    dir.write("TESSEL.INI",
              section(1, kGoodKeys) +
                  section(2, "PortNumber=COM3\nModem=Y\nParity=odd\nModemInitString=AT\n") +
                  section(4, "PortNumber=COM4\nModem=Y\nParity=even\nModemInitString=\n"));
    EXPECT_EQ(outOfBandThread(), 0);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{" Failed to configure COM PORT 4"});
    // The modem monitors end at once on lines without modem signals; the readers stay.
    int running = -1;
    for (int i = 0; i < 500; ++i) {
        running = platform::runningThreads();
        if (running == 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(running, 2);
    EXPECT_EQ(portTable.ports[3].use, 'N');
}

TEST_F(SerialSetupTest, NoPortSectionsNoEventsAndTheThreadEndsWithOne) {
    dir.write("TESSEL.INI", "[environment]\npassword=x\n");
    EXPECT_EQ(outOfBandThread(), 1);
    EXPECT_TRUE(platform::loggedEvents().empty());
}

} // namespace
} // namespace farlink::link
