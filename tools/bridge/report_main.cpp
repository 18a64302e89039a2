// The report command: its command line, the reading of all groups with progress on standard
// error, and the report on standard output.
#include "bridge.h"
#include "report.h"

#include "mib/group_registry.h"
#include "mib/object_names.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace farlink::bridge {

namespace {

bool parseSeconds(const std::string& text, double& seconds) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    return ec == std::errc() && end == text.data() + text.size() && seconds > 0 && seconds <= 3600;
}

void say(const std::string& text) {
    std::fprintf(stderr, "farlink-bridge report: %s\n", text.c_str());
}

// Progress on standard error: one line redrawn in place on a terminal, a line per group
// otherwise, so that a log of a slow line still shows how far it got.
class Progress {
  public:
    explicit Progress(bool quiet) : quiet_(quiet), terminal_(isatty(STDERR_FILENO) == 1) {}

    void update(std::size_t group, unsigned requests) {
        if (quiet_ || !terminal_) return;
        std::fprintf(stderr, "\r%s\x1b[K", line(group, requests).c_str());
        std::fflush(stderr);
    }

    void groupDone(std::size_t group, unsigned requests, const GroupReport& report) {
        if (quiet_ || terminal_) return;
        std::string text = line(group, requests);
        if (report.outcome != GroupOutcome::Read && !report.errors.empty())
            text += ": " + report.errors.front();
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    void finish() {
        if (quiet_ || !terminal_) return;
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
    }

  private:
    static std::string line(std::size_t group, unsigned requests) {
        return "reading " + std::to_string(group + 1) + "/" + std::to_string(mib::kGroupCount) +
               " " + std::string(mib::groupName(group).title) + " ... " + std::to_string(requests) +
               (requests == 1 ? " request" : " requests");
    }

    bool quiet_;
    bool terminal_;
};

} // namespace

std::string reportUsageText() {
    return "usage: farlink-bridge report [--json] [--udp HOST:PORT | --device PATH [--speed N]]\n"
           "                             [--community C] [--timeout S] [--retries N] [--quiet]\n"
           "\n"
           "Reads every group of a FARLINK agent and prints one report with the MIB's names.\n"
           "\n"
           "  --udp HOST:PORT   the SNMP port of a running bridge or agent (default "
           "127.0.0.1:1161)\n"
           "  --device PATH     talk on the serial line itself (raw, 8N1), framing as the bridge "
           "does\n"
           "  --speed N         line speed for --device (default 9600)\n"
           "  --community C     SNMP community (default kestrl)\n"
           "  --timeout S       seconds to wait for each answer (default 3)\n"
           "  --retries N       tries again after a timeout (default 2)\n"
           "  --json            the report as JSON\n"
           "  --quiet           no progress on standard error\n"
           "  --help            this text\n"
           "\n"
           "Exit status: 0 when every group was read, 1 when one was not, 2 on a bad command "
           "line.\n";
}

bool parseReportOptions(int argc, const char* const* argv, ReportOptions& options,
                        std::string& error) {
    bool haveUdp = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        unsigned long number = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--udp") {
            if (!value(v)) return false;
            const std::size_t colon = v.rfind(':');
            if (colon == std::string::npos || colon == 0 ||
                !parseNumber(std::string_view(v).substr(colon + 1), 65535, number) || number == 0) {
                error = "bad --udp address (want HOST:PORT): " + v;
                return false;
            }
            options.udpHost = v.substr(0, colon);
            options.udpPort = static_cast<std::uint16_t>(number);
            haveUdp = true;
        } else if (arg == "--device") {
            if (!value(options.device)) return false;
        } else if (arg == "--speed" || arg == "--baud") {
            if (!value(v)) return false;
            if (!parseNumber(v, 4000000, number) || number == 0) {
                error = "bad line speed: " + v;
                return false;
            }
            options.speed = static_cast<unsigned>(number);
        } else if (arg == "--community") {
            if (!value(options.community)) return false;
            // It must fit a message with room left for the bindings.
            if (options.community.size() > 64) {
                error = "the community is longer than 64 bytes";
                return false;
            }
        } else if (arg == "--timeout") {
            if (!value(v)) return false;
            if (!parseSeconds(v, options.timeout)) {
                error = "bad --timeout (seconds, more than 0, at most 3600): " + v;
                return false;
            }
        } else if (arg == "--retries") {
            if (!value(v)) return false;
            if (!parseNumber(v, 100, number)) {
                error = "bad --retries (0 to 100): " + v;
                return false;
            }
            options.retries = static_cast<unsigned>(number);
        } else {
            error = "unknown option: " + std::string(arg);
            return false;
        }
    }
    if (haveUdp && !options.device.empty()) {
        error = "give at most one of --udp and --device";
        return false;
    }
    return true;
}

int runReport(int argc, const char* const* argv) {
    ReportOptions options;
    std::string error;
    if (!parseReportOptions(argc, argv, options, error)) {
        say(error);
        std::fputs(reportUsageText().c_str(), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(reportUsageText().c_str(), stdout);
        return 0;
    }

    ReportSummary summary;
    summary.community = options.community;
    std::unique_ptr<Transport> transport;
    if (options.device.empty()) {
        summary.transport = "udp";
        summary.address = options.udpHost + ":" + std::to_string(options.udpPort);
        summary.reachedBy = "udp " + summary.address;
        transport = openUdpTransport(options.udpHost, options.udpPort, error);
    } else {
        summary.transport = "line";
        summary.address = options.device;
        summary.speed = options.speed;
        summary.reachedBy =
            "line " + options.device + " at " + std::to_string(options.speed) + " baud";
        transport = openLineTransport(options.device, options.speed, error);
    }
    if (!transport) {
        say(error);
        return 1;
    }

    Session session(*transport, options);
    Progress progress(options.quiet);
    std::vector<GroupReport> groups(mib::kGroupCount);
    std::size_t current = 0;
    session.onRequest([&] { progress.update(current, session.requests()); });
    const double start = monotonicSeconds();
    std::string stopped; // why the remaining groups are not read
    unsigned unansweredInRow = 0;
    for (std::size_t g = 0; g < mib::kGroupCount; ++g) {
        current = g;
        GroupReport& report = groups[g];
        report.group = g;
        if (!stopped.empty()) {
            report.errors.push_back(stopped);
            continue;
        }
        progress.update(g, session.requests());
        readGroup(session, g, report);
        progress.groupDone(g, session.requests(), report);
        unansweredInRow = report.unreachable ? unansweredInRow + 1 : 0;
        // Nothing ever answered, or two groups in a row went unanswered: the agent or the
        // line is gone, and every further group would only wait out its tries as well.
        if (report.unreachable && (!session.answeredOnce() || unansweredInRow >= 2))
            stopped =
                session.answeredOnce() ? "the agent stopped answering" : "the agent never answered";
    }
    progress.finish();
    summary.requests = session.requests();
    summary.seconds = monotonicSeconds() - start;

    const std::string text =
        options.json ? formatJsonReport(summary, groups) : formatTextReport(summary, groups);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);

    std::size_t failed = 0;
    for (const GroupReport& g : groups)
        if (g.outcome != GroupOutcome::Read) ++failed;
    if (!session.answeredOnce()) {
        say("no answer from the agent at " + summary.reachedBy + " (" +
            (groups.front().errors.empty() ? std::string("nothing came back")
                                           : groups.front().errors.front()) +
            ")");
        return 1;
    }
    if (failed != 0) {
        say(std::to_string(failed) + " of " + std::to_string(mib::kGroupCount) +
            " groups not read completely" + (stopped.empty() ? "" : "; " + stopped));
        return 1;
    }
    return 0;
}

} // namespace farlink::bridge
