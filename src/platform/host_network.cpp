#include "platform/host_network.h"

#include "platform/host_files.h"
#include "platform/host_storage.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr int kErrorInvalidFunction = 1;

constexpr std::uint32_t kOidSupportedList = 0x00010101;
constexpr std::uint32_t kOidMediaInUse = 0x00010103;
constexpr std::uint32_t kOidVendorDescription = 0x0001010D;
constexpr std::uint32_t kOid8023PermanentAddress = 0x01010101;
constexpr std::uint32_t kOid8023CurrentAddress = 0x01010102;
constexpr std::uint32_t kOid8025PermanentAddress = 0x02010101;
constexpr std::uint32_t kOid8025CurrentAddress = 0x02010102;

constexpr int kMedium8023 = 0;
constexpr int kMedium8025 = 1;
constexpr int kMediumFddi = 2;

// The statistics that Linux counts with the same meaning, by the kernel's description of each
// file. The 802.3 ones are served only by an Ethernet interface.
struct StatisticFile {
    std::uint32_t oid;
    const char* file;
    bool ethernetOnly;
};
constexpr StatisticFile kStatisticFiles[] = {
    {0x00020101, "tx_packets", false},         // OID_GEN_XMIT_OK
    {0x00020102, "rx_packets", false},         // OID_GEN_RCV_OK
    {0x00020103, "tx_errors", false},          // OID_GEN_XMIT_ERROR
    {0x00020104, "rx_errors", false},          // OID_GEN_RCV_ERROR
    {0x00020105, "rx_missed_errors", false},   // OID_GEN_RCV_NO_BUFFER
    {0x0002020A, "multicast", false},          // OID_GEN_MULTICAST_FRAMES_RCV
    {0x0002020D, "rx_crc_errors", false},      // OID_GEN_RCV_CRC_ERROR
    {0x01020101, "rx_frame_errors", true},     // OID_802_3_RCV_ERROR_ALIGNMENT
    {0x01020202, "tx_aborted_errors", true},   // OID_802_3_XMIT_MAX_COLLISIONS
    {0x01020203, "rx_over_errors", true},      // OID_802_3_RCV_OVERRUN
    {0x01020204, "tx_fifo_errors", true},      // OID_802_3_XMIT_UNDERRUN
    {0x01020205, "tx_heartbeat_errors", true}, // OID_802_3_XMIT_HEARTBEAT_FAILURE
    {0x01020206, "tx_carrier_errors", true},   // OID_802_3_XMIT_TIMES_CRS_LOST
    {0x01020207, "tx_window_errors", true},    // OID_802_3_XMIT_LATE_COLLISIONS
};

// ARPHRD_* of the kernel to NDIS_MEDIUM.
int mediumOf(unsigned type) {
    switch (type) {
    case 1: // ARPHRD_ETHER
        return kMedium8023;
    case 800: // ARPHRD_IEEE802_TR
        return kMedium8025;
    case 774: // ARPHRD_FDDI
        return kMediumFddi;
    default:
        return -1;
    }
}

bool parseUnsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "02:fc:00:00:00:01": six bytes, nothing else.
bool parseAddress(std::string_view text, std::array<std::uint8_t, 6>& address) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = hexDigit(text[3 * i]), low = hexDigit(text[3 * i + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != ':')) return false;
        address[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

// An interface's name is one directory below class/net: nothing that leads out of it.
bool acceptableInterface(std::string_view name) {
    return !name.empty() && name.size() < 64 && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string attribute(const std::string& path) {
    char buffer[128];
    return std::string(readAttribute(path.c_str(), buffer));
}

std::vector<std::uint8_t> text(std::string_view value) {
    std::vector<std::uint8_t> data(value.begin(), value.end());
    data.push_back(0);
    return data;
}

std::vector<std::uint8_t> dword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// Copies an answer; one that does not fit fills the output and fails as more data.
bool answer(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> output,
            std::uint32_t& returned) {
    const std::size_t n = std::min(bytes.size(), output.size());
    std::copy_n(bytes.begin(), n, output.begin());
    returned = static_cast<std::uint32_t>(n);
    if (n < bytes.size()) {
        errno = kErrorMoreData;
        return false;
    }
    return true;
}

// The lowest number among the entries of <function>/msi_irqs; -1 without any.
int firstMessageIrq(const std::string& sysRoot, const std::string& pci) {
    const std::string path = sysRoot + "/bus/pci/devices/" + pci + "/msi_irqs";
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return -1;
    int lowest = -1;
    while (const dirent* entry = ::readdir(dir)) {
        std::uint64_t number = 0;
        if (parseUnsigned(entry->d_name, number) && number > 0 && number < 0x7FFFFFFF &&
            (lowest < 0 || static_cast<int>(number) < lowest))
            lowest = static_cast<int>(number);
    }
    ::closedir(dir);
    return lowest;
}

// One interface's facts; false when it is no interface (or has no index).
bool readNic(const std::string& sysRoot, std::string_view name, HostNic& nic) {
    if (!acceptableInterface(name)) return false;
    const std::string path = sysRoot + "/class/net/" + std::string(name);
    std::uint64_t ifindex = 0;
    if (!parseUnsigned(attribute(path + "/ifindex"), ifindex) || ifindex == 0 ||
        ifindex > 0xFFFFFFFF)
        return false;
    nic.ifindex = static_cast<unsigned>(ifindex);
    nic.name = name;
    // A virtual interface (loopback, bridge, tunnel, veth) has no device link.
    char target[512];
    nic.hasDevice = !readLinkTarget((path + "/device").c_str(), target).empty();
    if (nic.hasDevice) {
        nic.driver = baseName(readLinkTarget((path + "/device/driver").c_str(), target));
        nic.pciAddress = pciFunctionOf(readLinkTarget(path.c_str(), target));
    }
    nic.description = nic.driver.empty() ? nic.name : nic.driver;
    if (!nic.pciAddress.empty()) {
        const std::string pci = sysRoot + "/bus/pci/devices/" + nic.pciAddress;
        const std::string vendor = attribute(pci + "/vendor"), device = attribute(pci + "/device");
        if (vendor.substr(0, 2) == "0x" && device.substr(0, 2) == "0x")
            nic.description += ", PCI " + vendor.substr(2) + ":" + device.substr(2);
    }
    return true;
}

} // namespace

std::vector<HostNic> scanHostNics(const std::string& sysRoot) {
    std::vector<HostNic> nics;
    const std::string net = sysRoot + "/class/net";
    DIR* dir = ::opendir(net.c_str());
    if (dir == nullptr) return nics;
    while (const dirent* entry = ::readdir(dir)) {
        HostNic nic;
        if (readNic(sysRoot, entry->d_name, nic)) nics.push_back(std::move(nic));
    }
    ::closedir(dir);
    std::sort(nics.begin(), nics.end(),
              [](const HostNic& a, const HostNic& b) { return a.ifindex < b.ifindex; });
    return nics;
}

void addNetworkCards(TreeKey& root, const std::vector<HostNic>& nics) {
    TreeKey& cards = root.path("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards");
    for (const HostNic& nic : nics) {
        TreeKey& card = cards.child(std::to_string(nic.ifindex));
        card.set("ProductName", kRegSz, text(nic.driver.empty() ? nic.name : nic.driver));
        card.set("ServiceName", kRegSz, text(nic.name));
        // Appended piece by piece: one expression of string sums draws a false -Wrestrict
        // from GCC 12 at -O2.
        std::string title = "[";
        title += std::to_string(nic.ifindex);
        title += "] ";
        title += nic.description;
        card.set("Title", kRegSz, text(title));
        if (!nic.hasDevice) card.set("Hidden", kRegDword, dword(1));
    }
}

std::vector<ControllerResources> nicResources(const std::vector<HostNic>& nics,
                                              std::uint32_t resourceTypes,
                                              const std::string& sysRoot) {
    std::vector<ControllerResources> lists;
    for (const HostNic& nic : nics) {
        if (!nic.hasDevice || nic.driver.empty() || nic.pciAddress.empty()) continue;
        ControllerResources& list = lists.emplace_back();
        list.driver = nic.driver;
        list.device = nic.name;
        list.pciAddress = nic.pciAddress;
        readPciFunction(nic.pciAddress, resourceTypes, list);
        if (list.irq <= 0 && (resourceTypes & resourceTypeBit(2)) != 0)
            list.messageIrq = firstMessageIrq(sysRoot, nic.pciAddress);
    }
    return lists;
}

HostAdapter::~HostAdapter() {
    for (const Statistic& s : statistics_)
        ::close(s.fd);
}

bool HostAdapter::open(std::string_view name, const std::string& sysRoot) {
    HostNic nic;
    std::uint64_t type = 0;
    const std::string path = sysRoot + "/class/net/" + std::string(name);
    if (!readNic(sysRoot, name, nic) || !parseUnsigned(attribute(path + "/type"), type)) {
        errno = kErrorFileNotFound;
        return false;
    }
    medium_ = type <= 0xFFFF ? mediumOf(static_cast<unsigned>(type)) : -1;
    hasAddress_ = parseAddress(attribute(path + "/address"), address_);
    description_ = nic.description;

    supported_ = {kOidSupportedList, kOidVendorDescription};
    if (medium_ >= 0) supported_.push_back(kOidMediaInUse);
    if (hasAddress_ && medium_ == kMedium8023) {
        supported_.push_back(kOid8023PermanentAddress);
        supported_.push_back(kOid8023CurrentAddress);
    }
    if (hasAddress_ && medium_ == kMedium8025) {
        supported_.push_back(kOid8025PermanentAddress);
        supported_.push_back(kOid8025CurrentAddress);
    }
    for (const StatisticFile& s : kStatisticFiles) {
        if (s.ethernetOnly && medium_ != kMedium8023) continue;
        const int fd = ::open((path + "/statistics/" + s.file).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        statistics_.push_back({s.oid, fd});
        supported_.push_back(s.oid);
    }
    return true;
}

bool HostAdapter::query(std::uint32_t oid, std::span<std::uint8_t> output,
                        std::uint32_t& returned) const {
    returned = 0;
    for (const Statistic& s : statistics_) {
        if (s.oid != oid) continue;
        char digits[32];
        ssize_t n;
        do {
            n = ::pread(s.fd, digits, sizeof digits, 0);
        } while (n < 0 && errno == EINTR);
        std::string_view textRead(digits, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!textRead.empty() && (textRead.back() == '\n' || textRead.back() == ' '))
            textRead.remove_suffix(1);
        std::uint64_t value = 0;
        if (!parseUnsigned(textRead, value)) {
            // The interface went away, or the driver cannot tell this count now.
            errno = kErrorInvalidFunction;
            return false;
        }
        std::array<std::uint8_t, 8> bytes{};
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        const std::size_t size = output.size() >= 8 || output.size() < 4 ? 8 : 4;
        return answer(std::span<const std::uint8_t>(bytes).first(size), output, returned);
    }
    switch (oid) {
    case kOidSupportedList: {
        std::vector<std::uint8_t> list;
        for (std::uint32_t o : supported_) {
            const std::vector<std::uint8_t> word = dword(o);
            list.insert(list.end(), word.begin(), word.end());
        }
        return answer(list, output, returned);
    }
    case kOidMediaInUse:
        if (medium_ < 0) break;
        return answer(dword(static_cast<std::uint32_t>(medium_)), output, returned);
    case kOidVendorDescription:
        return answer(text(description_), output, returned);
    case kOid8023PermanentAddress:
    case kOid8023CurrentAddress:
        if (!hasAddress_ || medium_ != kMedium8023) break;
        return answer(address_, output, returned);
    case kOid8025PermanentAddress:
    case kOid8025CurrentAddress:
        if (!hasAddress_ || medium_ != kMedium8025) break;
        return answer(address_, output, returned);
    default:
        break;
    }
    errno = kErrorInvalidFunction;
    return false;
}

} // namespace farlink::platform
