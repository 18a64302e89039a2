// SET values that may carry the configuration file's keyword.
#pragma once

#include "snmp/message.h"

#include <cstdint>
#include <span>

namespace farlink::snmp {

// 1 and the number, or 0 when the value is refused.
int decodeSetNumber(const VarBind& binding, std::uint32_t& number);
// 1 and the terminated text, or 0 when refused (also when it does not fit `text`).
int decodeSetText(const VarBind& binding, std::span<char> text);

} // namespace farlink::snmp
