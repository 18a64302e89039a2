// The storage adapter table. The adapters are found through the resource map, because only a
// driver that holds hardware resources drives an adapter; the service's group tells a disk
// adapter from everything else, and the SCSI device map adds what the resource map lacks (the
// buses, the initiator, the port's device name).
#include "inventory/storage_adapters.h"

#include "inventory/resource_list.h"
#include "inventory/resource_map.h"
#include "platform/console.h"
#include "platform/names.h"
#include "runtime/events.h"
#include "runtime/field_text.h"

#include <algorithm>
#include <cstring>

namespace farlink::inventory {

std::array<StorageAdapter, kStorageAdapterLimit> storageAdapters{};
std::uint8_t storageAdapterCount = 0;

namespace storage_keys {

int ScopedKey::open(platform::KeyHandle parent, std::string_view path) {
    platform::closeKey(handle_);
    handle_ = nullptr;
    return platform::openKey(parent, path, handle_);
}

bool readText(platform::KeyHandle key, std::string_view valueName, std::size_t limit,
              std::string& text) {
    std::array<std::uint8_t, 512> buffer{};
    std::uint32_t size = 0;
    const std::span<std::uint8_t> room(buffer.data(), std::min(limit, buffer.size()));
    if (platform::queryValue(key, valueName, nullptr, room, size) != platform::kErrorSuccess)
        return false;
    const auto* bytes = reinterpret_cast<const char*>(buffer.data());
    const std::size_t length = std::min<std::size_t>(size, room.size());
    text.assign(bytes, strnlen(bytes, length));
    return true;
}

bool readServiceGroup(platform::KeyHandle serviceKey, std::string& group) {
    bool found = false;
    forEachValue(serviceKey, [&](std::string_view name) {
        const std::size_t start = name.find_first_not_of(" \t");
        if (start == std::string_view::npos || name.size() - start < 5 ||
            !platform::sameName(name.substr(start, 5), "group"))
            return true;
        found = readText(serviceKey, name, 256, group);
        return false;
    });
    return found;
}

std::string squeezed(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f')
            out += platform::lowerAscii(c);
    return out;
}

std::uint32_t leadingNumber(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

void copyText(std::span<char> field, std::string_view text) {
    if (field.empty()) return;
    const std::size_t n = std::min(text.size(), field.size() - 1);
    if (n != 0) std::memcpy(field.data(), text.data(), n);
    field[n] = '\0';
}

} // namespace storage_keys

namespace {

using runtime::fieldText;

using platform::KeyHandle;
using storage_keys::copyText;
using storage_keys::ScopedKey;
using storage_keys::squeezed;

constexpr std::string_view kScsiMap = "HARDWARE\\DEVICEMAP\\Scsi";
constexpr std::size_t kDriverValueLimit = 100;

void report(const char* format, int code) {
    platform::diagnostic(platform::formatText(format, code));
}

// The port key's device name out of a raw list's value name: ScsiPort0 out of
// \Device\ScsiPort0.Raw.
std::string_view portDeviceName(std::string_view valueName) {
    const std::size_t slash = valueName.rfind('\\');
    if (slash != std::string_view::npos) valueName.remove_prefix(slash + 1);
    return valueName.substr(0, valueName.find('.'));
}

// The adapter's resources: the largest port range (the first of equal lengths), and the last
// interrupt, memory range and DMA channel. A range the 32-bit fields cannot hold whole is passed
// over: its low half would name some other range below 4 GiB.
void takeResources(StorageAdapter& adapter, std::span<const std::uint8_t> list) {
    bool havePort = false;
    std::uint32_t largestPort = 0;
    forEachDescriptor(list, [&](const PartialDescriptor& d) {
        switch (d.type) {
        case kResourcePort:
            if (!d.fitsIn32Bits()) break;
            if (!havePort || d.third > largestPort) {
                havePort = true;
                largestPort = d.third;
                adapter.portBase = d.first;
            }
            break;
        case kResourceInterrupt:
            adapter.interruptLevel = static_cast<std::uint8_t>(d.first);
            break;
        case kResourceMemory:
            if (d.fitsIn32Bits()) adapter.memoryBase = d.first;
            break;
        case kResourceDma:
            adapter.dmaChannel = static_cast<std::uint8_t>(d.first);
            break;
        case kResourceDeviceSpecific:
            break;
        default:
            report("Unknown Resource Type = %d\n", d.type);
            break;
        }
        return true;
    });
}

// Gives the adapter the driver and device name of the SCSI port that the driver drives. False
// when the SCSI device map is missing, which ends the whole build.
bool findScsiPortOfDriver(StorageAdapter& adapter, std::string_view driver) {
    ScopedKey scsi;
    if (scsi.open(platform::kLocalMachine, kScsiMap) != platform::kErrorSuccess) {
        runtime::reportEvent(runtime::kEventWarning, "Couldn't open DEVICEMAP\\Scsi");
        return false;
    }
    storage_keys::forEachSubkey(scsi.get(), [&](std::string_view name) {
        ScopedKey port;
        const int opened = port.open(scsi.get(), name);
        if (opened != platform::kErrorSuccess) {
            runtime::reportEvent(runtime::kEventWarning, "OpenKey hKeyScsi Error");
            report("Registry seems to be corrupted, Error No %d.\n", opened);
            return true;
        }
        std::string portDriver;
        if (!storage_keys::readText(port.get(), "Driver", kDriverValueLimit, portDriver) ||
            portDriver != driver)
            return true;
        copyText(adapter.driverName, portDriver);
        std::string device;
        storage_keys::readText(port.get(), "DeviceName", storage_keys::kNameSize, device);
        copyText(adapter.deviceName, device);
        return false;
    });
    return true;
}

// A bus subkey that names the initiator, "Initiator Id 7" in any case: three words, the last
// the ID.
bool readInitiatorId(std::string_view name, std::uint32_t& id) {
    std::array<std::string, 3> words;
    std::size_t count = 0;
    while (!name.empty()) {
        const std::size_t blank = name.find(' ');
        const std::string_view word = name.substr(0, blank);
        name = blank == std::string_view::npos ? std::string_view{} : name.substr(blank + 1);
        if (word.empty()) continue;
        if (count == words.size()) return false;
        words[count++] = squeezed(word);
    }
    if (count != 3 || words[0] != "initiator" || words[1] != "id") return false;
    id = storage_keys::leadingNumber(words[2]);
    return true;
}

// How a build ends: the walk went through, or a missing device map stopped it.
struct Build {
    KeyHandle services = nullptr;
    bool stopped = false;
};

// One driver key of the resource map. False ends the walk.
bool takeDriver(Build& build, std::string_view driver, KeyHandle driverKey) {
    ScopedKey service;
    const int opened = service.open(build.services, driver);
    if (opened != platform::kErrorSuccess) {
        report("Registry seems to be corrupted, Error No %d.\n", opened);
        return true;
    }
    std::string group;
    if (!storage_keys::readServiceGroup(service.get(), group)) return true;
    group = squeezed(group);
    const bool scsiMiniport = group == "scsiminiport";
    const bool primaryDisk = group == "primarydisk";
    if (!scsiMiniport && !primaryDisk) return true;
    // The IDE port driver registers as a miniport, yet its disks are the machine's IDE disks.
    const std::uint8_t kind =
        (primaryDisk || driver == "atapi") ? kPrimaryDiskAdapter : kScsiMiniportAdapter;

    if (primaryDisk) {
        ScopedKey deviceMap;
        const int rc = deviceMap.open(platform::kLocalMachine, "HARDWARE\\DEVICEMAP");
        if (rc != platform::kErrorSuccess) {
            report("Couldn't open DEVICEMAP..., Error No is %d\n", rc);
            build.stopped = true;
            return false;
        }
        // A primary disk driver without disks in the device map drives nothing.
        ScopedKey driverDisks;
        if (driverDisks.open(deviceMap.get(), driver) != platform::kErrorSuccess) return true;
    }

    std::array<std::uint8_t, kResourceListBufferSize> list{};
    bool going = true;
    storage_keys::forEachValue(driverKey, [&](std::string_view name) {
        if (!isRawListName(name)) return true;
        // A full table ends the walk: nothing more can be added.
        if (storageAdapterCount >= kStorageAdapterLimit) return going = false;

        StorageAdapter& adapter = storageAdapters[storageAdapterCount];
        adapter = StorageAdapter{};
        adapter.index = storageAdapterCount++;
        adapter.kind = kind;
        std::uint32_t size = 0;
        const int read = platform::queryValue(driverKey, name, nullptr, list, size);
        if (read == platform::kErrorSuccess)
            takeResources(adapter, std::span<const std::uint8_t>(list).first(
                                       std::min<std::size_t>(size, list.size())));
        else
            report("Registry seems to be corrupted, Error no %d\n", read);

        adapter.initiatorId = -1;
        if (scsiMiniport)
            lookUpScsiPort(portDeviceName(name), adapter.busCount, adapter.initiatorId);
        if (kind == kPrimaryDiskAdapter) {
            copyText(adapter.driverName, "Atdisk");
            copyText(adapter.deviceName, "Atdisk");
        }
        if (!findScsiPortOfDriver(adapter, driver)) {
            build.stopped = true;
            return going = false;
        }
        return true;
    });
    return going;
}

} // namespace

void lookUpScsiPort(std::string_view deviceName, std::uint8_t& busCount, std::int8_t& initiatorId) {
    busCount = 0;
    initiatorId = -1;
    ScopedKey scsi;
    const int rc = scsi.open(platform::kLocalMachine, kScsiMap);
    if (rc != platform::kErrorSuccess) {
        report("Couldn't open DEVICEMAP\\Scsi..., Error No is %d\n", rc);
        return;
    }
    const std::string wanted = squeezed(deviceName);
    storage_keys::forEachSubkey(scsi.get(), [&](std::string_view name) {
        if (squeezed(name) != wanted) return true;
        ScopedKey port;
        const int opened = port.open(scsi.get(), name);
        if (opened != platform::kErrorSuccess) {
            report("Registry seems to be corrupted, Error No %d.\n", opened);
            return true;
        }
        std::uint32_t buses = 0;
        storage_keys::forEachSubkey(port.get(), [&](std::string_view) { return ++buses, true; });
        busCount = static_cast<std::uint8_t>(std::min<std::uint32_t>(buses, 0xFF));

        // The first bus lists the initiator before its targets: "Initiator Id 7".
        ScopedKey bus;
        storage_keys::forEachSubkey(port.get(), [&](std::string_view first) {
            bus.open(port.get(), first);
            return false;
        });
        if (bus.get() == nullptr) return false;
        storage_keys::forEachSubkey(bus.get(), [&](std::string_view sub) {
            std::uint32_t id = 0;
            if (!readInitiatorId(sub, id)) return false;
            initiatorId = static_cast<std::int8_t>(id);
            return true;
        });
        return false;
    });
}

void buildStorageAdapterTable() {
    storageAdapterCount = 0;
    ScopedKey services;
    const int rc = services.open(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services");
    if (rc != platform::kErrorSuccess) {
        report("Couldn't open Services..., Error No is %d\n", rc);
        return;
    }
    Build build{services.get(), false};
    const bool walked =
        walkResourceMap(platform::kAllResourceTypes, [&](std::string_view owner, KeyHandle key) {
            return takeDriver(build, owner, key);
        });
    if (!walked || build.stopped) return;
    for (std::size_t i = 0; i < storageAdapterCount; ++i) {
        StorageAdapter& adapter = storageAdapters[i];
        if (fieldText(adapter.reservedText).empty()) copyText(adapter.reservedText, "N/A");
        if (fieldText(adapter.deviceName).empty()) copyText(adapter.deviceName, "N/A");
    }
}

} // namespace farlink::inventory
