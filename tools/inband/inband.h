// koru-inband: a stand-in for the suite's in-band agent. It owns the shared agent block: creates
// it, fills it from TESSEL.INI, keeps it while it runs, and lets an operator or a test read and
// change any field as the in-band agent would.
#pragma once

#include "runtime/shared_block.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace farlink::inband {

// Bytes the stand-in maps: the agent uses the first 816, the rest is the in-band agent's own.
inline constexpr std::size_t kBlockBytes = 4096;

struct Field {
    std::string name; // as typed on the command line and shown by "show"
    bool isText;      // text field, else a little-endian 32-bit number
    runtime::TextField text{0, 0};
    std::size_t offset = 0; // of a number
    const char* section;    // where TESSEL.INI keeps it, nullptr when it has no key
};

// Every field of the block the agent uses, in block order.
std::span<const Field> blockFields();

// The field of that name (case-insensitive), or nullptr.
const Field* findField(std::string_view name);

// Fills every field that has a configuration key from TESSEL.INI in the profile directory; a
// missing key leaves the field as it is. The block must be attached.
void loadFromConfiguration();

// The field's value for "show": numbers as signed decimal, texts with control characters and
// backslashes escaped so one field stays one line.
std::string showValue(const Field& field);

// Parses a number for "set": decimal, -2147483648 to 4294967295; nothing on anything else.
std::optional<std::uint32_t> parseNumber(std::string_view text);

} // namespace farlink::inband
