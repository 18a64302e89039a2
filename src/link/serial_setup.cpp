#include "link/serial_setup.h"

#include "config/port_settings.h"
#include "link/port_reader.h"
#include "platform/console.h"
#include "platform/names.h"
#include "platform/threads.h"
#include "runtime/events.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace farlink::link {

PortTable portTable;

namespace {

// Each port's context lives as long as the process: its reader and monitor keep using it.
std::array<PortContext, kPortCount> portContexts;

constexpr std::array<std::int32_t, 8> kBaudRates = {1200,  2400,  4800,  9600,
                                                    14400, 19200, 38400, 57600};
constexpr std::array<const char*, 5> kParityNames = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};

// The text of a fixed field, up to its terminator.
template <std::size_t N> std::string_view fieldText(const std::array<char, N>& field) {
    return std::string_view(field.data(), strnlen(field.data(), N));
}

int parityCode(std::string_view name) {
    for (std::size_t i = 0; i < kParityNames.size(); ++i)
        if (platform::sameName(name, kParityNames[i])) return static_cast<int>(i);
    return -1;
}

// Reports the diagnostic text of a failed step, closes the port again and fails.
int failPort(PortRecord& record, const std::string& text) {
    platform::diagnostic(text);
    platform::closeSerialPort(record.port);
    record.port = nullptr;
    return 0;
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
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"})
        if (platform::sameName(portName, name)) return platform::openSerialPort(name);
    return nullptr;
}

int configurePort(PortRecord& record) {
    record.port = openComPort(fieldText(record.name));
    if (record.port == nullptr) {
        platform::diagnostic(
            platform::formatText("Error in opening port. Code: %d ", platform::lastError()));
        return 0;
    }
    if (std::find(kBaudRates.begin(), kBaudRates.end(), record.baud) == kBaudRates.end())
        return failPort(record, platform::formatText("Baud rate %d not supported", record.baud));
    if (record.dataBits < 4 || record.dataBits > 8)
        return failPort(record,
                        platform::formatText("Data bits %d not supported", record.dataBits));
    if (record.stopBits != 1 && record.stopBits != 2)
        return failPort(record,
                        platform::formatText("Stop bits %d not supported", record.stopBits));
    const int parity = parityCode(fieldText(record.parity));
    if (parity < 0) return failPort(record, "Parity not supported");
    const char modem = platform::lowerAscii(record.modem[0]);
    if (modem != 'y' && modem != 'n') return failPort(record, "Modem setting not supported");
    if (record.initString[0] == '\0') return failPort(record, "Modem init string is empty");

    platform::diagnostic(platform::formatText("%s: baud=%d parity=%d data=%d stop=%d",
                                              record.name.data(), record.baud, parity,
                                              record.dataBits, record.stopBits));
    platform::CommState state;
    if (!record.port->getState(state))
        return failPort(record,
                        platform::formatText("GetCommState failed:%d ", platform::lastError()));
    state.baudRate = static_cast<std::uint32_t>(record.baud);
    state.byteSize = static_cast<std::uint8_t>(record.dataBits);
    state.parity = static_cast<std::uint8_t>(parity);
    state.stopBits = record.stopBits == 1 ? 0 : 2;
    state.dsrSensitivity = true;
    if (!record.port->setState(state))
        return failPort(record,
                        platform::formatText("SetCommState failed:%d ", platform::lastError()));
    if (!record.port->setupQueues(4096, 4096))
        return failPort(record,
                        platform::formatText("SetupComm failed: %d ", platform::lastError()));
    if (!record.port->escape(platform::CommEscape::SetDtr) ||
        !record.port->escape(platform::CommEscape::SetRts))
        return failPort(record,
                        platform::formatText("Setting DTR/RTS problem:%d ", platform::lastError()));
    return 1;
}

int outOfBandThread() {
    fillPortTable();
    int configured = 0;
    for (int k = 1; k <= kPortCount; ++k) {
        PortRecord& record = portTable.ports[k - 1];
        if (record.use != 'Y') continue;
        if (configurePort(record)) {
            ++configured;
        } else {
            record.use = 'N';
            runtime::reportEvent(runtime::kEventStartFailure,
                                 platform::formatText(" Failed to configure COM PORT %d", k));
        }
    }
    if (configured == 0) {
        platform::diagnostic("None of the requested ports could be configured");
        platform::diagnostic("Check the configuration file for correctness of parameters\n");
        closePortsAndEnd();
        return 1;
    }
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
