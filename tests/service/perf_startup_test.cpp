// The performance reader is set up at start-up whether or not the KORU driver answers: the
// counters are the system's.
#include "machine_fixture.h"
#include "perf/counter_groups.h"
#include "perf/perf_reader.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "support/perf_block.h"

namespace farlink::service {
namespace {

namespace pl = platform::perf_layout;
using platform::perfIndex;

class PerfStartUpTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        createBlock();
        windir.write("TESSEL.INI", "[environment]\ndriver=N/A\n");
        std::filesystem::create_directories(image + "/registry");
        std::filesystem::create_directories(image + "/perf");
        std::filesystem::create_directories(image + "/system");
        std::ofstream(image + "/registry/30-perflib.reg")
            << testing::perflibRegText(platform::perfCountersValue());
        std::ofstream(image + "/system/facts") << "UserName\tsvc-farlink\nMemory\t4000\n";
        const std::vector<std::uint8_t> block =
            testing::perfBlock({{perfIndex("System"),
                                 {{perfIndex("Context Switches/sec"), pl::kCounterRawCount}},
                                 false,
                                 {{"", {1234}}}},
                                {perfIndex("Memory"),
                                 {{perfIndex("Available Bytes"), pl::kCounterLargeRawCount}},
                                 false,
                                 {{"", {1000}}}}});
        std::ofstream(image + "/perf/data.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(block.data()),
                   static_cast<std::streamsize>(block.size()));
    }
    void TearDown() override {
        perf::resetPerformanceReader();
        MachineTest::TearDown();
    }
};

TEST_F(PerfStartUpTest, WithoutTheDriverTheReaderIsSetUpWithTheMachinesMemory) {
    ASSERT_EQ(runStartUp(), 0);
    EXPECT_EQ(koruHandle, nullptr);
    EXPECT_EQ(perf::systemCounterValue(5), 1234u);
    EXPECT_EQ(perf::accountName(), std::string_view("svc-farlink", 12));
    std::array<std::uint8_t, perf::kMaxProcessors> busy{};
    std::uint32_t count = 9;
    std::uint8_t available = 0;
    perf::samplePerformanceLoad(busy, count, available);
    EXPECT_EQ(available, 25) << "1000 available of the 4000 bytes the machine has";
    EXPECT_EQ(count, 0);
}

} // namespace
} // namespace farlink::service
