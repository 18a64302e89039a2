// The private MIB as constant data. Each group is written as one row of compact column runs,
// which the compiler expands into the exact-size OID, index and column arrays that the group
// routines read; nothing of this is built or written at run time.
#include "mib/group_registry.h"

#include "adapters/adapter_groups.h"
#include "inventory/dmi_groups.h"
#include "inventory/storage_groups.h"
#include "inventory/system_resource_groups.h"
#include "perf/counter_groups.h"
#include "snmp/dispatch.h"
#include "system/contact_group.h"
#include "system/driver_groups.h"
#include "system/system_group.h"
#include "system/volume_usage.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <utility>

namespace farlink::mib {

using namespace snmp;

namespace {

// Everything of a column record but its number.
struct Code {
    std::uint32_t syntax = 0;
    std::uint32_t valueTag = 0;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t flags = 0;
};

// The INTEGER code, which also comes with a range: I, or I(a, b).
struct IntegerCode : Code {
    constexpr Code operator()(std::uint32_t a, std::uint32_t b) const {
        return {1, kTagInteger, a, b, kFlagPresent | kFlagNumeric | kFlagBounded};
    }
};

// The column codes of the MIB, named by their short letters so that each row below reads like
// the MIB's own column list.
constexpr IntegerCode I{{1, kTagInteger, 0, 0, kFlagPresent | kFlagNumeric}};
constexpr Code C{1, kTagCounter, 0, 0, kFlagPresent | kFlagNumeric};
constexpr Code G{1, kTagGauge, 0, 0, kFlagPresent | kFlagNumeric};
constexpr Code S(std::uint32_t a, std::uint32_t b) {
    return {5, kTagOctetString, a, b, kFlagPresent | kFlagBounded};
}
constexpr Code F8{4, kTagOctetString, 8, 8, kFlagPresent | kFlagBounded};
constexpr Code F10{4, kTagOctetString, 10, 10, kFlagPresent | kFlagBounded};
constexpr Code F4{3, kTagOctetString, 4, 4, kFlagPresent | kFlagNumeric | kFlagBounded};
constexpr Code A{3, kTagIpAddress, 4, 4, kFlagPresent | kFlagNumeric};

// The read-write variant of a code.
constexpr Code w(Code code) {
    code.flags |= kFlagWritable;
    return code;
}

// Reached only while the compiler evaluates a malformed row, which turns that row into a build
// error instead of a registry with a hole in it.
void malformedGroupRow() {}

// Columns first .. last, all with one code.
struct ColumnRun {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    Code code;

    constexpr ColumnRun() = default;
    constexpr ColumnRun(std::uint32_t column, Code c) : first(column), last(column), code(c) {}
    constexpr ColumnRun(std::uint32_t from, std::uint32_t to, Code c)
        : first(from), last(to), code(c) {}
};

// A group's column runs in ascending order; the highest column is the column count.
struct ColumnList {
    static constexpr std::size_t kCapacity = 20;
    std::array<ColumnRun, kCapacity> runs{};
    std::size_t count = 0;
    std::uint32_t highest = 0;

    constexpr ColumnList(std::initializer_list<ColumnRun> list) {
        for (const ColumnRun& run : list) {
            if (count == kCapacity || run.first == 0 || run.first > run.last ||
                run.first <= highest)
                malformedGroupRow();
            runs[count++] = run;
            highest = run.last;
        }
    }
};

// The sub-identifiers below 1.3.6.1.4.1.32473.25.
struct OidSuffix {
    static constexpr std::size_t kCapacity = 4;
    std::array<std::uint32_t, kCapacity> sub{};
    std::size_t length = 0;

    constexpr OidSuffix(std::initializer_list<std::uint32_t> list) {
        for (std::uint32_t s : list) {
            // A 0 word marks the end of a group OID, so none may stand inside one.
            if (length == kCapacity || s == 0) malformedGroupRow();
            sub[length++] = s;
        }
    }
};

constexpr std::array<std::uint32_t, 8> kEnterprise = {1, 3, 6, 1, 4, 1, 32473, 25};

// The index record of a table, by column number and code; column 0 marks a scalar group.
struct IndexEntry {
    std::uint32_t column = 0;
    Code code;
};

constexpr IndexEntry kScalar{};
// An unbounded instance number whose first value is 0.
constexpr IndexEntry kInstance{32766, {1, kTagInteger, 0, 0, kFlagPresent}};

struct GroupRow {
    OidSuffix oid;
    IndexEntry index;
    ColumnList columns;
    HandlerEntry handler;

    constexpr GroupRow(OidSuffix o, IndexEntry i, ColumnList c, HandlerEntry h = {})
        : oid(o), index(i), columns(c), handler(h) {}
};

constexpr HandlerEntry kNicScalars{adapters::nicScalarsGet, adapters::nicScalarsGet, acceptSet,
                                   adapters::nicScalarsSet};
constexpr HandlerEntry kAdapterTable{adapters::adapterTableGet, adapters::adapterTableGet, nullptr,
                                     nullptr};
constexpr HandlerEntry kGeneralStatistics{adapters::generalStatisticsGet,
                                          adapters::generalStatisticsGet, nullptr, nullptr};
constexpr HandlerEntry kGeneralThresholds{adapters::generalThresholdsGet,
                                          adapters::generalThresholdsGet, acceptSet,
                                          adapters::generalThresholdsSet};
constexpr HandlerEntry kEthernetStatistics{adapters::ethernetStatisticsGet,
                                           adapters::ethernetStatisticsGet, nullptr, nullptr};
constexpr HandlerEntry kEthernetThresholds{adapters::ethernetThresholdsGet,
                                           adapters::ethernetThresholdsGet, acceptSet,
                                           adapters::ethernetThresholdsSet};
constexpr HandlerEntry kTokenRingStatistics{adapters::tokenRingStatisticsGet,
                                            adapters::tokenRingStatisticsGet, nullptr, nullptr};
constexpr HandlerEntry kTokenRingThresholds{adapters::tokenRingThresholdsGet,
                                            adapters::tokenRingThresholdsGet, acceptSet,
                                            adapters::tokenRingThresholdsSet};
constexpr HandlerEntry kThresholdMessage{adapters::thresholdMessageGet,
                                         adapters::thresholdMessageGet, nullptr, nullptr};
constexpr HandlerEntry kEventAction{adapters::eventActionGet, adapters::eventActionGet, acceptSet,
                                    adapters::eventActionSet};
constexpr HandlerEntry kAnswerNothing{answerNothing, answerNothing, nullptr, nullptr};
constexpr HandlerEntry kSystemGroup{system::systemGroupGet, system::systemGroupGet, acceptSet,
                                    system::systemGroupSet};
// The volume table has no set-test: its set routine checks each binding itself.
constexpr HandlerEntry kVolumeTable{system::volumeTableGet, system::volumeTableGet, nullptr,
                                    system::volumeTableSet};
constexpr HandlerEntry kContactTable{system::contactTableGet, system::contactTableGet, acceptSet,
                                     system::contactTableSet};
// The DMI groups are read-only: get and get-next only.
constexpr HandlerEntry readOnly(GroupRoutine routine) {
    return {routine, routine, nullptr, nullptr};
}
constexpr HandlerEntry kDmiScalars = readOnly(inventory::dmiScalarsGet);
constexpr HandlerEntry kDmiProcessors = readOnly(inventory::dmiProcessorsGet);
constexpr HandlerEntry kDmiMemoryModules = readOnly(inventory::dmiMemoryModulesGet);
constexpr HandlerEntry kDmiCaches = readOnly(inventory::dmiCachesGet);
constexpr HandlerEntry kDmiPortConnectors = readOnly(inventory::dmiPortConnectorsGet);
constexpr HandlerEntry kDmiSystemSlots = readOnly(inventory::dmiSystemSlotsGet);
constexpr HandlerEntry kDmiOnBoardDevices = readOnly(inventory::dmiOnBoardDevicesGet);
constexpr HandlerEntry kDmiOemStrings = readOnly(inventory::dmiOemStringsGet);
constexpr HandlerEntry kStorageScalars = readOnly(inventory::storageScalarsGet);
constexpr HandlerEntry kDriveTypes = readOnly(inventory::driveTypesGet);
constexpr HandlerEntry kStorageAdapters = readOnly(inventory::storageAdaptersGet);
constexpr HandlerEntry kDisks = readOnly(inventory::disksGet);
// The system resource groups are read-only as well.
constexpr HandlerEntry kSystemResources = readOnly(inventory::systemResourcesGet);
constexpr HandlerEntry kInterruptOwners = readOnly(inventory::interruptOwnersGet);
constexpr HandlerEntry kDmaOwners = readOnly(inventory::dmaOwnersGet);
constexpr HandlerEntry kPortRanges = readOnly(inventory::portRangesGet);
constexpr HandlerEntry kEisaSlots = readOnly(inventory::eisaSlotsGet);
constexpr HandlerEntry kModuleSizes = readOnly(inventory::moduleSizesGet);
constexpr HandlerEntry kMemoryRanges = readOnly(inventory::memoryRangesGet);
// The performance counter groups: read-only.
constexpr HandlerEntry kNoDataTable = readOnly(perf::noDataTableGet);
constexpr HandlerEntry kAccountTable = readOnly(perf::accountTableGet);
constexpr HandlerEntry kDriverTable = readOnly(perf::driverTableGet);
constexpr HandlerEntry kPagingScalars = readOnly(perf::pagingScalarsGet);
constexpr HandlerEntry kSystemCounters = readOnly(perf::systemCountersGet);
constexpr HandlerEntry kCacheCounters = readOnly(perf::cacheCountersGet);
constexpr HandlerEntry kMemoryCounters = readOnly(perf::memoryCountersGet);
constexpr HandlerEntry kPhysicalDiskTable = readOnly(perf::physicalDiskTableGet);
constexpr HandlerEntry kLogicalDiskTable = readOnly(perf::logicalDiskTableGet);
// The groups of the KORU driver's readings: only the processor table takes a SET.
constexpr HandlerEntry kProcessorTable{system::processorTableGet, system::processorTableGet,
                                       acceptSet, system::processorTableSet};
constexpr HandlerEntry kDriverInformation = readOnly(system::driverInformationGet);
constexpr HandlerEntry kDriverItemCounts = readOnly(system::driverItemCountsGet);
constexpr HandlerEntry kDriverItems11 = readOnly(system::driverItemTable11Get);
constexpr HandlerEntry kDriverItems12 = readOnly(system::driverItemTable12Get);
constexpr HandlerEntry kDriverItems13 = readOnly(system::driverItemTable13Get);
constexpr HandlerEntry kDriverItems14 = readOnly(system::driverItemTable14Get);

// The groups in search order: ascending OIDs, a scalar group before the tables below it.
// Groups without routines here get them as their data sources are served.
// clang-format off
constexpr std::array<GroupRow, kGroupCount> kRows = {{
    /*  0 */ {{1}, kScalar, {{2, I}, {4, I(0, 7)}, {6, I}}, kStorageScalars},
    /*  1 */ {{1, 1, 1}, {1, I(1, 2)}, {{1, I(1, 2)}, {2, I(0, 5)}}, kDriveTypes},
    /*  2 */ {{1, 3, 1}, {1, I}, {{1, I}, {2, I(1, 12)}, {3, 4, I(1, 3)}, {5, S(0, 255)}, {6, I},
                                  {7, I(0, 15)}, {8, I}, {9, I(0, 7)}, {10, 11, S(0, 255)},
                                  {12, I}, {13, I(0, 7)}}, kStorageAdapters},
    /*  3 */ {{1, 5, 1}, {1, I}, {{1, 2, I}, {3, I(1, 12)}, {4, I(1, 3)}, {5, I(0, 7)},
                                  {6, S(0, 255)}, {7, I}, {8, 9, S(0, 255)}, {10, F4},
                                  {11, w(S(0, 255))}, {12, 16, I}}, kDisks},
    /*  4 */ {{2}, kScalar, {{1, I(0, 7)}, {6, 8, w(I)}}, kNicScalars},
    /*  5 */ {{2, 2, 1}, {1, I}, {{1, 3, I}, {4, I(0, 7)}, {5, I(0, 15)}, {6, I},
                                  {7, 11, S(0, 255)}, {12, I}}, kAdapterTable},
    // The statistics and threshold tables count their rows with a plain integer instance.
    /*  6 */ {{2, 5, 1, 1}, {1, I}, {{1, 18, C}, {19, I}}, kGeneralStatistics},
    /*  7 */ {{2, 5, 2, 1}, {1, I}, {{1, 19, w(I)}}, kGeneralThresholds},
    /*  8 */ {{2, 5, 3, 1}, {1, I}, {{1, 10, C}}, kEthernetStatistics},
    /*  9 */ {{2, 5, 4, 1}, {1, I}, {{1, 10, w(I)}}, kEthernetThresholds},
    /* 10 */ {{2, 5, 5, 1}, {1, I}, {{1, 10, C}}, kTokenRingStatistics},
    /* 11 */ {{2, 5, 6, 1}, {1, I}, {{1, 10, w(I)}}, kTokenRingThresholds},
    /* 12 */ {{3}, kScalar, {{3, I}, {6, I(1, 16)}, {8, I}, {9, S(0, 255)},
                             {10, 13, w(S(0, 255))}, {14, I}}, kSystemResources},
    /* 13 */ {{3, 1, 1}, {1, I(0, 15)}, {{1, I(0, 15)}, {2, S(0, 255)}}, kInterruptOwners},
    /* 14 */ {{3, 2, 1}, {1, I(0, 7)}, {{1, I(0, 7)}, {2, S(0, 255)}}, kDmaOwners},
    /* 15 */ {{3, 4, 1}, {1, I}, {{1, 3, I}, {4, S(0, 255)}}, kPortRanges},
    // Instances 0 to 8 step this table, while its first column describes them as 1 to 9.
    /* 16 */ {{3, 5, 1}, {1, I(0, 8)}, {{1, I(1, 9)}, {2, I(1, 5)}, {3, S(0, 255)}}, kEisaSlots},
    /* 17 */ {{3, 7, 1}, {1, I(1, 16)}, {{1, I(1, 16)}, {2, F4}}, kModuleSizes},
    /* 18 */ {{3, 15, 1}, {1, I}, {{1, 3, I}, {4, S(0, 255)}}, kMemoryRanges},
    /* 19 */ {{4}, kScalar, {{1, 4, S(0, 255)}, {5, 8, I}, {9, 17, S(0, 255)},
                             {19, w(S(0, 255))}, {20, I}, {22, I}, {27, 28, w(I)}, {29, I},
                             {39, w(S(0, 255))}, {42, 43, w(F10)}, {44, 48, w(I)},
                             {51, 52, w(A)}, {56, I}, {58, F10}, {59, I}, {61, I}},
              kSystemGroup},
    /* 20 */ {{4, 18, 1}, {8, I}, {{1, 7, w(S(0, 255))}, {8, I}}, kContactTable},
    /* 21 */ {{4, 21, 1}, {1, I}, {{1, I}, {2, S(0, 255)}, {3, 6, I}, {7, w(I)}}, kVolumeTable},
    /* 22 */ {{4, 23, 1}, {1, I}, {{1, 5, I}, {6, S(0, 64)}, {7, w(I)}}, kAnswerNothing},
    /* 23 */ {{4, 30, 1}, {1, I}, {{1, 2, I}, {3, w(I)}, {4, I}, {5, 6, w(I)}, {7, I},
                                   {8, I(0, 1)}, {9, 11, I}}, kProcessorTable},
    /* 24 */ {{4, 55}, kScalar, {{1, 2, S(0, 255)}, {3, I}, {4, S(0, 255)}, {5, 7, I},
                                 {8, 15, S(0, 255)}, {16, 31, I}}, kDmiScalars},
    /* 25 */ {{4, 55, 52, 1}, kInstance, {{1, S(0, 255)}, {2, 3, I}, {4, S(0, 255)}, {5, F8},
                                          {6, S(0, 255)}, {7, 12, I}}, kDmiProcessors},
    /* 26 */ {{4, 55, 53, 1}, kInstance, {{1, S(0, 255)}, {2, 7, I}}, kDmiMemoryModules},
    /* 27 */ {{4, 55, 54, 1}, kInstance, {{1, S(0, 255)}, {2, 6, I}}, kDmiCaches},
    /* 28 */ {{4, 55, 55, 1}, kInstance, {{1, S(0, 255)}, {2, I}, {3, S(0, 255)}, {4, 5, I}},
              kDmiPortConnectors},
    /* 29 */ {{4, 55, 56, 1}, kInstance, {{1, S(0, 255)}, {2, 7, I}}, kDmiSystemSlots},
    /* 30 */ {{4, 55, 57, 1}, kInstance, {{1, I}, {2, S(0, 255)}}, kDmiOnBoardDevices},
    /* 31 */ {{4, 55, 58, 1}, kInstance, {{1, S(0, 255)}}, kDmiOemStrings},
    /* 32 */ {{4, 57, 1}, kInstance, {{1, A}}, kNoDataTable},
    /* 33 */ {{4, 60, 1}, kInstance, {{1, 2, S(0, 255)}}, kAccountTable},
    /* 34 */ {{4, 62, 1}, kInstance, {{1, 2, S(0, 255)}}, kDriverTable},
    /* 35 */ {{4, 63}, kScalar, {{1, 7, I}}, kPagingScalars},
    /* 36 */ {{4, 65, 1}, kScalar, {{1, 4, G}, {5, 15, I}}, kSystemCounters},
    /* 37 */ {{4, 65, 2}, kScalar, {{1, G}, {2, I}, {3, G}, {4, 8, I}}, kCacheCounters},
    /* 38 */ {{4, 65, 3}, kScalar, {{1, 10, I}}, kMemoryCounters},
    /* 39 */ {{4, 65, 5, 1}, {1, I}, {{1, 13, I}}, kPhysicalDiskTable},
    /* 40 */ {{4, 65, 6, 1}, {1, I}, {{1, 13, I}}, kLogicalDiskTable},
    /* 41 */ {{5}, kScalar, {{1, 3, I}, {5, I}}, kDriverInformation},
    /* 42 */ {{5, 4}, kScalar, {{1, 4, I}}, kDriverItemCounts},
    /* 43 */ {{5, 4, 11, 1}, kInstance, {{1, S(0, 255)}, {2, I}}, kDriverItems11},
    /* 44 */ {{5, 4, 12, 1}, kInstance, {{1, S(0, 255)}, {2, I}}, kDriverItems12},
    /* 45 */ {{5, 4, 13, 1}, kInstance, {{1, S(0, 255)}, {2, 5, I}}, kDriverItems13},
    /* 46 */ {{5, 4, 14, 1}, kInstance, {{1, S(0, 255)}, {2, I}}, kDriverItems14},
    /* 47 */ {{7}, kScalar, {{1, S(0, 255)}}, kThresholdMessage},
    /* 48 */ {{7, 2, 1}, kInstance, {{1, I}, {2, w(I)}, {3, w(S(0, 120))}, {4, w(S(0, 40))}},
              kEventAction},
}};
// clang-format on

constexpr bool suffixLess(const OidSuffix& a, const OidSuffix& b) {
    return std::lexicographical_compare(a.sub.begin(), a.sub.begin() + a.length, b.sub.begin(),
                                        b.sub.begin() + b.length);
}

constexpr bool rowsAscend() {
    for (std::size_t g = 1; g < kRows.size(); ++g)
        if (!suffixLess(kRows[g - 1].oid, kRows[g].oid)) return false;
    return true;
}
// The get-next search takes the first group that a name sorts before.
static_assert(rowsAscend(), "the groups must be listed in ascending OID order");

// The arrays of group g, sized exactly, with static storage for the descriptor's spans.
template <std::size_t g> struct ExpandedGroup {
    static constexpr const GroupRow& row = kRows[g];
    static constexpr std::size_t kOidLength = kEnterprise.size() + row.oid.length;
    static constexpr std::size_t kIndexCount = row.index.column == 0 ? 0 : 1;

    static constexpr std::array<std::uint32_t, kOidLength + 1> oid = [] {
        std::array<std::uint32_t, kOidLength + 1> words{};
        std::size_t i = 0;
        for (std::uint32_t s : kEnterprise)
            words[i++] = s;
        for (std::size_t k = 0; k < row.oid.length; ++k)
            words[i++] = row.oid.sub[k];
        words[i] = 0; // ends a prefix comparison at the end of the group OID
        return words;
    }();

    static constexpr std::array<ColumnRecord, kIndexCount> index = [] {
        std::array<ColumnRecord, kIndexCount> records{};
        for (ColumnRecord& r : records) {
            const Code& c = row.index.code;
            r = {row.index.column, c.syntax, c.valueTag, c.minimum, c.maximum, c.flags};
        }
        return records;
    }();

    static constexpr std::array<ColumnRecord, row.columns.highest + 1> columns = [] {
        std::array<ColumnRecord, row.columns.highest + 1> records{};
        for (std::size_t k = 0; k < row.columns.count; ++k) {
            const ColumnRun& run = row.columns.runs[k];
            const Code& c = run.code;
            for (std::uint32_t col = run.first; col <= run.last; ++col)
                records[col] = {col, c.syntax, c.valueTag, c.minimum, c.maximum, c.flags};
        }
        return records;
    }();

    static constexpr GroupDescriptor descriptor{
        .handler = row.handler,
        .oidLength = static_cast<std::uint32_t>(kOidLength),
        .oid = oid,
        .indexCount = static_cast<std::uint32_t>(kIndexCount),
        .indexRecords = index,
        .columnCount = row.columns.highest,
        .columns = columns,
    };
};

template <std::size_t... g>
constexpr std::array<const GroupDescriptor*, kGroupCount + 1>
makeRegistry(std::index_sequence<g...>) {
    return {&ExpandedGroup<g>::descriptor..., nullptr};
}

} // namespace

constinit const std::array<const GroupDescriptor*, kGroupCount + 1> groupRegistry =
    makeRegistry(std::make_index_sequence<kGroupCount>{});

int groupIndexOf(std::span<const std::uint32_t> oid) {
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const GroupDescriptor& group = *groupRegistry[g];
        if (oid.size() == group.oidLength && std::equal(oid.begin(), oid.end(), group.oid.begin()))
            return static_cast<int>(g);
    }
    return -1;
}

} // namespace farlink::mib
