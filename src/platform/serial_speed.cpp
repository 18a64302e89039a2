#include "platform/serial_speed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace farlink::platform {

bool setExactLineSpeed(int fd, std::uint32_t baud) {
    termios2 settings{};
    if (::ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER; // input speed field left 0: the input follows the output
    settings.c_ospeed = baud;
    settings.c_ispeed = baud;
    if (::ioctl(fd, TCSETS2, &settings) != 0) return false;

    // A UART divides its clock: the driver stores the rate it could make, which may differ.
    std::uint32_t actual = 0;
    if (!readExactLineSpeed(fd, actual)) return false;
    const std::uint32_t difference = actual > baud ? actual - baud : baud - actual;
    if (difference > baud / 50) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool readExactLineSpeed(int fd, std::uint32_t& baud) {
    termios2 settings{};
    if (::ioctl(fd, TCGETS2, &settings) != 0) return false;
    baud = settings.c_ospeed;
    return true;
}

} // namespace farlink::platform
