// The disk table. The registry tells which disks there are; only the physical drives tell how
// large they are, and nothing links the two but their order: the n-th hard disk found is taken
// to be the n-th physical drive the system lists. The IDE disks are therefore walked first, as
// the system numbers its drives.
#include "inventory/disks.h"

#include "inventory/storage_adapters.h"
#include "platform/device_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace farlink::inventory {

std::array<std::array<char, kPhysicalDriveNameSize>, kPhysicalDriveNameLimit> physicalDriveNames{};
std::uint32_t physicalDriveNameCount = 0;
std::array<DiskRecord, kDiskLimit> disks{};
std::int32_t diskCount = 0;
std::array<std::int32_t, kDiskLimit> diskOrdinals{};
std::array<std::array<std::atomic<std::int32_t>, kDiskLimit>, kDiskRunningValueArrays>
    diskRunningValues{};

namespace {

using platform::KeyHandle;
using storage_keys::copyText;
using storage_keys::ScopedKey;
using storage_keys::squeezed;

constexpr std::string_view kDrivePrefix = "PhysicalDrive";
constexpr std::uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
constexpr std::size_t kGeometrySize = 24;
constexpr std::size_t kIdeValueLimit = 64;

// The next physical drive to match with a hard disk.
std::uint32_t driveCursor = 0;

enum class Measured { Size, NoSuchDrive, Failed };

struct Measurement {
    Measured outcome = Measured::Failed;
    std::uint32_t sizeKb = kSizeNotMeasured;
};

std::uint64_t littleEndian(const std::uint8_t* bytes, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// KB from the geometry, in 64 bits and with the drive's own sector size: disks past 2 TiB and
// disks of 4 KB sectors are told as they are, up to the largest size a record holds.
std::uint32_t sizeFromGeometry(const std::array<std::uint8_t, kGeometrySize>& g) {
    const std::uint64_t cylinders = littleEndian(g.data(), 8);
    const std::uint64_t tracks = littleEndian(g.data() + 12, 4);
    const std::uint64_t sectors = littleEndian(g.data() + 16, 4);
    const std::uint64_t bytesPerSector = littleEndian(g.data() + 20, 4);
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(cylinders, tracks, &bytes) ||
        __builtin_mul_overflow(bytes, sectors, &bytes) ||
        __builtin_mul_overflow(bytes, bytesPerSector, &bytes))
        return kLargestDiskSize;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / 1024, kLargestDiskSize));
}

// Measures physical drive `driveNumber` and moves the cursor past it. A drive the system did
// not list is tried under the name its number gives; when that does not open, there is no such
// drive and the name is taken back.
Measurement measureDrive(std::uint32_t driveNumber) {
    driveCursor = driveNumber + 1;
    std::uint32_t slot = driveNumber;
    bool made = false;
    if (driveNumber >= physicalDriveNameCount) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%u", kDrivePrefix.data(),
                      static_cast<unsigned>(driveNumber));
        if (physicalDriveNameCount >= kPhysicalDriveNameLimit ||
            std::strlen(name) >= kPhysicalDriveNameSize)
            return {Measured::NoSuchDrive, kSizeNotMeasured};
        slot = physicalDriveNameCount++;
        copyText(physicalDriveNames[slot], name);
        made = true;
    }
    platform::DeviceHandle drive =
        platform::openDevice(physicalDriveNames[slot].data(), platform::kDeviceRead);
    if (drive == nullptr) {
        if (made) {
            --physicalDriveNameCount;
            return {Measured::NoSuchDrive, kSizeNotMeasured};
        }
        return {Measured::Failed, kSizeNotMeasured};
    }
    std::array<std::uint8_t, kGeometrySize> geometry{};
    std::uint32_t returned = 0;
    const bool answered =
        platform::deviceIoControl(drive, kIoctlDiskGetDriveGeometry, {}, geometry, returned);
    platform::closeDevice(drive);
    if (!answered || returned < kGeometrySize) return {Measured::Failed, kSizeNotMeasured};
    return {Measured::Size, sizeFromGeometry(geometry)};
}

void listPhysicalDrives() {
    physicalDriveNameCount = 0;
    for (const std::string& name : platform::deviceNames()) {
        if (physicalDriveNameCount == kPhysicalDriveNameLimit) break;
        // A name cut to the field would name another drive.
        if (name.compare(0, kDrivePrefix.size(), kDrivePrefix) != 0 ||
            name.size() >= kPhysicalDriveNameSize)
            continue;
        copyText(physicalDriveNames[physicalDriveNameCount++], name);
    }
}

bool tableFull() {
    return diskCount >= static_cast<std::int32_t>(kDiskLimit);
}

// One disk of a primary disk driver: Diskn with the drive's identify text and serial number.
void takeIdeDisk(KeyHandle controller, std::string_view diskName, std::uint32_t adapterIndex) {
    DiskRecord& disk = disks[static_cast<std::size_t>(diskCount)];
    disk = DiskRecord{};
    disk.adapterIndex = adapterIndex;
    disk.index = storage_keys::leadingNumber(diskName.substr(4));
    disk.targetId = static_cast<std::uint8_t>(disk.index);
    // An IDE disk keeps its record when its drive cannot be measured, sized "not measured".
    disk.sizeKb = measureDrive(driveCursor).sizeKb;
    disk.unitKind = kHardDisk;
    copyText(disk.busType, "IDE");
    ScopedKey diskKey;
    if (diskKey.open(controller, diskName) != platform::kErrorSuccess) return;
    storage_keys::forEachValue(diskKey.get(), [&](std::string_view valueName) {
        std::string text;
        if (!storage_keys::readText(diskKey.get(), valueName, kIdeValueLimit, text)) return true;
        const std::string key = squeezed(valueName);
        if (key == "identifier") {
            // The drive's identify text: eight characters of maker, then the model.
            const std::string_view id(text);
            copyText(disk.identifier, id.substr(0, 8));
            copyText(disk.product, id.size() > 8 ? id.substr(8, 16) : std::string_view{});
        } else if (key == "serialnumber") {
            copyText(disk.serialNumber, text);
        }
        return true;
    });
    ++diskCount;
}

// The disks of one primary disk driver: DEVICEMAP\<driver>\<controller>\Diskn.
void takeIdeDisks(KeyHandle driverMap, std::uint32_t adapterIndex) {
    storage_keys::forEachSubkey(driverMap, [&](std::string_view controllerName) {
        ScopedKey controller;
        if (controller.open(driverMap, controllerName) != platform::kErrorSuccess) return true;
        storage_keys::forEachSubkey(controller.get(), [&](std::string_view diskName) {
            if (diskName.substr(0, 4) != "Disk") return true;
            if (tableFull()) return false;
            takeIdeDisk(controller.get(), diskName, adapterIndex);
            return true;
        });
        return !tableFull();
    });
}

void takeIdeDrivers(std::int32_t& adapterIndex) {
    ScopedKey otherDrivers;
    ScopedKey services;
    if (otherDrivers.open(platform::kLocalMachine, "HARDWARE\\RESOURCEMAP\\OtherDrivers") !=
            platform::kErrorSuccess ||
        services.open(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services") !=
            platform::kErrorSuccess)
        return;
    storage_keys::forEachSubkey(otherDrivers.get(), [&](std::string_view driver) {
        ScopedKey service;
        std::string group;
        if (service.open(services.get(), driver) != platform::kErrorSuccess ||
            !storage_keys::readServiceGroup(service.get(), group) ||
            squeezed(group) != "primarydisk")
            return true;
        ScopedKey deviceMap;
        if (deviceMap.open(platform::kLocalMachine, "HARDWARE\\DEVICEMAP") !=
            platform::kErrorSuccess)
            return false;
        ScopedKey driverMap;
        if (driverMap.open(deviceMap.get(), driver) != platform::kErrorSuccess) return true;
        // The disks of the n-th primary disk driver belong to adapter n.
        ++adapterIndex;
        takeIdeDisks(driverMap.get(), static_cast<std::uint32_t>(adapterIndex));
        return !tableFull();
    });
}

// What the SCSI map says of one unit.
struct ScsiUnit {
    std::int32_t adapterIndex = -1;
    std::string_view busType;
    std::uint8_t busNumber = 0;
    std::uint8_t targetId = 0;
    std::string identifier;
    std::uint32_t kind = 0;
};

void addScsiUnit(const ScsiUnit& unit) {
    if (tableFull()) return;
    DiskRecord& disk = disks[static_cast<std::size_t>(diskCount)];
    disk = DiskRecord{};
    disk.index = static_cast<std::uint32_t>(diskCount);
    disk.adapterIndex = static_cast<std::uint8_t>(unit.adapterIndex);
    copyText(disk.busType, unit.busType);
    disk.busNumber = unit.busNumber;
    disk.targetId = unit.targetId;
    copyText(disk.identifier, unit.identifier);
    copyText(disk.product, unit.identifier);
    disk.unitKind = unit.kind;
    if (unit.kind == kHardDisk) {
        const std::uint32_t drive = driveCursor;
        const Measurement m = measureDrive(drive);
        if (m.outcome != Measured::Size) {
            // No such drive: the next disk asks for the same number again. A drive that exists
            // but cannot be measured is this unit's alone; the disks after it keep theirs.
            if (m.outcome == Measured::NoSuchDrive) driveCursor = drive;
            return;
        }
        disk.sizeKb = m.sizeKb;
    }
    ++diskCount;
}

// The first logical unit of a target: its type, and its identifier (the last value that is not
// the type).
void takeLogicalUnit(KeyHandle target, ScsiUnit& unit, bool dac960) {
    ScopedKey lun;
    storage_keys::forEachSubkey(target, [&](std::string_view name) {
        lun.open(target, name);
        return false;
    });
    if (lun.get() == nullptr) return;
    std::string type;
    unit.identifier.clear();
    storage_keys::forEachValue(lun.get(), [&](std::string_view name) {
        std::string text;
        if (!storage_keys::readText(lun.get(), name, storage_keys::kNameSize, text)) return true;
        if (name == "Type")
            type = std::move(text);
        else
            unit.identifier = std::move(text);
        return true;
    });
    if (dac960) unit.identifier = "MYLEXDAC960";
    if (type == "DiskPeripheral")
        unit.kind = kHardDisk;
    else if (type == "CdRomPeripheral")
        unit.kind = kCdRom;
    else
        return;
    addScsiUnit(unit);
}

void takeScsiBus(KeyHandle bus, ScsiUnit& unit, bool dac960) {
    storage_keys::forEachSubkey(bus, [&](std::string_view name) {
        const std::string targetName = squeezed(name);
        if (targetName.compare(0, 7, "targeti") != 0) return true;
        ScopedKey target;
        if (target.open(bus, name) != platform::kErrorSuccess) return true;
        // The ID follows "targetid"; a shorter name has none.
        unit.targetId = static_cast<std::uint8_t>(storage_keys::leadingNumber(
            targetName.size() > 8 ? std::string_view(targetName).substr(8) : ""));
        takeLogicalUnit(target.get(), unit, dac960);
        return !tableFull();
    });
}

// The port's driver: it names the port's adapter and tells an IDE port from a SCSI one.
void takePortDriver(KeyHandle port, std::int32_t& adapterIndex, ScsiUnit& unit, bool& dac960) {
    storage_keys::forEachValue(port, [&](std::string_view name) {
        if (name != "Driver") return true;
        std::string driver;
        if (!storage_keys::readText(port, name, storage_keys::kNameSize, driver)) return false;
        // A port whose driver is not in the adapter table stays with the adapter before it.
        for (std::size_t a = 0; a < storageAdapterCount; ++a) {
            const AdapterText& known = storageAdapters[a].driverName;
            if (driver == std::string_view(known.data(), strnlen(known.data(), known.size()))) {
                adapterIndex = static_cast<std::int32_t>(a);
                break;
            }
        }
        unit.busType = driver == "atapi" ? "IDE" : "SCSI";
        dac960 = driver == "dac960nt";
        return false;
    });
}

void takeScsiPorts(std::int32_t& adapterIndex) {
    ScopedKey scsi;
    if (scsi.open(platform::kLocalMachine, "HARDWARE\\DEVICEMAP\\Scsi") != platform::kErrorSuccess)
        return;
    storage_keys::forEachSubkey(scsi.get(), [&](std::string_view portName) {
        ScopedKey port;
        if (port.open(scsi.get(), portName) != platform::kErrorSuccess) return true;
        ScsiUnit unit;
        unit.busType = "SCSI";
        bool dac960 = false;
        takePortDriver(port.get(), adapterIndex, unit, dac960);
        unit.adapterIndex = adapterIndex;
        storage_keys::forEachSubkey(port.get(), [&](std::string_view busName) {
            ScopedKey bus;
            if (bus.open(port.get(), busName) != platform::kErrorSuccess) return true;
            const std::string name = squeezed(busName);
            if (name.compare(0, 7, "scsibus") != 0) return true;
            unit.busNumber = static_cast<std::uint8_t>(
                storage_keys::leadingNumber(std::string_view(name).substr(7)));
            takeScsiBus(bus.get(), unit, dac960);
            return !tableFull();
        });
        return !tableFull();
    });
}

} // namespace

std::uint32_t diskSize(std::uint32_t driveNumber) {
    return measureDrive(driveNumber).sizeKb;
}

void buildDiskTable() {
    listPhysicalDrives();
    driveCursor = 0;
    diskCount = 0;
    std::int32_t adapterIndex = -1;
    takeIdeDrivers(adapterIndex);
    takeScsiPorts(adapterIndex);

    diskOrdinals.fill(-1);
    std::int32_t ordinal = 0;
    for (std::int32_t i = 0; i < diskCount; ++i)
        if (disks[static_cast<std::size_t>(i)].unitKind == kHardDisk)
            diskOrdinals[static_cast<std::size_t>(i)] = ordinal++;
    for (auto& values : diskRunningValues)
        for (std::atomic<std::int32_t>& value : values)
            value.store(0, std::memory_order_relaxed);
}

} // namespace farlink::inventory
