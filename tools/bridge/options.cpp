// The bridge's command line.
#include "bridge.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace farlink::bridge {

bool parseNumber(std::string_view text, unsigned long max, unsigned long& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value <= max;
}

namespace {

bool parseListen(const std::string& text, Options& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    unsigned long port = 0;
    if (!parseAddress(text.substr(0, colon), options.listenAddress) ||
        !parseNumber(std::string_view(text).substr(colon + 1), 65535, port))
        return false;
    options.listenPort = static_cast<std::uint16_t>(port);
    return true;
}

} // namespace

bool parseAddress(const std::string& text, std::uint32_t& address) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    address = ntohl(a.s_addr);
    return true;
}

std::string formatAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string usageText() {
    return "usage: farlink-bridge (--device PATH [--baud N] | --pty [--pty-link PATH]) [options]\n"
           "       farlink-bridge report [--json] [--udp HOST:PORT | --device PATH] [options]\n"
           "\n"
           "Relays SNMP datagrams between managers on UDP and a FARLINK agent on a serial line\n"
           "(IPv4/UDP in SLIP frames).\n"
           "\n"
           "  --device PATH          serial device of the line (raw, 8 data bits, no parity)\n"
           "  --baud N               line speed for --device (default 9600)\n"
           "  --pty                  create a pseudo-terminal pair; prints the agent side as\n"
           "                         \"agent-line: PATH\" on standard output\n"
           "  --pty-link PATH        with --pty, also make PATH a symbolic link to the agent side\n"
           "  --listen ADDR:PORT     UDP address for managers (default 127.0.0.1:1161)\n"
           "  --station-ip ADDR      source address on the line (default 198.51.100.1)\n"
           "  --agent-ip ADDR        agent's address on the line (default 198.51.100.2)\n"
           "  --udp-checksum on|off  send UDP checksums on the line (default on)\n"
           "  --verbose              one line per relayed datagram on standard error\n"
           "  --help                 this text\n";
}

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // Every option but the switches takes the next argument as its value.
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--pty") {
            options.usePty = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--device") {
            if (!value(options.device)) return false;
        } else if (arg == "--pty-link") {
            if (!value(options.ptyLink)) return false;
        } else if (arg == "--baud") {
            unsigned long baud = 0;
            if (!value(v)) return false;
            if (!parseNumber(v, 4000000, baud) || baud == 0) {
                error = "bad baud rate: " + v;
                return false;
            }
            options.baud = static_cast<unsigned>(baud);
        } else if (arg == "--listen") {
            if (!value(v)) return false;
            if (!parseListen(v, options)) {
                error = "bad --listen address (want ADDR:PORT): " + v;
                return false;
            }
        } else if (arg == "--station-ip" || arg == "--agent-ip") {
            if (!value(v)) return false;
            std::uint32_t& target =
                arg == "--station-ip" ? options.stationAddress : options.agentAddress;
            if (!parseAddress(v, target)) {
                error = "bad IPv4 address for " + std::string(arg) + ": " + v;
                return false;
            }
        } else if (arg == "--udp-checksum") {
            if (!value(v)) return false;
            if (v != "on" && v != "off") {
                error = "--udp-checksum takes on or off, not " + v;
                return false;
            }
            options.udpChecksum = v == "on";
        } else {
            error = "unknown option: " + std::string(arg);
            return false;
        }
    }
    if (options.help) return true;
    if (options.usePty == !options.device.empty()) {
        error = "give exactly one of --device PATH and --pty";
        return false;
    }
    if (!options.ptyLink.empty() && !options.usePty) {
        error = "--pty-link needs --pty";
        return false;
    }
    return true;
}

} // namespace farlink::bridge
