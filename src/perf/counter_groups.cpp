// The performance counter groups. Counter values are computed from the reader's samples at the
// moment they are asked for; no group here takes a snapshot.
#include "perf/counter_groups.h"

#include "inventory/disks.h"
#include "perf/perf_reader.h"
#include "platform/system_facts.h"
#include "snmp/dispatch.h"
#include "system/services.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>

namespace farlink::perf {

namespace {

using snmp::setInteger;
using snmp::VarBind;

static_assert(kRunningValueRows <= inventory::kDiskLimit);

// Written once by the start-up worker, before any port thread runs.
std::array<char, snmp::kValueBytes> accountField{};
std::size_t accountLength = 0; // with the terminator; 0 when the name could not be read

// The common get/get-next form for a table whose get-next moves to the next column at one
// count and whose rows end at another (the physical disk table: disks of the disk table,
// instances the performance data has).
template <class Fill>
std::uint32_t serveRows(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                        std::uint16_t end, std::uint32_t advanceAt, std::uint32_t rows,
                        Fill&& fill) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        VarBind& b = *request.bindings[i];
        const auto position = static_cast<std::uint16_t>(i + 1);
        if (request.pduType == snmp::kGetNextRequest) {
            const std::uint32_t r = snmp::stepInstance(b, group);
            if (r != 0) {
                request.errorStatus = r;
                request.errorIndex = position;
                return r;
            }
        }
        std::uint32_t column = b.name.sub[n];
        std::uint32_t instance = b.name.sub[n + 1];
        if (request.pduType == snmp::kGetNextRequest && instance >= advanceAt) {
            b.name.sub[n] = ++column;
            b.name.sub[n + 1] = instance = 0;
        }
        if (instance >= rows) {
            request.errorStatus = snmp::kNoSuchName;
            request.errorIndex = position;
            return snmp::kNoSuchName;
        }
        if (!fill(b, column, instance)) snmp::recordError(request, snmp::kNoSuchName, position);
    }
    return request.errorStatus;
}

// The per-disk running value of array k: a smoothed half of the counters read through columns
// 8 to 13, kept in 32 bits as the managers of this MIB expect it.
std::int32_t runningStep(std::uint32_t counter, std::int32_t stored) {
    const std::uint32_t next = (counter >> 1) - static_cast<std::uint32_t>(stored / 2) +
                               static_cast<std::uint32_t>(stored) - 1;
    return static_cast<std::int32_t>(next);
}

bool answerPhysicalDisk(VarBind& b, std::uint32_t column, std::uint32_t disk) {
    if (column == 1) {
        setInteger(b, disk);
        return true;
    }
    if (column >= 2 && column <= 7) {
        std::atomic<std::int32_t>& stored = inventory::diskRunningValues[column - 2][disk];
        std::int32_t value = stored.load(std::memory_order_relaxed);
        if (value < 0) {
            value = 0;
            stored.store(0, std::memory_order_relaxed);
        }
        setInteger(b, static_cast<std::uint32_t>(value));
        return true;
    }
    if (column >= 8 && column <= 13) {
        const std::uint32_t value = physicalDiskCounterValue(column - 2, disk);
        setInteger(b, value);
        std::atomic<std::int32_t>& stored = inventory::diskRunningValues[column - 8][disk];
        stored.store(runningStep(value, stored.load(std::memory_order_relaxed)),
                     std::memory_order_relaxed);
        return true;
    }
    return false;
}

} // namespace

void takeAccountName() {
    std::string name;
    accountField.fill('\0');
    accountLength = 0;
    if (!platform::processUserName(name)) return;
    const std::size_t kept = std::min(name.size(), accountField.size() - 1);
    std::copy_n(name.begin(), kept, accountField.begin());
    accountLength = kept + 1;
}

std::string_view accountName() {
    return {accountField.data(), accountLength};
}

std::uint32_t noDataTableGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    // No rows: a walk moves through the columns and ends; a get names nothing that exists.
    const std::uint32_t rows =
        request.pduType == snmp::kGetNextRequest ? 1 : std::numeric_limits<std::uint32_t>::max();
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind&, std::uint32_t, std::uint32_t) { return false; });
}

std::uint32_t accountTableGet(RequestRecord& request, const GroupDescriptor& group,
                              std::uint16_t first, std::uint16_t end) {
    const std::uint32_t rows = accountLength == 0 ? 0 : 1;
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  switch (column) {
                                  case 1: // the name with its terminating zero byte
                                      snmp::setText(b, accountName());
                                      return true;
                                  case 2:
                                      snmp::setText(b, "N/A");
                                      return true;
                                  default:
                                      return false;
                                  }
                              });
}

std::uint32_t driverTableGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    const auto drivers = system::activeDrivers();
    const auto rows = static_cast<std::uint32_t>(drivers.size());
    return snmp::serveColumns(request, group, first, end, rows,
                              [&](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  // Texts longer than a value are cut to it.
                                  switch (column) {
                                  case 1:
                                      snmp::setText(b, drivers[instance].name);
                                      return true;
                                  case 2:
                                      snmp::setText(b, drivers[instance].displayName);
                                      return true;
                                  default:
                                      return false;
                                  }
                              });
}

std::uint32_t pagingScalarsGet(RequestRecord& request, const GroupDescriptor& group,
                               std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  // Pages to bytes: 512 per page, in 32 bits.
                                  switch (column) {
                                  case 1:
                                      setInteger(b, memoryCounterValue(5));
                                      return true;
                                  case 2:
                                      setInteger(b, memoryCounterValue(5) << 9);
                                      return true;
                                  case 3:
                                      setInteger(b, memoryCounterValue(6));
                                      return true;
                                  case 4:
                                      setInteger(b, memoryCounterValue(6) << 9);
                                      return true;
                                  case 5:
                                      setInteger(b, memoryCounterValue(0));
                                      return true;
                                  case 6:
                                      setInteger(b, cacheCounterValue(0));
                                      return true;
                                  case 7:
                                      setInteger(b, cacheCounterValue(2));
                                      return true;
                                  default:
                                      return false;
                                  }
                              });
}

std::uint32_t systemCountersGet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column < 1 || column > 15) return false;
                                  setInteger(b, systemCounterValue(column - 1));
                                  return true;
                              });
}

std::uint32_t cacheCountersGet(RequestRecord& request, const GroupDescriptor& group,
                               std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column < 1 || column > 8) return false;
                                  setInteger(b, cacheCounterValue(column - 1));
                                  return true;
                              });
}

std::uint32_t memoryCountersGet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    // Served only once a processor has been sampled, that is, once the data has been read.
    const std::uint32_t rows = objectInstanceCount(kProcessorObject);
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column < 1 || column > 10) return false;
                                  setInteger(b, memoryCounterValue(column - 1));
                                  return true;
                              });
}

std::uint32_t physicalDiskTableGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    const auto disks = static_cast<std::uint32_t>(std::max(inventory::diskCount, 0));
    const std::uint32_t rows =
        std::min(objectInstanceCount(kPhysicalDiskObject), kRunningValueRows);
    return serveRows(request, group, first, end, disks, rows, answerPhysicalDisk);
}

std::uint32_t logicalDiskTableGet(RequestRecord& request, const GroupDescriptor& group,
                                  std::uint16_t first, std::uint16_t end) {
    const std::uint32_t rows = objectInstanceCount(kLogicalDiskObject);
    return snmp::serveColumns(request, group, first, end, rows,
                              [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  if (column == 1) {
                                      setInteger(b, instance);
                                      return true;
                                  }
                                  if (column < 2 || column > 13) return false;
                                  setInteger(b, logicalDiskCounterValue(column - 2, instance));
                                  return true;
                              });
}

} // namespace farlink::perf
