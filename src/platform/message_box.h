// The two start-up messages meant for a person. There is no desktop here: the caption and text
// go to standard error and, as one line, to syslog at critical priority.
#pragma once

#include <cstdint>
#include <string_view>

namespace farlink::platform {

inline constexpr std::uint32_t kMessageOk = 0x00;
inline constexpr std::uint32_t kMessageQuestion = 0x20;

void messageBox(std::string_view text, std::string_view caption, std::uint32_t style);

} // namespace farlink::platform
