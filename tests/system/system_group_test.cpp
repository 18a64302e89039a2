// The system information group .25.4 on a machine image whose facts the test writes.
#include "system/system_group.h"

#include "inventory/dmi.h"
#include "perf/perf_reader.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "runtime/agent_settings.h"
#include "runtime/koru.h"
#include "runtime/shared_block.h"
#include "support/group_request.h"
#include "support/perf_block.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace farlink::system {
namespace {

namespace pl = platform::perf_layout;
using testing::GroupRequest;

constexpr auto relaxed = std::memory_order_relaxed;

class SystemGroup : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    testing::ScopedEnv record{"FARLINK_MACHINE_RECORD", dir.path() + "/record.log"};
    testing::ScopedSharedBlock block;
    std::string koru = dir.path() + "/devices/KORU";

    void SetUp() override {
        std::filesystem::create_directories(koru);
        std::filesystem::create_directories(dir.path() + "/system");
        inventory::resetDmi();
        runtime::koruHandle = platform::openDevice(runtime::kKoruDevice, platform::kDeviceRead);
        ASSERT_NE(runtime::koruHandle, nullptr);
        for (std::uint32_t code : {runtime::kIoctlLowerTemperature, runtime::kIoctlUpperTemperature,
                                   runtime::kIoctlIoBus})
            accept(code);
        runtime::agentSettings.temp1.store(530, relaxed);
        runtime::agentSettings.temp2.store(650, relaxed);
        runtime::agentSettings.pollingInterval.store(5, relaxed);
        runtime::agentSettings.cpuThreshold.store(100, relaxed);
        runtime::agentSettings.password.set("");
        runtime::configChanged.store(0, relaxed);
    }
    void TearDown() override {
        platform::closeDevice(runtime::koruHandle);
        runtime::koruHandle = nullptr;
        perf::resetPerformanceReader();
    }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir.path() + "/" + name) << text;
    }
    void accept(std::uint32_t code) const { std::ofstream(koru + codeFile(code)); }
    void refuse(std::uint32_t code) const { std::filesystem::remove(koru + codeFile(code)); }
    static std::string codeFile(std::uint32_t code) {
        char name[16];
        std::snprintf(name, sizeof name, "/%08x.bin", static_cast<unsigned>(code));
        return name;
    }
    std::string recorded() const {
        return std::filesystem::exists(dir.path() + "/record.log") ? dir.read("record.log") : "";
    }

    std::uint32_t get(GroupRequest& r) { return r.run(systemGroupGet, {4}); }
    std::uint32_t set(GroupRequest& r) { return r.run(systemGroupSet, {4}); }
    snmp::VarBind read(std::uint32_t column) {
        GroupRequest r(snmp::kGetRequest);
        r.add({4, column, 0});
        EXPECT_EQ(get(r), snmp::kNoError) << "column " << column;
        return r.binds[0];
    }
    std::string readText(std::uint32_t column) {
        const snmp::VarBind b = read(column);
        EXPECT_EQ(b.valueTag, snmp::kTagOctetString) << "column " << column;
        return std::string(b.valueBytes.begin(), b.valueBytes.begin() + b.valueWord);
    }
    std::uint32_t readNumber(std::uint32_t column) {
        const snmp::VarBind b = read(column);
        EXPECT_EQ(b.valueTag, snmp::kTagInteger) << "column " << column;
        return b.valueWord;
    }
    static void putSummary(inventory::SummaryField field, std::uint32_t value) {
        for (std::size_t i = 0; i < field.width && i < 4; ++i)
            inventory::dmiSummary[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    static void summaryText(inventory::SummaryField field, const char* text) {
        inventory::setSummaryText(field, text, std::strlen(text));
    }
};

TEST_F(SystemGroup, FirmwareColumnsComeFromTheSummaryCutToTheirCaps) {
    summaryText(inventory::kSummaryProductName, "SV-440BX Server Board"); // 19 kept by the field
    summaryText(inventory::kSummaryBusTypes, "ISA PCI EISA");
    summaryText(inventory::kSummaryProcessorText, "Pentium");
    putSummary(inventory::kSummaryProcessorSpeed, 200);
    summaryText(inventory::kSummarySerial1Type, "Serial Port 16550A Compatible");
    summaryText(inventory::kSummarySerial1Connector, "DB9 pin male");
    putSummary(inventory::kSummarySerial1Io, 0x3F8);

    EXPECT_EQ(readText(1), "SV-440BX Server Boa");
    EXPECT_EQ(readText(3), "ISA PCI ");
    EXPECT_EQ(readText(4), "Pentium 200MHz");
    EXPECT_EQ(readText(9),
              std::string("Serial Port 16550A Compatible DB9 pin male Port 3F8h").substr(0, 52));
    EXPECT_EQ(readText(10), "  Port Disabled");
}

TEST_F(SystemGroup, MachineFactsComeFromTheImageCutToTheirCaps) {
    write("system/facts", "ComputerName\t" + std::string(60, 'n') + "\n");
    EXPECT_EQ(readText(16), std::string(48, 'n'));
    // Facts the system cannot tell leave their bindings as they came, without an error.
    for (std::uint32_t column : {2u, 17u})
        EXPECT_EQ(read(column).valueTag, snmp::kTagNull) << "column " << column;
}

TEST_F(SystemGroup, MemoryAboveFourGiBNeitherWrapsNorLosesItsShare) {
    ASSERT_EQ(perf::loadCounterNames(platform::perfCountersValue()), 0);
    const std::uint64_t total = 8ull << 30;
    write("system/facts", "Memory\t" + std::to_string(total) + "\n");
    perf::setPerformanceTotalMemory(total);
    testing::PerfObject memory{
        platform::perfIndex("Memory"),
        {{platform::perfIndex("Available Bytes"), pl::kCounterLargeRawCount}},
        false,
        {{"", {total / 4}}}};
    testing::PerfObject processors{
        platform::perfIndex("Processor"),
        {{platform::perfIndex("% Processor Time"), pl::k100NsecTimerInv}},
        true,
        {}};
    for (int i = 0; i < 40; ++i)
        processors.rows.push_back({std::to_string(i), {0}});
    const std::vector<std::uint8_t> data = testing::perfBlock({memory, processors});
    std::filesystem::create_directories(dir.path() + "/perf");
    std::ofstream(dir.path() + "/perf/data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));

    // Without the driver's count the machine's own serves, saturated to 32 bits.
    EXPECT_EQ(readNumber(7), 0xFFFFFFFFu);
    EXPECT_EQ(readNumber(8), 2u << 30) << "25 % of 8 GiB";
    EXPECT_EQ(readNumber(29), 40u) << "every processor is counted, not a byte's worth";
}

TEST_F(SystemGroup, NumberSetsStoreInTheBlockAndTheIoBusValueReachesTheDriver) {
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({4, 48, 0}, 75);
    r.addInteger({4, 47, 0}, 0x1234);
    r.addInteger({4, 46, 0}, 90);
    ASSERT_EQ(set(r), snmp::kNoError);
    EXPECT_EQ(runtime::readNumber(runtime::kMemoryThreshold), 75u);
    EXPECT_EQ(runtime::readNumber(runtime::kIoBusThreshold), 0x1234u);
    EXPECT_EQ(runtime::agentSettings.cpuThreshold.load(relaxed), 90);
    EXPECT_EQ(recorded(), "KORU 0x80002058 34120000\n");
}

TEST_F(SystemGroup, DescriptionSetStoresTheTextAndARefusedValueEndsTheRequest) {
    dir.write("TESSEL.INI", "[environment]\nkeyword=k1\n");
    GroupRequest r(snmp::kSetRequest);
    r.addText({4, 19, 0}, std::string("rack 4", 7) + "k1" + std::string(14, '\0'));
    r.addInteger({4, 48, 0}, 75); // no keyword
    r.addInteger({4, 46, 0}, 90);
    EXPECT_EQ(set(r), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(runtime::readText(runtime::kSystemDescription), "rack 4");
    EXPECT_EQ(runtime::readNumber(runtime::kMemoryThreshold), 0u);
    EXPECT_EQ(runtime::agentSettings.cpuThreshold.load(relaxed), 100) << "after the refusal";
}

TEST_F(SystemGroup, PasswordTakesAStringOfUpTo31Characters) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({4, 39, 0}, std::string(31, 'p'));
    ASSERT_EQ(set(r), snmp::kNoError);
    EXPECT_EQ(runtime::agentSettings.password.get(), std::string(31, 'p'));

    GroupRequest longer(snmp::kSetRequest);
    longer.addText({4, 39, 0}, std::string(32, 'q'));
    EXPECT_EQ(set(longer), snmp::kBadValue);
    // An INTEGER's value word is a number, never a length to copy.
    GroupRequest number(snmp::kSetRequest);
    number.addInteger({4, 39, 0}, 200);
    EXPECT_EQ(set(number), snmp::kGenErr);
    EXPECT_EQ(runtime::agentSettings.password.get(), std::string(31, 'p'));
}

TEST_F(SystemGroup, PollingIntervalOutsideOneTo4294967SecondsIsRefused) {
    for (std::uint32_t bad : {0u, 4294968u, 0xFFFFFFFFu}) {
        GroupRequest r(snmp::kSetRequest);
        r.addInteger({4, 27, 0}, bad);
        EXPECT_EQ(set(r), snmp::kBadValue) << bad;
    }
    EXPECT_EQ(runtime::agentSettings.pollingInterval.load(relaxed), 5);
    EXPECT_EQ(runtime::configChanged.load(relaxed), 0u);

    GroupRequest r(snmp::kSetRequest);
    r.addInteger({4, 27, 0}, 4294967);
    EXPECT_EQ(set(r), snmp::kNoError);
    EXPECT_EQ(runtime::agentSettings.pollingInterval.load(relaxed), 4294967);
}

TEST_F(SystemGroup, WhenTheSecondDriverCallFailsOnlyTheLimitItsOwnCallCarriedChanges) {
    // Low first (the current upper 650 is above 600); the upper limit is refused.
    refuse(runtime::kIoctlUpperTemperature);
    GroupRequest low(snmp::kSetRequest);
    low.addInteger({4, 44, 0}, 600);
    EXPECT_EQ(set(low), snmp::kGenErr);
    EXPECT_EQ(runtime::agentSettings.temp1.load(relaxed), 600);
    EXPECT_EQ(runtime::agentSettings.temp2.load(relaxed), 650);

    // High first (the current upper is below the new lower); the lower limit is refused. The
    // upper limit the driver took is the one that changes, never the lower with its value.
    accept(runtime::kIoctlUpperTemperature);
    refuse(runtime::kIoctlLowerTemperature);
    runtime::agentSettings.temp1.store(1000, relaxed);
    runtime::agentSettings.temp2.store(900, relaxed);
    GroupRequest high(snmp::kSetRequest);
    high.addInteger({4, 45, 0}, 1100);
    EXPECT_EQ(set(high), snmp::kGenErr);
    EXPECT_EQ(runtime::agentSettings.temp1.load(relaxed), 1000);
    EXPECT_EQ(runtime::agentSettings.temp2.load(relaxed), 1100);
    EXPECT_NE(recorded().find("KORU 0x80002054 4c04\nKORU 0x80002050 e803\n"), std::string::npos);
}

} // namespace
} // namespace farlink::system
