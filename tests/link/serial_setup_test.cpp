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
#include <tuple>
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
    // The error events, and the operator's informational lines, since the last call.
    Texts eventTexts() { return texts(1); }
    Texts infoTexts() { return texts(4); }
    Texts texts(std::uint16_t type) {
        Texts found;
        for (const auto& e : platform::loggedEvents()) {
            if (e.type != type) continue;
            EXPECT_EQ(e.id, type == 1 ? 0x40060001u : 0u);
            found.push_back(e.strings.at(0));
        }
        return found;
    }
};

TEST_F(SerialSetupTest, EveryPortThatIsNotServedSaysWhyAndNoLineAtAllIsAnError) {
    EXPECT_EQ(openComPort("COM5"), nullptr);
    EXPECT_EQ(openComPort("/dev/null"), nullptr);
    const std::string failed = " Failed to configure COM PORT 1";
    const std::string none = "No serial line came up: nothing is served until " + dir.path() +
                             "/TESSEL.INI names a working port";
    const std::string at = "Serial Port Parameters.1: ";
    // A port section, the operator's line about it ("" for none) and whether the port failed.
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"", "", false},
        {"PortNumber=COM3\nModem=Y\nParity=NONE\nModemInitString=A\n",
         at + "COM3 is " + dir.path() +
             "/no-such-device, which cannot be opened: No such file or directory (error 2)",
         true}};
    farlink::testing::ScopedEnv missing("FARLINK_COM3", dir.path() + "/no-such-device");
    for (const auto& [keys, info, fails] : cases) {
        platform::clearLoggedEvents();
        dir.write("TESSEL.INI", keys.empty() ? std::string() : section(1, keys));
        EXPECT_EQ(outOfBandThread(), 1) << keys;
        EXPECT_EQ(eventTexts(), (fails ? Texts{failed, none} : Texts{none})) << keys;
        EXPECT_EQ(infoTexts(), info.empty() ? Texts{} : Texts{info}) << keys;
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
        {"Parity=EVENLY\n", {}},
        {"Parity=none\n", {9600, 0}},
        {"Parity=Space\nstopBits=2\ndataBits=7\nBaud=57600\n", {57600, 2}}};
    for (const auto& [keys, want] : cases) {
        dir.write("TESSEL.INI", section(1, base + keys));
        fillPortTable();
        PortRecord& record = portTable.ports[0];
        const bool passes = want.first != 0;
        std::string reason;
        ASSERT_EQ(configurePort(record, reason), passes ? 1 : 0) << keys;
        if (!passes) {
            EXPECT_EQ(record.port, nullptr) << keys;
            EXPECT_NE(reason.find(" is not supported; use "), std::string::npos) << reason;
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
    EXPECT_EQ(infoTexts().size(), 3u);
    // The modem monitors end at once on lines without modem signals; the readers stay.
    EXPECT_TRUE(threadsSettleAt(2)) << platform::runningThreads();
    EXPECT_EQ(portTable.ports[3].use, 'N');
}

} // namespace
} // namespace farlink::link
