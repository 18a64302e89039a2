// What the engine knows of a MIB group: its OID, index and column records, and the routines that
// serve it. The table of the agent's own groups lies above the engine, beside the subsystems
// whose routines it names.
#pragma once

#include "snmp/message.h"

#include <array>
#include <cstdint>
#include <span>

namespace farlink::snmp {

struct ColumnRecord {
    std::uint32_t column = 0;
    std::uint32_t syntax = 0;   // 1 numeric, 3 four-byte value, 4 fixed-size string, 5 string
    std::uint32_t valueTag = 0; // BER tag of the value
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t flags = 0; // 0x01 always, 0x02 read-write, 0x04 numeric, 0x08 bounded
};

inline constexpr std::uint32_t kFlagPresent = 0x01;
inline constexpr std::uint32_t kFlagWritable = 0x02;
inline constexpr std::uint32_t kFlagNumeric = 0x04;
inline constexpr std::uint32_t kFlagBounded = 0x08;

struct GroupDescriptor;

// Every group routine: (request, own group, first binding, end binding) -> error-status.
using GroupRoutine = std::uint32_t (*)(RequestRecord& request, const GroupDescriptor& group,
                                       std::uint16_t first, std::uint16_t end);

struct HandlerEntry {
    GroupRoutine get = nullptr;
    GroupRoutine getNext = nullptr;
    GroupRoutine setTest = nullptr;
    GroupRoutine set = nullptr;
};

struct GroupDescriptor {
    HandlerEntry handler;
    std::uint32_t oidLength = 0;
    std::span<const std::uint32_t> oid;         // oidLength sub-identifiers, then one 0
    std::uint32_t indexCount = 0;               // 0 scalar, 1 table
    std::span<const ColumnRecord> indexRecords; // indexCount records
    std::uint32_t columnCount = 0;              // highest column number
    std::span<const ColumnRecord> columns;      // columnCount + 1 records, record 0 all zero

    // The column record of c, or an all-zero record when c is out of range.
    const ColumnRecord& column(std::uint32_t c) const {
        static constexpr ColumnRecord kNoColumn{};
        return c < columns.size() ? columns[c] : kNoColumn;
    }
};

// Groups in search order (ascending OIDs, a scalar group before the tables below it); an empty
// entry, if any, ends the table early.
using GroupTable = std::span<const GroupDescriptor* const>;

} // namespace farlink::snmp
