// The storage groups. The tables are written once at start-up, so the routines read them
// without a lock.
#include "inventory/storage_groups.h"

#include "inventory/disks.h"
#include "inventory/dmi.h"
#include "inventory/storage_adapters.h"
#include "runtime/field_text.h"
#include "snmp/dispatch.h"

#include <cstring>
#include <limits>
#include <string_view>

namespace farlink::inventory {

namespace {

using runtime::fieldText;

using snmp::setInteger;
using snmp::VarBind;

// Bus numbers, target IDs and the initiator ID are served as the signed bytes they were kept
// in.
std::uint32_t signExtended(std::uint8_t value) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(value)));
}

bool answerAdapter(VarBind& b, std::uint32_t column, const StorageAdapter& adapter) {
    switch (column) {
    case 1:
        setInteger(b, adapter.index);
        return true;
    case 2:
        setInteger(b, adapter.reserved);
        return true;
    case 3:
        setInteger(b, adapter.busCount);
        return true;
    case 4:
        setInteger(b, adapter.kind);
        return true;
    case 5:
        snmp::setText(b, fieldText(adapter.driverName));
        return true;
    case 6:
        setInteger(b, adapter.portBase);
        return true;
    case 7:
        setInteger(b, adapter.interruptLevel);
        return true;
    case 8:
        setInteger(b, adapter.memoryBase);
        return true;
    case 9:
        setInteger(b, adapter.dmaChannel);
        return true;
    case 10:
        snmp::setText(b, fieldText(adapter.reservedText));
        return true;
    case 11:
        snmp::setText(b, fieldText(adapter.deviceName));
        return true;
    case 12:
        setInteger(b, adapter.reservedWord);
        return true;
    case 13:
        setInteger(b, signExtended(static_cast<std::uint8_t>(adapter.initiatorId)));
        return true;
    default:
        return false;
    }
}

bool answerDisk(VarBind& b, std::uint32_t column, const DiskRecord& disk) {
    switch (column) {
    case 1:
        setInteger(b, disk.index);
        return true;
    case 2:
        setInteger(b, disk.adapterIndex);
        return true;
    case 3:
        setInteger(b, signExtended(static_cast<std::uint8_t>(disk.reserved)));
        return true;
    case 4:
        setInteger(b, signExtended(disk.busNumber));
        return true;
    case 5:
        setInteger(b, signExtended(disk.targetId));
        return true;
    case 6:
        snmp::setText(b, fieldText(disk.identifier));
        return true;
    case 7:
        setInteger(b, disk.sizeKb);
        return true;
    case 8:
        snmp::setText(b, fieldText(disk.product));
        return true;
    case 9:
        snmp::setText(b, fieldText(disk.serialNumber));
        return true;
    case 10:
        snmp::setText(b, fieldText(disk.busType));
        return true;
    case 11:
        snmp::setText(b, fieldText(disk.reservedText));
        return true;
    case 12: // % Disk Time
    case 13: // Avg. Disk sec/Transfer
    case 14: // Disk Transfers/sec
    case 15: // Disk Bytes/sec
        // The disk's performance counters: the agent does not read performance data yet, so
        // they answer 0, as they do for every unit that is not a hard disk.
        setInteger(b, 0);
        return true;
    case 16:
        setInteger(b, disk.unitKind);
        return true;
    default:
        return false;
    }
}

} // namespace

std::uint32_t storageScalarsGet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  switch (column) {
                                  case 2:
                                      setInteger(b, storageAdapterCount);
                                      return true;
                                  case 4:
                                  case 6:
                                      setInteger(b, static_cast<std::uint32_t>(diskCount));
                                      return true;
                                  default:
                                      return false;
                                  }
                              });
}

std::uint32_t driveTypesGet(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end) {
    // Two rows for a walk, yet a get names any instance: the first drive is instance 1, every
    // other instance the second.
    const std::uint32_t rows =
        request.pduType == snmp::kGetNextRequest ? 2 : std::numeric_limits<std::uint32_t>::max();
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  const std::uint8_t codes = dmiSummary[kSummaryDriveType.offset];
                                  switch (column) {
                                  case 1:
                                      setInteger(b, instance);
                                      return true;
                                  case 2:
                                      setInteger(b, instance == 1 ? codes >> 4 : codes & 0x0F);
                                      return true;
                                  default:
                                      return false;
                                  }
                              });
}

std::uint32_t storageAdaptersGet(RequestRecord& request, const GroupDescriptor& group,
                                 std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, storageAdapterCount,
                              [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  return answerAdapter(b, column, storageAdapters[instance]);
                              });
}

std::uint32_t disksGet(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                       std::uint16_t end) {
    const auto rows = static_cast<std::uint32_t>(diskCount);
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  return answerDisk(b, column, disks[instance]);
                              });
}

} // namespace farlink::inventory
