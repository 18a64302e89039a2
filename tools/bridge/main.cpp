// farlink-bridge: relays SNMP between UDP managers and a FARLINK agent on a serial line.
#include "bridge.h"
#include "report.h"

#include "link/slip.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace farlink::bridge;

volatile std::sig_atomic_t gStopRequested = 0;

void onStopSignal(int) {
    gStopRequested = 1;
}

// Requests queued for the line beyond this are dropped: the line is not draining (no agent
// reading it) and the managers will retry anyway.
constexpr std::size_t kMaxQueuedBytes = 64 * 1024;

void report(const std::string& text) {
    std::fprintf(stderr, "farlink-bridge: %s\n", text.c_str());
}

// Drops come in bursts (a manager retrying, more managers than slots, a line that stopped
// draining): the first of each kind is told at once, the rest of its burst as one line with a
// count once the burst has been quiet for a second.
class DropReports {
  public:
    void drop(const std::string& kind, const std::string& text) {
        Burst& b = bursts_[kind];
        b.last = monotonicSeconds();
        if (b.open) {
            ++b.more;
            return;
        }
        b.open = true;
        report(text);
    }

    // Closes the bursts that have been quiet (all of them at the end); true while one is still
    // open.
    bool closeQuiet(bool all = false) {
        bool open = false;
        const double t = monotonicSeconds();
        for (auto it = bursts_.begin(); it != bursts_.end();) {
            if (!all && t - it->second.last < kQuietSeconds) {
                open = true;
                ++it;
                continue;
            }
            if (it->second.more > 0)
                report(std::to_string(it->second.more) +
                       " more dropped in that burst: " + it->first);
            it = bursts_.erase(it);
        }
        return open;
    }

    static constexpr double kQuietSeconds = 1.0;

  private:
    struct Burst {
        bool open = false;
        std::uint64_t more = 0;
        double last = 0;
    };
    std::map<std::string, Burst> bursts_;
};

std::string endpointText(const Endpoint& e) {
    return formatAddress(e.address) + ":" + std::to_string(e.port);
}

class Bridge {
  public:
    Bridge(const Options& options, int socketFd, Line& line)
        : options_(options), socket_(socketFd), line_(line), frames_(65535) {}

    // Runs until a stop signal arrives (0) or the line fails (1).
    int run(const sigset_t& waitMask);

  private:
    void receiveRequests();
    void relayRequest(std::span<const std::uint8_t> payload, const Endpoint& manager);
    bool readLine();
    bool flushLine();
    void relayReply(std::span<const std::uint8_t> datagram);

    const Options& options_;
    int socket_;
    Line& line_;
    FrameCollector frames_;
    RelayTable table_;
    std::vector<std::uint8_t> outQueue_;
    std::vector<std::uint8_t> datagram_; // the request being framed, storage kept
    std::uint16_t nextIdentification_ = 1;
    DropReports drops_;
};

int Bridge::run(const sigset_t& waitMask) {
    while (gStopRequested == 0) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {line_.fd, POLLIN, 0}};
        if (!outQueue_.empty()) fds[1].events |= POLLOUT;
        // Woken once a second only while a burst of drops waits to be summed up.
        const timespec second{1, 0};
        if (ppoll(fds, 2, drops_.closeQuiet() ? &second : nullptr, &waitMask) < 0) {
            if (errno == EINTR) continue;
            report(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) receiveRequests();
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !readLine()) break;
        if ((fds[1].revents & POLLOUT) && !flushLine()) break;
    }
    // What a burst held back is told before the bridge ends, whatever ends it.
    drops_.closeQuiet(true);
    return gStopRequested == 0 ? 1 : 0;
}

// One datagram per wake-up: poll reports the socket readable again while more are queued, so no
// read is spent on learning that nothing more is there.
void Bridge::receiveRequests() {
    static std::uint8_t buffer[65536];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(socket_, buffer, sizeof buffer, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            report(std::string("receiving from managers: ") + std::strerror(errno));
        return;
    }
    const Endpoint manager{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    if (static_cast<std::size_t>(n) > kMaxPayload) {
        drops_.drop("requests too long for the line", "datagram of " + std::to_string(n) +
                                                          " bytes from " + endpointText(manager) +
                                                          " is too long for the line, dropped");
        return;
    }
    relayRequest({buffer, static_cast<std::size_t>(n)}, manager);
}

void Bridge::relayRequest(std::span<const std::uint8_t> payload, const Endpoint& manager) {
    // Refused before a slot is taken: a dropped request must not evict another manager's slot
    // and with it the replies that manager still waits for.
    const std::size_t worstFrame =
        farlink::link::slipEncodedMax(kIpv4HeaderSize + kUdpHeaderSize + payload.size());
    if (outQueue_.size() + worstFrame > kMaxQueuedBytes) {
        drops_.drop("requests while the line is not draining",
                    "the line is not draining; request from " + endpointText(manager) + " dropped");
        return;
    }
    const std::size_t slot = table_.slotFor(manager);
    LineAddressing a;
    a.source = options_.stationAddress;
    a.destination = options_.agentAddress;
    a.sourcePort = RelayTable::linePort(slot);
    a.destinationPort = kAgentPort;
    a.identification = nextIdentification_++;
    buildDatagram(payload, a, options_.udpChecksum, datagram_);
    // Framed straight into the queue's tail; both buffers keep their storage between requests.
    const std::size_t queued = outQueue_.size();
    outQueue_.resize(queued + farlink::link::slipEncodedMax(datagram_.size()));
    const std::size_t framed = farlink::link::slipEncode(
        datagram_, std::span(outQueue_.data() + queued, outQueue_.size() - queued));
    outQueue_.resize(queued + framed);
    table_.addPending(slot, a.identification);
    if (options_.verbose) {
        report("request " + endpointText(manager) + " -> line port " +
               std::to_string(a.sourcePort) + ", id " + std::to_string(a.identification) + ", " +
               std::to_string(payload.size()) + " bytes");
    }
    flushLine();
}

bool Bridge::flushLine() {
    while (!outQueue_.empty()) {
        const ssize_t n = write(line_.fd, outQueue_.data(), outQueue_.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
            report(std::string("writing to the line: ") + std::strerror(errno));
            return false;
        }
        outQueue_.erase(outQueue_.begin(), outQueue_.begin() + n);
    }
    return true;
}

// Reads again only after a read that filled the buffer: a shorter one took all there was.
bool Bridge::readLine() {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = read(line_.fd, buffer, sizeof buffer);
        if (n > 0) {
            frames_.feed({buffer, static_cast<std::size_t>(n)},
                         [this](std::span<const std::uint8_t> d) { relayReply(d); });
            if (static_cast<std::size_t>(n) < sizeof buffer) return true;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
        report(n == 0 ? std::string("the line was closed")
                      : std::string("reading the line: ") + std::strerror(errno));
        return false;
    }
}

void Bridge::relayReply(std::span<const std::uint8_t> datagram) {
    ParsedReply reply;
    const ReplyCheck check = parseReply(datagram, reply);
    if (check != ReplyCheck::Ok) {
        drops_.drop(describe(check), std::string(describe(check)) + " (" +
                                         std::to_string(datagram.size()) + " bytes), dropped");
        return;
    }
    const LineAddressing& a = reply.addressing;
    if (a.source != options_.agentAddress || a.destination != options_.stationAddress ||
        a.sourcePort != kAgentPort) {
        drops_.drop("replies that are not the agent's",
                    "reply from " + formatAddress(a.source) + ":" + std::to_string(a.sourcePort) +
                        " to " + formatAddress(a.destination) + " is not the agent's, dropped");
        return;
    }
    const std::optional<Endpoint> manager = table_.takeReply(a.destinationPort, a.identification);
    if (!manager) {
        drops_.drop("replies that match no pending request",
                    "reply to line port " + std::to_string(a.destinationPort) + ", id " +
                        std::to_string(a.identification) + " matches no pending request, dropped");
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(manager->address);
    to.sin_port = htons(manager->port);
    if (sendto(socket_, reply.payload.data(), reply.payload.size(), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        report("sending the reply to " + endpointText(*manager) + ": " + std::strerror(errno));
        return;
    }
    if (options_.verbose) {
        report("reply line port " + std::to_string(a.destinationPort) + ", id " +
               std::to_string(a.identification) + " -> " + endpointText(*manager) + ", " +
               std::to_string(reply.payload.size()) + " bytes");
    }
}

int openSocket(const Options& options) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        report(std::string("socket: ") + std::strerror(errno));
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(options.listenAddress);
    address.sin_port = htons(options.listenPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        report("cannot listen on " + formatAddress(options.listenAddress) + ":" +
               std::to_string(options.listenPort) + ": " + std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

bool makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    // Replace a stale link from an earlier run, but never a file that is not a link.
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link.c_str());
    if (symlink(target.c_str(), link.c_str()) != 0) {
        report("cannot make the link " + link + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "report")
        return farlink::bridge::runReport(argc - 1, argv + 1);
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        report(error);
        std::fputs(usageText().c_str(), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    // The stop signals stay blocked except inside the wait, so none is lost between a check of
    // the flag and the next wait.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    const int socketFd = openSocket(options);
    if (socketFd < 0) return 1;
    Line line;
    const bool opened = options.usePty ? openPtyLine(line, error)
                                       : openDeviceLine(options.device, options.baud, line, error);
    if (!opened) {
        report(error);
        close(socketFd);
        return 1;
    }
    if (options.usePty) {
        if (!options.ptyLink.empty() && !makeLink(options.ptyLink, line.agentPath)) {
            closeLine(line);
            close(socketFd);
            return 1;
        }
        std::printf("agent-line: %s\n", line.agentPath.c_str());
        std::fflush(stdout);
    }
    if (options.verbose) {
        report("listening on " + formatAddress(options.listenAddress) + ":" +
               std::to_string(options.listenPort) + ", line " +
               (options.usePty ? line.agentPath + " (agent side)" : options.device));
    }

    // The community travels in clear text: on any other address than loopback it is all that
    // stands between the network and the server's settings.
    if ((options.listenAddress >> 24) != 127)
        report("warning: listening on " + formatAddress(options.listenAddress) +
               ", not loopback: anyone who can reach it and knows the community can read and "
               "change the agent's settings");

    Bridge bridge(options, socketFd, line);
    const int result = bridge.run(waitMask);

    if (!options.ptyLink.empty()) unlink(options.ptyLink.c_str());
    closeLine(line);
    close(socketFd);
    return result;
}
