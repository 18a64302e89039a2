// The machine's DMI structures as the KORU driver hands them over, parsed once at start-up into
// the summary record, the scalar values and seven record tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace farlink::inventory {

// The summary record: a fixed 592-byte block, the same whether the driver delivers it ready or
// the parser fills it. Texts are terminated within their fields; numbers are little-endian.
inline constexpr std::size_t kSummarySize = 592;
struct SummaryField {
    std::size_t offset;
    std::size_t width;
};
inline constexpr SummaryField kSummaryBusTypes{0, 16};
inline constexpr SummaryField kSummaryProcessorSpeed{16, 1};
inline constexpr SummaryField kSummaryDriveType{17, 1};
inline constexpr SummaryField kSummaryBiosVersion{18, 8};
inline constexpr SummaryField kSummaryProductName{26, 20};
inline constexpr SummaryField kSummaryProcessorText{46, 10};
inline constexpr SummaryField kSummaryInternalCache{56, 4};
inline constexpr SummaryField kSummaryExternalCache{60, 4};
inline constexpr SummaryField kSummaryKeyboardConnector{64, 20};
inline constexpr SummaryField kSummaryMouseConnector{84, 20};
inline constexpr SummaryField kSummaryDriverText{104, 12};
inline constexpr SummaryField kSummaryParallelType{116, 40};
inline constexpr SummaryField kSummaryParallelConnector{156, 20};
inline constexpr SummaryField kSummarySerial1Type{176, 40};
inline constexpr SummaryField kSummarySerial1Connector{216, 20};
inline constexpr SummaryField kSummaryParallelIo{236, 2};
inline constexpr SummaryField kSummarySerial1Io{238, 2};
inline constexpr SummaryField kSummarySerial2Type{240, 40};
inline constexpr SummaryField kSummarySerial2Connector{280, 20};
inline constexpr SummaryField kSummarySerial2Io{306, 2};
inline constexpr SummaryField kSummaryTotalMemory{388, 4};

extern std::array<std::uint8_t, kSummarySize> dmiSummary;

// Copies text into a summary text field, cut to width - 1 characters with its terminator.
void setSummaryText(SummaryField field, const char* text, std::size_t length);

// The two values the start-up worker needs: the number of central processors and the model
// nibble (first ID byte & 0xF0) of the last one.
extern std::uint32_t centralProcessorCount;
extern std::uint32_t processorModelNibble;

// One cell of a DMI record: a number widened to 32 bits without sign, or a text of the driver's
// answer referenced in place (never copied). A cell without text has an empty view.
struct DmiCell {
    std::uint32_t number = 0;
    std::string_view text;
};

// A record row: cell 0 holds the number of values, cells 1.. the values in MIB column order.
inline constexpr std::size_t kDmiRowCells = 13;
using DmiRow = std::array<DmiCell, kDmiRowCells>;

// The seven record tables, in the order of their row counts among the scalar values.
enum DmiTableId : std::size_t {
    kDmiProcessors,
    kDmiMemoryModules,
    kDmiCaches,
    kDmiPortConnectors,
    kDmiSystemSlots,
    kDmiOnBoardDevices,
    kDmiOemStrings,
    kDmiTableCount
};
inline constexpr std::size_t kDmiMaxRows = 16;
// Rows each table may hold, and the values of each row.
inline constexpr std::array<std::uint32_t, kDmiTableCount> kDmiTableCapacity = {12, 16, 4, 8,
                                                                                12, 16, 16};
inline constexpr std::array<std::uint32_t, kDmiTableCount> kDmiRowWidth = {12, 7, 6, 5, 7, 2, 1};

struct DmiTable {
    std::array<DmiRow, kDmiMaxRows> rows{};
    std::uint32_t count = 0;
};
extern std::array<DmiTable, kDmiTableCount> dmiTables;

// The scalar values 1 to 31 (cell 0 unused): BIOS 1-7, system 8-11, base board 12-15, memory
// controller 16-24, the seven row counts 25-31.
inline constexpr std::size_t kDmiScalarCount = 31;
extern std::array<DmiCell, kDmiScalarCount + 1> dmiScalars;

// Clears every record, count and summary field, as at process start (tests).
void resetDmi();

// Parses the structure table (table .. table + length, never read beyond). Returns 0 when the
// parse was cut short (no table, too many strings, an unknown type), else the offset where it
// stopped plus one. Texts are referenced, not copied: the table must live as long as the
// process.
std::size_t parseDmiTable(const std::uint8_t* table, std::size_t length);

// Connector type and port type names of port connector structures.
const char* connectorTypeName(std::uint32_t code);
const char* portTypeName(std::uint32_t code);

} // namespace farlink::inventory
