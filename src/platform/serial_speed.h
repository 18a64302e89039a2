// Line speeds that have no Bxxx constant (14400 among them), set and read through the kernel's
// termios2 interface. Kept apart because <asm/termbits.h> and <termios.h> cannot meet in one
// translation unit.
#pragma once

#include <cstdint>

namespace farlink::platform {

// Sets input and output speed of the terminal fd to exactly `baud`; false (errno set) when the
// device refuses it or settles on a rate more than 2% away.
bool setExactLineSpeed(int fd, std::uint32_t baud);

// The output speed of the terminal fd in bits per second; false (errno set) when unknown.
bool readExactLineSpeed(int fd, std::uint32_t& baud);

} // namespace farlink::platform
