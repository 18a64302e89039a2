// The disk table: one record per hard disk or CD-ROM unit, from the primary disk (IDE) drivers
// and the SCSI device map, each hard disk measured through the physical drive it is matched
// with in the order found. Built once at start-up, after the storage adapter table; read without
// a lock afterwards.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace farlink::inventory {

inline constexpr std::size_t kPhysicalDriveNameLimit = 112;
inline constexpr std::size_t kPhysicalDriveNameSize = 16; // 15 characters and the terminator
inline constexpr std::size_t kDiskLimit = 100;

inline constexpr std::uint32_t kHardDisk = 1;
inline constexpr std::uint32_t kCdRom = 2;

// A disk whose physical drive could not be measured.
inline constexpr std::uint32_t kSizeNotMeasured = 0xFFFFFFFF;
// The largest size in KB a record tells; larger disks say this much rather than a wrapped value.
inline constexpr std::uint32_t kLargestDiskSize = 0xFFFFFFFE;

struct DiskRecord {
    std::uint32_t index = 0; // IDE: n of its Diskn key; SCSI: its position
    std::uint32_t adapterIndex = 0;
    std::int8_t reserved = 0;
    std::uint8_t busNumber = 0;
    std::uint8_t targetId = 0;
    std::array<char, 21> identifier{};
    std::uint32_t sizeKb = 0; // 0 for a CD-ROM, kSizeNotMeasured when measuring failed
    std::array<char, 42> product{};
    std::array<char, 32> serialNumber{};
    std::array<char, 5> busType{}; // "IDE" or "SCSI"
    std::array<char, 53> reservedText{};
    std::uint32_t unitKind = 0; // kHardDisk or kCdRom
};

// The system's PhysicalDriveN device names in the order it lists them, then the names made for
// disks it did not list.
extern std::array<std::array<char, kPhysicalDriveNameSize>, kPhysicalDriveNameLimit>
    physicalDriveNames;
extern std::uint32_t physicalDriveNameCount;

extern std::array<DiskRecord, kDiskLimit> disks;
extern std::int32_t diskCount;

// Per record: its position among the hard disks (the instance of its performance counters), or
// -1 for a CD-ROM.
extern std::array<std::int32_t, kDiskLimit> diskOrdinals;

// Values the performance groups keep per disk between their reads: six arrays, one entry per
// disk. Cleared when the table is built; updated on the port threads.
inline constexpr std::size_t kDiskRunningValueArrays = 6;
extern std::array<std::array<std::atomic<std::int32_t>, kDiskLimit>, kDiskRunningValueArrays>
    diskRunningValues;

void buildDiskTable();

// The size in KB of physical drive `driveNumber` (a position in the names), measured from its
// geometry; kSizeNotMeasured when it cannot be opened or measured. A drive without a name yet is
// given "PhysicalDrive<driveNumber>", which is taken back when no such drive opens.
std::uint32_t diskSize(std::uint32_t driveNumber);

} // namespace farlink::inventory
