#include "platform/pty.h"
#include "platform/serial.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <termios.h>
#include <thread>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using Bytes = std::vector<std::uint8_t>;

// The port under test opens the slave of a pseudo-terminal pair as COM2; the test plays the
// station on the master.
class TermiosPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(openPtyPair(pty_)) << "errno " << errno;
        // A device starts with the terminal defaults (echo, line editing, CR/LF mapping); the
        // pair is made raw, so it is put back to them and the port must make it raw itself.
        termios cooked{};
        ASSERT_EQ(::tcgetattr(pty_.master, &cooked), 0);
        cooked.c_iflag |= ICRNL | IXON | ISTRIP;
        cooked.c_oflag |= OPOST | ONLCR;
        cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        ASSERT_EQ(::tcsetattr(pty_.master, TCSANOW, &cooked), 0);
        env_ = std::make_unique<ScopedEnv>("FARLINK_COM2", pty_.slavePath);
        port_ = openSerialPort("com2");
        ASSERT_NE(port_, nullptr) << "errno " << errno;
    }
    void TearDown() override {
        closeSerialPort(port_);
        closePtyPair(pty_);
    }

    void setReadTimeout(std::uint32_t ms) {
        CommTimeouts timeouts;
        timeouts.readTotalConstant = ms;
        ASSERT_TRUE(port_->setTimeouts(timeouts));
    }

    PtyPair pty_;
    std::unique_ptr<ScopedEnv> env_;
    PortHandle port_ = nullptr;
};

// 14400 is no standard rate. Refused: four data bits, an unknown parity, rate 0 (hang-up).
TEST_F(TermiosPortTest, SettingsReadBackOrAreRefusedWhole) {
    const struct {
        std::uint32_t baud;
        std::uint8_t byteSize, parity, stopBits;
        bool accepted;
    } cases[] = {{1200, 7, 2, 2, true},
                 {14400, 8, 0, 0, true},
                 {9600, 4, 0, 0, false},
                 {9600, 8, 5, 0, false},
                 {0, 8, 0, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.baud << " " << int(c.byteSize) << int(c.parity) << int(c.stopBits));
        CommState before;
        ASSERT_TRUE(port_->getState(before));
        CommState wanted{c.baud, c.byteSize, c.parity, c.stopBits, true};
        const bool accepted = port_->setState(wanted);
        const int error = errno;
        ASSERT_EQ(accepted, c.accepted) << "errno " << error;
        if (!accepted) {
            EXPECT_EQ(error, EINVAL);
            wanted = before;
        }
        CommState got{0, 0, 9, 9, false};
        ASSERT_TRUE(port_->getState(got));
        EXPECT_EQ(got.baudRate, wanted.baudRate);
        EXPECT_EQ(got.stopBits, wanted.stopBits);
        EXPECT_EQ(got.dsrSensitivity, wanted.dsrSensitivity);
        // A pseudo-terminal may hold its bytes at eight bits without parity whatever is asked.
        const bool asSet = got.byteSize == wanted.byteSize && got.parity == wanted.parity;
        EXPECT_TRUE(asSet || (got.byteSize == 8 && got.parity == 0))
            << int(got.byteSize) << " bits, parity " << int(got.parity);
    }
}

TEST_F(TermiosPortTest, PortIsExclusiveAndWorksWithoutModemLines) {
    for (const char* bad : {"COM5", "COM12", "COM1 "})
        EXPECT_EQ(serialDevicePath(bad), "") << bad;
    EXPECT_EQ(openSerialPort("COM2"), nullptr);
    EXPECT_EQ(errno, EBUSY);
    closeSerialPort(port_);
    port_ = openSerialPort("COM2");
    ASSERT_NE(port_, nullptr) << "closing must free the port";
    std::uint32_t status = 0;
    EXPECT_FALSE(port_->modemStatus(status));
    EXPECT_FALSE(port_->setEventMask(kCommEventDsr));
    std::uint32_t events = 0;
    EXPECT_EQ(port_->waitEvent(events, 0), WaitOutcome::Failed);
    EXPECT_TRUE(port_->escape(CommEscape::SetDtr));
    EXPECT_TRUE(port_->escape(CommEscape::SetRts));
}

TEST_F(TermiosPortTest, EveryByteValuePassesUnchangedBothWaysAndLongWritesGoOutWhole) {
    // Raw mode: no CR/LF mapping, no flow-control characters, no stripping of the eighth bit.
    // The write is far more than the terminal's queue holds: the port must wait for room.
    Bytes bytes(256 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(masterWrite(pty_, bytes.data(), 256));
    setReadTimeout(1000);
    Bytes received;
    std::uint8_t chunk[7]; // reads of at most 7 bytes
    for (std::size_t got = 1; got != 0 && received.size() < 256;) {
        ASSERT_TRUE(port_->read(chunk, sizeof chunk, got));
        received.insert(received.end(), chunk, chunk + got);
    }
    EXPECT_EQ(received, Bytes(bytes.begin(), bytes.begin() + 256));

    received.clear();
    std::thread station([&] {
        Bytes buffer(4096);
        long n = 1;
        while (n > 0 && received.size() < bytes.size()) {
            n = masterRead(pty_, buffer.data(), buffer.size(), 5000);
            received.insert(received.end(), buffer.begin(), buffer.begin() + std::max(n, 0L));
        }
    });
    std::size_t written = 0;
    EXPECT_TRUE(port_->write(bytes.data(), bytes.size(), written));
    station.join();
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(received, bytes);
}

TEST_F(TermiosPortTest, QuietLineReadsNothingAfterItsTimeOutAndClosedStationSideIsAnError) {
    setReadTimeout(60);
    std::uint8_t buffer[16];
    std::size_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port_->read(buffer, sizeof buffer, got));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
    EXPECT_EQ(got, 0u);
    closePtyPair(pty_);
    EXPECT_FALSE(port_->read(buffer, sizeof buffer, got));
    EXPECT_FALSE(port_->read(buffer, sizeof buffer, got)) << "the error persists";
    EXPECT_EQ(got, 0u);
    std::size_t written = 0;
    EXPECT_FALSE(port_->write(buffer, 2, written));
}

} // namespace
} // namespace farlink::platform
