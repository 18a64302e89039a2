// farlink-bridge report: reads every group of the agent's MIB, over a bridge's UDP port or
// straight on the serial line, and prints one report for a person or, with --json, for scripts.
#pragma once

#include "snmp/ber.h"
#include "snmp/station_message.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace farlink::bridge {

struct ReportOptions {
    std::string udpHost = "127.0.0.1"; // a running bridge (the default) or any SNMP agent
    std::uint16_t udpPort = 1161;
    std::string device; // the serial line itself instead
    unsigned speed = 9600;
    std::string community = "kestrl";
    double timeout = 3.0; // seconds per try
    unsigned retries = 2;
    bool json = false;
    bool quiet = false;
    bool help = false;
};

bool parseReportOptions(int argc, const char* const* argv, ReportOptions& options,
                        std::string& error);
std::string reportUsageText();

// One way to the agent: a message out, messages back.
class Transport {
  public:
    virtual ~Transport() = default;
    // False with the reason when the message could not be sent.
    virtual bool send(std::span<const std::uint8_t> message, std::string& error) = 0;
    // Waits up to `seconds` for a message. False with `error` empty when none came in time, or
    // with the reason when the way to the agent failed.
    virtual bool receive(double seconds, std::vector<std::uint8_t>& message,
                         std::string& error) = 0;
};

// To an SNMP port over UDP.
std::unique_ptr<Transport> openUdpTransport(const std::string& host, std::uint16_t port,
                                            std::string& error);
// Straight on the serial line: each message in UDP/IPv4 in a SLIP frame, as the bridge sends it.
std::unique_ptr<Transport> openLineTransport(const std::string& device, unsigned speed,
                                             std::string& error);

// A value as the agent answered it.
struct ReportValue {
    std::uint8_t tag = snmp::kTagNull;
    std::vector<std::uint8_t> content;
};

struct ReportRow {
    std::uint32_t instance = 0;
    std::map<std::uint32_t, ReportValue> cells; // by column
};

enum class GroupOutcome { Read, Failed, NotRead };

// What became of one group of the registry.
struct GroupReport {
    std::size_t group = 0;
    GroupOutcome outcome = GroupOutcome::NotRead;
    std::map<std::uint32_t, ReportValue> values; // scalar group: by column
    std::vector<std::uint32_t> absent;           // scalar group: columns answered noSuchName
    std::vector<ReportRow> rows;                 // table: in instance order
    std::vector<std::string> errors;
    bool unreachable = false; // a request went unanswered or could not be sent
    unsigned requests = 0;
};

// The exchange of requests and answers with one agent: request identifiers, tries, counts.
class Session {
  public:
    Session(Transport& transport, const ReportOptions& options)
        : transport_(transport), options_(options) {}

    enum class Result { Answered, TimedOut, Failed };
    // Sends the request and waits for its answer, trying again on a timeout. On Failed or
    // TimedOut `error` says why.
    Result exchange(std::uint8_t pduType, std::span<const snmp::Oid> names,
                    snmp::Response& response, std::string& error);

    // Called before every request goes out (progress display).
    void onRequest(std::function<void()> callback) { onRequest_ = std::move(callback); }

    const ReportOptions& options() const { return options_; }
    unsigned requests() const { return requests_; }
    bool answeredOnce() const { return answers_ != 0; }

  private:
    Transport& transport_;
    const ReportOptions& options_;
    std::uint32_t nextRequestId_ = 1;
    unsigned requests_ = 0;
    unsigned answers_ = 0;
    std::vector<std::uint8_t> received_;
    std::function<void()> onRequest_;
};

// Reads group `group` of the registry into `report`.
void readGroup(Session& session, std::size_t group, GroupReport& report);

struct ReportSummary {
    std::string reachedBy; // "udp 127.0.0.1:1161" or "line /dev/ttyS0 at 9600 baud"
    std::string transport; // "udp" or "line"
    std::string address;   // HOST:PORT or the device
    unsigned speed = 0;    // line only
    std::string community;
    unsigned requests = 0;
    double seconds = 0;
};

std::string formatTextReport(const ReportSummary& summary, std::span<const GroupReport> groups);
std::string formatJsonReport(const ReportSummary& summary, std::span<const GroupReport> groups);

// The report command: the exit code.
int runReport(int argc, const char* const* argv);

} // namespace farlink::bridge
