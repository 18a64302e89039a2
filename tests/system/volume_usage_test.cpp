// The volume usage table .25.4.21.1 on a machine image whose system/volumes the test writes.
#include "system/volume_usage.h"

#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "snmp/request_serial.h"
#include "support/group_request.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace farlink::system {
namespace {

using testing::GroupRequest;

constexpr auto relaxed = std::memory_order_relaxed;
constexpr std::uint32_t kN = 11; // sub-identifiers of the group OID

// C: and E: fixed (8 GB with 4 KB clusters, and 2 GB), D: a CD, F: a share.
const std::string kTwoFixed = "# letter\tkind\tname\tspc\tbps\tfree\ttotal\r\n"
                              "C:\tfixed\tSYSTEM\t8\t512\t1048576\t2097152\r\n"
                              "D:\tcdrom\r\n"
                              "E:\tfixed\tDATA\t1\t4096\t100\t524288\r\n"
                              "F:\tremote\tPUBLIC\r\n";

class VolumeTable : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    testing::ScopedSharedBlock block;

    void SetUp() override {
        std::filesystem::create_directories(dir.path() + "/system");
        runtime::configChanged.store(0, relaxed);
    }
    void volumes(const std::string& text) const {
        std::ofstream(dir.path() + "/system/volumes") << text;
    }
    std::uint32_t get(GroupRequest& r) { return r.run(volumeTableGet, {4, 21, 1}); }
    std::uint32_t set(GroupRequest& r) { return r.run(volumeTableSet, {4, 21, 1}); }

    // Every name and value a get-next walk of the table gives, as "column.instance=value".
    std::vector<std::string> walk() {
        std::vector<std::string> seen;
        std::vector<std::uint32_t> name = {4, 21, 1, 1};
        for (int guard = 0; guard < 200; ++guard) {
            GroupRequest r(snmp::kGetNextRequest);
            snmp::VarBind& b = r.add({4, 21, 1});
            for (std::size_t k = 3; k < name.size(); ++k)
                b.name.sub[8 + k] = name[k];
            b.name.count = static_cast<std::uint16_t>(8 + name.size());
            if (get(r) != snmp::kNoError) return seen;
            const std::uint32_t c = b.name.sub[kN], i = b.name.sub[kN + 1];
            name = {4, 21, 1, c, i};
            seen.push_back(
                std::to_string(c) + "." + std::to_string(i) + "=" +
                (b.valueTag == snmp::kTagOctetString ? r.text(0) : std::to_string(b.valueWord)));
        }
        ADD_FAILURE() << "the walk does not end";
        return seen;
    }
};

TEST_F(VolumeTable, AnUnreadableVolumeIsPassedOverByAWalk) {
    // D: has no name and F: no space: neither can be read; G: can.
    volumes("C:\tfixed\tSYS\t1\t512\t2\t4\nD:\tfixed\nF:\tfixed\tNOSPACE\n"
            "G:\tfixed\tLAST\t1\t1024\t1\t3\n");
    EXPECT_EQ(walk(), (std::vector<std::string>{"1.0=0", "1.3=3", "2.0=C: SYS", "2.3=G: LAST",
                                                "3.0=2", "3.3=3", "4.0=1", "4.3=1", "5.0=4",
                                                "5.3=3", "6.0=2", "6.3=1", "7.0=0", "7.3=0"}));
}

TEST_F(VolumeTable, WithoutAReadableFixedVolumeNothingIsServed) {
    for (const std::string& text :
         std::vector<std::string>{"", "D:\tcdrom\nE:\tremote\tX\n", "C:\tfixed\n"}) {
        volumes(text);
        EXPECT_TRUE(walk().empty()) << text;
        GroupRequest r(snmp::kGetRequest);
        r.add({4, 21, 1, 2, 0});
        EXPECT_EQ(get(r), snmp::kNoSuchName) << text;
        EXPECT_EQ(r.binds[0].valueTag, snmp::kTagNull) << "no unfilled record is sent";
    }
    std::filesystem::remove(dir.path() + "/system/volumes");
    EXPECT_EQ(fixedVolumeCount(), 0u);
}

TEST_F(VolumeTable, LongNamesAreCutAndHugeVolumesSaturate) {
    // 2^32 clusters of 4 KB: 16 TiB, far past 32 bits of KB and of clusters.
    volumes("C:\tfixed\t" + std::string(120, 'n') + "\t8\t512\t4294967296\t4294967296\n");
    VolumeRecord r;
    ASSERT_TRUE(buildVolumeRecord(0, r));
    EXPECT_EQ(r.label, "C: " + std::string(76, 'n'));
    EXPECT_EQ(r.label.size(), 79u);
    EXPECT_EQ(r.totalKb, 0xFFFFFFFFu);
    EXPECT_EQ(r.freeKb, 0xFFFFFFFFu);
    EXPECT_EQ(r.totalClusters, 0xFFFFFFFFu);
    // Numbers whose product passes 64 bits saturate too.
    volumes("C:\tfixed\tX\t18446744073709551615\t512\t1\t18446744073709551615\n");
    ASSERT_TRUE(buildVolumeRecord(0, r));
    EXPECT_EQ(r.totalKb, 0xFFFFFFFFu);
    EXPECT_FALSE(buildVolumeRecord(1, r));
}

TEST_F(VolumeTable, UsageSetPastThe26ValuesWritesNothing) {
    const std::vector<std::uint8_t> before = block.bytes();
    GroupRequest ok(snmp::kSetRequest);
    ok.addInteger({4, 21, 1, 7, 25}, 60); // no volume there, but one of the 26 values
    ASSERT_EQ(set(ok), snmp::kNoError);
    EXPECT_EQ(runtime::readNumber(runtime::kUsedVolumeThresholds + 100), 60u);
    runtime::writeNumber(runtime::kUsedVolumeThresholds + 100, 0);
    runtime::configChanged.store(0, relaxed);
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({4, 21, 1, 7, 26}, 90);
    r.addInteger({4, 21, 1, 7, 0x40000000}, 90);
    r.addInteger({4, 21, 1, 3, 0}, 90);
    EXPECT_EQ(set(r), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(block.bytes(), before);
    EXPECT_EQ(runtime::configChanged.load(relaxed), 0u);

    dir.write("TESSEL.INI", "[environment]\nkeyword=k\n");
    GroupRequest refused(snmp::kSetRequest);
    refused.addInteger({4, 21, 1, 7, 0}, 90); // no keyword with it
    EXPECT_EQ(set(refused), snmp::kBadValue);
    EXPECT_EQ(block.bytes(), before);
}

TEST_F(VolumeTable, OneRequestReadsTheVolumesOnce) {
    volumes(kTwoFixed);
    snmp::beginRequest();
    GroupRequest first(snmp::kGetRequest);
    first.add({4, 21, 1, 2, 1});
    ASSERT_EQ(get(first), snmp::kNoError);
    // The same request's next run sees what its first run read, whatever the disk does now.
    volumes("C:\tfixed\tSYSTEM\t8\t512\t1\t2\n");
    GroupRequest second(snmp::kGetRequest);
    second.add({4, 21, 1, 2, 1});
    ASSERT_EQ(get(second), snmp::kNoError);
    EXPECT_EQ(second.text(0), "E: DATA");
    snmp::beginRequest();
    GroupRequest third(snmp::kGetRequest);
    third.add({4, 21, 1, 2, 1});
    ASSERT_EQ(get(third), snmp::kNoError);
    EXPECT_EQ(third.binds[0].name.sub[kN], 3u) << "E: is gone: the next column of C:";
    snmp::endRequest();
}

} // namespace
} // namespace farlink::system
