#include "adapters/discovery.h"

#include "adapters/nic.h"
#include "adapters/poller.h"
#include "inventory/resource_list.h"
#include "platform/console.h"
#include "platform/device_io.h"
#include "platform/key_tree.h"
#include "runtime/events.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace farlink::adapters {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

constexpr std::string_view kNetworkCards =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

// What the walk keeps of each card, in the order the cards were opened.
struct NetworkCard {
    std::array<char, 32> serviceName{};
    std::array<char, 32> productName{};
    platform::DeviceHandle device = nullptr;
    std::array<char, 80> title{};
};

std::array<NetworkCard, kMaxAdapters> cards;

// The walk and the records are written by the start-up worker alone, before any poller or
// request reads them; the count is what the other threads look at first.
int adapterCount() {
    return std::clamp(nicCount.load(relaxed), 0, kMaxAdapters);
}

// The number a subkey name spells, read as the C runtime's string-to-integer conversion reads
// it: blanks, a sign, then digits up to the first that is not one.
int cardNumber(std::string_view name) {
    std::size_t i = 0;
    while (i < name.size() && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
    int value = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i)
        value = value * 10 + (name[i] - '0'); // at most 3 characters: no overflow
    return negative ? -value : value;
}

// A text value into a field of its buffer size; false when it is missing or does not fit.
bool queryText(platform::KeyHandle key, std::string_view name, std::span<char> field) {
    std::uint32_t size = 0;
    auto bytes = std::span(reinterpret_cast<std::uint8_t*>(field.data()), field.size());
    if (platform::queryValue(key, name, nullptr, bytes, size) != platform::kErrorSuccess)
        return false;
    // A value stored without its terminator still ends within the field.
    field[std::min<std::size_t>(size, field.size() - 1)] = '\0';
    return true;
}

std::string_view fieldText(std::span<const char> field) {
    return {field.data(),
            static_cast<std::size_t>(std::find(field.begin(), field.end(), '\0') - field.begin())};
}

template <std::size_t N> void copyText(std::array<char, N>& field, std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::fill(field.begin(), field.end(), '\0');
    std::copy_n(text.begin(), n, field.begin());
}

// The addresses TCP/IP was given for the card, printed for whoever watches the console.
void printAddresses(std::string_view serviceName) {
    const std::string path =
        "SYSTEM\\CurrentControlSet\\Services\\" + std::string(serviceName) + "\\Parameters\\Tcpip";
    platform::KeyHandle key = nullptr;
    if (platform::openKey(platform::kLocalMachine, path, key) != platform::kErrorSuccess) return;
    std::array<std::uint8_t, 500> data{};
    std::uint32_t size = 0;
    if (platform::queryValue(key, "IPAddress", nullptr, data, size) == platform::kErrorSuccess &&
        size > 1) {
        const auto* text = reinterpret_cast<const char*>(data.data());
        std::size_t at = 0;
        while (at < size && text[at] != '\0') {
            const std::size_t length =
                static_cast<std::size_t>(std::find(text + at, text + size, '\0') - (text + at));
            platform::printText("Ip=" + std::string(text + at, length) + "\n");
            at += length + 1;
        }
    }
    platform::closeKey(key);
}

// The subkey as a card: false when it is skipped (a missing value, a hidden card).
bool readCard(platform::KeyHandle cardKey, NetworkCard& card) {
    std::array<char, 80> title{};
    if (!queryText(cardKey, "ProductName", card.productName) ||
        !queryText(cardKey, "ServiceName", card.serviceName) || !queryText(cardKey, "Title", title))
        return false;
    // The title starts with the card's number in brackets ("[1] "), which the table leaves out.
    const std::string_view fullTitle = fieldText(title);
    copyText(card.title, fullTitle.size() > 4 ? fullTitle.substr(4) : std::string_view{});
    printAddresses(fieldText(card.serviceName));
    std::array<std::uint8_t, 4> hidden{};
    std::uint32_t size = 0;
    if (platform::queryValue(cardKey, "Hidden", nullptr, hidden, size) == platform::kErrorSuccess &&
        inventory::answerWord(std::span<const std::uint8_t>(hidden).first(size), 0) != 0)
        return false;
    return true;
}

std::uint32_t answerWord(std::span<const std::uint8_t> bytes) {
    return inventory::answerWord(bytes, 0);
}

// The resource summary from the adapter's raw resource list: the largest port range (the
// first of equal ones), and the last interrupt, memory range and DMA channel.
void takeResources(std::span<const std::uint8_t> list, NicInfo& info) {
    info.memoryBase = 0;
    info.dmaChannel = 0xFFFFFFFF;
    bool portSeen = false;
    std::uint32_t portLength = 0;
    inventory::forEachDescriptor(list, [&](const inventory::PartialDescriptor& d) {
        switch (d.type) {
        case inventory::kResourcePort:
            if (!portSeen || d.third > portLength) {
                info.ioPortBase = d.first;
                portLength = d.third;
                portSeen = true;
            }
            break;
        case inventory::kResourceInterrupt:
            info.interruptLevel = d.first;
            break;
        case inventory::kResourceMemory:
            info.memoryBase = d.first;
            break;
        case inventory::kResourceDma:
            info.dmaChannel = d.first;
            break;
        default:
            break;
        }
        return true;
    });
}

constexpr std::string_view mediaName(std::uint32_t code) {
    switch (code) {
    case kMedia8023:
        return "Ethernet";
    case kMedia8025:
        return "Token Ring";
    default:
        return "Not Supported by KORU";
    }
}

} // namespace

int discoverAdapters() {
    nicCount.store(0, relaxed);
    platform::KeyHandle root = nullptr;
    if (platform::openKey(platform::kLocalMachine, kNetworkCards, root) != platform::kErrorSuccess)
        return 0;
    int count = 0;
    std::array<char, 4> name{};
    // The tables hold eight cards: a ninth usable one ends the walk.
    for (std::uint32_t index = 0; count < kMaxAdapters; ++index) {
        // Names of up to 3 characters; a longer one ends the walk as any other failure does.
        if (platform::enumKey(root, index, name) != platform::kErrorSuccess) break;
        if (cardNumber(fieldText(name)) == 0) continue;
        platform::KeyHandle cardKey = nullptr;
        if (platform::openKey(root, fieldText(name), cardKey) != platform::kErrorSuccess) continue;
        NetworkCard& card = cards[static_cast<std::size_t>(count)];
        card = NetworkCard{};
        if (readCard(cardKey, card)) {
            card.device = platform::openDevice(fieldText(card.serviceName), platform::kDeviceRead);
            // A card whose device cannot be opened leaves its slot to the next one.
            if (card.device != nullptr) ++count;
        }
        platform::closeKey(cardKey);
    }
    platform::closeKey(root);
    nicCount.store(count, relaxed);
    return count;
}

bool adapterQuery(int adapter, std::uint32_t oid, std::span<std::uint8_t> output,
                  std::uint32_t& returned) {
    returned = 0;
    if (adapter < 0 || adapter >= adapterCount()) return false;
    const std::array<std::uint8_t, 4> input = {
        static_cast<std::uint8_t>(oid), static_cast<std::uint8_t>(oid >> 8),
        static_cast<std::uint8_t>(oid >> 16), static_cast<std::uint8_t>(oid >> 24)};
    return platform::deviceIoControl(cards[static_cast<std::size_t>(adapter)].device,
                                     kIoctlNdisQueryGlobalStats, input, output, returned);
}

bool polledOid(std::uint32_t oid) {
    const bool statistic = (oid & 0x00FF0000) == 0x00020000;
    switch (oid >> 24) {
    case 0x00:
    case 0x01:
        return statistic;
    case 0x02:
        return statistic || oid == kOid8025CurrentRingStatus;
    default:
        return false;
    }
}

bool buildPolledOidList(int adapter) {
    std::array<std::uint8_t, 4 * kMaxPolledOids> supported{};
    std::uint32_t returned = 0;
    if (!adapterQuery(adapter, kOidSupportedList, supported, returned)) return false;
    PolledOidList& list = polledOids[static_cast<std::size_t>(adapter)];
    list.count = 0;
    const auto listed = std::span<const std::uint8_t>(supported).first(
        std::min<std::size_t>(returned, supported.size()));
    for (std::size_t at = 0; at + 4 <= listed.size(); at += 4) {
        const std::uint32_t oid = answerWord(listed.subspan(at));
        if (polledOid(oid)) list.oids[list.count++] = oid;
    }
    return true;
}

bool fillAdapterRecord(int adapter) {
    if (adapter < 0 || adapter >= adapterCount()) return false;
    const NetworkCard& card = cards[static_cast<std::size_t>(adapter)];
    NicInfo& info = nicInfo[static_cast<std::size_t>(adapter)];
    info.index = static_cast<std::uint32_t>(adapter);

    const std::string keyPath =
        "HARDWARE\\RESOURCEMAP\\OtherDrivers\\" + std::string(fieldText(card.productName));
    platform::KeyHandle key = nullptr;
    if (platform::openKey(platform::kLocalMachine, keyPath, key) != platform::kErrorSuccess)
        return false;
    {
        std::array<std::uint8_t, 3072> list{};
        std::uint32_t size = 0;
        const std::string valueName =
            "\\Device\\" + std::string(fieldText(card.serviceName)) + ".Raw";
        if (platform::queryValue(key, valueName, nullptr, list, size) == platform::kErrorSuccess)
            takeResources(std::span<const std::uint8_t>(list).first(size), info);
    }
    platform::closeKey(key);

    // Each answer must hold what is read of it: a shorter one is a failed query, so that no
    // byte of an earlier answer is taken for this one.
    std::array<std::uint8_t, 1024> answer{};
    std::uint32_t returned = 0;
    if (!adapterQuery(adapter, kOidMediaInUse, answer, returned) || returned < 4) return false;
    const std::uint32_t medium = answerWord(answer);
    info.mediaCode =
        medium + 1 == kMedia8023 || medium + 1 == kMedia8025 ? medium + 1 : kMediaNotSupported;
    info.permanentAddress.fill(0);
    if (info.mediaCode != kMediaNotSupported) {
        const std::uint32_t addressOid =
            info.mediaCode == kMedia8023 ? kOid8023PermanentAddress : kOid8025PermanentAddress;
        if (!adapterQuery(adapter, addressOid, answer, returned) || returned < 6) return false;
        std::copy_n(answer.begin(), 6, info.permanentAddress.begin());
    }
    answer.fill(0);
    if (!adapterQuery(adapter, kOidVendorDescription, answer, returned)) return false;
    // The text ends at its zero or at the bytes returned, whichever comes first.
    const auto* text = reinterpret_cast<const char*>(answer.data());
    const std::size_t limit = std::min<std::size_t>(returned, answer.size());
    copyText(info.vendorDescription,
             std::string_view(
                 text, static_cast<std::size_t>(std::find(text, text + limit, '\0') - text)));

    copyText(info.mediaName, mediaName(info.mediaCode));
    info.title = card.title;
    for (auto& counter : info.lastCounters)
        counter.store(0xFFFFFFFF, relaxed);
    return true;
}

int initNic() {
    const int count = discoverAdapters();
    for (int i = 0; i < count; ++i) {
        NicInfo& info = nicInfo[static_cast<std::size_t>(i)];
        // The index is the adapter's whatever else fails, so that its row names it.
        info.index = static_cast<std::uint32_t>(i);
        if (!buildPolledOidList(i) || !fillAdapterRecord(i)) continue;
        if (!startPoller(i)) {
            runtime::reportEvent(
                runtime::kEventWarning,
                platform::formatText("Unable to create thread:%d ", platform::lastError()));
            return 0;
        }
    }
    return 1;
}

void resetAdapters() {
    for (NetworkCard& card : cards) {
        platform::closeDevice(card.device);
        card = NetworkCard{};
    }
    nicCount.store(0, relaxed);
    clearThresholdMessage();
    forgetLoggedCrossings();
    for (std::size_t a = 0; a < nicInfo.size(); ++a) {
        NicInfo& info = nicInfo[a];
        info.index = 0;
        info.mediaName.fill(0);
        info.ioPortBase = info.interruptLevel = info.memoryBase = info.dmaChannel = 0;
        info.mediaCode = 0;
        info.permanentAddress.fill(0);
        info.vendorDescription.fill(0);
        info.title.fill(0);
        for (auto& counter : info.lastCounters)
            counter.store(0xFFFFFFFF, relaxed);
        for (auto& threshold : nicThresholds[a])
            threshold.store(0, relaxed);
        for (auto& latch : exceededLatch[a])
            latch.store(0, relaxed);
        polledOids[a] = PolledOidList{};
    }
}

} // namespace farlink::adapters
