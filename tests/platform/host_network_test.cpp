// The host's network interfaces from a sysfs tree made for the test: the NetworkCards keys, the
// adapters' resource lists and the adapter device's NDIS answers; and the adapter devices of a
// machine image, whose input selects the answer.
#include "inventory/resource_list.h"
#include "platform/device_io.h"
#include "platform/event_log.h"
#include "platform/host_network.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

namespace fs = std::filesystem;
using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

constexpr std::uint32_t kRcvOk = 0x00020102;

std::uint32_t word(std::span<const std::uint8_t> bytes, std::size_t at = 0) {
    return inventory::answerWord(bytes, at);
}

std::vector<std::uint8_t> oidInput(std::uint32_t oid) {
    return {static_cast<std::uint8_t>(oid), static_cast<std::uint8_t>(oid >> 8),
            static_cast<std::uint8_t>(oid >> 16), static_cast<std::uint8_t>(oid >> 24)};
}

// A sysfs tree with the loopback interface (no device), an Ethernet card on PCI and a Token
// Ring interface off any bus.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string pci = "devices/pci0000:00/0000:00:03.0";
        interface("lo", "devices/virtual/net/lo", 1, 772, "00:00:00:00:00:00");
        interface("eth0", pci + "/virtio2/net/eth0", 4, 1, "00:a0:C9:12:34:56");
        fs::create_directories(root() + "/bus/virtio/drivers/virtio_net");
        fs::create_symlink("../../../virtio2", root() + "/" + pci + "/virtio2/net/eth0/device");
        fs::create_symlink("../../../../bus/virtio/drivers/virtio_net",
                           root() + "/" + pci + "/virtio2/driver");
        fs::create_directories(root() + "/bus/pci/devices/0000:00:03.0");
        dir.write("sys/bus/pci/devices/0000:00:03.0/vendor", "0x1af4\n");
        dir.write("sys/bus/pci/devices/0000:00:03.0/device", "0x1041\n");
        interface("tr0", "devices/platform/tok/net/tr0", 7, 800, "10:00:5a:01:02:03");
        fs::create_directories(root() + "/devices/platform/tok/drivers/tokdrv");
        fs::create_symlink("../..", root() + "/devices/platform/tok/net/tr0/device");
        fs::create_symlink("drivers/tokdrv", root() + "/devices/platform/tok/driver");
    }

    std::string root() const { return dir.path() + "/sys"; }

    // The interface's folder below `where`, linked from class/net, with its statistics.
    void interface(const std::string& name, const std::string& where, unsigned ifindex,
                   unsigned type, const std::string& address) {
        const std::string folder = root() + "/" + where;
        fs::create_directories(folder + "/statistics");
        fs::create_directories(root() + "/class/net");
        fs::create_symlink("../../" + where, root() + "/class/net/" + name);
        dir.write("sys/" + where + "/ifindex", std::to_string(ifindex) + "\n");
        dir.write("sys/" + where + "/type", std::to_string(type) + "\n");
        dir.write("sys/" + where + "/address", address + "\n");
        for (const char* file :
             {"tx_packets", "rx_packets", "tx_errors", "rx_errors", "rx_missed_errors", "multicast",
              "rx_crc_errors", "rx_frame_errors", "tx_aborted_errors", "rx_over_errors",
              "tx_fifo_errors", "tx_heartbeat_errors", "tx_carrier_errors"})
            dir.write("sys/" + where + "/statistics/" + file, "0\n");
    }

    TempProfileDir dir;
};

const TreeValue* value(const TreeKey& key, std::string_view name) {
    for (const TreeValue& v : key.values)
        if (v.name == name) return &v;
    return nullptr;
}

std::string textOf(const TreeValue* v) {
    if (v == nullptr) return "<missing>";
    std::string text(v->data.begin(), v->data.end());
    EXPECT_EQ(text.back(), '\0');
    return text.substr(0, text.size() - 1);
}

TEST_F(FakeSysfs, CardsAreNamedByIndexAndThoseWithoutDeviceHidden) {
    const std::vector<HostNic> nics = scanHostNics(root());
    ASSERT_EQ(nics.size(), 3u);
    EXPECT_EQ(nics[0].name, "lo");
    EXPECT_EQ(nics[1].name, "eth0");
    EXPECT_EQ(nics[1].pciAddress, "0000:00:03.0");
    EXPECT_EQ(nics[2].name, "tr0");
    EXPECT_EQ(nics[2].pciAddress, "");

    TreeKey tree;
    addNetworkCards(tree, nics);
    const TreeKey& cards =
        tree.path("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards");
    ASSERT_EQ(cards.subkeys.size(), 3u);
    const TreeKey* lo = cards.find("1");
    const TreeKey* eth = cards.find("4");
    const TreeKey* tr = cards.find("7");
    ASSERT_TRUE(lo && eth && tr);
    EXPECT_EQ(textOf(value(*eth, "ProductName")), "virtio_net");
    EXPECT_EQ(textOf(value(*eth, "ServiceName")), "eth0");
    EXPECT_EQ(textOf(value(*eth, "Title")), "[4] virtio_net, PCI 1af4:1041");
    EXPECT_EQ(value(*eth, "Hidden"), nullptr);
    EXPECT_EQ(textOf(value(*tr, "ProductName")), "tokdrv");
    EXPECT_EQ(value(*tr, "Hidden"), nullptr);
    EXPECT_EQ(textOf(value(*lo, "ProductName")), "lo");
    const TreeValue* hidden = value(*lo, "Hidden");
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->type, kRegDword);
    EXPECT_EQ(word(hidden->data), 1u);
}

// Only the statistics Linux counts are listed, only the files that exist, and the 802.3 ones
// only for an Ethernet interface; each query reads the file again through the kept descriptor.
TEST_F(FakeSysfs, EthernetAdapterAnswersFromItsFiles) {
    fs::remove(root() + "/class/net/eth0/statistics/tx_carrier_errors");
    HostAdapter adapter;
    ASSERT_TRUE(adapter.open("eth0", root()));
    const std::vector<std::uint32_t> supported(adapter.supportedOids().begin(),
                                               adapter.supportedOids().end());
    for (std::uint32_t oid :
         {0x00010101u, 0x00010103u, 0x0001010Du, 0x01010101u, 0x00020101u, 0x00020102u, 0x00020105u,
          0x0002020Au, 0x0002020Du, 0x01020101u, 0x01020202u, 0x01020205u})
        EXPECT_NE(std::find(supported.begin(), supported.end(), oid), supported.end()) << oid;
    // Not counted by Linux, a file that is missing, or not found in the test's tree.
    for (std::uint32_t oid : {0x00020201u, 0x0002020Eu, 0x01020102u, 0x01020206u, 0x01020207u})
        EXPECT_EQ(std::find(supported.begin(), supported.end(), oid), supported.end()) << oid;

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

    ASSERT_TRUE(adapter.query(0x00010103, out, returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(word(out), 0u); // NdisMedium802_3
    ASSERT_TRUE(adapter.query(0x01010101, out, returned));
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + returned),
              (std::vector<std::uint8_t>{0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56}));
    ASSERT_TRUE(adapter.query(0x0001010D, out, returned));
    EXPECT_EQ(std::string(out.begin(), out.begin() + returned),
              std::string("virtio_net, PCI 1af4:1041") + '\0');

    errno = 0;
    EXPECT_FALSE(adapter.query(0x00020201, out, returned));
    EXPECT_EQ(errno, 1);
    EXPECT_FALSE(adapter.query(0x00010101, std::span(out).first(6), returned));
    EXPECT_EQ(errno, 234);
}

TEST_F(FakeSysfs, TokenRingAdapterHasNoEthernetStatistics) {
    HostAdapter adapter;
    ASSERT_TRUE(adapter.open("tr0", root()));
    std::array<std::uint8_t, 16> out{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(adapter.query(0x00010103, out, returned));
    EXPECT_EQ(word(out), 1u); // NdisMedium802_5
    EXPECT_TRUE(adapter.query(0x02010101, out, returned));
    EXPECT_FALSE(adapter.query(0x01010101, out, returned));
    EXPECT_FALSE(adapter.query(0x01020101, out, returned));
    EXPECT_TRUE(adapter.query(kRcvOk, out, returned));
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

// A code with a folder of answers: the input (an OID) picks the file, and nothing is recorded,
// since such a query changes nothing and a poller sends thousands of them.
class ImageAdapter : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.path() + "/devices/NIC1/00170002");
        dir.write("devices/NIC1/00170002/00020102.bin", std::string("\x2A\0\0\0\0\0\0\0", 8));
        dir.write("devices/NIC1/80000001.bin", "");
    }
    void TearDown() override { useRealClock(); }

    TempProfileDir dir;
    ScopedEnv machine{"FARLINK_MACHINE", dir.path()};
    ScopedEnv record{"FARLINK_MACHINE_RECORD", dir.path() + "/record.log"};
};

TEST_F(ImageAdapter, InputSelectsTheAnswerAndLeavesNoRecord) {
    DeviceHandle device = openDevice("\\\\.\\NIC1", kDeviceRead);
    ASSERT_NE(device, nullptr);
    std::array<std::uint8_t, 8> out{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(
        deviceIoControl(device, kIoctlNdisQueryGlobalStats, oidInput(kRcvOk), out, returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(word(out), 42u);
    errno = 0;
    EXPECT_FALSE(
        deviceIoControl(device, kIoctlNdisQueryGlobalStats, oidInput(0x00020101), out, returned));
    EXPECT_EQ(errno, 1);
    EXPECT_EQ(dir.read("record.log"), "");
    // A code without a folder is an order as before, and recorded.
    EXPECT_TRUE(deviceIoControl(device, 0x80000001, oidInput(7), {}, returned));
    EXPECT_EQ(dir.read("record.log"), "NIC1 0x80000001 07000000\n");
    closeDevice(device);
}

TEST_F(ImageAdapter, GrowingCounterFollowsTheClockFromTheOpen) {
    dir.write("devices/NIC1/00170002/00020101.rate", "100 250\n");
    dir.write("devices/NIC1/00170002/00020103.rate", "many\n");
    useFakeClock(5000, 0);
    DeviceHandle device = openDevice("NIC1", kDeviceRead);
    ASSERT_NE(device, nullptr);
    std::array<std::uint8_t, 8> out{};
    std::uint32_t returned = 0;
    auto read = [&] {
        out.fill(0xEE);
        EXPECT_TRUE(deviceIoControl(device, kIoctlNdisQueryGlobalStats, oidInput(0x00020101), out,
                                    returned));
        EXPECT_EQ(returned, 8u);
        return std::uint64_t{word(out)} | std::uint64_t{word(out, 4)} << 32;
    };
    EXPECT_EQ(read(), 100u);
    advanceFakeClock(2000);
    EXPECT_EQ(read(), 600u);
    advanceFakeClock(500);
    EXPECT_EQ(read(), 725u);
    advanceFakeClock(std::uint64_t{20'000'000} * 1000);
    EXPECT_EQ(read(), 100u + 250ull * 20'000'002u + 125u); // past 32 bits: 8 bytes hold it
    errno = 0;
    EXPECT_FALSE(
        deviceIoControl(device, kIoctlNdisQueryGlobalStats, oidInput(0x00020103), out, returned));
    EXPECT_EQ(errno, 1);
    closeDevice(device);
}

} // namespace
} // namespace farlink::platform
