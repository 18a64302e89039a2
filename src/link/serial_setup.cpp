#include "link/serial_setup.h"

#include "config/port_settings.h"
#include "link/port_reader.h"
#include "platform/console.h"
#include "platform/names.h"
#include "platform/profile.h"
#include "platform/service_host.h"
#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/events.h"
#include "runtime/field_text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace farlink::link {

PortTable portTable;

namespace {

using runtime::fieldText;

// Each port's context lives as long as the process: its reader and monitor keep using it.
std::array<PortContext, kPortCount> portContexts;

constexpr std::array<std::int32_t, 8> kBaudRates = {1200,  2400,  4800,  9600,
                                                    14400, 19200, 38400, 57600};
constexpr std::array<const char*, 5> kParityNames = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};

constexpr std::array<const char*, kPortCount> kComNames = {"COM1", "COM2", "COM3", "COM4"};

// 1 to 4 for the names COM1 to COM4 in any case, else 0.
int parsePortNumber(std::string_view name) {
    for (int n = 1; n <= kPortCount; ++n)
        if (platform::sameName(name, kComNames[n - 1])) return n;
    return 0;
}

int parityCode(std::string_view name) {
    for (std::size_t i = 0; i < kParityNames.size(); ++i)
        if (platform::sameName(name, kParityNames[i])) return static_cast<int>(i);
    return -1;
}

// Closes the port again and fails the set-up with the reason an operator reads.
int failPort(PortRecord& record, std::string& reason, std::string text) {
    platform::closeSerialPort(record.port);
    record.port = nullptr;
    reason = std::move(text);
    return 0;
}

// The step that failed, the device it failed on and what the system said.
std::string deviceFailure(const PortRecord& record, const char* step) {
    const int error = platform::lastError();
    return platform::formatText("%s on %s: %s failed: %s (error %d)", record.name.data(),
                                platform::serialDevicePath(fieldText(record.name)).c_str(), step,
                                platform::errorText(error).c_str(), error);
}

constexpr char kParityLetters[] = "NOEMS";

// "COM1 on /dev/ttyS0, 9600 8N1, modem": what a served line is and how it is set.
std::string lineSummary(const PortRecord& record, int parity) {
    std::uint32_t status = 0;
    const bool modemLines = record.port->modemStatus(status);
    return platform::formatText("%s on %s, %d %d%c%d, %s", record.name.data(),
                                record.port->deviceName().c_str(), record.baud, record.dataBits,
                                kParityLetters[parity], record.stopBits,
                                modemLines ? "modem" : "no modem lines");
}

// Why a section describes no line that is served, or "" when it is not meant to describe one.
std::string unusedReason(const PortRecord& record, int section) {
    if (record.name[0] == '\0')
        return config::portSectionPresent(section) ? "no PortNumber, so the section serves no line"
                                                   : std::string();
    if (record.modem[0] == '\0')
        return platform::formatText("%s is not served: no Modem=Y", record.name.data());
    return platform::formatText("%s is not served: Modem=%s, and only Modem=Y serves a line",
                                record.name.data(), record.modem.data());
}

void closePortsAndEnd() {
    for (PortRecord& record : portTable.ports) {
        if (record.port != nullptr) platform::closeSerialPort(record.port);
        record.port = nullptr;
    }
}

} // namespace

void fillPortTable() {
    portTable = PortTable{};
    std::array<config::PortSettings, kPortCount> settings{};
    portTable.count = config::readPortSettings(settings);
    for (int k = 0; k < kPortCount; ++k) {
        PortRecord& r = portTable.ports[k];
        static_cast<config::PortSettings&>(r) = settings[k];
        r.use = std::strcmp(r.modem.data(), "Y") == 0 ? 'Y' : 'N';
    }
}

platform::PortHandle openComPort(std::string_view portName) {
    const int n = parsePortNumber(portName);
    return n == 0 ? nullptr : platform::openSerialPort(kComNames[n - 1]);
}

int configurePort(PortRecord& record, std::string& reason) {
    const std::string_view name = fieldText(record.name);
    record.port = openComPort(name);
    if (record.port == nullptr) {
        const int error = platform::lastError();
        if (parsePortNumber(name) == 0)
            reason = platform::formatText("PortNumber=%s is not a port; use COM1 to COM4",
                                          record.name.data());
        else
            reason =
                platform::formatText("%s is %s, which cannot be opened: %s (error %d)",
                                     record.name.data(), platform::serialDevicePath(name).c_str(),
                                     platform::errorText(error).c_str(), error);
        return 0;
    }
    if (std::find(kBaudRates.begin(), kBaudRates.end(), record.baud) == kBaudRates.end())
        return failPort(record, reason,
                        platform::formatText("Baud=%d is not supported; use 1200, 2400, 4800, "
                                             "9600, 14400, 19200, 38400 or 57600",
                                             record.baud));
    if (record.dataBits < 4 || record.dataBits > 8)
        return failPort(
            record, reason,
            platform::formatText("dataBits=%d is not supported; use 5 to 8", record.dataBits));
    if (record.stopBits != 1 && record.stopBits != 2)
        return failPort(
            record, reason,
            platform::formatText("stopBits=%d is not supported; use 1 or 2", record.stopBits));
    const int parity = parityCode(fieldText(record.parity));
    if (parity < 0)
        return failPort(record, reason,
                        platform::formatText("Parity=%s is not supported; use NONE, ODD, EVEN, "
                                             "MARK or SPACE",
                                             record.parity.data()));
    const char modem = platform::lowerAscii(record.modem[0]);
    if (modem != 'y' && modem != 'n')
        return failPort(
            record, reason,
            platform::formatText("Modem=%s is not supported; use Y", record.modem.data()));
    if (record.initString[0] == '\0')
        return failPort(record, reason,
                        "ModemInitString is empty; give the command that readies the modem, "
                        "such as ATZ");

    platform::diagnostic(platform::formatText("%s: baud=%d parity=%d data=%d stop=%d",
                                              record.name.data(), record.baud, parity,
                                              record.dataBits, record.stopBits));
    platform::CommState state;
    if (!record.port->getState(state))
        return failPort(record, reason, deviceFailure(record, "reading the line settings"));
    state.baudRate = static_cast<std::uint32_t>(record.baud);
    state.byteSize = static_cast<std::uint8_t>(record.dataBits);
    state.parity = static_cast<std::uint8_t>(parity);
    state.stopBits = record.stopBits == 1 ? 0 : 2;
    state.dsrSensitivity = true;
    if (!record.port->setState(state))
        return failPort(record, reason,
                        deviceFailure(record, platform::formatText(
                                                  "setting %d %d%c%d", record.baud, record.dataBits,
                                                  kParityLetters[parity], record.stopBits)
                                                  .c_str()));
    if (!record.port->setupQueues(4096, 4096))
        return failPort(record, reason, deviceFailure(record, "sizing the queues"));
    if (!record.port->escape(platform::CommEscape::SetDtr) ||
        !record.port->escape(platform::CommEscape::SetRts))
        return failPort(record, reason, deviceFailure(record, "raising DTR and RTS"));
    return 1;
}

int outOfBandThread() {
    fillPortTable();
    int configured = 0;
    std::string served;
    for (int k = 1; k <= kPortCount; ++k) {
        PortRecord& record = portTable.ports[k - 1];
        const std::string section = config::portSectionName(k);
        if (record.use != 'Y') {
            const std::string reason = unusedReason(record, k);
            if (!reason.empty()) runtime::reportInfo(section + ": " + reason);
            continue;
        }
        std::string reason;
        if (configurePort(record, reason)) {
            ++configured;
            const std::string line = lineSummary(record, parityCode(fieldText(record.parity)));
            runtime::reportInfo("Serving " + line);
            served += (served.empty() ? "Serving " : "; ") + line;
        } else {
            record.use = 'N';
            runtime::reportInfo(section + ": " + reason);
            runtime::reportEvent(runtime::kEventStartFailure,
                                 platform::formatText(" Failed to configure COM PORT %d", k));
        }
    }
    if (configured == 0) {
        platform::diagnostic("None of the requested ports could be configured");
        platform::diagnostic("Check the configuration file for correctness of parameters\n");
        const std::string text = platform::formatText(
            "No serial line came up: nothing is served until %s names a working port",
            platform::profilePath(runtime::kConfigFile).c_str());
        runtime::reportEvent(runtime::kEventStartFailure, text);
        platform::reportStatusText(text);
        closePortsAndEnd();
        return 1;
    }
    platform::reportStatusText(served);
    for (int k = 1; k <= kPortCount; ++k) {
        PortRecord& record = portTable.ports[k - 1];
        if (record.use != 'Y') continue;
        PortReaderParams params;
        params.port = record.port;
        params.modem = record.modem[0];
        params.initString = record.initString;
        PortContext& context = portContexts[k - 1];
        if (!platform::startThread([params, &context] { portReader(params, context); }) && k == 4)
            platform::printText("Unable to start fourth thread.\n");
    }
    return 0;
}

} // namespace farlink::link
