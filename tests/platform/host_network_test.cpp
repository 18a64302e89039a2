// The host adapter device's NDIS answers from a sysfs tree made for the test. (The adapter
// devices of machine images: the discovery and poller tests.)
#include "inventory/resource_list.h"
#include "platform/host_network.h"
#include "platform/key_tree_model.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

namespace fs = std::filesystem;
using farlink::testing::TempProfileDir;

constexpr std::uint32_t kRcvOk = 0x00020102;

std::uint32_t word(std::span<const std::uint8_t> bytes, std::size_t at = 0) {
    return inventory::answerWord(bytes, at);
}

// A sysfs tree with an Ethernet card on PCI and a Token Ring interface off any bus. (Which
// interfaces become adapters, and in what order: test_adapters.py on the host.)
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        farlink::testing::writeTree(root(), "platform/net.tree");
        const std::string pci = "devices/pci0000:00/0000:00:03.0";
        for (const char* folder :
             {"class/net", "bus/virtio/drivers/virtio_net", "devices/platform/tok/drivers/tokdrv"})
            fs::create_directories(root() + "/" + folder);
        link("../../" + pci + "/virtio2/net/eth0", "class/net/eth0");
        link("../../devices/platform/tok/net/tr0", "class/net/tr0");
        link("../../../virtio2", pci + "/virtio2/net/eth0/device");
        link("../../../../bus/virtio/drivers/virtio_net", pci + "/virtio2/driver");
        link("../..", "devices/platform/tok/net/tr0/device");
        link("drivers/tokdrv", "devices/platform/tok/driver");
    }

    std::string root() const { return dir.path() + "/sys"; }
    void link(const std::string& target, const std::string& at) const {
        fs::create_symlink(target, root() + "/" + at);
    }

    TempProfileDir dir;
};

// The title, built piece by piece: the interface index, the driver and the PCI function.
TEST_F(FakeSysfs, CardTitleNamesTheDriverAndThePciFunction) {
    TreeKey tree;
    addNetworkCards(tree, scanHostNics(root()));
    const TreeKey* eth =
        tree.path("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards").find("4");
    ASSERT_NE(eth, nullptr);
    const auto title = std::find_if(eth->values.begin(), eth->values.end(),
                                    [](const TreeValue& v) { return v.name == "Title"; });
    ASSERT_NE(title, eth->values.end());
    EXPECT_EQ(std::string(title->data.begin(), title->data.end()),
              std::string("[4] virtio_net, PCI 1af4:1041") + '\0');
}

// Only the statistics Linux counts are listed, only the files that exist, and the 802.3 ones
// only for an Ethernet interface; each query reads the file again through the kept descriptor.
TEST_F(FakeSysfs, AdaptersAnswerFromTheirFilesAndOnlyForTheirMedia) {
    fs::remove(root() + "/class/net/eth0/statistics/tx_carrier_errors");
    HostAdapter adapter;
    ASSERT_TRUE(adapter.open("eth0", root()));
    const std::vector<std::uint32_t> supported(adapter.supportedOids().begin(),
                                               adapter.supportedOids().end());
    const auto listed = [&](std::uint32_t oid) {
        return std::find(supported.begin(), supported.end(), oid) != supported.end();
    };
    EXPECT_TRUE(listed(kRcvOk));
    EXPECT_TRUE(listed(0x01020101)) << "an 802.3 statistic of an Ethernet interface";
    EXPECT_FALSE(listed(0x00020201)) << "not counted by Linux";
    EXPECT_FALSE(listed(0x01020206)) << "its file is missing";

    std::array<std::uint8_t, 400> out{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(adapter.query(0x00010101, out, returned));
    EXPECT_EQ(returned, 4 * supported.size());

    dir.write("sys/class/net/eth0/statistics/rx_packets", "4294967301\n");
    ASSERT_TRUE(adapter.query(kRcvOk, std::span(out).first(8), returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(word(out), 5u);
    EXPECT_EQ(word(out, 4), 1u);
    // The low half alone when that is all the caller has room for.
    ASSERT_TRUE(adapter.query(kRcvOk, std::span(out).first(4), returned));
    EXPECT_EQ(returned, 4u);
    dir.write("sys/class/net/eth0/statistics/rx_packets", "77\n");
    ASSERT_TRUE(adapter.query(kRcvOk, std::span(out).first(8), returned));
    EXPECT_EQ(word(out), 77u);

    errno = 0;
    EXPECT_FALSE(adapter.query(0x00020201, out, returned));
    EXPECT_EQ(errno, 1);
    EXPECT_FALSE(adapter.query(0x00010101, std::span(out).first(6), returned));
    EXPECT_EQ(errno, 234);

    // A Token Ring interface has no Ethernet statistics.
    HostAdapter ring;
    ASSERT_TRUE(ring.open("tr0", root()));
    ASSERT_TRUE(ring.query(0x00010103, out, returned));
    EXPECT_EQ(word(out), 1u); // NdisMedium802_5
    EXPECT_FALSE(ring.query(0x01010101, out, returned));
    EXPECT_FALSE(ring.query(0x01020101, out, returned));
    EXPECT_TRUE(ring.query(kRcvOk, out, returned));
}

TEST_F(FakeSysfs, StatisticsFilesStayOpenWithTheAdapterAndCloseWithIt) {
    auto openFiles = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    const std::size_t before = openFiles();
    {
        HostAdapter adapter;
        ASSERT_TRUE(adapter.open("eth0", root()));
        EXPECT_EQ(openFiles(), before + 13);
        std::array<std::uint8_t, 8> out{};
        std::uint32_t returned = 0;
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(adapter.query(kRcvOk, out, returned));
        EXPECT_EQ(openFiles(), before + 13);
    }
    EXPECT_EQ(openFiles(), before);
    HostAdapter missing;
    errno = 0;
    EXPECT_FALSE(missing.open("eth9", root()));
    EXPECT_EQ(errno, 2);
    EXPECT_FALSE(missing.open("../eth0", root()));
}

} // namespace
} // namespace farlink::platform
