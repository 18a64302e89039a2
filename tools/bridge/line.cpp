// Opening the line: a real serial device, or a pseudo-terminal pair that stands in for the cable.
#include "bridge.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace farlink::bridge {

namespace {

struct BaudEntry {
    unsigned rate;
    speed_t code;
};

constexpr BaudEntry kBaudRates[] = {
    {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},   {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Raw 8N1: the frames are binary, so no byte may be translated, echoed or taken as a signal.
bool makeRaw(int fd, speed_t speed, std::string& error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = systemError("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = systemError("setting the line raw");
        return false;
    }
    return true;
}

} // namespace

bool openDeviceLine(const std::string& path, unsigned baud, Line& line, std::string& error) {
    speed_t speed = 0;
    bool known = false;
    for (const BaudEntry& e : kBaudRates) {
        if (e.rate == baud) {
            speed = e.code;
            known = true;
        }
    }
    if (!known) {
        error = "unsupported baud rate " + std::to_string(baud);
        return false;
    }
    line.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd < 0) {
        error = systemError("cannot open " + path);
        return false;
    }
    if (!makeRaw(line.fd, speed, error)) {
        closeLine(line);
        return false;
    }
    tcflush(line.fd, TCIOFLUSH);
    return true;
}

bool openPtyLine(Line& line, std::string& error) {
    line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.fd < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(line.fd) != 0 || unlockpt(line.fd) != 0 || (name = ptsname(line.fd)) == nullptr) {
        error = systemError("preparing the pseudo-terminal");
        closeLine(line);
        return false;
    }
    line.agentPath = name;
    // Holding the agent side open keeps the pair alive while no agent has it open: otherwise the
    // master reports a hang-up after an agent exits, and a restarted agent would find a dead line.
    line.agentSideFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.agentSideFd < 0) {
        error = systemError("cannot open " + line.agentPath);
        closeLine(line);
        return false;
    }
    // Until the agent sets its own line up, the pair must not echo our frames back to us.
    if (!makeRaw(line.agentSideFd, B9600, error)) {
        closeLine(line);
        return false;
    }
    const int flags = fcntl(line.fd, F_GETFL);
    if (flags < 0 || fcntl(line.fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("fcntl");
        closeLine(line);
        return false;
    }
    return true;
}

void closeLine(Line& line) {
    if (line.agentSideFd >= 0) close(line.agentSideFd);
    if (line.fd >= 0) close(line.fd);
    line.agentSideFd = -1;
    line.fd = -1;
}

} // namespace farlink::bridge
