#include "config/agent_settings.h"

#include "adapters/nic.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace farlink::config {
namespace {

using farlink::testing::TempProfileDir;

constexpr auto relaxed = std::memory_order_relaxed;

// 29 threshold fields of 8 hexadecimal digits: field k holds k + base.
std::string thresholdText(std::uint32_t base) {
    std::string out;
    for (std::uint32_t k = 0; k < 29; ++k) {
        char field[9];
        std::snprintf(field, sizeof field, "%08X", k + base);
        out += field;
    }
    return out;
}

// Each case starts from the built-in settings, also when the cases share one process.
class AgentSettingsRead : public ::testing::Test {
  protected:
    void SetUp() override {
        const AgentSettings builtIn;
        for (std::size_t i = 0; i < kEventEntries; ++i) {
            agentSettings.events[i].action.store(builtIn.events[i].action.load(), relaxed);
            agentSettings.events[i].program.set("");
            agentSettings.events[i].pager.set("");
        }
        agentSettings.shutDownEnabled.store(0, relaxed);
        adapters::nicCount.store(0, relaxed);
        for (auto& slots : adapters::nicThresholds)
            for (auto& slot : slots)
                slot.store(0, relaxed);
    }
};

TEST(AgentSettings, BuiltInValuesBeforeAnyFile) {
    constexpr std::array<std::int32_t, 11> actions = {
        0x00010006, 0x00030006, 0x00010006, 0x00050006, 0x00010006, 0x00010006,
        0x00000006, 0x00000006, 0x00000006, 0x00010006, 0x00000006};
    for (std::size_t i = 0; i < kEventEntries; ++i) {
        EXPECT_EQ(agentSettings.events[i].number, i + 1);
        EXPECT_EQ(agentSettings.events[i].action.load(), actions[i]) << i;
        EXPECT_EQ(agentSettings.events[i].program.get(), "");
    }
    EXPECT_EQ(configChanged.load(), 0u);
}

TEST_F(AgentSettingsRead, EmptyFileGivesTheDefaults) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "");
    readAgentSettings();
    EXPECT_EQ(agentSettings.password.get(), "");
    EXPECT_EQ(agentSettings.pollingInterval.load(), 1);
    EXPECT_EQ(agentSettings.contactRowCount.load(), 1u);
    EXPECT_EQ(agentSettings.temp1.load(), 530);
    EXPECT_EQ(agentSettings.temp2.load(), 650);
    EXPECT_EQ(agentSettings.shutDownEnabled.load(), 0u);
    EXPECT_EQ(agentSettings.cpuThreshold.load(), 100);
    EXPECT_EQ(adapters::defaultBytes.load(), 12500000u);
    EXPECT_EQ(adapters::defaultPackets.load(), 250000u);
    EXPECT_EQ(adapters::defaultFaults.load(), 0xFFFFFFFFu);
    EXPECT_EQ(agentSettings.events[3].action.load(), 0x00050006);
}

TEST_F(AgentSettingsRead, FileValuesAreReadAndTextsCut) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "[environment]\npassword=" + std::string(40, 'p') +
                                "\nPolling Interval=5\n"
                                "[threshold]\ntemp1=400\ntemp2=700\nCPU=90\n"
                                "[NIC Threshold]\nBytes=1000\nPackets=2000\nFaults=3000\n"
                                "[Event.2]\nAction=65542\nProgram=" +
                                std::string(130, 'g') + "\nPager=" + std::string(50, '5') +
                                "\n"
                                "[Event.4]\nProgram=C:\\notify.exe\nPager=555-0100\n"
                                "[Event.11]\nAction=-1\n");
    readAgentSettings();
    EXPECT_EQ(agentSettings.password.get(), std::string(31, 'p'));
    EXPECT_EQ(agentSettings.pollingInterval.load(), 5);
    EXPECT_EQ(agentSettings.temp1.load(), 400);
    EXPECT_EQ(agentSettings.temp2.load(), 700);
    EXPECT_EQ(agentSettings.cpuThreshold.load(), 90);
    EXPECT_EQ(adapters::defaultBytes.load(), 1000u);
    EXPECT_EQ(adapters::defaultPackets.load(), 2000u);
    EXPECT_EQ(adapters::defaultFaults.load(), 3000u);

    EXPECT_EQ(agentSettings.events[1].action.load(), 65542);
    EXPECT_EQ(agentSettings.events[1].program.get(), std::string(119, 'g'));
    EXPECT_EQ(agentSettings.events[1].pager.get(), std::string(39, '5'));
    // Entry 4 names no action: its built-in one stays.
    EXPECT_EQ(agentSettings.events[3].action.load(), 0x00050006);
    EXPECT_EQ(agentSettings.events[3].program.get(), "C:\\notify.exe");
    EXPECT_EQ(agentSettings.events[3].pager.get(), "555-0100");
    EXPECT_EQ(agentSettings.events[10].action.load(), -1);
}

struct ShutDownCase {
    const char* label;
    const char* line; // nullptr: no key at all
    std::uint32_t enabled;
};

void PrintTo(const ShutDownCase& c, std::ostream* os) {
    *os << c.label;
}

class ShutDownFlag : public AgentSettingsRead,
                     public ::testing::WithParamInterface<ShutDownCase> {};

TEST_P(ShutDownFlag, SetOnlyByAYes) {
    const ShutDownCase& c = GetParam();
    TempProfileDir dir;
    dir.write("TESSEL.INI", std::string("[threshold]\n") + (c.line ? c.line : "") + "\n");
    ::testing::internal::CaptureStdout();
    readAgentSettings();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(agentSettings.shutDownEnabled.load(), c.enabled);
    EXPECT_EQ(out, c.enabled ? "shut down enabled in cofig.c!!!!!!!!!!\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Values, ShutDownFlag,
                         ::testing::Values(ShutDownCase{"upper_y", "enableShutDown=Y", 1},
                                           ShutDownCase{"lower_y", "enableShutDown=y", 1},
                                           ShutDownCase{"yes_cut_to_y", "enableShutDown=yes", 1},
                                           ShutDownCase{"n", "enableShutDown=N", 0},
                                           ShutDownCase{"other", "enableShutDown=1", 0},
                                           ShutDownCase{"missing", nullptr, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AgentSettingsRead, AdapterThresholdsReadOnlyForCountedAdapters) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "[NIC Threshold]\nBytes=77\nPackets=88\nFaults=99\n"
                            "NIC.1=short\n"
                            "NIC.2=" +
                                thresholdText(0x100) + "\nNIC.3=" + thresholdText(0x300) + "\n");
    adapters::nicCount.store(2, relaxed);
    readAgentSettings();
    // NIC.1 is too short: the defaults of this same file fill it.
    EXPECT_EQ(adapters::nicThresholds[0][0].load(), 88u);  // packets
    EXPECT_EQ(adapters::nicThresholds[0][5].load(), 77u);  // bytes
    EXPECT_EQ(adapters::nicThresholds[0][28].load(), 99u); // faults
    EXPECT_EQ(adapters::nicThresholds[1][0].load(), 0x100u);
    EXPECT_EQ(adapters::nicThresholds[1][28].load(), 0x100u + 28);
    // Only two adapters were counted: NIC.3 is not read.
    for (int k = 0; k < adapters::kCounterSlots; ++k)
        EXPECT_EQ(adapters::nicThresholds[2][k].load(), 0u) << k;

    adapters::nicCount.store(3, relaxed);
    readAgentSettings();
    EXPECT_EQ(adapters::nicThresholds[2][0].load(), 0x300u);
    EXPECT_EQ(adapters::nicThresholds[2][28].load(), 0x300u + 28);
}

} // namespace
} // namespace farlink::config
