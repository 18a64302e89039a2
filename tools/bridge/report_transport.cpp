// The report's ways to the agent: a UDP socket to an SNMP port, or the serial line itself with
// the bridge's own framing.
#include "bridge.h"
#include "report.h"

#include "link/slip.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace farlink::bridge {

namespace {

// Waits for `fd` to become ready for `events` until `deadline`; 1 ready, 0 timed out, -1 failed.
int waitFor(int fd, short events, double deadline) {
    for (;;) {
        const double left = deadline - monotonicSeconds();
        if (left <= 0) return 0;
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (r > 0) return 1;
        if (r < 0 && errno != EINTR) return -1;
    }
}

class UdpTransport : public Transport {
  public:
    explicit UdpTransport(int fd) : fd_(fd) {}
    ~UdpTransport() override { close(fd_); }

    bool send(std::span<const std::uint8_t> message, std::string& error) override {
        if (::send(fd_, message.data(), message.size(), 0) < 0) {
            error = std::string("sending: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    bool receive(double seconds, std::vector<std::uint8_t>& message, std::string& error) override {
        const double deadline = monotonicSeconds() + seconds;
        for (;;) {
            const int ready = waitFor(fd_, POLLIN, deadline);
            if (ready <= 0) {
                if (ready < 0) error = std::string("poll: ") + std::strerror(errno);
                return false;
            }
            message.resize(65536);
            const ssize_t n = recv(fd_, message.data(), message.size(), 0);
            if (n >= 0) {
                message.resize(static_cast<std::size_t>(n));
                return true;
            }
            if (errno == EINTR || errno == EAGAIN) continue;
            // A port nobody listens on answers with an ICMP error, which a connected socket
            // reports here: there is no use waiting out the timeout.
            error = errno == ECONNREFUSED ? std::string("nothing listens there (port unreachable)")
                                          : std::string("receiving: ") + std::strerror(errno);
            return false;
        }
    }

  private:
    int fd_;
};

class LineTransport : public Transport {
  public:
    explicit LineTransport(Line line) : line_(line), frames_(65535) {}
    ~LineTransport() override { closeLine(line_); }

    bool send(std::span<const std::uint8_t> message, std::string& error) override {
        LineAddressing a;
        a.source = kStation;
        a.destination = kAgent;
        a.sourcePort = kFirstLinePort;
        a.destinationPort = kAgentPort;
        a.identification = nextIdentification_++;
        buildDatagram(message, a, true, datagram_);
        frame_.resize(link::slipEncodedMax(datagram_.size()));
        frame_.resize(link::slipEncode(datagram_, frame_));
        std::size_t written = 0;
        const double deadline = monotonicSeconds() + kWriteSeconds;
        while (written < frame_.size()) {
            const ssize_t n = write(line_.fd, frame_.data() + written, frame_.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error = std::string("writing to the line: ") + std::strerror(errno);
                return false;
            }
            if (waitFor(line_.fd, POLLOUT, deadline) <= 0) {
                error = "the line does not take the request (no flow)";
                return false;
            }
        }
        return true;
    }

    bool receive(double seconds, std::vector<std::uint8_t>& message, std::string& error) override {
        const double deadline = monotonicSeconds() + seconds;
        while (ready_.empty()) {
            const int ready = waitFor(line_.fd, POLLIN, deadline);
            if (ready <= 0) {
                if (ready < 0) error = std::string("poll: ") + std::strerror(errno);
                return false;
            }
            std::uint8_t buffer[4096];
            const ssize_t n = read(line_.fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) {
                error = n == 0 ? std::string("the line was closed")
                               : std::string("reading the line: ") + std::strerror(errno);
                return false;
            }
            frames_.feed({buffer, static_cast<std::size_t>(n)},
                         [this](std::span<const std::uint8_t> d) { take(d); });
        }
        message = std::move(ready_.front());
        ready_.pop_front();
        return true;
    }

  private:
    // A reply is the agent's to us when its checks pass and its addresses and ports are ours
    // swapped; line noise and frames for anyone else are passed by.
    void take(std::span<const std::uint8_t> datagram) {
        ParsedReply reply;
        if (parseReply(datagram, reply) != ReplyCheck::Ok) return;
        const LineAddressing& a = reply.addressing;
        if (a.source != kAgent || a.destination != kStation || a.sourcePort != kAgentPort ||
            a.destinationPort != kFirstLinePort)
            return;
        ready_.emplace_back(reply.payload.begin(), reply.payload.end());
    }

    static constexpr std::uint32_t kStation = kDefaultStationAddress;
    static constexpr std::uint32_t kAgent = kDefaultAgentAddress;
    // A full frame takes about a second at 9600 baud; a line that takes nothing for this long
    // has stopped.
    static constexpr double kWriteSeconds = 10.0;

    Line line_;
    FrameCollector frames_;
    std::vector<std::uint8_t> datagram_;
    std::vector<std::uint8_t> frame_;
    std::deque<std::vector<std::uint8_t>> ready_;
    std::uint16_t nextIdentification_ = 1;
};

} // namespace

double monotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::unique_ptr<Transport> openUdpTransport(const std::string& host, std::uint16_t port,
                                            std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int r = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (r != 0 || found == nullptr) {
        error = "cannot resolve " + host + ": " + gai_strerror(r);
        return nullptr;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        freeaddrinfo(found);
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    const int connected = connect(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (connected != 0) {
        error = "cannot reach " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return std::make_unique<UdpTransport>(fd);
}

std::unique_ptr<Transport> openLineTransport(const std::string& device, unsigned speed,
                                             std::string& error) {
    Line line;
    if (!openDeviceLine(device, speed, line, error)) return nullptr;
    return std::make_unique<LineTransport>(line);
}

} // namespace farlink::bridge
