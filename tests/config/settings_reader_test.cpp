#include "config/settings_reader.h"
#include "runtime/agent_settings.h"

#include "adapters/nic.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace farlink::config {
namespace {

using namespace farlink::runtime;

using farlink::testing::TempProfileDir;

constexpr auto relaxed = std::memory_order_relaxed;

TEST(AgentSettings, FileIsReadWithDefaultsCutTextsAndOnlyCountedAdapters) {
    TempProfileDir dir;
    // NIC.n holds 29 fields of 8 hexadecimal digits: field k of NIC.2 is 0x100 + k.
    dir.write("TESSEL.INI", farlink::testing::dataText("config/agent-settings.ini"));
    for (auto& slots : adapters::nicThresholds)
        for (auto& slot : slots)
            slot.store(0, relaxed);
    adapters::nicCount.store(2, relaxed);
    ::testing::internal::CaptureStdout();
    readAgentSettings();
    // "yes" is cut to one character, whose case does not matter.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "shut down enabled in cofig.c!!!!!!!!!!\n");
    EXPECT_EQ(agentSettings.shutDownEnabled.load(), 1u);
    EXPECT_EQ(agentSettings.password.get(), std::string(31, 'p'));
    EXPECT_EQ(agentSettings.pollingInterval.load(), 5);
    EXPECT_EQ(agentSettings.temp2.load(), 650); // a missing key takes its default
    EXPECT_EQ(adapters::defaultFaults.load(), 0xFFFFFFFFu);

    // NIC.1 is too short: the defaults of this same file fill it.
    EXPECT_EQ(adapters::nicThresholds[0][0].load(), 2000u); // packets
    EXPECT_EQ(adapters::nicThresholds[1][0].load(), 0x100u);
    // Only two adapters were counted: NIC.3 is not read.
    for (int k = 0; k < adapters::kCounterSlots; ++k)
        EXPECT_EQ(adapters::nicThresholds[2][k].load(), 0u) << k;

    EXPECT_EQ(agentSettings.events[1].program.get(), std::string(119, 'g'));
    EXPECT_EQ(agentSettings.events[1].pager.get(), std::string(39, '5'));
    // Entry 4 names no action: its built-in one stays.
    EXPECT_EQ(agentSettings.events[3].action.load(), 0x00050006);
}

} // namespace
} // namespace farlink::config
