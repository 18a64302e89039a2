#include "platform/pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace farlink::platform {

bool openPtyPair(PtyPair& pair) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    // The line discipline sits on the slave side; until the agent sets the line up itself it
    // would echo the station's bytes back and cook them, so the pair starts raw.
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    pair.master = fd;
    pair.slavePath = name;
    return true;
}

bool exposeAsComPort(const PtyPair& pair, std::string_view portName) {
    if (portName.size() != 4 || portName[3] < '1' || portName[3] > '4') {
        errno = EINVAL;
        return false;
    }
    std::string variable = "FARLINK_COM";
    variable += portName[3];
    return ::setenv(variable.c_str(), pair.slavePath.c_str(), 1) == 0;
}

bool masterWrite(const PtyPair& pair, const std::uint8_t* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(pair.master, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

long masterRead(const PtyPair& pair, std::uint8_t* buffer, std::size_t size, int timeoutMs) {
    pollfd p{pair.master, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    const ssize_t n = ::read(pair.master, buffer, size);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return static_cast<long>(n);
}

void closePtyPair(PtyPair& pair) {
    if (pair.master >= 0) ::close(pair.master);
    pair.master = -1;
    pair.slavePath.clear();
}

} // namespace farlink::platform
