// The host's stand-in for the KORU driver, on fixture trees in the layout of sysfs and procfs.
#include "platform/host_koru.h"

#include "inventory/dmi.h"
#include "inventory/driver_answer.h"
#include "platform/event_log.h"
#include "support/test_data.h"
#include "support/test_support.h"
#include "system/item_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One SMBIOS structure: header, formatted bytes after it, then its strings.
void structure(Bytes& out, std::uint8_t type, const Bytes& formatted,
               const std::vector<std::string>& strings) {
    out.push_back(type);
    out.push_back(static_cast<std::uint8_t>(4 + formatted.size()));
    out.push_back(0x10);
    out.push_back(0x00);
    out.insert(out.end(), formatted.begin(), formatted.end());
    for (const std::string& s : strings) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    if (strings.empty()) out.push_back(0);
    out.push_back(0);
}

class HostTree : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    std::string root = dir.path() + "/root";

    void put(const std::string& path, const std::string& text) const {
        const std::filesystem::path full = root + path;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << text;
    }
    void putBytes(const std::string& path, const Bytes& bytes) const {
        put(path, std::string(bytes.begin(), bytes.end()));
    }
};

// A table with a chassis (3), a memory controller with its string set, a memory device (17)
// and an end-of-table (127) structure followed by bytes that must not be read.
Bytes firmwareTable() {
    Bytes t;
    structure(t, 0, {1, 2, 0x00, 0xE0, 3, 0x0F, 0x90, 0, 0, 0, 0, 0, 0, 0},
              {"Vendor", "2.4.1", "01/02/2020"});
    structure(t, 3, {1, 0x17}, {"Chassis maker"});
    structure(t, 5, {3, 4, 1, 1, 6, 0x0F, 0, 0x07, 0, 1, 2}, {});
    structure(t, 17, Bytes(17, 0), {"DIMM A1"});
    structure(t, 2, {1, 2, 0, 0}, {"Board maker", "RX-200"});
    structure(t, 127, {}, {});
    structure(t, 4, Bytes(22, 0), {"late"});
    return t;
}

TEST_F(HostTree, ConfigurationAnswerCarriesOnlyWhatTheParserReads) {
    const Bytes entry = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 2, 1};
    const Bytes answer = hostConfigurationAnswer(entry, firmwareTable(), {0x3F8, 0, 0x378});
    ASSERT_GT(answer.size(), 36u);
    EXPECT_EQ(answer[1], 0x32);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer.data() + 8)), "Linux hwmon");
    EXPECT_EQ(answer[28] | answer[29] << 8, 0x3F8);
    EXPECT_EQ(answer[32] | answer[33] << 8, 0x378);

    // The agent's own reading of it: the whole table parses, and no later structure shows.
    inventory::resetDmi();
    const inventory::AnswerSummary summary = inventory::summarizeConfigurationAnswer(answer);
    EXPECT_EQ(summary.expectedDriver, "RX-200");
    EXPECT_EQ(inventory::dmiScalars[2].text, "2.4.1");
    EXPECT_EQ(inventory::dmiScalars[16].number, 3u) << "memory controller read";
    EXPECT_EQ(inventory::dmiTables[inventory::kDmiProcessors].count, 0u);
    EXPECT_NE(inventory::parseDmiTable(answer.data() + 36, answer.size() - 36), 0u);
}

TEST_F(HostTree, DmiStructuresStopAtTheBytesAndTheRoom) {
    const Bytes table = firmwareTable();
    // Cut inside the board's strings: the board is left out, the end structure still closes.
    // The type 4 structure after the end-of-table takes 32 bytes, the end itself 6.
    const Bytes cut(table.begin(), table.end() - (32 + 6 + 10));
    const Bytes shortList = agentDmiStructures(cut, 16000);
    ASSERT_GE(shortList.size(), 6u);
    EXPECT_EQ(shortList[shortList.size() - 6], 255);
    EXPECT_EQ(shortList.size(), agentDmiStructures(table, 16000).size() - 28);
    EXPECT_LE(agentDmiStructures(table, 40).size(), 40u);
    EXPECT_EQ(agentDmiStructures(table, 5).size(), 0u);
    EXPECT_EQ(agentDmiStructures({}, 16000), (Bytes{255, 4, 0xFF, 0xFF, 0, 0}));
    // Without an entry point the version is 2.0, enough for structures to be read.
    EXPECT_EQ(hostConfigurationAnswer({}, table, {})[1], 0x20);
}

TEST_F(HostTree, PortsNeedAUartAndTheirRange) {
    put("/sys/class/tty/ttyS0/port", "0x3F8\n");
    put("/sys/class/tty/ttyS0/type", "4\n");
    put("/sys/class/tty/ttyS1/port", "0x2F8\n");
    put("/sys/class/tty/ttyS1/type", "0\n");
    put("/sys/class/tty/ttyS2/port", "0x3E8\n");
    put("/sys/class/tty/ttyS2/type", "4\n");
    put("/proc/ioports", "0000-0cf7 : PCI Bus 0000:00\n  0378-037a : parport0\n"
                         "  03f8-03ff : serial\n");
    EXPECT_EQ(hostPortAddresses(root), (std::array<std::uint16_t, 3>{0x3F8, 0, 0x378}));
    // An unprivileged reader sees every range at 0: the UART type alone decides.
    put("/proc/ioports", "0000-0000 : PCI Bus 0000:00\n  0000-0000 : serial\n");
    EXPECT_EQ(hostPortAddresses(root), (std::array<std::uint16_t, 3>{0x3F8, 0x3E8, 0}));
    EXPECT_EQ(hostPortAddresses(root + "/none"), (std::array<std::uint16_t, 3>{}));
}

class HostMonitorTree : public HostTree {
  protected:
    void SetUp() override { testing::writeTree(root, "platform/monitors.tree"); }
};

TEST_F(HostMonitorTree, SensorsBecomeTheFourItemTablesAndProcessorReadings) {
    const HostMonitors m = scanHostMonitors(root);
    ASSERT_EQ(m.tables[0].size(), 2u);
    EXPECT_EQ(m.tables[0][0].values[0], 1200u);
    EXPECT_EQ(m.tables[0][1].values[0], 0u) << "an unreadable value reads 0";
    // hwmon0, hwmon2, hwmon10 in number order; °C rounded to the nearest.
    ASSERT_EQ(m.tables[1].size(), 3u);
    EXPECT_EQ(m.tables[1][0].values[0], 46u);
    EXPECT_EQ(m.tables[1][1].values[0], static_cast<std::uint32_t>(-2));
    ASSERT_EQ(m.tables[2].size(), 1u);
    EXPECT_EQ(m.tables[2][0].values, (std::array<std::uint32_t, 4>{1032, 900, 1100, 1}));
    ASSERT_EQ(m.tables[3].size(), 2u);
    EXPECT_EQ(m.tables[3][1].values[0], 1u);
    EXPECT_EQ(m.processorCelsius[0], 46);
    EXPECT_EQ(m.processorCelsius[1], 0) << "package 1 has no sensor";
    EXPECT_EQ(m.processorMhz[0], 2400u);
}

TEST_F(HostMonitorTree, ItemListsFitTheirAnswerAndReadBackRowByRow) {
    std::vector<HostSensor> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({"sensor with a long name number " + std::to_string(i), {1, 2, 3, 4}});
    std::size_t fitted = 0;
    const Bytes list = hostItemList(many, 4, 400, fitted);
    EXPECT_LE(list.size(), 400u);
    ASSERT_GT(fitted, 0u);
    ASSERT_LT(fitted, many.size());
    const system::ItemRow last =
        system::readItemRow(list, static_cast<std::uint32_t>(fitted - 1), 4);
    EXPECT_EQ(last.name, many[fitted - 1].name.substr(0, 31));
    EXPECT_EQ(last.values, (std::array<std::uint32_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(system::readItemRow(list, static_cast<std::uint32_t>(fitted), 4).name, "");
}

TEST_F(HostMonitorTree, TheProviderAnswersReadingsAndRefusesWhatWouldChangeTheHardware) {
    HostKoru koru(root);
    ASSERT_TRUE(koru.present());
    EXPECT_FALSE(HostKoru(root + "/none").present());
    std::array<std::uint8_t, 400> out{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(koru.control(0x80002080, {}, out, returned));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + returned), (Bytes{2, 3, 1, 2}));
    ASSERT_TRUE(koru.control(0x80002088, {}, out, returned));
    EXPECT_EQ(system::readItemRow(std::span(out).first(returned), 0, 4).values[3], 1u);
    const std::array<std::uint8_t, 2> limit = {0x2c, 0x01};
    for (std::uint32_t code : {0x80002050u, 0x80002054u, 0x80002058u, 0x80002099u}) {
        EXPECT_FALSE(koru.control(code, limit, {}, returned)) << std::hex << code;
        EXPECT_EQ(errno, 1);
    }
    EXPECT_TRUE(koru.control(0x8000205C, {}, {}, returned));
    std::array<std::uint8_t, 4> small{};
    EXPECT_FALSE(koru.control(0x80002064, {}, small, returned)) << "16 bytes do not fit 4";
    EXPECT_EQ(errno, 234);
    EXPECT_EQ(returned, 4u);
}

} // namespace
} // namespace farlink::platform
