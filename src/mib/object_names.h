// The names a manager sees for the private MIB: one descriptor, title and description per group
// and per column of the registry, by the group's position in it. The MIB module is written from
// these, and reports print them, so a column has one name wherever it shows.
#pragma once

#include "mib/group_registry.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::mib {

struct ColumnName {
    std::uint32_t column = 0;
    std::string_view name;        // MIB descriptor of the column's object
    std::string_view units;       // "KB", "degrees Celsius", "%", "ms", ... or empty
    std::string_view description; // one line for a person
    // The object's SMI syntax where the registry's code does not tell what is served (a fixed
    // size the agent answers shorter, an INTEGER range it answers outside); empty otherwise.
    std::string_view syntax = {};
};

struct GroupName {
    std::string_view name;      // the scalar group's node, or the table's Entry
    std::string_view table;     // the table's descriptor; empty for a scalar group
    std::string_view title;     // for a person: "Storage adapters"
    std::string_view subsystem; // "Storage", "Network adapters", "System resources", "System",
                                // "KORU driver", "Events"
    std::span<const ColumnName> columns;
    // The row's instance number, for a table whose index is none of its columns (the index
    // record is not a copy of any column's record); empty otherwise.
    std::string_view instance = {};
    // The group's routines answer every number as INTEGER, whatever tag its column records name
    // (counters and gauges included), so a manager must expect Integer32 there.
    bool answersInteger = false;
};

// A node between the module's root and the groups that only groups others below it.
struct SubtreeName {
    std::span<const std::uint32_t> suffix; // below 1.3.6.1.4.1.32473.25
    std::string_view name;
    std::string_view title;
};

// group < kGroupCount.
const GroupName& groupName(std::size_t group);

// The names of a group's column, or nullptr when the group has no such column.
const ColumnName* columnName(std::size_t group, std::uint32_t column);

// Whether a table's instance number is one of its columns: its index record is a copy of that
// column's record. Otherwise the rows are numbered by an instance of their own.
bool instanceIsColumn(const snmp::GroupDescriptor& group);

// The nodes between the root and the groups that are no group themselves (.2.5, .4.65).
std::span<const SubtreeName> subtreeNames();

} // namespace farlink::mib
