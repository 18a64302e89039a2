// The host's network interfaces as sysfs shows them (/sys/class/net), for the NetworkCards keys
// and the adapters' resource lists of the key-tree view, and for the adapter devices
// "\\.\<interface>" that answer NDIS statistics queries. Inside the platform layer only.
//
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\<ifindex>
//       "ProductName"  the driver ("virtio_net"); the interface's name when it has no device
//       "ServiceName"  the interface's name ("eth0"): the adapter device's name
//       "Title"        "[<ifindex>] " and the description
//       "Hidden"       1 for an interface without a device of its own (lo, bridges, tun, veth)
//   HARDWARE\RESOURCEMAP\OtherDrivers\<driver>  "\Device\<interface>.Raw": its PCI function's
//       BARs and its line interrupt, or its first message-signalled one
//
// The adapter device answers IOCTL_NDIS_QUERY_GLOBAL_STATS (the OID is the input) from
// /sys/class/net/<interface>/: the medium from "type", the address from "address", and those
// statistics Linux counts too, each file opened once and read again with pread for each query.
// A statistic Linux does not count is left out of the supported list and refused.
#pragma once

#include "platform/host_resources.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct TreeKey;

inline constexpr std::uint32_t kIoctlNdisQueryGlobalStats = 0x00170002;

struct HostNic {
    unsigned ifindex = 0;
    std::string name;        // "eth0"
    std::string driver;      // "virtio_net"; empty without a device
    std::string pciAddress;  // the PCI function that holds its resources; empty when none does
    std::string description; // the driver and, on PCI, the vendor and device numbers
    bool hasDevice = false;
};

// The interfaces below <sysRoot>/class/net in the order of their interface indexes.
std::vector<HostNic> scanHostNics(const std::string& sysRoot = "/sys");

// NetworkCards below `root`, one subkey per interface (see above).
void addNetworkCards(TreeKey& root, const std::vector<HostNic>& nics);

// One resource list per interface with a PCI function, of the kinds `resourceTypes` asks for.
std::vector<ControllerResources> nicResources(const std::vector<HostNic>& nics,
                                              std::uint32_t resourceTypes,
                                              const std::string& sysRoot = "/sys");

// What an open adapter device holds: the facts read at the open and the statistics files, kept
// open for the life of the handle. Nothing changes after the open but the files' contents, so
// several threads may query one adapter at once.
class HostAdapter {
  public:
    HostAdapter() = default;
    ~HostAdapter();
    HostAdapter(const HostAdapter&) = delete;
    HostAdapter& operator=(const HostAdapter&) = delete;

    // Opens /sys/class/net/<name>; false with errno 2 when there is no such interface.
    bool open(std::string_view name, const std::string& sysRoot = "/sys");

    // One NDIS query: true with `returned` set, else false with errno set (1: the OID is not
    // served, 234: the answer does not fit). A statistic is answered in 8 bytes, or in its low
    // 4 when the output holds only those, as NDIS answers 64-bit counters.
    bool query(std::uint32_t oid, std::span<std::uint8_t> output, std::uint32_t& returned) const;

    std::span<const std::uint32_t> supportedOids() const { return supported_; }

  private:
    struct Statistic {
        std::uint32_t oid = 0;
        int fd = -1;
    };
    int medium_ = -1; // NDIS_MEDIUM; -1 for a type NDIS has no medium for
    std::array<std::uint8_t, 6> address_{};
    bool hasAddress_ = false;
    std::string description_;
    std::vector<std::uint32_t> supported_;
    std::vector<Statistic> statistics_;
};

} // namespace farlink::platform
