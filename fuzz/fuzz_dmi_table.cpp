// The DMI structure table comes from the KORU driver's answer: parse anything, and check that
// every text the records keep lies inside the bytes that were parsed and every count stays
// within its table.
#include "inventory/dmi.h"
#include "platform/console.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace farlink::inventory;

bool inside(const DmiCell& cell, const std::uint8_t* data, std::size_t size) {
    if (cell.text.empty()) return true;
    const auto* begin = reinterpret_cast<const std::uint8_t*>(cell.text.data());
    return begin >= data && begin + cell.text.size() <= data + size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        farlink::platform::setConsoleQuiet(true);
        return true;
    }();
    (void)quiet;

    resetDmi();
    parseDmiTable(data, size);
    for (const DmiCell& cell : dmiScalars)
        if (!inside(cell, data, size)) __builtin_trap();
    for (std::size_t t = 0; t < kDmiTableCount; ++t) {
        const DmiTable& table = dmiTables[t];
        if (table.count > kDmiTableCapacity[t]) __builtin_trap();
        for (std::size_t r = 0; r < table.count; ++r)
            for (const DmiCell& cell : table.rows[r])
                if (!inside(cell, data, size)) __builtin_trap();
    }
    // The summary's texts are terminated within their fields.
    for (const SummaryField field :
         {kSummaryBusTypes, kSummaryBiosVersion, kSummaryProductName, kSummaryProcessorText,
          kSummarySerial1Type, kSummarySerial2Connector})
        if (dmiSummary[field.offset + field.width - 1] != 0) __builtin_trap();
    return 0;
}
