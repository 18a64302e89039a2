// The volume usage table .25.4.21.1. The drive letters are read from the system once per
// request and the volumes' space per record built, so a manager always sees the volumes as they
// are, and a walk of the table costs one read of the mount table per request rather than one
// per binding.
#include "system/volume_usage.h"

#include "platform/console.h"
#include "platform/system_facts.h"
#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "snmp/dispatch.h"
#include "snmp/request_serial.h"
#include "snmp/set_value.h"

#include <limits>

namespace farlink::system {

namespace {

using snmp::VarBind;

constexpr std::uint32_t kLastColumn = 7;
constexpr std::uint32_t kUsageColumn = 7;
// A label is served as one value with room for a terminator.
constexpr std::size_t kLabelLimit = 79;
constexpr std::uint64_t kWordMax = std::numeric_limits<std::uint32_t>::max();

// The drive letters as read for the request this thread answers.
struct Drives {
    std::uint64_t serial = 0;
    platform::DriveRoots roots;
    std::array<std::uint8_t, platform::kDriveLetters> fixed{}; // positions of the fixed ones
    std::uint32_t fixedCount = 0;
};

thread_local Drives drives;

const Drives& currentDrives() {
    const std::uint64_t serial = snmp::currentRequestSerial();
    if (serial != 0 && serial == drives.serial) return drives;
    drives.serial = serial;
    drives.fixedCount = 0;
    // A table that cannot be read has no fixed volume: readDriveRoots leaves every root empty.
    platform::readDriveRoots(drives.roots);
    for (std::size_t k = 0; k < drives.roots.size(); ++k)
        if (drives.roots[k].kind == platform::kDriveFixed)
            drives.fixed[drives.fixedCount++] = static_cast<std::uint8_t>(k);
    return drives;
}

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// A 64-bit count as the table's 32-bit INTEGER: a volume past what 32 bits say reads as the
// largest value, never as a small one that wrapped.
std::uint32_t saturatedWord(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min(value, kWordMax));
}

std::uint32_t kilobytes(std::uint64_t clusters, const platform::VolumeSpace& space) {
    const std::uint64_t cluster = saturatingProduct(space.sectorsPerCluster, space.bytesPerSector);
    return saturatedWord(saturatingProduct(clusters, cluster) / 1024);
}

bool fill(VarBind& b, std::uint32_t column, const VolumeRecord& r) {
    switch (column) {
    case 1:
        snmp::setInteger(b, r.index);
        return true;
    case 2:
        snmp::setText(b, r.label);
        return true;
    case 3:
        snmp::setInteger(b, r.totalKb);
        return true;
    case 4:
        snmp::setInteger(b, r.freeKb);
        return true;
    case 5:
        snmp::setInteger(b, r.totalClusters);
        return true;
    case 6:
        snmp::setInteger(b, r.freeClusters);
        return true;
    case kUsageColumn:
        snmp::setInteger(b, runtime::readNumber(runtime::kUsedVolumeThresholds + 4 * r.index));
        return true;
    default:
        return false;
    }
}

// Get-next from (column, instance): the first volume at or after the instance whose record can
// be built, else the next column from its first readable volume. One volume that cannot be read
// is passed over rather than ending the walk of every volume after it.
bool nextReadable(std::uint32_t& column, std::uint32_t instance, VolumeRecord& record) {
    const std::uint32_t count = currentDrives().fixedCount;
    while (column >= 1 && column <= kLastColumn) {
        for (std::uint32_t i = instance; i < count; ++i)
            if (buildVolumeRecord(i, record)) return true;
        ++column;
        instance = 0;
    }
    return false;
}

std::uint32_t instanceOf(const VarBind& b, std::uint32_t n) {
    return b.name.count > n + 1 ? b.name.sub[n + 1] : 0;
}

void nameVolume(VarBind& b, std::uint32_t n, std::uint32_t column, std::uint32_t index) {
    b.name.sub[n] = column;
    b.name.sub[n + 1] = index;
    b.name.count = static_cast<std::uint16_t>(n + 2);
}

} // namespace

std::uint32_t fixedVolumeCount() {
    return currentDrives().fixedCount;
}

bool buildVolumeRecord(std::uint32_t index, VolumeRecord& record) {
    const Drives& d = currentDrives();
    if (index >= d.fixedCount) {
        platform::diagnostic("bad indexId");
        return false;
    }
    const std::uint8_t letter = d.fixed[index];
    const platform::DriveRoot& root = d.roots[letter];
    if (!root.named) return false;
    platform::VolumeSpace space;
    if (!platform::volumeSpace(root, space)) return false;
    record.index = index;
    record.label.assign(1, static_cast<char>(platform::kFirstDriveLetter + letter));
    record.label += ": ";
    record.label.append(root.name, 0, kLabelLimit - record.label.size());
    record.totalKb = kilobytes(space.totalClusters, space);
    record.freeKb = kilobytes(space.freeClusters, space);
    record.totalClusters = saturatedWord(space.totalClusters);
    record.freeClusters = saturatedWord(space.freeClusters);
    return true;
}

std::uint32_t volumeTableGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        VarBind& b = *request.bindings[i];
        const auto position = static_cast<std::uint16_t>(i + 1);
        VolumeRecord record;
        std::uint32_t column = 0;
        bool built = false;
        if (request.pduType == snmp::kGetNextRequest) {
            if (snmp::stepInstance(b, group) != 0) {
                snmp::recordError(request, snmp::kNoSuchName, position);
                continue;
            }
            column = b.name.sub[n];
            built = nextReadable(column, instanceOf(b, n), record);
            if (built) nameVolume(b, n, column, record.index);
        } else {
            column = b.name.sub[n];
            built = buildVolumeRecord(instanceOf(b, n), record);
            // A get of a volume that is not there answers the next column of the first volume,
            // named as such; the bindings after this one stay gets.
            if (!built) {
                ++column;
                built = buildVolumeRecord(0, record);
                nameVolume(b, n, column, 0);
            }
        }
        // Nothing to answer from (no fixed volume, or none that can be read): the binding is
        // never sent back with a record that was not filled.
        if (!built || !fill(b, column, record))
            snmp::recordError(request, snmp::kNoSuchName, position);
    }
    return request.errorStatus;
}

std::uint32_t volumeTableSet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        const auto position = static_cast<std::uint16_t>(i + 1);
        const std::uint32_t instance = instanceOf(b, n);
        // The shared agent block holds 26 usage values; the in-band agent's own data follow
        // them, and an instance beyond them must never reach those bytes.
        if (b.name.sub[n] != kUsageColumn ||
            instance >= static_cast<std::uint32_t>(runtime::kVolumeEntries)) {
            snmp::recordError(request, snmp::kNoSuchName, position);
            continue;
        }
        std::uint32_t value = 0;
        if (snmp::decodeSetNumber(b, value) == 0) {
            request.errorStatus = snmp::kBadValue;
            request.errorIndex = position;
            return snmp::kBadValue;
        }
        runtime::writeNumber(runtime::kUsedVolumeThresholds + 4 * instance, value);
        runtime::markConfigChanged();
    }
    return request.errorStatus;
}

} // namespace farlink::system
