#include "inventory/resource_map.h"

#include "runtime/guarded.h"
#include "snmp/request_serial.h"
#include "support/resource_lists.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace farlink::inventory {
namespace {

using namespace farlink::testing;

std::string owner(const OwnerName& name) {
    return std::string(name.data(), strnlen(name.data(), name.size()));
}

// A key of the resource map and its values, as a .reg file writes them (backslashes doubled).
std::string regKey(const std::string& path, std::vector<std::pair<std::string, Bytes>> values) {
    std::string text = "[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\" + path + "]\n";
    for (const auto& [name, list] : values)
        text += "\"" + name + "\"=hex(8):" + hexList(list) + "\n";
    return text + "\n";
}

class ResourceMapImage : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv machine{"FARLINK_MACHINE", dir.path()};

    void registry(const std::string& keys) {
        std::filesystem::create_directories(dir.path() + "/registry");
        dir.write("registry/10-resourcemap.reg", "REGEDIT4\n\n" + keys);
    }
};

TEST(ResourceListParse, RangesReachingAbove4GiBAreNotStored) {
    PortRanges ports;
    ports.count = 0;
    parseResourceList(
        "P", resourceList({{port(0x1'0000'1000ull, 8), port(0xFFFFFFF8, 16), port(0xFFFFFFF8, 8)}}),
        ports);
    ASSERT_EQ(ports.count, 1u);
    EXPECT_EQ(ports.records[0].start, 0xFFFFFFF8u);
    EXPECT_EQ(ports.records[0].end, 0xFFFFFFFFu);

    MemoryRanges mem;
    mem.count = 0;
    parseResourceList(
        "M",
        resourceList({{memory(0x1'F000'0000ull, 0x100000), memory(0xF800'0000, 0x1000'0000),
                       memory(0xF000'0000, 0x1000'0000)}}),
        mem);
    ASSERT_EQ(mem.count, 1u);
    EXPECT_EQ(mem.records[0].start, 0xF000'0000u);
    EXPECT_EQ(mem.records[0].length, 0x1000'0000u);
}

TEST(ResourceListParse, CountsAndDataSizesAreBoundedByTheBytes) {
    // Three full descriptors claimed, one present, its partial count far beyond its two ports.
    Bytes list = resourceList({{port(0x60, 1), port(0x64, 1)}});
    list[0] = 3;
    std::fill_n(list.begin() + 16, 4, 0xFF);
    PortRanges ports;
    ports.count = 0;
    EXPECT_FALSE(parseResourceList("K", list, ports));
    EXPECT_EQ(ports.count, 2u);
    // Device-specific data said to run far past the list.
    EXPECT_FALSE(parseResourceList(
        "K", resourceList({{port(0x70, 1), partial(5, 0xFFFFFFF0), port(0x74, 1)}}), ports));
    EXPECT_EQ(ports.count, 3u);
}

TEST(ResourceListParse, LevelsAndChannelsTakeTheirSlotByTheWholeNumber) {
    InterruptOwners irqs{};
    parseResourceList("Wide", resourceList({{irq(0x104), irq(16), irq(17)}}), irqs);
    EXPECT_EQ(owner(irqs.owners[4]), "");
    EXPECT_EQ(owner(irqs.owners[16]), "Wide");

    DmaOwners channels{};
    parseResourceList("Wide", resourceList({{dma(0x102), dma(15), dma(16)}}), channels);
    EXPECT_EQ(owner(channels.owners[2]), "");
    EXPECT_EQ(owner(channels.owners[15]), "Wide");
}

TEST(ResourceListParse, EveryFullDescriptorIsReadUpToThe64thRange) {
    // Device-specific data and unknown types between the ports; ports in a second descriptor.
    Full many = {port(0x300, 16), deviceSpecific(12), partial(0, 7), irq(5), port(0x310, 4)};
    for (std::uint32_t i = 0; i < 63; ++i)
        many.push_back(port(0x1000 + 16 * i, 16));
    PortRanges ports;
    ports.count = 0;
    EXPECT_TRUE(parseResourceList(std::string(100, 'd'),
                                  resourceList({{port(0x320, 8), partial(9, 0)}}), ports));
    EXPECT_FALSE(parseResourceList("Card", resourceList({many}), ports));
    ASSERT_EQ(ports.count, 64u);
    EXPECT_EQ(owner(ports.records[0].owner), std::string(79, 'd'));
    EXPECT_EQ(ports.records[2].start, 0x310u);
    EXPECT_EQ(ports.records[2].end, 0x313u);
    EXPECT_EQ(ports.records[63].start, 0x1000u + 16 * 60);
}

TEST_F(ResourceMapImage, WalkReadsRawListsOfLeavesOutsideTheExcludedKeys) {
    const Bytes other = resourceList({{port(0x500, 1), irq(9)}});
    registry(regKey("OtherDrivers\\Serial",
                    {{"\\\\Device\\\\Serial0.Raw", resourceList({{port(0x3F8, 8), irq(4)}})},
                     {"\\\\Device\\\\Serial0.Translated", other},
                     {"Serial1.raw", other},
                     {"Serial1.Raw.old", other},
                     {"Raw", other}}) +
             regKey("System Resources\\Physical Memory", {{".Raw", other}}) +
             regKey("Hardware Abstraction Layer", {{".Raw", other}}) +
             regKey("Drivers\\Hardware Abstraction Layer\\Pic", {{".Raw", other}}) +
             regKey("Drivers\\System Resources", {{".Raw", other}}) +
             regKey("Drivers", {{"Own.Raw", other}}) +
             // Names compare without regard to case, so this one lives below another key.
             regKey("Other\\system resources", {{".Raw", resourceList({{port(0x600, 2)}})}}));
    PortRanges ports;
    readResourceMap(ports);
    ASSERT_EQ(ports.count, 2u);
    EXPECT_EQ(ports.records[0].start, 0x3F8u);
    EXPECT_EQ(ports.records[0].end, 0x3FFu);
    EXPECT_EQ(owner(ports.records[0].owner), "Serial");
    EXPECT_EQ(owner(ports.records[1].owner), "system resources");

    InterruptOwners irqs;
    readResourceMap(irqs);
    EXPECT_EQ(owner(irqs.owners[4]), "Serial");
    EXPECT_EQ(owner(irqs.owners[9]), "");
}

TEST_F(ResourceMapImage, LaterOwnersReplaceEarlierAndTheLimitSpansKeys) {
    Full sixty;
    for (std::uint32_t i = 0; i < 60; ++i)
        sixty.push_back(port(0x1000 + 16 * i, 16));
    registry(
        regKey("A\\First", {{"x.Raw", resourceList({sixty, {irq(4), dma(2)}})}}) +
        regKey("A\\Second", {{"x.Raw", resourceList({{irq(4), dma(2)}})},
                             {"y.Raw", resourceList({{port(0x60, 1), port(0x64, 1), port(0x70, 2),
                                                      port(0x80, 16), port(0x90, 1)}})}}) +
        // Lists that fill the value buffer are read, a byte more is not.
        regKey("Fits", {{"x.Raw", resourceList({{irq(6), deviceSpecific(3020)}})}}) +
        regKey("Big", {{"x.Raw", resourceList({{irq(7), deviceSpecific(3021)}})}}));
    InterruptOwners irqs;
    readResourceMap(irqs);
    EXPECT_EQ(owner(irqs.owners[4]), "Second");
    EXPECT_EQ(owner(irqs.owners[6]), "Fits");
    EXPECT_EQ(owner(irqs.owners[7]), "");
    DmaOwners channels;
    readResourceMap(channels);
    EXPECT_EQ(owner(channels.owners[2]), "Second");
    PortRanges ports;
    readResourceMap(ports);
    EXPECT_EQ(ports.count, 64u);
    EXPECT_EQ(ports.records[63].start, 0x80u);
}

TEST_F(ResourceMapImage, MissingMapGivesAnEmptyOutput) {
    PortRanges ports;
    ports.count = 99;
    InterruptOwners irqs;
    std::memset(&irqs, 'x', sizeof irqs);
    readResourceMap(ports);
    readResourceMap(irqs);
    EXPECT_EQ(ports.count, 0u);
    for (const OwnerName& name : irqs.owners)
        EXPECT_EQ(owner(name), "");
}

// A request that names the map in many bindings walks it once; the next request sees it anew.
TEST_F(ResourceMapImage, ARequestReadsTheMapOnce) {
    const auto cards = [&](std::uint32_t n) {
        Full ranges;
        for (std::uint32_t i = 0; i < n; ++i)
            ranges.push_back(port(0x300 + 16 * i, 8));
        registry(regKey("A\\Card", {{"x.Raw", resourceList({ranges})}}));
    };
    PortRanges ports;
    cards(1);
    snmp::beginRequest();
    readResourceMap(ports);
    EXPECT_EQ(ports.count, 1u);
    cards(2);
    readResourceMap(ports);
    EXPECT_EQ(ports.count, 1u);
    snmp::beginRequest();
    readResourceMap(ports);
    EXPECT_EQ(ports.count, 2u);
    snmp::endRequest();
}

TEST_F(ResourceMapImage, WalkVisitsLeavesInOrderAndClosesEverythingWhenStopped) {
    const Bytes list = resourceList({{port(0x500, 1)}});
    registry(regKey("A\\B\\C", {{"x.Raw", list}}) + regKey("A\\D", {{"x.Raw", list}}) +
             regKey("E", {{"x.Raw", list}}));
    const std::size_t blocks = runtime::guardedLiveBlocks();
    for (const std::size_t stopAfter : {3, 1}) {
        std::vector<std::string> seen;
        walkResourceMap(platform::kAllResourceTypes,
                        [&](std::string_view name, platform::KeyHandle) {
                            seen.emplace_back(name);
                            return seen.size() < stopAfter;
                        });
        const std::vector<std::string> all = {"C", "D", "E"};
        EXPECT_EQ(seen, std::vector<std::string>(all.begin(), all.begin() + stopAfter));
        EXPECT_EQ(platform::openKeyCount(), 0u);
        EXPECT_EQ(runtime::guardedLiveBlocks(), blocks);
    }
}

} // namespace
} // namespace farlink::inventory
