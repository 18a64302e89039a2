#include "config/port_settings.h"

#include "platform/console.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace farlink::config {
namespace {

using farlink::testing::TempProfileDir;

// One record as a line: name, baud, data bits, stop bits, parity, modem, init string.
std::string describe(const PortSettings& p) {
    return platform::formatText("%s|%d|%d|%d|%s|%s|%s", p.name.data(), p.baud, p.dataBits,
                                p.stopBits, p.parity.data(), p.modem.data(), p.initString.data());
}

TEST(PortSettings, SectionsAreReadWithDefaultsAndCutTexts) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", farlink::testing::dataText("config/ports.ini"));
    std::array<PortSettings, 4> ports;
    // Whatever a record held before, an unnamed port leaves it empty.
    ports[2].baud = 1200;
    ports[2].modem = {'Y', 0};
    ASSERT_EQ(readPortSettings(ports), 4);
    EXPECT_EQ(describe(ports[0]), "COM1|19200|7|2|none|Y|AT&F&C1&D2S0=1");
    // No modem and no parity: the port set-up leaves such a port out of use.
    EXPECT_EQ(describe(ports[1]), "COM2|9600|8|1|||");
    EXPECT_EQ(describe(ports[2]), "|0|0|0|||");
    // Lower-case "y": the set-up leaves the port out.
    EXPECT_EQ(describe(ports[3]), "COM4-|9600|8|1|NOPAR|y|" + std::string(39, 'A'));
}

} // namespace
} // namespace farlink::config
